// Fuzz target for the PJL header writer over arbitrary option sets, with the
// property the printer relies on as oracle: whatever the options, the header
// parses back into the customisation table's own lines. No value may add a
// line, end the PJL job or leave its quoted field.
//
// Input: records of [name byte][length byte][value bytes]; the name byte
// picks one of the table's option names (or a split or unknown name), the
// value is used as given (zero bytes dropped, as an option cannot hold them).
#include <cups/cups.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "TicketFuzzRoot.h"
#include "output/Filter_Debug.h"
#include "jobticket/JobTicketEncode.h"
#include "jobticket/PJLUtil.h"
#include "jobticket/plistAccess.h"

namespace {
PsPjlTables gTable{};

std::string Element(const char *value, const char *templ, const char *argument) {
  std::string args = argument ? std::string("<string>") + argument + "</string>" : "";
  return std::string("<dict><key>Value</key><string>") + value +
         "</string><key>Argument</key><array>" + args + "</array><key>String</key><string>" +
         templ + "</string></dict>";
}
std::string Item(const char *type, int serial, const std::string &elements,
                 const char *dsc = nullptr) {
  std::string out = std::string("<dict><key>PDL_Type</key><string>") + type +
                    "</string><key>Serial</key><integer>" + std::to_string(serial) +
                    "</integer><key>Syntax</key><array>" + elements + "</array>";
  if (dsc) out += std::string("<key>PS_DSC</key><string>") + dsc + "</string>";
  return out + "</dict>";
}

// Items, in the order of the section list.
const char *const kItems[] = {"Login", "JobName", "Stamp", "Memo", "OutputMethod",
                              "Note", "DesKey", "Mode", "Pages", "Banner"};

std::string TableFile() {
  std::string items;
  items += "<key>Login</key>" + Item("PJL", 1, Element("", "@PJL SET USERNAME=&quot;%1&quot;\\n",
                                                       "jp.vantora.printers.loginName"));
  items += "<key>JobName</key>" +
           Item("PJL", 2, Element("", "@PJL SET JOBNAME=&quot;%1&quot;\\n",
                                  "com.apple.print.JobInfo.PMJobName"));
  items += "<key>Stamp</key>" +
           Item("PJL", 3, Element("true", "@PJL SET STAMPTEXT=&quot;%1&quot;\\n", "JimonCharacter") +
                              Element("false", "@PJL SET STAMP=OFF\\n", nullptr));
  items += "<key>Memo</key>" + Item("PJL", 4, Element("true", "@PJL COMMENT %1\\n", "MemoText"));
  items += "<key>OutputMethod</key>" +
           Item("PJL", 5, Element("Secure", "@PJL SET HOLD=ON\\n@PJL SET HOLDKEY=&quot;%1&quot;\\n",
                                  "VTSecurePIN"));
  items += "<key>Note</key>" + Item("PJL", 6, Element("true", "@PJL SET NOTE=&quot;%1&quot;\\n", "VTNote"));
  items += "<key>DesKey</key>" + Item("PJL", 7, Element("true", "@PJL SET DESKEY=%1\\n", "VTDesKey"));
  items += "<key>Mode</key>" +
           Item("PJL", 8,
                "<dict><key>Value</key><string>x</string></dict>"
                "<dict><key>Value</key><string>true</string><key>Complex</key><array>"
                "<dict><key>Item</key><string>ModeKind</string><key>Value</key><string>a</string>"
                "<key>Argument</key><array><string>MemoText</string></array>"
                "<key>String</key><string>@PJL SET MODE=&quot;%1&quot;\\n</string></dict>"
                "</array></dict>");
  items += "<key>Pages</key>" + Item("PJL", 9, Element("true", "@PJL SET PAGES=%1\\n", "PageNumber"));
  items += "<key>Banner</key>" + Item("PS", 0, Element("On", "(%1) show\\n", "BannerText"), "Banner");
  std::string names;
  for (const char *n : kItems) names += std::string("<string>") + n + "</string>";
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
         "<key>PDL_Compornents</key><dict><key>S</key><dict>" + items + "</dict></dict>"
         "<key>Reserve</key><dict><key>PDEName</key><array><string>S</string></array>"
         "<key>JobTicketName</key><dict><key>S</key><array>" + names + "</array></dict></dict>"
         "<key>JobTicketEncodeType</key><array><string>VTSecurePIN</string><string>VTNote</string>"
         "<string>VTDesKey</string></array>"
         "<key>JobTicketDesType</key><array><string>VTDesKey</string></array>"
         "<key>JobTicketAesType</key><array><string>VTSecurePIN</string></array>"
         "</dict></plist>";
}

// The lines the table can write: text before and after the value, whether
// the value stands between double quotes, whether it is binary (any byte
// but a line feed).
struct LineShape {
  const char *before, *after;
  bool quoted, binary;
};
const LineShape kShapes[] = {
    {"@PJL SET USERNAME=\"", "\"", true, false}, {"@PJL SET JOBNAME=\"", "\"", true, false},
    {"@PJL SET STAMPTEXT=\"", "\"", true, false}, {"@PJL SET STAMP=OFF", "", false, false},
    {"@PJL COMMENT ", "", false, false},         {"@PJL SET HOLD=ON", "", false, false},
    {"@PJL SET HOLDKEY=\"", "\"", true, false},  {"@PJL SET NOTE=\"", "\"", true, false},
    {"@PJL SET DESKEY=", "", false, true},       {"@PJL SET MODE=\"", "\"", true, false},
    {"@PJL SET PAGES=", "", false, false},       {"(", ") show", false, false},
};

bool IsTableLine(const std::string &line) {
  for (const LineShape &shape : kShapes) {
    size_t b = std::strlen(shape.before), a = std::strlen(shape.after);
    if (line.size() < b + a || line.compare(0, b, shape.before) != 0 ||
        line.compare(line.size() - a, a, shape.after) != 0)
      continue;
    bool clean = true;
    for (size_t i = b; i < line.size() - a && clean; ++i) {
      unsigned char c = static_cast<unsigned char>(line[i]);
      clean = shape.binary ? c != '\n'
                           : !(c < 0x20 || c == 0x7F || (shape.quoted && c == '"'));
    }
    if (clean) return true;
  }
  return false;
}

// Checks the written text: whole lines, each one of the table's, and no
// universal exit language anywhere.
void CheckLines(const std::string &text) {
  if (text.find("\x1b%-12345X") != std::string::npos) abort();
  size_t at = 0;
  while (at < text.size()) {
    size_t nl = text.find('\n', at);
    if (nl == std::string::npos) abort();  // every template ends its line
    if (!IsTableLine(text.substr(at, nl - at))) abort();
    at = nl + 1;
  }
}

void FreeTable() { ossFilterFreePsPjlTables(&gTable); }

const char *const kNames[] = {
    "Login", "JobName", "Stamp", "Memo", "OutputMethod", "Note", "DesKey", "Mode", "Pages",
    "Banner", "jp.vantora.printers.loginName", "com.apple.print.JobInfo.PMJobName",
    "com.apple.print.JobInfo.PMJobOwner", "JimonCharacter", "JimonCharacter#01",
    "JimonCharacter#02", "MemoText", "VTSecurePIN", "VTNote", "VTDesKey", "VTDesKey#01",
    "ModeKind", "PageNumberCount", "PageNumber_1", "PageNumber_2", "BannerText"};
}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  vSetDiagnosticsEnabled(false);
  ticketfuzz::MakeRoot("header");
  std::string text = TableFile();
  ticketfuzz::WriteFile(text.data(), text.size());
  if (ossFilterCreatePsPjlTables(&gTable, "Q610") != 0 || gTable.pjlCount != 9 ||
      gTable.psCount != 1)
    abort();
  atexit(FreeTable);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  cups_option_t *options = nullptr;
  int count = 0;
  size_t at = 0;
  while (at + 2 <= size) {
    const char *name = kNames[data[at] % (sizeof kNames / sizeof *kNames)];
    size_t length = data[at + 1];
    if (data[at] >= 0xF0) length *= 32;  // long values now and then
    at += 2;
    if (length > size - at) length = size - at;
    std::string value;
    for (size_t i = 0; i < length; ++i)
      if (data[at + i]) value += static_cast<char>(data[at + i]);
    at += length;
    count = cupsAddOption(name, value.c_str(), count, &options);
  }

  char *buffer = nullptr;
  size_t bufferSize = 0;
  FILE *out = open_memstream(&buffer, &bufferSize);
  if (!out) abort();
  bJobTicketValuesUsable(&gTable, count, options);
  WritePJLHeader_TypeGeneral(nullptr, count, options, out, &gTable);
  const PdlEntry &banner = gTable.psItems[0];
  if (const char *value = cupsGetOption(banner.name, count, options))
    iCreatePjlDetail(&gTable, banner.syntaxCount, value, banner.syntaxList, count, options, out);
  std::fclose(out);
  CheckLines(std::string(buffer, bufferSize));
  std::free(buffer);
  cupsFreeOptions(count, options);
  return 0;
}
