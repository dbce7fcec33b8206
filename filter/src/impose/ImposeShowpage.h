// The imposed sheets end with the imposition's own "ESPshowpage"; the
// document's showpage at the end of every logical page must then do nothing,
// or each logical page comes out on a sheet side of its own.
//
// The lines that defer it go right after the header copy, at the start of
// the prolog, so that a prolog binding its procedures (Ghostscript's ps2write
// output, as cups-filters' pdftops makes it) binds the deferred showpage and
// not the operator.
#pragma once

#include <cstdint>
#include <cstdio>

#include <cups/cups.h>

#include "impose/DscIndex.h"
#include "job/JobRecord.h"

// Writes "userdict/ESPshowpage/showpage load put" and "userdict/showpage{}put"
// (the deferral written for a cgpdftops document).
void vWriteShowpageDeferral(FILE *out);

// The same deferral, keeping an ESPshowpage that is already defined when the
// document starts (a stand-in set up ahead of the job, whose showpage may
// already be the empty procedure): ESPshowpage stays the real showpage.
void vWriteShowpageDeferralKeepingEsp(FILE *out);

// What the start of a spooled document says about its showpage.
struct ShowpageUse {
  int defersItself = 0;  // "userdict/showpage{}put" in its prolog or setup
  int names = 0;         // "showpage" named in its prolog, setup or first page
  // Procedures its prolog or setup defines, one bit each: kDefines* below.
  unsigned defines = 0;
  int namesSetpagedevice = 0;  // "setpagedevice" in its prolog, setup or first page
};
constexpr unsigned kDefinesEspShowpage = 1u << 0;
constexpr unsigned kDefinesEspRc = 1u << 1;
constexpr unsigned kDefinesEspRf = 1u << 2;
constexpr unsigned kDefinesEspRs = 1u << 3;
constexpr unsigned kDefinesEspWl = 1u << 4;
constexpr unsigned kDefinesCupsSetpagedevice = 1u << 5;

// Reads the document from the current position of `in` (the end of its
// header) through its first page, or through its setup when it has no
// pages. The position of `in` is kept.
ShowpageUse sFindShowpageUse(FILE *in, const PageIndex *index);

// For a document from any converter (the job's creator code filterType) but
// cgpdftops and pictwpstops (whose
// rules are the callers'): writes the deferral (the form keeping an earlier
// ESPshowpage) when the document names showpage and does not defer it
// itself. A second deferral would break the document's own: its "showpage
// load" would then fetch the empty procedure. This covers what Linux CUPS
// hands over: Ghostscript's ps2write output (a creator the filter does not
// know), poppler's pdftops output passed through CUPS's pstops, which names
// no creator, and pstops documents whose pages end in a plain showpage.
// Called right after the header copy; returns 1 when the lines were
// written. What the search found is kept for the writers below.
int bWriteShowpageDeferralWhereNeeded(int filterType, FILE *in, FILE *out, const PageIndex *index);

// True for a document the imposition must equip itself: any but cgpdftops
// and pictwpstops ones, whose procedures the imposition writes by their own
// rules. Linux CUPS hands over documents from Ghostscript, poppler and
// CUPS's pstops, and a job must print whichever of them ran before.
bool bDocumentNeedsImposedProcs(int filterType);

// Whether the job's orientation was applied before this filter: such a
// document came through CUPS's own converters (pdftopdf, pstops), which turn
// the pages for "orientation-requested" onto the upright sheet; turned here
// once more, they would be cut. The macOS print dialog's orientation is the
// filter's own to apply.
bool bOrientationAppliedUpstream(const JobRecord &job);

// Written after the document's setup, for such documents: the procedures
// the imposed sheets call (ESPshowpage, ESPrc, ESPrf, ESPrs, ESPwl) that the
// document does not define; and setpagedevice back to the printer's own
// where CUPS's pstops replaced it with one that does nothing (saved as
// CUPSsetpagedevice), so that cover, interleave and body trays and media
// selected between sheets take effect.
void vWriteImposedProcsWhereMissing(FILE *out);

// Copies the start of the document being imposed to `out`: its header,
// counting `sides` sheet sides (clamped to what the count holds), the
// deferral of its showpage, its prolog and its setup, with the procedures
// the imposed sheets call. A cgpdftops document gets the deferral only when
// `deferCgpdftops` says so (it defers showpage itself when CUPS placed pages
// or drew borders); other documents get it when they need it.
void vWriteImposedDocumentStart(const JobRecord &job, int64_t sides, bool deferCgpdftops, FILE *in,
                                FILE *out, const PageIndex *index);

// Written at the start of each cell of such a document, inside its save:
// the page's own end of sheet (the ESPshowpage of a sheet pstops laid out)
// and page size changes (poppler's pdftops sets the size of a page that
// differs from the sheet) would end or reset the whole sheet in the middle
// of the imposition. The cell's restore brings both back for the sheet's end.
// A cell that fills the sheet unplaced (1-up) keeps the page's own size,
// unless it is a sheet pstops laid out, inside which pstops itself had
// switched page size changes off.
// pageSetsSize: the cell's page sets a page size itself, which the cell
// replaces by scaling the page from that size (see PageMedia.h). It must do
// nothing even in a cell that fills the sheet: the cell's restore, going
// back to the sheet's page device, would erase what the page drew.
// Nothing is written for a document that does neither.
void vWriteCellGuard(FILE *out, bool placed, bool pageSetsSize = false);
