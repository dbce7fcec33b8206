// Saddle-stitch booklets. The first phase reorders the spooled document
// (spool file A) into booklet order, filled up with blank pages to a multiple
// of four (more when covers ask for it), and writes it as a DSC document to
// spool file B. The second phase places the pages of spool file B two to a
// sheet side, turned and scaled, on standard output, switching to the cover
// tray for the outer sheet when covers are requested.
#pragma once

#include <cups/cups.h>

#include <cstdint>
#include <cstdio>

#include "impose/DscIndex.h"
#include "impose/Impose.h"

// The second phase's run over the open spool file B.
void vRearrange2upWithBooklet(PageInfo *cellList, FILE *in, FILE *out, const JobRecord &job);
// The side loop: cellsPerSide (2) cells per sheet side, cover tray around the
// outer sheet.
void vRearrange2upWithBookletEveryCirculation(const JobRecord &job, int totalCells,
                                              int cellsPerSide, PageInfo *cellList, float W,
                                              float H, int pageCount, FILE *in,
                                              const int64_t *offsets, FILE *out);
// A blank booklet page: "%%Page: * n" and a showpage; advances *ordinal.
void vWriteEmptyPageBooklet(FILE *out, int *ordinal);

// The booklet position written i-th (0 <= i < paddedCount) when the booklet
// is written front to back: each group of four is one sheet, outer side left
// and right, then inner side left and right.
int iBookletPositionOfSlot(int i, int paddedCount);

// Creates spool file B for writing: any file at its name is removed first,
// then the name is created exclusively, never through a symbolic link, with
// mode 0664. Null (with an ERROR line and giJobFailed set) on failure.
FILE *pCreateSpoolFileB();

// Checks a stream the imposition wrote to: on a write error (or a failed
// flush) sets giJobFailed with an ERROR line naming `what`. 1 when clean.
int bCheckImposedStream(FILE *out, const char *what);
