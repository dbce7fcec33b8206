// The PJL job header and the feature-block replacements built from the
// customisation table: each item's option value selects a syntax element,
// whose template is filled with further option values and written as is.
#pragma once

#include <cups/cups.h>

#include <cstdio>

#include "jobticket/plistAccess.h"

#define VT_PJL_LINE_MAX 2048   // a composed line: 2047 bytes and a NUL
#define VT_PJL_ARGUMENTS_MAX 30  // template arguments fetched per line

// Writes the PJL lines of all PJL items, serials 0 to 999 in rising order.
// argv is not used.
void WritePJLHeader_TypeGeneral(char **argv, int num_options, cups_option_t *options,
                                FILE *out, PsPjlTables *table);

// Applies one item's syntax list to its option's value: 0 when the last line
// attempted was written, -1 when it was not or nothing matched.
int iCreatePjlDetail(PsPjlTables *table, int syntaxCount, const char *optionValue,
                     SyntaxElement *first, int num_options, cups_option_t *options, FILE *out);

// Fills and writes one syntax element's template (arguments from the
// element); 0 when written, -1 when the line was dropped.
int iCreatePjlGeneral(PsPjlTables *table, SyntaxElement *element, int num_options,
                      cups_option_t *options, FILE *out, int argumentCount);

// The same for a complex item (no login-name fallback).
int iCreateComplexPjlGeneral(PsPjlTables *table, ComplexItem *item, int num_options,
                             cups_option_t *options, FILE *out, int argumentCount);

// Converts a template from the file's notation: backslash-n becomes a line
// feed, %1 to %99 become %s. The output is never longer than the input, so
// out must hold templateLength + 1 bytes; it is NUL-terminated.
void vSwapArgument(const char *templateText, char *out, int templateLength);
