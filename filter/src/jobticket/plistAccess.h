// The customisation table: which job options become which PJL commands or
// PostScript snippets, loaded from the model's FilterCustomize.plist.
//
// The file lists, per section of the print dialog, the option names whose
// values select a PJL line ("PDL_Type" "PJL", written in the order of their
// "Serial") or the replacement of a PPD feature block ("PDL_Type" "PS",
// "PS_DSC" naming the PPD keyword). The loader copies what it needs into
// fixed 1025-byte text slots; a text that does not fit leaves its slot empty.
#pragma once

#include <cstdint>

#include "CFValue.h"

#define VT_TEXT_SLOT 1025      // 1024 bytes and a NUL
#define VT_TEMPLATE_MAX 2048   // longest template kept, its NUL not counted
#define VT_ITEM_NAME_SLOT 1024 // an item name of a section list: 1023 bytes and a NUL

struct ComplexItem {
  char item[VT_TEXT_SLOT];
  char value[VT_TEXT_SLOT];
  char (*arguments)[VT_TEXT_SLOT];  // argumentCount texts, or null
  int32_t argumentCount;
  char *templateText;  // "String", own allocation, or null
};

struct SyntaxElement {
  SyntaxElement *next;
  SyntaxElement *previous;
  SyntaxElement *self;
  int32_t count;  // arguments, or complex items
  char value[VT_TEXT_SLOT];
  char (*arguments)[VT_TEXT_SLOT];  // count texts, or null
  char *templateText;               // "String", own allocation, or null
  ComplexItem *complexItems;        // count items, or null
};

struct PdlEntry {
  int32_t serial;
  char name[VT_TEXT_SLOT];     // CUPS option name
  char dscText[VT_TEXT_SLOT];  // PPD keyword of a PS item; empty for PJL items
  int32_t syntaxCount;
  SyntaxElement *syntaxList;
};

struct PsPjlTables {
  int32_t psCount;
  PdlEntry *psItems;
  int32_t pjlCount;
  PdlEntry *pjlItems;
  int32_t encodeTypeCount;
  char (*encodeTypeNames)[VT_TEXT_SLOT];
  int32_t desTypeCount;
  char (*desTypeNames)[VT_TEXT_SLOT];
  int32_t aesTypeCount;
  char (*aesTypeNames)[VT_TEXT_SLOT];
  uint8_t bPjlEmbed;  // "PJLEmbedEnable"; loaded, changes no output
};

// One section of the print dialog and the option names it contributes, in
// order. A list of sections ends with a record whose sectionName is null.
struct DictEntry {
  const char *sectionName;
  char (*itemNames)[VT_ITEM_NAME_SLOT];  // count names, then an empty slot
  int32_t count;
};

// The section list in use: built from the file's "Reserve", or stDictEntries.
extern DictEntry *pstDictEntriesPlist;
// The sections and option names used when the file brings no list of its own.
extern DictEntry stDictEntries[];

// 0 when the table was built, -1 otherwise (the job then carries no PJL).
// The file is parsed once; a table that would outgrow its memory limit is
// not built at all.
int ossFilterCreatePsPjlTables(PsPjlTables *table, const char *modelKey);
int ossFilterFreePsPjlTables(PsPjlTables *table);

// The value under a root key of the model's customisation file (the file is
// read anew on each call), owned by the caller; none when absent.
CFOwned MyEntryPListCreateCustomDictionary(const char *modelKey, const char *key);
// Loads a property-list file (XML or binary); none when it cannot be read or
// parsed, or when it is beyond the limits checked before it is parsed: its
// size, its nesting depth, and for a binary list the values, string and data
// bytes it expands to (a DEBUG line names the limit).
CFOwned MyPListCreateDictionaryFromPath(const char *path);
