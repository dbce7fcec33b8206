// N-up imposition with covers, transparency interleave and frames, re-read
// from spool file A. The cell placement and the frame writer are shared
// with the booklet run.
#pragma once

#include <cups/cups.h>

#include <cstdint>
#include <cstdio>

#include "impose/DscIndex.h"
#include "job/JobRecord.h"

// One run over the open spool file, writing the imposed document to out.
void vRearrangeNupWithoutBooklet(PageInfo *cellList, FILE *in, FILE *out, const JobRecord &job);
// The sheet loop: front cover, body sheets with their interleaves, back cover.
void vRearrangeNupWithoutBookletEveryCirculation(const JobRecord &job, FILE *out, int totalCells,
                                                 int N, PageInfo *cellList, int pageCount, FILE *in,
                                                 const int64_t *offsets, int bodyPages,
                                                 int backCover);
// Writes one cell: page comment, save, placement, page body, frame, restore
// and, at the end of a sheet side, the showpage block. n is the number of
// cells of the sheet being written (N, or 1 for a cover page).
void vPrintLogicalPage(PageInfo *cell, int firstCell, int totalCells, int n, int pageCount,
                       FILE *in, FILE *out, const JobRecord &job, const int64_t *offsets,
                       int *pagesWritten, int *slot, int *callCount, int *ordinal, int *lastIndex,
                       float W, float H);
// Placement (translation and scale) of the cell at the given position of
// the sheet, in the coordinate system already turned for the layout.
void vCreateOffsetWithNup(float *tx, float *ty, float *scale, int position, const JobRecord &job);
// The same for a job printed turned by 180 degrees.
void vCreateOffsetWithNupR180(float *tx, float *ty, float *scale, int position,
                              const JobRecord &job);
// Border of one cell of an n-up sheet, in the cell's own coordinates.
void vWriteFrame(FILE *out, int borderType, int orientation, int n, float W, float H);
// The rectangle procedures (ESPrc, ESPrf, ESPrs, ESPwl) and the showpage
// hand-over that documents from pictwpstops lack; every imposition run
// writes them just before the document's "%%EndSetup" line.
void vWriteEspRectProcs(FILE *out);
