// Line handling for documents made by two converters whose page placement
// gets in the way. When the job is spooled for imposition, their N-up code
// (pictwpstops' lw8_nup procedures, CUPS's ESPsave/translate/scale framing
// around cgpdftops pages) is removed so that each logical page stands alone
// in the spool file. When the job prints in one pass with the 180-degree
// turn, their page placement is turned instead. A handler withholds the
// current line by clearing bWriteLine; the scanner writes it or not.
#include <cstdio>
#include <cstring>

#include "linepass/PS_DSC.h"
#include "output/SpoolUtil.h"

namespace {

bool Contains(const char *line, const char *text) { return std::strstr(line, text) != nullptr; }

// The line is the text followed by exactly one line-end byte. A CR LF line
// therefore never matches, which keeps these rules to the LF-ended output
// that CUPS's filters produce.
bool IsExactly(const char *line, const char *text) {
  return Contains(line, text) && std::strlen(line) == std::strlen(text) + 1;
}

// pictwpstops, spooled: drops the lw8_nup file section, the line that starts
// its N-up frame, and the "finalpage" call of the trailer.
void StripPictwpstopsNup(const char *line, ScanState *state) {
  if (Contains(line, "%%BeginFile: lw8_nup-2.")) state->bInLw8Nup = 1;
  if (state->bInLw8Nup) {
    state->bWriteLine = 0;
    if (Contains(line, "%%EndFile")) state->bInLw8Nup = 0;
  }
  if (Contains(line, "/framewidth") && Contains(line, "startNup")) state->bWriteLine = 0;
  if (Contains(line, "%%Trailer")) state->bInTrailer = 1;
  if (state->bInTrailer && Contains(line, "finalpage")) {
    state->bWriteLine = 0;
    state->bInTrailer = 0;
  }
}

// pictwpstops, one pass with the turn: the job's first page matrix is
// mirrored in both axes. Text before the matrix on that line is dropped.
void TurnPictwpstopsMatrix(const char *line, char *workBuffer, int spool, ScanState *state,
                           int rotate180) {
  if (state->bMatrixDone || !Contains(line, "/mT[")) return;
  state->bMatrixDone = 1;
  if (!rotate180) return;

  static const struct {
    const char *found;
    const char *written;
  } kTurned[] = {
      {"/mT[1 0 0 -1", "/mT[-1 0 0 1"},
      {"/mT[-1 0 0 1", "/mT[1 0 0 -1"},
      {"/mT[1 0 0 1", "/mT[-1 0 0 -1"},
      {"/mT[-1 0 0 -1", "/mT[1 0 0 1"},
  };
  for (const auto &turn : kTurned) {
    const char *at = std::strstr(line, turn.found);
    if (!at) continue;
    const char *rest = at + std::strlen(turn.found);
    const int n = std::snprintf(workBuffer, 4096, "%s%s", turn.written, rest);
    if (n >= 0 && n < 4096) {
      vWrappedFprintf(stdout, workBuffer, spool);
    } else {
      // The turned prefix is longer than the one it replaces, so a line
      // that filled the buffer no longer fits: write it in two pieces
      // rather than cut it short.
      vWrappedFprintf(stdout, turn.written, spool);
      vWrappedFprintf(stdout, rest, spool);
    }
    state->bWriteLine = 0;
    return;
  }
}

// cgpdftops, spooled: removes the framing that CUPS's N-up code puts around
// each placed page, and marks each page start that has no "%%Page:" comment
// of its own so the imposition engine can index it.
void StripCgpdftopsPlacement(const char *line, int spool, ScanState *state, int nupFaces,
                             int borderType) {
  ScanState &s = *state;
  if (IsExactly(line, "ep") && !s.bSawEp && !s.bSawEnd && !s.bSawRestore) s.bSawEp = 1;
  if (IsExactly(line, "end") && s.bSawEp && !s.bSawEnd && !s.bSawRestore) s.bSawEnd = 1;
  if (IsExactly(line, "userdict /ESPsave get restore") && s.bSawEp && s.bSawEnd &&
      !s.bSawRestore) {
    s.bWriteLine = 0;
    s.bSawRestore = 1;
  }
  if (IsExactly(line, "gsave") && s.bSawEp && s.bSawEnd && s.bSawRestore) s.bSawRestore = 0;
  if (Contains(line, "%%Page:") && s.bSawEp && s.bSawEnd && s.bSawRestore) {
    s.bPageMarkNeeded = 0;
  }

  bool stripPlacement;
  if (IsExactly(line, "userdict/ESPsave save put") && s.bSawEp && s.bSawEnd && s.bSawRestore) {
    s.bWriteLine = 0;
    if (s.bPageMarkNeeded) vWrappedFprintf(stdout, "%%Page: n \n", spool);
    s.bSawEp = s.bSawEnd = s.bSawRestore = 0;
    s.bPageMarkNeeded = 1;
    s.bStripPlacement = 1;
    stripPlacement = true;
  } else {
    stripPlacement = s.bStripPlacement || s.bPageSeen;
  }
  if (stripPlacement && (Contains(line, "translate") || Contains(line, "ESPrc") ||
                         Contains(line, "userdict/ESPsave save put"))) {
    s.bWriteLine = 0;
  }

  if (IsExactly(line, "gsave") && s.bSawEp && s.bSawEnd && !s.bInPageGsave) {
    s.bWriteLine = 0;
    s.bInPageGsave = 1;
  }
  const bool inPlacedPage = s.bSawEp && s.bSawEnd && s.bInPageGsave;
  if (inPlacedPage && (Contains(line, "translate") || Contains(line, "rotate"))) {
    s.bWriteLine = 0;
  }
  if (inPlacedPage && (IsExactly(line, "ESPwl") || IsExactly(line, "grestore"))) {
    s.bWriteLine = 0;
  }
  if (inPlacedPage && IsExactly(line, "ESPshowpage")) {
    s.bWriteLine = 0;
    s.bSawEp = s.bSawEnd = s.bInPageGsave = s.bSawRestore = 0;
  }

  if (Contains(line, "setlinewidth") && Contains(line, "setgray") && Contains(line, "newpath")) {
    s.bWriteLine = 0;
    s.bInBorder = 1;
  }
  if (s.bInBorder) {
    if (Contains(line, "ESPrs")) s.bWriteLine = 0;
    if (Contains(line, "grestore")) s.bInBorder = 0;
  }

  // 1-up with a border: the imposition engine draws the border and ends
  // the page itself.
  if (nupFaces == 1 && borderType != 0 && IsExactly(line, "ESPshowpage")) s.bWriteLine = 0;
}

}  // namespace

void vSupportedMainNupAndRotate180Pictwpstops(char *line, char *workBuffer, JobRecord &job) {
  if (!line || !workBuffer) return;
  if (job.spool) {
    StripPictwpstopsNup(line, &job.scan);
  } else {
    TurnPictwpstopsMatrix(line, workBuffer, job.spool, &job.scan, job.rotate180);
  }
}

void vSupportedMainNupAndRotate180Cgpdftops(char *line, JobRecord &job) {
  if (!line) return;
  ScanState *state = &job.scan;
  if (job.spool) {
    StripCgpdftopsPlacement(line, job.spool, state, job.nupFaces, job.borderType);
    return;
  }
  if (!job.rotate180 || !job.layoutNup || job.nupFaces == 1) return;
  // One pass, turned N-up: the placement line after each page's save is
  // replaced by the placement on the turned sheet.
  if (Contains(line, "userdict/ESPsave save put")) state->bSawSave = 1;
  if (state->bSawSave && Contains(line, "scale") && Contains(line, "translate")) {
    WritePS_Nup_Rotate180_with_cgpdftops(line, job, stdout);
    state->bWriteLine = 0;
    state->bSawSave = 0;
  }
}
