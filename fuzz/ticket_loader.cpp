// Fuzz target for the customisation-file loader with hostile files: the
// input is a small program that builds either a binary property list (any
// object kinds, references shared many times or pointing back, huge
// lengths) or an XML one (deep nesting, long texts, wrong types under the
// keys the loader reads), or is taken as the file's bytes as they are.
// Oracle: the loader never crashes, stays within the fuzzer's memory and
// time limits, and a table it accepts keeps its own bounds.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "TicketFuzzRoot.h"
#include "output/Filter_Debug.h"
#include "jobticket/PJLUtil.h"
#include "jobticket/plistAccess.h"

namespace {
// Reads the input byte by byte; zero once it is used up.
struct Reader {
  const uint8_t *data;
  size_t size, at = 0;
  uint8_t next() { return at < size ? data[at++] : 0; }
  bool done() const { return at >= size; }
};

const char *const kKeys[] = {"PDL_Compornents", "Reserve", "PDEName", "JobTicketName",
                             "PDL_Type", "Serial", "Syntax", "Value", "Argument", "String",
                             "Complex", "Item", "PS_DSC", "JobTicketEncodeType",
                             "JobTicketDesType", "JobTicketAesType", "PJLEmbedEnable",
                             "GENERAL", "Output", "VTCollate", "PJL", "PS", "S", "x"};
constexpr size_t kKeyCount = sizeof kKeys / sizeof *kKeys;

// A binary property list: each step adds one object; containers refer to
// objects by arbitrary numbers (forward, backward, themselves).
std::string BinaryFile(Reader &in) {
  size_t objects = 1 + in.next() % 64;
  std::vector<std::string> bodies;
  auto marker = [](int kind, size_t n) {
    std::string m;
    if (n < 15) {
      m += static_cast<char>((kind << 4) | static_cast<int>(n));
    } else {
      m += static_cast<char>((kind << 4) | 0xF);
      m += '\x12';
      for (int s = 24; s >= 0; s -= 8) m += static_cast<char>((n >> s) & 0xFF);
    }
    return m;
  };
  for (size_t i = 0; i < objects; ++i) {
    uint8_t op = in.next();
    std::string body;
    switch (op % 8) {
      case 0: {  // a key the loader reads
        const char *key = kKeys[in.next() % kKeyCount];
        body = marker(5, std::strlen(key)) + key;
        break;
      }
      case 1: {  // a long text (its length may claim more than the file holds)
        size_t n = static_cast<size_t>(in.next()) << (in.next() % 16);
        body = marker(5, n) + std::string(n < 4096 ? n : 4096, 't');
        break;
      }
      case 2:
      case 3:
      case 4: {  // an array or dictionary of references
        bool dict = op % 8 == 4;
        size_t n = in.next() % 40;
        body = marker(dict ? 0xD : 0xA, n);
        for (size_t r = 0; r < (dict ? 2 * n : n); ++r) {
          uint8_t ref = in.next();
          body += static_cast<char>(0);
          body += static_cast<char>(ref % (objects + 2));
        }
        break;
      }
      case 5:  // an integer
        body = std::string("\x13") + std::string(8, static_cast<char>(in.next()));
        break;
      case 6:  // a boolean
        body = in.next() & 1 ? "\x09" : "\x08";
        break;
      default: {  // raw bytes
        size_t n = in.next() % 16;
        for (size_t k = 0; k < n; ++k) body += static_cast<char>(in.next());
      }
    }
    bodies.push_back(body);
  }
  std::string out = "bplist00";
  std::vector<uint32_t> offsets;
  for (const std::string &b : bodies) {
    offsets.push_back(static_cast<uint32_t>(out.size()));
    out += b;
  }
  uint64_t table = out.size();
  for (uint32_t off : offsets)
    for (int s = 24; s >= 0; s -= 8) out += static_cast<char>((off >> s) & 0xFF);
  std::string trailer(6, '\0');
  trailer += '\x04';
  trailer += '\x02';
  auto be64 = [&](uint64_t v) {
    for (int s = 56; s >= 0; s -= 8) trailer += static_cast<char>((v >> s) & 0xFF);
  };
  be64(objects);
  be64(in.next() % objects);
  be64(table);
  return out + trailer;
}

// An XML property list written by a stack machine: open or close
// containers, add keys the loader reads, values of every type, long texts.
std::string XmlFile(Reader &in) {
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>";
  std::vector<bool> open = {true};  // true: a dictionary
  while (!in.done() && out.size() < (2u << 20)) {
    uint8_t op = in.next();
    if (open.back()) out += std::string("<key>") + kKeys[in.next() % kKeyCount] + "</key>";
    switch (op % 9) {
      case 0: out += "<dict>"; open.push_back(true); break;
      case 1: out += "<array>"; open.push_back(false); break;
      case 2:
        if (open.size() > 1) {
          out += open.back() ? "<string/></dict>" : "</array>";
          open.pop_back();
        } else {
          out += "<true/>";
        }
        break;
      case 3: out += std::string("<string>") + kKeys[in.next() % kKeyCount] + "</string>"; break;
      case 4: out += "<integer>" + std::to_string(static_cast<int8_t>(in.next()) * 1000003LL) + "</integer>"; break;
      case 5: out += "<string>@PJL SET X=\"%1\"\\n%2%%</string>"; break;
      case 6: out += "<string>" + std::string(static_cast<size_t>(in.next()) * 64, 'v') + "</string>"; break;
      case 7: {  // many nested levels at once
        size_t n = 1 + static_cast<size_t>(in.next()) * 4;
        for (size_t k = 0; k < n; ++k) out += "<array>";
        for (size_t k = 0; k < n; ++k) out += "</array>";
        break;
      }
      default: out += "<real>1.5</real><data>AAAA</data>"; break;
    }
  }
  while (open.size() > 1) {
    out += open.back() ? "</dict>" : "</array>";
    open.pop_back();
  }
  return out + "</dict></plist>";
}

void CheckTable(const PsPjlTables &t) {
  const PdlEntry *lists[] = {t.pjlItems, t.psItems};
  const int32_t counts[] = {t.pjlCount, t.psCount};
  for (int l = 0; l < 2; ++l) {
    for (int32_t i = 0; i < counts[l]; ++i) {
      int32_t walked = 0;
      for (const SyntaxElement *e = lists[l][i].syntaxList; e; e = e->next, ++walked) {
        if (e->templateText && std::strlen(e->templateText) > VT_TEMPLATE_MAX) abort();
        if (e->arguments && e->count > VT_PJL_ARGUMENTS_MAX) abort();
        for (int32_t c = 0; e->complexItems && c < e->count; ++c)
          if (e->complexItems[c].argumentCount > VT_PJL_ARGUMENTS_MAX) abort();
      }
      if (walked != lists[l][i].syntaxCount) abort();
    }
  }
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  vSetDiagnosticsEnabled(false);
  ticketfuzz::MakeRoot("loader");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  Reader in{data + 1, size - 1};
  std::string file;
  switch (data[0] % 3) {
    case 0: file = BinaryFile(in); break;
    case 1: file = XmlFile(in); break;
    default: file.assign(reinterpret_cast<const char *>(data + 1), size - 1);
  }
  ticketfuzz::WriteFile(file.data(), file.size());

  PsPjlTables table{};
  if (ossFilterCreatePsPjlTables(&table, "Q610") == 0) CheckTable(table);
  ossFilterFreePsPjlTables(&table);
  return 0;
}
