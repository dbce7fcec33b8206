// The per-line procedure of the line pass and the creator detection.
#pragma once

#include <cstdio>

#include "job/JobRecord.h"

// Creator table: the converters the filter knows by their "%%Creator:" name.
// Longer names come first where one contains another ("cgpdftops" before
// "pdftops", "pictwpstops" before "pstops"). An entry of length 0 ends it.
struct FilterNameEntry {
  char name[32];
  int code;
  int length;
};
extern const FilterNameEntry stFilterName[];

// Looks at one line (NUL-ended, *length bytes) and writes it, withholds it
// or rewrites it, with whatever the printer needs injected around it.
void vSupportedMainNotBinaryMode(char *line, char *workBuffer, char *featureKeywordBuffer,
                                 int *length, JobRecord &job);
// Records the creator the line names in job.filterType; 1 when it names one.
int bSupportedMainSetFilterName(const char *line, JobRecord &job);

// The line pass over one document: lines inside a binary section are copied
// raw, every other line goes to the scanner. Stops early when the job fails
// (giJobFailed); a read error on the input fails the job too.
void vRunLinePass(FILE *input, JobRecord &job);
