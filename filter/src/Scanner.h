// The per-line procedure of the line pass and the creator detection.
#pragma once

#include "FilterGlobals.h"

void vSupportedMainNotBinaryMode(char *line, char *workBuffer, char *featureKeywordBuffer,
                                 char **argv, int num_options, int bookletKind, int nupFaces,
                                 int borderType, cups_option_t *options, int *length,
                                 int tablesLoaded, int spool, int layoutNup, int rotate180,
                                 ScanState *state);
int bSupportedMainSetFilterName(const char *line);
