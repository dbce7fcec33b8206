// Setup PostScript injected at DSC comments (orientation, 180-degree
// rotation, rotated N-up placement) and the line handling of documents made
// by cgpdftops and pictwpstops.
#pragma once

#include <cups/cups.h>

#include <cstdio>

#include "job/JobRecord.h"

// After the first "%%BeginSetup": the VTOptions orientation flag.
void WritePS_PclOrientation(const JobRecord &job);
// After every "%%BeginPageSetup": the 180-degree page turn, when it applies.
void WritePSOperator_After_BeginPageSetup(const JobRecord &job, FILE *out);
// At every "%%Trailer", before it: writes nothing.
void WritePSOperator_Before_Trailer(const JobRecord &job, FILE *out);
// Writes the placement, on the turned sheet, that replaces the given
// "translate ... scale" line of a cgpdftops N-up page (the caller drops the
// line); job.pageCount counts the pages set up so far. Writes nothing for
// unsupported face counts or non-finite numbers.
void WritePS_Nup_Rotate180_with_cgpdftops(const char *line, const JobRecord &job, FILE *out);

// The converter handlers read the NUL-terminated line, never change it, and
// withhold it by clearing job.scan.bWriteLine; text of their own is written
// through the sinks before the scanner writes (or drops) the line.
void vSupportedMainNupAndRotate180Pictwpstops(char *line, char *workBuffer, JobRecord &job);
void vSupportedMainNupAndRotate180Cgpdftops(char *line, JobRecord &job);
