// The per-line procedure of the line pass and the creator detection.
#pragma once

#include <cstdio>

#include "job/FilterGlobals.h"

// Creator table: the converters the filter knows by their "%%Creator:" name.
// Longer names come first where one contains another ("cgpdftops" before
// "pdftops", "pictwpstops" before "pstops"). An entry of length 0 ends it.
struct FilterNameEntry {
  char name[32];
  int code;
  int length;
};
extern const FilterNameEntry stFilterName[];

void vSupportedMainNotBinaryMode(char *line, char *workBuffer, char *featureKeywordBuffer,
                                 char **argv, int num_options, int bookletKind, int nupFaces,
                                 int borderType, cups_option_t *options, int *length,
                                 int tablesLoaded, int spool, int layoutNup, int rotate180,
                                 ScanState *state);
int bSupportedMainSetFilterName(const char *line);

// The values a job's scanner state starts with.
void vInitScanState(ScanState *state);

// The option-derived values the line pass works with, decided once per job.
struct LinePassJob {
  char **argv;
  int num_options;
  cups_option_t *options;
  int bookletKind;
  int nupFaces;
  int borderType;
  int tablesLoaded;
  int spool;
  int layoutNup;
  int rotate180;
};

// The line pass over one document: lines inside a binary section are copied
// raw, every other line goes to the scanner. Stops early when the job fails
// (giJobFailed); a read error on the input fails the job too.
void vRunLinePass(FILE *input, const LinePassJob &job, ScanState *state);

// Forgets what the scanner keeps for the life of the process (the job
// boundary and end-of-file marks, the last scale factor, the page count
// reported to CUPS, the creator, banner and page-setup globals), so another
// document can be scanned in the same process. Only in-process callers such
// as the fuzz target need this.
void vResetScannerForNextDocument();
