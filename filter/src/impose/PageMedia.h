// The media size a page of the spooled document asks for, where the
// document says it, and the transform that shows such a page whole in a
// cell laid out for the sheet's size.
//
// Linux CUPS hands over pages that set their own size: PostScript passed
// through CUPS's pstops keeps each page's "<</PageSize[w h]>>setpagedevice",
// poppler's pdftops calls "w h pdfSetupPaper", Ghostscript's ps2write gives
// each page its "/MediaBox". Inside an imposed cell those size changes must
// do nothing (they would erase the sheet), so the cell itself scales the
// page from its own size.
#pragma once

#include <cstdint>
#include <cstdio>

struct PageMedia {
  double width = 0;   // points, as the page lies on the sheet (after any
  double height = 0;  // quarter turn its own code makes); 0 when not stated
  // Where that turn puts the page's lower left corner: CUPS's pstops turns
  // a page about the queue's sheet, not about the page's own size.
  double x = 0;
  double y = 0;
  // The page's own code sets a page size (setpagedevice with /PageSize,
  // pdfSetupPaper, a ps2write page's /MediaBox), not only its comments.
  bool setsSize = false;
  bool found() const { return width > 0 && height > 0; }
  // True when the stated size is not (w, h), within the 5-point tolerance
  // a printer matches page sizes with.
  bool differsFrom(double w, double h) const;
};

// Reads what page pageIndex of the file says of its media, from the start
// of the page: its own setpagedevice /PageSize, poppler's "w h
// pdfSetupPaper", ps2write's "/MediaBox [x0 y0 x1 y1]" (with its /Rotate),
// else its "%%PageMedia:" looked up in the header's "%%DocumentMedia:",
// else the header's only "%%DocumentMedia:" medium. A quarter turn the page
// makes before it sets its size (CUPS's pstops turns landscape pages onto
// the sheet with "x y translate 90 rotate") swaps width and height. A page
// that CUPS's pstops laid out itself (number-up: its sheet is the queue's)
// states nothing. The bounding box comments are not read: they may give the
// ink, or pstops's printable area, rather than the page. The position of
// `in` is kept.
PageMedia sFindPageMedia(FILE *in, const int64_t *offsets, int pageIndex, int pageCount);

// Writes the transform that shows a page of media m whole inside a cell of
// cellW x cellH (the cell's own coordinates): turned by a quarter when it
// lies the other way than the cell, scaled to fit, centred, and clipped to
// its own media. Writes nothing (returns false) when m states no size or the
// size of the cell.
bool bWritePageFit(FILE *out, const PageMedia &m, double cellW, double cellH);
