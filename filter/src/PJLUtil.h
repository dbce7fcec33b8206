// The PJL job header and the feature-block replacements built from the
// customisation table.
#pragma once

#include <cups/cups.h>

#include <cstdio>

#include "plistAccess.h"

void WritePJLHeader_TypeGeneral(char **argv, int num_options, cups_option_t *options,
                                FILE *out, PsPjlTables *table);
int iCreatePjlDetail(PsPjlTables *table, int syntaxCount, const char *optionValue,
                     SyntaxElement *first, int num_options, cups_option_t *options, FILE *out);
