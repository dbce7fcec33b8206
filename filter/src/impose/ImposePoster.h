// Poster jobs: every document page printed enlarged over several sheets
// (tiles) that are trimmed and joined afterwards: 2 tiles for "1x2", 4 for
// "2x2", 9 for "3x3", 16 for "4x4". Each tile is a copy of the whole page
// body, scaled up and shifted so that its part of the page falls on the
// sheet; an optional dashed cut line marks the printable edge. Covers and
// transparency interleave sheets work as for N-up, the interleave sheet
// following every tile.
#pragma once

#include <cups/cups.h>

#include <cstdint>
#include <cstdio>

#include "impose/Impose.h"

// Tiles per document page for a poster kind (1 to 4); 1 for any other kind.
int iPosterTilesPerPage(int posterKind);

// The page loop over the open spool file A: front cover, the tiles of every
// page (each followed by its interleave sheet), back cover.
void vConvertPosterEveryCirculation(const JobRecord &job, int backCover, FILE *out, int totalPages,
                                    int pageCount, FILE *in, const int64_t *offsets,
                                    int tilesPerPage, float W, float H);
// Writes one tile of document page pageIndex as one sheet. *pagesWritten
// counts tile bodies copied (it chooses the tile), *callCount the calls,
// *ordinal the "%%Page:" numbers written. wholePage (a printed cover) shows
// the whole page scaled into the sheet's margins instead of a tile.
void vPrintPosterPage(int pageCount, FILE *in, FILE *out, const JobRecord &job,
                      const int64_t *offsets, int *pagesWritten, int *callCount, int *ordinal,
                      int pageIndex, float W, float H, bool wholePage = false);
// Translation and scale of the tile at the given position. A position below
// zero (a printed front cover) shows the tile of position 0. lie says how
// the page lies on the tiles: -1 as the job's orientation says, 0 upright,
// 1 on its side, whatever the orientation says.
void vCreateOffsetWithPoster(float *tx, float *ty, float *sx, float *sy, int position,
                             const JobRecord &job, int lie = -1);
// The cut line at the printable edge: style 5 dashed, 1 and 3 solid, other
// styles nothing.
void vWriteFramePoster(FILE *out, int style, float W, float H, float mx, float my);
