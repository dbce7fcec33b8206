// The job record: everything the stages of the filter consult about the job,
// read once when the job starts and handed to the scanner, the setup writers
// and the imposition. The options do not change during a job, nor does the
// system generation or the paper, so none of them is looked up again per
// line or per sheet. The record also carries what the scanner learns about
// the document (its creator, a CUPS banner, the page-setup count) and its
// own per-job state.
#pragma once

#include <cups/cups.h>
#include <cups/ppd.h>

#include <cstdint>

#include "setup/PSGeometry.h"

struct PsPjlTables;

// PJL Universal Exit Language: ESC followed by "%-12345X".
#define UEL "\x1b%-12345X"

// The scanner's per-job flags, one byte each, in the printer driver's order.
struct ScanState {
  uint8_t bFirstLineDone;
  uint8_t bFilterOpenedJob;
  uint8_t bPjlHeaderDone;
  uint8_t bJobNameSeen;
  uint8_t bWriteLine;
  uint8_t bCreatorKnown;
  uint8_t bTitleSeen;
  uint8_t bPagesSeen;
  uint8_t bInLw8Nup;
  uint8_t bInTrailer;
  uint8_t bMatrixDone;
  uint8_t bSawEp;
  uint8_t bSawEnd;
  uint8_t bSawRestore;
  uint8_t bSawSave;
  uint8_t bPageMarkNeeded;
  uint8_t bStripPlacement;
  uint8_t bPageSeen;
  uint8_t bInPageGsave;
  uint8_t bInBorder;
  uint8_t bBinary;
  uint8_t bBeginSetupDone;
  uint8_t bInFeature;
  uint8_t bFeatureDone;
  uint8_t bPageSetupHeld;
};

// The values a job's scanner state starts with.
void vInitScanState(ScanState *state);

// Creator codes of the document (from "%%Creator:").
enum FilterType : int {
  kFilterUnknown = 0,
  kFilterCgpdftops = 1,
  kFilterHpgltops = 2,
  kFilterImagetops = 3,
  kFilterPdftops = 4,
  kFilterPictwpstops = 5,
  kFilterPstops = 6,
  kFilterTexttops = 7,
};

// What the scanner keeps from line to line beyond its flags.
struct ScanMarks {
  int pjlEojSeen = 0;     // "@PJL EOJ" seen: the next UEL ends the job
  int eofSeen = 0;        // "%%EOF" seen
  float xScale = 1.0f;    // horizontal scale of the last page matrix
  int pagesReported = 0;  // pages reported to CUPS in a one-pass job
  // The document works with the converter dictionary "cg_md" (its prolog or
  // setup names it): a held "%%BeginPageSetup" then waits for the page's
  // "cg_md begin", wherever in the page it comes.
  int cgMdDocument = 0;
  int inPages = 0;  // a "%%Page:" line has been seen
};

struct JobRecord {
  // The job as CUPS handed it, with the options in their final form.
  char **argv = nullptr;
  int num_options = 0;
  cups_option_t *options = nullptr;
  ppd_file_t *ppd = nullptr;      // opened and marked; null without a PPD
  PsPjlTables *tables = nullptr;  // the customisation tables; null when not loaded

  // The system generation: true before 10.5.0 (a missing version counts as
  // 10.5.0 or later).
  bool older = false;

  // The options, read once.
  int spool = 0;      // the job is re-imposed from spool file A
  int layoutNup = 0;  // N-up layout flag; only on systems older than 10.5.0
  int rotate180 = 0;
  int bookletKind = 0;  // iGetBooklet
  int posterKind = 0;   // iGetPoster
  int borderType = 0;   // iGetPMBorderLine
  int borderLine = 0;   // bGetBorderLine (poster cut line)
  int nupFaces = 1;
  int nupOrder = 1;
  int orient = 1;              // iGetOrient
  int landscapeRequested = 0;  // orientation-requested is 4 or 5
  // The macOS dialog names an orientation, which the filter applies itself;
  // without one a poster page's own box decides how it lies on the tiles.
  int macOrientationGiven = 0;
  // The job carries "orientation-requested", which CUPS's own converters
  // have applied before the filter.
  int orientationRequested = 0;
  int frontCover = 0;
  int backCover = 0;
  int interleave = 0;
  int beginPages = 0;              // the job's total-pages hint
  int duplex = 1;                  // iGetDuplex
  int emptyPageWithBackCover = 0;  // bNeedToAddEmptyPageWithBackCoverPage

  // The paper, read once from the PPD or a custom media option.
  PaperPair paperSize{0, 0};
  PaperPair paperMargin{0, 0};

  // What the scanner learns about the document.
  int filterType = kFilterUnknown;  // creator code, 0 until recognised
  int cupsBanner = 0;               // 1 for a CUPS banner document
  int pageCount = 0;                // "%%BeginPageSetup" count, systems older than 10.5.0
  ScanState scan{};
  ScanMarks marks;
};

// Fills the record for a job: the options are read, the system generation
// is looked up and the paper is taken from the PPD (as marked for the job)
// once, and the scanner's state starts afresh. argv, ppd and tables may be
// null.
void vReadJobRecord(JobRecord *job, char **argv, int num_options, cups_option_t *options,
                    ppd_file_t *ppd, PsPjlTables *tables);
