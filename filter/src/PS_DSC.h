// Setup PostScript injected at DSC comments (orientation, 180-degree
// rotation, rotated N-up placement) and the line handling of documents made
// by cgpdftops and pictwpstops.
#pragma once

#include <cups/cups.h>

#include <cstdio>

#include "FilterGlobals.h"

void WritePS_PclOrientation(int num_options, cups_option_t *options);
void WritePSOperator_After_BeginPageSetup(int num_options, cups_option_t *options, FILE *out);
void WritePSOperator_Before_Trailer(int num_options, cups_option_t *options, FILE *out);
void WritePS_Nup_Rotate180_with_cgpdftops(const char *line, int num_options,
                                          cups_option_t *options, FILE *out);

void vSupportedMainNupAndRotate180Pictwpstops(char *line, char *workBuffer, int spool,
                                              ScanState *state, int rotate180);
void vSupportedMainNupAndRotate180Cgpdftops(int num_options, cups_option_t *options,
                                            char *line, int spool, ScanState *state,
                                            int rotate180, int layoutNup, int nupFaces,
                                            int borderType);
