// The customisation table loader: reads the model's FilterCustomize.plist
// once per job into the tables the job record points to, which the scanner
// (feature blocks), the PJL header writer and the option value encoding read. Every text is copied
// whole into its slot or not at all; nothing is cut.
#include "jobticket/plistAccess.h"

#include <plist/plist.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "output/Filter_Debug.h"
#include "VtPaths.h"

DictEntry *pstDictEntriesPlist = nullptr;

// ---------------------------------------------------------------------------
// Built-in section list, used when the file has no "Reserve" / "PDEName".

static char stGeneralEntries[3 + 1][VT_ITEM_NAME_SLOT] = {
    "jp.vantora.printers.loginName", "JobNameType", "com.apple.print.JobInfo.PMJobName", ""};
static char stOutputEntries[8 + 1][VT_ITEM_NAME_SLOT] = {
    "VTCollate",        "Offset",    "OutputMethod",   "SendEMail",
    "VTAuthentication", "VTSection", "CertServerType", "CertServerNum", ""};
static char stFinishingEntries[4 + 1][VT_ITEM_NAME_SLOT] = {
    "ImageShift", "Chapter", "DivideOutput", "EdgeMatching", ""};
static char stTrayEntries[0 + 1][VT_ITEM_NAME_SLOT] = {""};
static char stCoverEntries[0 + 1][VT_ITEM_NAME_SLOT] = {""};
static char stPerPageEntries[30 + 1][VT_ITEM_NAME_SLOT] = {
    "PP-Enable_01", "PP-Enable_02", "PP-Enable_03", "PP-Enable_04", "PP-Enable_05",
    "PP-Enable_06", "PP-Enable_07", "PP-Enable_08", "PP-Enable_09", "PP-Enable_10",
    "PP-Enable_11", "PP-Enable_12", "PP-Enable_13", "PP-Enable_14", "PP-Enable_15",
    "PP-Enable_16", "PP-Enable_17", "PP-Enable_18", "PP-Enable_19", "PP-Enable_20",
    "PP-Enable_21", "PP-Enable_22", "PP-Enable_23", "PP-Enable_24", "PP-Enable_25",
    "PP-Enable_26", "PP-Enable_27", "PP-Enable_28", "PP-Enable_29", "PP-Enable_30",
    ""};
static char stImageEntries[0 + 1][VT_ITEM_NAME_SLOT] = {""};
static char stStampEntries[27 + 1][VT_ITEM_NAME_SLOT] = {
    "CopyProtectSet",       "DateTimeSet",          "DtstpColorOption",
    "DtstpDateOption",      "DtstpPageOption",      "DtstpPositionOption",
    "DtstpTimeOption",      "JimonCharacter",       "JimonBackPatternOption",
    "JimonJobIDSet",        "JimonDateTimeSet",     "JimonModeHideOption",
    "JimonNumberingSet",    "JimonPattern",         "JimonTextSet",
    "PageColorOption",      "PageNumberSet",        "PagePositionOption",
    "HeaderFooterSet",      "HFRecallOption",       "HFPrintInHeaderSet",
    "HFPrintInFooterSet",   "HFNumberingOption",    "HFPageOption",
    "HFColorOption",        "HeaderFooterStartNum", "HFNumberingOption_01",
    ""};

DictEntry stDictEntries[] = {
    {"GENERAL", stGeneralEntries, 3},   {"Output", stOutputEntries, 8},
    {"Finishing", stFinishingEntries, 4}, {"Tray", stTrayEntries, 0},
    {"Cover", stCoverEntries, 0},       {"PerPage", stPerPageEntries, 30},
    {"Image", stImageEntries, 0},       {"Stamp", stStampEntries, 27},
    {nullptr, nullptr, 0},
};

// ---------------------------------------------------------------------------
// Property-list access.

// Counted allocation of the table (see "The table's size" below).
static void *pvTableAlloc(size_t count, size_t size);

// The value under key when it has the wanted type, else none.
static CFTypeRef LookupTyped(CFTypeRef dict, const char *key, int type) {
  CFTypeRef value = CFDictionaryGetValue(dict, key);
  if (!value || CFGetTypeCode(value) != type) return nullptr;
  return value;
}

// The UTF-8 text of a string value. A text holding a zero byte cannot be a
// C string without being cut, so it counts as no text. (Read through the
// length-aware accessor: libplist asserts on such strings otherwise.)
static bool bGetText(CFTypeRef value, std::string &out) {
  if (CFGetTypeCode(value) != kCFTypeString) return false;
  uint64_t length = 0;
  const char *text = plist_get_string_ptr(value, &length);
  if (!text) return false;
  if (std::memchr(text, '\0', length) != nullptr) {
    vDebugMessage("[Filter] - FilterCustomize: text holding a zero byte ignored\n");
    return false;
  }
  out.assign(text, length);
  return true;
}

// Copies a string value into a fixed slot when it fits whole; otherwise the
// slot stays empty (and the loss is logged). Returns true when copied.
static bool bCopyText(CFTypeRef value, char *slot, size_t slotSize, const char *what) {
  std::string text;
  if (!bGetText(value, text)) return false;
  if (text.size() + 1 > slotSize) {
    vDebugMessage("[Filter] - FilterCustomize: %s of %zu bytes is too long, left empty\n", what,
                  text.size());
    return false;
  }
  std::memcpy(slot, text.data(), text.size());
  slot[text.size()] = '\0';
  return true;
}

// A template in an allocation of its own: its length plus one byte. A
// template too long to be kept is stored empty, so it never writes a line.
static char *cpCopyTemplate(CFTypeRef value) {
  if (CFGetTypeCode(value) != kCFTypeString) return nullptr;
  std::string text;
  if (!bGetText(value, text)) text.clear();
  if (text.size() > VT_TEMPLATE_MAX) {
    vDebugMessage("[Filter] - FilterCustomize: template of %zu bytes is too long, left empty\n",
                  text.size());
    text.clear();
  }
  char *copy = static_cast<char *>(pvTableAlloc(text.size() + 1, 1));
  if (copy) std::memcpy(copy, text.data(), text.size());
  return copy;
}

// A 32-bit count for an array's length (an array never nears 2^31 entries in
// a file we can parse, but the narrowing is checked anyway).
static int32_t iArrayCount(CFTypeRef array) {
  size_t n = CFArrayGetCount(array);
  return n > static_cast<size_t>(std::numeric_limits<int32_t>::max() / 2)
             ? 0
             : static_cast<int32_t>(n);
}

// ---------------------------------------------------------------------------
// Limits on the file. The file is written by an administrator, but it is
// parsed by a filter that runs for every job: a file that is not what the
// filter expects must cost little and never take the job down. libplist
// recurses once per nesting level and, in a binary file, once per reference
// (an object referenced many times is copied as many times), so both are
// measured before the bytes reach it.

constexpr size_t kFileBytesMax = 1 << 20;        // the file itself
constexpr int kNestingMax = 32;                  // open elements or containers, root included
constexpr uint64_t kNodesMax = 200000;           // values after references are expanded
constexpr uint64_t kPayloadBytesMax = 4u << 20;  // string and data bytes after expansion
constexpr size_t kTableBytesMax = 8u << 20;      // everything the loader allocates

namespace {

// Nesting depth of an XML property list: elements opened and not yet closed,
// comments, processing instructions, declarations and CDATA skipped. False
// when the depth exceeds the limit.
bool bXmlNestingWithin(const char *data, size_t size) {
  int depth = 0;
  size_t i = 0;
  auto skipPast = [&](const char *end) {
    const char *hit = static_cast<const char *>(memmem(data + i, size - i, end, std::strlen(end)));
    i = hit ? static_cast<size_t>(hit - data) + std::strlen(end) : size;
  };
  while (i < size) {
    const char *lt = static_cast<const char *>(std::memchr(data + i, '<', size - i));
    if (!lt) break;
    i = static_cast<size_t>(lt - data);
    const size_t left = size - i;
    if (left >= 4 && std::memcmp(lt, "<!--", 4) == 0) {
      i += 4;
      skipPast("-->");
    } else if (left >= 9 && std::memcmp(lt, "<![CDATA[", 9) == 0) {
      i += 9;
      skipPast("]]>");
    } else if (left >= 2 && (lt[1] == '?' || lt[1] == '!')) {
      i += 2;
      skipPast(">");
    } else {
      const bool closing = left >= 2 && lt[1] == '/';
      const char *gt = static_cast<const char *>(std::memchr(lt, '>', left));
      if (!gt) break;
      const bool empty = gt > lt && gt[-1] == '/';
      if (closing) --depth;
      else if (!empty && ++depth > kNestingMax) return false;
      i = static_cast<size_t>(gt - data) + 1;
    }
  }
  return true;
}

// The shape of a binary property list ("bplist00"), measured over its
// object graph: nesting depth, the number of values and the string and data
// bytes it expands to when every reference is followed (what libplist
// builds). Each object is measured once.
class BinaryShape {
 public:
  BinaryShape(const unsigned char *data, size_t size) : data_(data), size_(size) {}

  // Empty when the file is within every limit; else the limit it breaks.
  std::string Check() {
    if (size_ < 8 + 32) return "malformed binary property list";
    const unsigned char *trailer = data_ + size_ - 32;
    offsetSize_ = trailer[6];
    refSize_ = trailer[7];
    count_ = Be(trailer + 8, 8);
    uint64_t top = Be(trailer + 16, 8);
    tableOffset_ = Be(trailer + 24, 8);
    if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8 || count_ == 0 ||
        top >= count_ || tableOffset_ >= size_ || count_ > (size_ - tableOffset_) / offsetSize_)
      return "malformed binary property list";
    measures_.assign(count_, Measure{});
    Measure m = Walk(top, 1);
    if (!problem_.empty()) return problem_;
    if (m.nodes > kNodesMax) return "more than " + std::to_string(kNodesMax) + " values";
    if (m.payload > kPayloadBytesMax)
      return "more than " + std::to_string(kPayloadBytesMax) + " bytes of strings and data";
    return std::string();
  }

 private:
  struct Measure {
    uint64_t nodes = 0;    // saturating at kNodesMax + 1
    uint64_t payload = 0;  // saturating at kPayloadBytesMax + 1
    int height = 0;        // levels below and including the object
    int state = 0;         // 0 not seen, 1 being measured, 2 done
  };

  uint64_t Be(const unsigned char *p, unsigned n) const {
    uint64_t v = 0;
    for (unsigned i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
  }
  static uint64_t Cap(uint64_t v, uint64_t max) { return v > max ? max + 1 : v; }

  // The length of a container or string at offset, its marker's low nibble
  // or the integer after it; the position after the length in *body.
  bool Length(size_t at, uint64_t *length, size_t *body) const {
    unsigned info = data_[at] & 0x0F;
    *body = at + 1;
    if (info != 0x0F) {
      *length = info;
      return true;
    }
    if (*body >= size_ || (data_[*body] & 0xF0) != 0x10) return false;
    unsigned bytes = 1u << (data_[*body] & 0x0F);
    if (bytes > 8 || *body + 1 + bytes > size_) return false;
    *length = Be(data_ + *body + 1, bytes);
    *body += 1 + bytes;
    return true;
  }

  Measure Walk(uint64_t index, int depth) {
    Measure none;
    if (!problem_.empty()) return none;
    if (depth > kNestingMax) {
      problem_ = "nesting deeper than " + std::to_string(kNestingMax) + " levels";
      return none;
    }
    Measure &slot = measures_[index];
    if (slot.state == 2) {
      if (depth - 1 + slot.height > kNestingMax)
        problem_ = "nesting deeper than " + std::to_string(kNestingMax) + " levels";
      return slot;
    }
    if (slot.state == 1) {
      problem_ = "an object that contains itself";
      return none;
    }
    slot.state = 1;
    size_t at = static_cast<size_t>(Be(data_ + tableOffset_ + index * offsetSize_, offsetSize_));
    if (at < 8 || at >= tableOffset_) {
      problem_ = "malformed binary property list";
      return none;
    }
    Measure m;
    m.nodes = 1;
    m.height = 1;
    unsigned kind = data_[at] >> 4;
    uint64_t length = 0;
    size_t body = at + 1;
    if (kind == 0x4 || kind == 0x5 || kind == 0x6 || kind == 0x7 || kind == 0xA || kind == 0xC ||
        kind == 0xD) {
      if (!Length(at, &length, &body)) {
        problem_ = "malformed binary property list";
        return none;
      }
    }
    if (kind == 0x4 || kind == 0x5 || kind == 0x7) m.payload = Cap(length, kPayloadBytesMax);
    if (kind == 0x6) m.payload = Cap(length > kPayloadBytesMax ? length : 2 * length, kPayloadBytesMax);
    if (kind == 0xA || kind == 0xC || kind == 0xD) {
      uint64_t refs = kind == 0xD ? 2 * length : length;
      if (length > size_ || refs > (tableOffset_ - body) / refSize_) {
        problem_ = "malformed binary property list";
        return none;
      }
      for (uint64_t r = 0; r < refs; ++r) {
        uint64_t child = Be(data_ + body + r * refSize_, refSize_);
        if (child >= count_) {
          problem_ = "malformed binary property list";
          return none;
        }
        Measure c = Walk(child, depth + 1);
        if (!problem_.empty()) return none;
        m.nodes = Cap(m.nodes + c.nodes, kNodesMax);
        m.payload = Cap(m.payload + c.payload, kPayloadBytesMax);
        if (c.height + 1 > m.height) m.height = c.height + 1;
      }
    }
    m.state = 2;
    measures_[index] = m;
    return m;
  }

  const unsigned char *data_;
  size_t size_;
  unsigned offsetSize_ = 0, refSize_ = 0;
  uint64_t count_ = 0, tableOffset_ = 0;
  std::vector<Measure> measures_;
  std::string problem_;
};

// Empty when the bytes may go to libplist; else the limit they break.
std::string ShapeProblem(const std::string &data) {
  if (data.size() >= 8 && std::memcmp(data.data(), "bplist00", 8) == 0)
    return BinaryShape(reinterpret_cast<const unsigned char *>(data.data()), data.size()).Check();
  if (!bXmlNestingWithin(data.data(), data.size()))
    return "nesting deeper than " + std::to_string(kNestingMax) + " levels";
  return std::string();
}

}  // namespace

// ---------------------------------------------------------------------------
// The table's size. Every allocation of the loader is counted; once the
// table would grow past kTableBytesMax nothing more is allocated and the
// whole load fails (the file is treated as unreadable).

static size_t gTableBytes = 0;
static bool gTableTooLarge = false;

static void *pvTableAlloc(size_t count, size_t size) {
  if (count == 0 || size == 0) return nullptr;
  if (gTableTooLarge || count > (kTableBytesMax - gTableBytes) / size) {
    gTableTooLarge = true;
    return nullptr;
  }
  void *block = std::calloc(count, size);
  if (block) gTableBytes += count * size;
  return block;
}

CFOwned MyPListCreateDictionaryFromPath(const char *path) {
  if (!path || !*path) return CFOwned();
  FILE *file = std::fopen(path, "rb");
  if (!file) return CFOwned();
  std::string data;
  char chunk[8192];
  size_t got;
  bool tooLarge = false;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    if (data.size() + got > kFileBytesMax) {
      tooLarge = true;
      break;
    }
    data.append(chunk, got);
  }
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (tooLarge) {
    vDebugMessage("[Filter] - FilterCustomize: file larger than %zu bytes, not used\n",
                  kFileBytesMax);
    return CFOwned();
  }
  if (failed || data.empty()) return CFOwned();
  std::string problem = ShapeProblem(data);
  if (!problem.empty()) {
    vDebugMessage("[Filter] - FilterCustomize: %s, not used\n", problem.c_str());
    return CFOwned();
  }
  return CFPropertyListCreateWithData(data.data(), data.size());
}

// The customisation file's path for a model key; empty when the key cannot
// name a folder (none, empty, not ASCII, or holding a path separator).
static std::string EntryPListPath(const char *modelKey) {
  if (!modelKey || !*modelKey) return std::string();
  for (const char *p = modelKey; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c >= 0x80 || c < 0x20 || c == '/') return std::string();
  }
  if (std::strcmp(modelKey, ".") == 0 || std::strcmp(modelKey, "..") == 0) return std::string();
  return VtCustomizeFile(modelKey);
}

CFOwned MyEntryPListCreateCustomDictionary(const char *modelKey, const char *key) {
  std::string path = EntryPListPath(modelKey);
  if (path.empty()) {
    vDebugMessage("EntryPList: entryPListPath is invalid\n");
    return CFOwned();
  }
  CFOwned root = MyPListCreateDictionaryFromPath(path.c_str());
  CFTypeRef value = CFDictionaryGetValue(root.get(), key);
  if (!value) return CFOwned();
  return CFCopy(value);
}

// ---------------------------------------------------------------------------
// Section list from "Reserve".

// Builds the section list from "Reserve" / "PDEName" and "JobTicketName";
// null when the file gives no "PDEName" array (or memory runs out).
static DictEntry *pstCreateDictEntries(CFTypeRef reserve) {
  CFTypeRef names = LookupTyped(reserve, "PDEName", kCFTypeArray);
  if (!names) return nullptr;
  int32_t sections = iArrayCount(names);
  DictEntry *list = static_cast<DictEntry *>(pvTableAlloc(sections + 1, sizeof(DictEntry)));
  if (!list) return nullptr;
  CFTypeRef ticketNames = LookupTyped(reserve, "JobTicketName", kCFTypeDictionary);
  for (int32_t i = 0; i < sections; ++i) {
    std::string section;
    if (!bGetText(CFArrayGetValueAtIndex(names, i), section)) break;
    CFTypeRef items = LookupTyped(ticketNames, section.c_str(), kCFTypeArray);
    int32_t count = items ? iArrayCount(items) : 0;
    // A section without names leaves its record empty, which ends the list:
    // the sections after it are never read, so they are not built.
    if (count < 1) break;
    auto slots = static_cast<char(*)[VT_ITEM_NAME_SLOT]>(
        pvTableAlloc(static_cast<size_t>(count) + 1, VT_ITEM_NAME_SLOT));
    char *sectionName = static_cast<char *>(pvTableAlloc(section.size() + 1, 1));
    if (!slots || !sectionName) {
      std::free(slots);
      std::free(sectionName);
      break;
    }
    std::memcpy(sectionName, section.c_str(), section.size() + 1);
    for (int32_t j = 0; j < count; ++j) {
      bCopyText(CFArrayGetValueAtIndex(items, j), slots[j], VT_ITEM_NAME_SLOT, "item name");
    }
    list[i].sectionName = sectionName;
    list[i].itemNames = slots;
    list[i].count = count;
  }
  return list;
}

static void vFreeDictEntries(DictEntry *list) {
  if (!list || list == stDictEntries) return;
  for (DictEntry *entry = list; entry->sectionName; ++entry) {
    std::free(const_cast<char *>(entry->sectionName));
    std::free(entry->itemNames);
  }
  std::free(list);
}

// ---------------------------------------------------------------------------
// Counting and storing the items.

// Counts the PS and PJL items of one section.
static void ossCountItems(CFTypeRef components, const DictEntry *entry, int32_t *psCount,
                          int32_t *pjlCount) {
  CFTypeRef section = LookupTyped(components, entry->sectionName, kCFTypeDictionary);
  if (!section || entry->count < 1) return;
  for (int32_t i = 0; i < entry->count; ++i) {
    if (!entry->itemNames[i][0]) continue;
    CFTypeRef item = LookupTyped(section, entry->itemNames[i], kCFTypeDictionary);
    std::string type;
    if (!bGetText(LookupTyped(item, "PDL_Type", kCFTypeString), type)) continue;
    if (type == "PJL") ++*pjlCount;
    else if (type == "PS") ++*psCount;
  }
}

// Argument names kept per element: as many as a line can place.
constexpr int32_t kArgumentsKept = 30;

// Stores one argument name.
static void vStoreDetailFor4th(CFTypeRef argument, char *slot) {
  bCopyText(argument, slot, VT_TEXT_SLOT, "argument name");
}

// Stores the names of an argument list or an encoding list, at most `limit`
// of them: count and slots. The header writer places at most
// VT_PJL_ARGUMENTS_MAX arguments per line, so an element keeps no more.
static void vStoreArguments(CFTypeRef arguments, int32_t *count, char (**slots)[VT_TEXT_SLOT],
                            int32_t limit) {
  int32_t n = iArrayCount(arguments);
  if (n > limit) n = limit;
  *count = 0;
  *slots = nullptr;
  if (n < 1) return;
  auto block = static_cast<char(*)[VT_TEXT_SLOT]>(pvTableAlloc(n, VT_TEXT_SLOT));
  if (!block) return;
  for (int32_t i = 0; i < n; ++i) vStoreDetailFor4th(CFArrayGetValueAtIndex(arguments, i), block[i]);
  *count = n;
  *slots = block;
}

// Stores one complex item.
static void vStoreDetailFor5th(CFTypeRef complex, ComplexItem *out) {
  bCopyText(LookupTyped(complex, "Item", kCFTypeString), out->item, VT_TEXT_SLOT, "complex item");
  bCopyText(LookupTyped(complex, "Value", kCFTypeString), out->value, VT_TEXT_SLOT, "value");
  CFTypeRef arguments = LookupTyped(complex, "Argument", kCFTypeArray);
  if (arguments) {
    out->templateText = cpCopyTemplate(LookupTyped(complex, "String", kCFTypeString));
    vStoreArguments(arguments, &out->argumentCount, &out->arguments, kArgumentsKept);
  }
}

// Stores one "Syntax" array as the entry's list of elements.
static void vStoreDetailFor3rd(CFTypeRef syntax, PdlEntry *entry) {
  int32_t n = iArrayCount(syntax);
  SyntaxElement *last = nullptr;
  int32_t stored = 0;
  for (int32_t i = 0; i < n; ++i) {
    auto element = static_cast<SyntaxElement *>(pvTableAlloc(1, sizeof(SyntaxElement)));
    if (!element) break;
    element->self = element;
    element->previous = last;
    if (last) last->next = element;
    else entry->syntaxList = element;
    last = element;
    ++stored;

    CFTypeRef dict = CFArrayGetValueAtIndex(syntax, i);
    bCopyText(LookupTyped(dict, "Value", kCFTypeString), element->value, VT_TEXT_SLOT, "value");
    CFTypeRef arguments = LookupTyped(dict, "Argument", kCFTypeArray);
    CFTypeRef complex = LookupTyped(dict, "Complex", kCFTypeArray);
    if (arguments) {
      element->templateText = cpCopyTemplate(LookupTyped(dict, "String", kCFTypeString));
      vStoreArguments(arguments, &element->count, &element->arguments, kArgumentsKept);
    } else if (complex) {
      int32_t m = iArrayCount(complex);
      if (m > 0) {
        element->complexItems = static_cast<ComplexItem *>(pvTableAlloc(m, sizeof(ComplexItem)));
        if (element->complexItems) {
          element->count = m;
          for (int32_t j = 0; j < m; ++j)
            vStoreDetailFor5th(CFArrayGetValueAtIndex(complex, j), &element->complexItems[j]);
        }
      }
    }
  }
  // The count always describes the list as built.
  entry->syntaxCount = stored;
}

// Stores the item dictionary's details into one entry.
static void vStoreEntry(CFTypeRef item, const char *name, PdlEntry *entry, bool isPs) {
  std::memset(entry, 0, sizeof *entry);
  size_t nameLength = std::strlen(name);
  if (nameLength < VT_TEXT_SLOT) std::memcpy(entry->name, name, nameLength + 1);
  CFTypeRef syntax = LookupTyped(item, "Syntax", kCFTypeArray);
  if (syntax) vStoreDetailFor3rd(syntax, entry);
  int64_t serial = 0;
  if (CFNumberGetInt64(LookupTyped(item, "Serial", kCFTypeNumber), serial)) {
    // Out-of-range serials keep their side of the range, so they stay unwritten.
    if (serial > std::numeric_limits<int32_t>::max()) serial = std::numeric_limits<int32_t>::max();
    if (serial < std::numeric_limits<int32_t>::min()) serial = std::numeric_limits<int32_t>::min();
    entry->serial = static_cast<int32_t>(serial);
  }
  if (isPs)
    bCopyText(LookupTyped(item, "PS_DSC", kCFTypeString), entry->dscText, VT_TEXT_SLOT, "PS_DSC");
}

// Stores one item of a section into the next free PS or PJL entry.
static int iStoreDetailFor2nd(CFTypeRef components, const char *sectionName, const char *name,
                              PsPjlTables *table, int32_t *psCursor, int32_t *pjlCursor) {
  CFTypeRef section = LookupTyped(components, sectionName, kCFTypeDictionary);
  CFTypeRef item = LookupTyped(section, name, kCFTypeDictionary);
  std::string type;
  if (!bGetText(LookupTyped(item, "PDL_Type", kCFTypeString), type)) return -1;
  if (type == "PJL") {
    if (*pjlCursor >= table->pjlCount) return -1;
    vStoreEntry(item, name, &table->pjlItems[(*pjlCursor)++], false);
    return 0;
  }
  if (type == "PS") {
    if (*psCursor >= table->psCount) return -1;
    vStoreEntry(item, name, &table->psItems[(*psCursor)++], true);
    return 0;
  }
  return -1;
}

// Stores one encoding list ("JobTicketEncodeType" and its two siblings).
static void vStoreDetailForEncodeTable(CFTypeRef root, const char *key, int32_t *count,
                                       char (**names)[VT_TEXT_SLOT]) {
  *count = 0;
  *names = nullptr;
  CFTypeRef list = LookupTyped(root, key, kCFTypeArray);
  if (!list) return;
  vStoreArguments(list, count, names, std::numeric_limits<int32_t>::max());
}

// ---------------------------------------------------------------------------
// Freeing.

static void vFreeDetail5th(ComplexItem *items, int32_t count) {
  if (!items) return;
  for (int32_t i = 0; i < count; ++i) {
    std::free(items[i].arguments);
    std::free(items[i].templateText);
  }
  std::free(items);
}

static void vFreeDetail3rd(SyntaxElement *first) {
  for (SyntaxElement *element = first; element;) {
    SyntaxElement *next = element->next;
    std::free(element->templateText);
    std::free(element->arguments);
    if (element->complexItems) vFreeDetail5th(element->complexItems, element->count);
    std::free(element);
    element = next;
  }
}

static void vFreeDetail2nd(PdlEntry *entries, int32_t count) {
  if (!entries) return;
  for (int32_t i = 0; i < count; ++i) vFreeDetail3rd(entries[i].syntaxList);
  std::free(entries);
}

int ossFilterFreePsPjlTables(PsPjlTables *table) {
  if (table) {
    vFreeDetail2nd(table->pjlItems, table->pjlCount);
    vFreeDetail2nd(table->psItems, table->psCount);
    std::free(table->encodeTypeNames);
    std::free(table->desTypeNames);
    std::free(table->aesTypeNames);
    std::memset(table, 0, sizeof *table);
  }
  vFreeDictEntries(pstDictEntriesPlist);
  pstDictEntriesPlist = nullptr;
  return 0;
}

// ---------------------------------------------------------------------------
// Loading.

int ossFilterCreatePsPjlTables(PsPjlTables *table, const char *modelKey) {
  if (!table) return -1;
  // One table per job; a second load replaces the first instead of leaking it.
  ossFilterFreePsPjlTables(table);
  std::string path = EntryPListPath(modelKey);
  if (path.empty()) {
    vDebugMessage("EntryPList: entryPListPath is invalid\n");
    return -1;
  }

  // The file is read and parsed once; every root key is looked up in it.
  CFOwned root = MyPListCreateDictionaryFromPath(path.c_str());
  CFTypeRef components = LookupTyped(root.get(), "PDL_Compornents", kCFTypeDictionary);
  if (!components) return -1;

  gTableBytes = 0;
  gTableTooLarge = false;
  pstDictEntriesPlist = pstCreateDictEntries(LookupTyped(root.get(), "Reserve", kCFTypeDictionary));
  if (!pstDictEntriesPlist && !gTableTooLarge) pstDictEntriesPlist = stDictEntries;

  int32_t psCount = 0, pjlCount = 0;
  for (DictEntry *entry = pstDictEntriesPlist; entry && entry->sectionName; ++entry)
    ossCountItems(components, entry, &psCount, &pjlCount);

  if (psCount > 0) {
    table->psItems = static_cast<PdlEntry *>(pvTableAlloc(psCount, sizeof(PdlEntry)));
    if (table->psItems) table->psCount = psCount;
  }
  if (pjlCount > 0) {
    table->pjlItems = static_cast<PdlEntry *>(pvTableAlloc(pjlCount, sizeof(PdlEntry)));
    if (table->pjlItems) table->pjlCount = pjlCount;
  }

  int32_t psCursor = 0, pjlCursor = 0;
  for (DictEntry *entry = pstDictEntriesPlist; entry && entry->sectionName; ++entry) {
    for (int32_t i = 0; i < entry->count && entry->itemNames[i][0] && !gTableTooLarge; ++i)
      iStoreDetailFor2nd(components, entry->sectionName, entry->itemNames[i], table, &psCursor,
                         &pjlCursor);
  }

  vStoreDetailForEncodeTable(root.get(), "JobTicketEncodeType", &table->encodeTypeCount,
                             &table->encodeTypeNames);
  vStoreDetailForEncodeTable(root.get(), "JobTicketDesType", &table->desTypeCount,
                             &table->desTypeNames);
  vStoreDetailForEncodeTable(root.get(), "JobTicketAesType", &table->aesTypeCount,
                             &table->aesTypeNames);

  if (gTableTooLarge) {
    // A table cut short would silently leave out commands the printer needs.
    vDebugMessage("[Filter] - FilterCustomize: table larger than %zu bytes, not used\n",
                  kTableBytesMax);
    ossFilterFreePsPjlTables(table);
    return -1;
  }

  bool flag = false;
  if (CFBooleanGetValue(CFDictionaryGetValue(root.get(), "PJLEmbedEnable"), flag))
    table->bPjlEmbed = flag ? 1 : 0;
  return 0;
}
