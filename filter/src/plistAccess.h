// The customisation table: which job options become which PJL commands or
// PostScript snippets, loaded from the model's FilterCustomize.plist.
#pragma once

#include <cstdint>

#define VT_TEXT_SLOT 1025      // 1024 bytes and a NUL
#define VT_TEMPLATE_MAX 2048   // longest template kept

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
  uint8_t bPjlEmbed;
};

extern PsPjlTables ctrl1st;

// 0 when the table was built, -1 otherwise (the job then carries no PJL).
int ossFilterCreatePsPjlTables(PsPjlTables *table, const char *modelKey);
int ossFilterFreePsPjlTables(PsPjlTables *table);
