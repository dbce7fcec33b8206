// The customisation table loader: reads the model's FilterCustomize.plist
// once per job into ctrl1st, which the scanner (feature blocks), the PJL
// header writer and the option value encoding read. Every text is copied
// whole into its slot or not at all; nothing is cut.
#include "plistAccess.h"

#include <plist/plist.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "Filter_Debug.h"
#include "VtPaths.h"

PsPjlTables ctrl1st;
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
  if (text.size() + 1 > VT_TEMPLATE_MAX) {
    vDebugMessage("[Filter] - FilterCustomize: template of %zu bytes is too long, left empty\n",
                  text.size());
    text.clear();
  }
  char *copy = static_cast<char *>(std::calloc(text.size() + 1, 1));
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

CFOwned MyPListCreateDictionaryFromPath(const char *path) {
  if (!path || !*path) return CFOwned();
  FILE *file = std::fopen(path, "rb");
  if (!file) return CFOwned();
  std::string data;
  char chunk[8192];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) data.append(chunk, got);
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed || data.empty()) return CFOwned();
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
  DictEntry *list = static_cast<DictEntry *>(std::calloc(sections + 1, sizeof(DictEntry)));
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
        std::calloc(count + 1, VT_ITEM_NAME_SLOT));
    char *sectionName = strdup(section.c_str());
    if (!slots || !sectionName) {
      std::free(slots);
      std::free(sectionName);
      break;
    }
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

// Stores one argument name.
static void vStoreDetailFor4th(CFTypeRef argument, char *slot) {
  bCopyText(argument, slot, VT_TEXT_SLOT, "argument name");
}

// Stores the arguments of an element or complex item: count and slots.
static void vStoreArguments(CFTypeRef arguments, int32_t *count,
                            char (**slots)[VT_TEXT_SLOT]) {
  int32_t n = iArrayCount(arguments);
  *count = 0;
  *slots = nullptr;
  if (n < 1) return;
  auto block = static_cast<char(*)[VT_TEXT_SLOT]>(std::calloc(n, VT_TEXT_SLOT));
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
    vStoreArguments(arguments, &out->argumentCount, &out->arguments);
  }
}

// Stores one "Syntax" array as the entry's list of elements.
static void vStoreDetailFor3rd(CFTypeRef syntax, PdlEntry *entry) {
  int32_t n = iArrayCount(syntax);
  SyntaxElement *last = nullptr;
  int32_t stored = 0;
  for (int32_t i = 0; i < n; ++i) {
    auto element = static_cast<SyntaxElement *>(std::calloc(1, sizeof(SyntaxElement)));
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
      vStoreArguments(arguments, &element->count, &element->arguments);
    } else if (complex) {
      int32_t m = iArrayCount(complex);
      if (m > 0) {
        element->complexItems = static_cast<ComplexItem *>(std::calloc(m, sizeof(ComplexItem)));
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
static void vStoreDetailForEncodeTable(const char *modelKey, const char *key, int32_t *count,
                                       char (**names)[VT_TEXT_SLOT]) {
  *count = 0;
  *names = nullptr;
  CFOwned list = MyEntryPListCreateCustomDictionary(modelKey, key);
  if (CFGetTypeCode(list.get()) != kCFTypeArray) return;
  vStoreArguments(list.get(), count, names);
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
  if (EntryPListPath(modelKey).empty()) {
    vDebugMessage("EntryPList: entryPListPath is invalid\n");
    return -1;
  }

  CFOwned components = MyEntryPListCreateCustomDictionary(modelKey, "PDL_Compornents");
  if (CFGetTypeCode(components.get()) != kCFTypeDictionary) return -1;

  {
    CFOwned reserve = MyEntryPListCreateCustomDictionary(modelKey, "Reserve");
    pstDictEntriesPlist = pstCreateDictEntries(reserve.get());
  }
  if (!pstDictEntriesPlist) pstDictEntriesPlist = stDictEntries;

  int32_t psCount = 0, pjlCount = 0;
  for (DictEntry *entry = pstDictEntriesPlist; entry->sectionName; ++entry)
    ossCountItems(components.get(), entry, &psCount, &pjlCount);

  if (psCount > 0) {
    table->psItems = static_cast<PdlEntry *>(std::calloc(psCount, sizeof(PdlEntry)));
    if (table->psItems) table->psCount = psCount;
  }
  if (pjlCount > 0) {
    table->pjlItems = static_cast<PdlEntry *>(std::calloc(pjlCount, sizeof(PdlEntry)));
    if (table->pjlItems) table->pjlCount = pjlCount;
  }

  int32_t psCursor = 0, pjlCursor = 0;
  for (DictEntry *entry = pstDictEntriesPlist; entry->sectionName; ++entry) {
    for (int32_t i = 0; i < entry->count && entry->itemNames[i][0]; ++i)
      iStoreDetailFor2nd(components.get(), entry->sectionName, entry->itemNames[i], table,
                         &psCursor, &pjlCursor);
  }
  components.reset();

  vStoreDetailForEncodeTable(modelKey, "JobTicketEncodeType", &table->encodeTypeCount,
                             &table->encodeTypeNames);
  vStoreDetailForEncodeTable(modelKey, "JobTicketDesType", &table->desTypeCount,
                             &table->desTypeNames);
  vStoreDetailForEncodeTable(modelKey, "JobTicketAesType", &table->aesTypeCount,
                             &table->aesTypeNames);

  CFOwned embed = MyEntryPListCreateCustomDictionary(modelKey, "PJLEmbedEnable");
  bool flag = false;
  if (CFBooleanGetValue(embed.get(), flag)) table->bPjlEmbed = flag ? 1 : 0;
  return 0;
}
