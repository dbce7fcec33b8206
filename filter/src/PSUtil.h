// Line reader and PPD feature-block matching of the line pass.
#pragma once

#include <cstdio>

struct PsPjlTables;
struct cups_option_s;

// Reads one line (LF, CR or CR LF kept) of at most *length - 1 bytes into
// buffer; *length becomes the byte count. Returns buffer, or null at end of
// input with nothing read.
char *psgets(char *buffer, int *length, FILE *stream);

int bJudgementPsDscEntries(const char *line, char *featureKeywordBuffer, const PsPjlTables *table);
int iWritePS_DscEntry(int num_options, cups_option_s *options, FILE *out,
                      const char *featureKeywordBuffer, PsPjlTables *table);
