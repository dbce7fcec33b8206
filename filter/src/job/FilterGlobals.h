// Job-wide state of the print filter shared by its stages: the scanner's
// per-job flags, the creator code of the document, the banner flag, the PPD.
// One process prints one job, so these live for the process.
#pragma once

#include <cups/cups.h>
#include <cups/ppd.h>

#include <cstdint>

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

extern int gFilterType;      // creator code, 0 until recognised
extern int giCupsBanner;     // 1 for a CUPS banner document
extern int gPageCount;       // "%%BeginPageSetup" count, systems older than 10.5.0
extern ppd_file_t *gPpdFileT;  // the job's PPD, opened and marked by main
// Set by any stage whose failure would lose or truncate the job (a short
// spool write, an unreadable spool file, a failed allocation, a write error on
// standard output). main stops and exits with status 1 when it is set.
extern int giJobFailed;

// True when the running system is older than 10.5.0 (a missing version counts
// as 10.5.0 or later).
bool bSystemOlderThan105();
