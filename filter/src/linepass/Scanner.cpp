// The stream scanner: looks at each line of the job's PostScript and decides
// whether it is written, withheld or rewritten, and where the PJL header,
// feature replacements and the printer's setup are injected.
#include "linepass/Scanner.h"

#include <cmath>
#include <cstring>

#include "output/Filter_Debug.h"
#include "jobticket/PJLUtil.h"
#include "linepass/PSUtil.h"
#include "linepass/PS_DSC.h"
#include "output/SpoolUtil.h"
#include "jobticket/plistAccess.h"

const FilterNameEntry stFilterName[] = {
    {"cgpdftops", kFilterCgpdftops, 9},   {"hpgltops", kFilterHpgltops, 8},
    {"imagetops", kFilterImagetops, 9},   {"pdftops", kFilterPdftops, 7},
    {"pictwpstops", kFilterPictwpstops, 11}, {"pstops", kFilterPstops, 6},
    {"texttops", kFilterTexttops, 8},     {"", 0, 0},
};

namespace {
constexpr int kLineCapacity = 4096;
constexpr size_t kKeywordSlot = 1025;

// Kept for the life of the process: "@PJL EOJ" seen (the next UEL ends the
// job), "%%EOF" seen, and the last horizontal scale of the page matrix.
int xFlag = 0;
int eofFlag = 0;
float xScale = 1.0f;
// Pages written so far, reported to CUPS in a one-pass job.
int gPagesReported = 0;
// The document works with the converter dictionary "cg_md" (its prolog or
// setup names it): a held "%%BeginPageSetup" then waits for the page's
// "cg_md begin", wherever in the page it comes.
int gCgMdDocument = 0;
// A "%%Page:" line has been seen: the prolog and setup are over.
int gInPages = 0;

// Writes a held "%%BeginPageSetup" with the printer's page setup after it.
void ReleaseHeldPageSetup(int num_options, cups_option_t *options, int spool, ScanState *st) {
  vWrappedFprintf(stdout, "%%BeginPageSetup\n", spool);
  WritePSOperator_After_BeginPageSetup(num_options, options, stdout);
  st->bStripPlacement = 0;
  st->bPageSeen = 0;
  st->bPageSetupHeld = 0;
}

template <size_t N>
inline bool Has(const char *line, size_t length, const char (&text)[N]) {
  return memmem(line, length, text, N - 1) != nullptr;
}

struct HintTable {
  uint8_t bits[256] = {};
  constexpr HintTable() {
    bits[static_cast<unsigned char>('%')] = 1;
    bits[static_cast<unsigned char>('@')] = 2;
    bits[0x1b] = 4;
  }
  constexpr uint8_t operator[](unsigned char c) const { return bits[c]; }
};
constexpr HintTable kHintBits;

// What a line holds, found in one pass over its bytes so that the many
// substring searches of a line are skipped when they cannot match: every DSC
// comment holds '%', every PJL command '@', the UEL an ESC.
struct LineHints {
  bool percent, at, esc;
  void Find(const char *line, size_t length) {
    unsigned seen = 0;
    for (size_t i = 0; i < length; ++i) seen |= kHintBits[static_cast<unsigned char>(line[i])];
    percent = seen & 1;
    at = seen & 2;
    esc = seen & 4;
  }
};

int CreatorOf(const char *line, size_t length) {
  for (const FilterNameEntry *e = stFilterName; e->length >= 1; ++e)
    if (memmem(line, length, e->name, static_cast<size_t>(e->length))) return e->code;
  return kFilterUnknown;
}

// Moves a border rectangle ("x y w h ESPrs") one default-space unit inward
// on each side. A scale of 0, or one whose inverse is not finite, leaves the
// line as it is rather than writing infinities.
void InsetBorder(char *line, int *length) {
  float x = 0, y = 0, w = 0, h = 0;
  if (std::sscanf(line, "%f %f %f %f ESPrs", &x, &y, &w, &h) != 4) return;
  if (w == 0.0f || h == 0.0f) return;
  if (xScale == 0.0f || !std::isfinite(xScale)) return;
  float d = 1.0f / xScale;
  if (!std::isfinite(d)) return;
  x = x + d;
  y = y + d;
  w = w - 2 * d;
  h = h - 2 * d;
  char text[kLineCapacity];
  int n = std::snprintf(text, sizeof text, "%.2f %.2f %.2f %.2f ESPrs\r\n", x, y, w, h);
  if (n <= 0 || n >= kLineCapacity) return;
  std::memcpy(line, text, static_cast<size_t>(n) + 1);
  *length = n;
}
}  // namespace

void vInitScanState(ScanState *state) {
  std::memset(state, 0, sizeof *state);
  state->bWriteLine = 1;
  state->bPageMarkNeeded = 1;
  state->bFeatureDone = 1;
}

void vResetScannerForNextDocument() {
  xFlag = 0;
  eofFlag = 0;
  xScale = 1.0f;
  gPagesReported = 0;
  gCgMdDocument = 0;
  gInPages = 0;
  gFilterType = 0;
  giCupsBanner = 0;
  gPageCount = 0;
}

int bSupportedMainSetFilterName(const char *line) {
  if (!line) return 0;
  int code = CreatorOf(line, std::strlen(line));
  if (code == kFilterUnknown) return 0;
  gFilterType = code;
  return 1;
}

void vSupportedMainNotBinaryMode(char *line, char *workBuffer, char *featureKeywordBuffer,
                                 char **argv, int num_options, int bookletKind, int nupFaces,
                                 int borderType, cups_option_t *options, int *length,
                                 int tablesLoaded, int spool, int layoutNup, int rotate180,
                                 ScanState *st) {
  if (!line || !length || !st || !featureKeywordBuffer) return;
  if (*length < 0) *length = 0;
  if (*length > kLineCapacity - 1) *length = kLineCapacity - 1;
  size_t len = static_cast<size_t>(*length);
  const bool older = bSystemOlderThan105();
  LineHints has;
  has.Find(line, len);

  // Job boundaries, and the end-of-transmission byte some applications put
  // after "%%EOF".
  if (!older) {
    if (has.at && Has(line, len, "@PJL EOJ")) xFlag = 1;
    if (xFlag && has.esc && Has(line, len, UEL)) {
      st->bFirstLineDone = 0;
      st->bFilterOpenedJob = 0;
      st->bPjlHeaderDone = 0;
      st->bJobNameSeen = 0;
      xFlag = 0;
    }
    if (has.percent && Has(line, len, "%%EOF")) eofFlag = 1;
    if (eofFlag && len == 1 && line[0] == 0x04) return;
  }

  // A document without PJL of its own: the filter opens the job.
  const bool hasUel = has.esc && Has(line, len, UEL);
  if (!st->bFirstLineDone && !st->bFilterOpenedJob && !hasUel && tablesLoaded) {
    vDebugMessage("[Filter] - Detect 1st line with Jaguar \n");
    vWrappedFprintf(stdout, UEL "@PJL JOB\n", spool);
    WritePJLHeader_TypeGeneral(argv, num_options, options, stdout, &ctrl1st);
    vWrappedFprintf(stdout, "@PJL ENTER LANGUAGE = POSTSCRIPT\n", spool);
    st->bFilterOpenedJob = 1;
    st->bPjlHeaderDone = 1;
  }
  st->bFirstLineDone = 1;

  if (has.at) {
    if (!st->bPjlHeaderDone && tablesLoaded && Has(line, len, "@PJL ENTER LANGUAGE = POSTSCRIPT")) {
      WritePJLHeader_TypeGeneral(argv, num_options, options, stdout, &ctrl1st);
      st->bPjlHeaderDone = 1;
    }
    // The application's job-name line never reaches the printer.
    if (!st->bJobNameSeen && Has(line, len, "@PJL JOB NAME")) {
      if (hasUel) vWrappedFprintf(stdout, UEL "@PJL JOB\n", spool);
      st->bJobNameSeen = 1;
      st->bWriteLine = 0;
    }
  }

  if (has.percent) {
    if (!st->bCreatorKnown && Has(line, len, "%%Creator:")) {
      int code = CreatorOf(line, len);
      if (code != kFilterUnknown) gFilterType = code;
      st->bCreatorKnown = code != kFilterUnknown;
    }
    if (!giCupsBanner && Has(line, len, "%%DocumentSuppliedResources:") &&
        Has(line, len, "procset") && Has(line, len, "bannerprint"))
      giCupsBanner = 1;
  }

  // Booklets with borders: the converter's showpage redefinitions go.
  const bool bookletBorder = bookletKind != 0 && borderType != 0;
  if (!st->bTitleSeen && bookletBorder &&
      (Has(line, len, "userdict/ESPshowpage/showpage load put\n") ||
       Has(line, len, "userdict/showpage{}put\n")))
    st->bWriteLine = 0;
  if (gFilterType == kFilterPictwpstops && Has(line, len, "/Title")) st->bTitleSeen = 1;
  if (has.percent && Has(line, len, "%%Pages:") && !Has(line, len, "(atent)"))
    st->bPagesSeen = 1;
  if (st->bPagesSeen && bookletBorder && !st->bTitleSeen &&
      Has(line, len, "userdict/showpage/ESPshowpage load put\n"))
    st->bWriteLine = 0;

  if (gFilterType == kFilterPictwpstops && layoutNup)
    vSupportedMainNupAndRotate180Pictwpstops(line, workBuffer, spool, st, rotate180);
  if (gFilterType == kFilterCgpdftops)
    vSupportedMainNupAndRotate180Cgpdftops(num_options, options, line, spool, st, rotate180,
                                           layoutNup, nupFaces, borderType);

  // Borders: each rectangle moves inward by one default-space unit.
  if (!older && borderType != 0) {
    if (Has(line, len, "translate") && Has(line, len, "scale")) {
      float tx = 0, ty = 0, sx = 0, sy = 0;
      if (std::sscanf(line, "%f %f translate %f %f scale", &tx, &ty, &sx, &sy) >= 3) xScale = sx;
    }
    if (Has(line, len, "ESPrs\n") || Has(line, len, "ESPrs\r")) {
      InsetBorder(line, length);
      len = static_cast<size_t>(*length);
      has.Find(line, len);
    }
  }

  // Page setup. 1-up on 10.5.0 and later, "%%BeginPageSetup" is held back
  // and written just before the page's "cg_md begin", so the page setup the
  // printer needs follows the converter's own; it is never lost.
  if (older) {
    if (has.percent && Has(line, len, "%%BeginPageSetup")) ++gPageCount;
  } else if (nupFaces < 2) {
    if (!gInPages) {
      if (has.percent && Has(line, len, "%%Page:")) gInPages = 1;
      else if (!gCgMdDocument && Has(line, len, "cg_md")) gCgMdDocument = 1;
    }
    if (has.percent && Has(line, len, "%%BeginPageSetup")) {
      if (st->bPageSetupHeld) ReleaseHeldPageSetup(num_options, options, spool, st);
      st->bPageSetupHeld = 1;
      return;
    }
    // A document that never names "cg_md" (from pdftops, Ghostscript and
    // most other converters) has no "cg_md begin" to wait for: the held line
    // and the printer's setup go in just before the "%%EndPageSetup" that
    // closes the section, after the converter's own page setup.
    if (st->bPageSetupHeld && has.percent && !gCgMdDocument && Has(line, len, "%%EndPageSetup"))
      ReleaseHeldPageSetup(num_options, options, spool, st);
    // A page that ends without the line it waited for still gets its
    // "%%BeginPageSetup" and the printer's page setup, at its end.
    if (st->bPageSetupHeld &&
        ((has.percent && (Has(line, len, "%%Page:") || Has(line, len, "%%Trailer") ||
                          Has(line, len, "%%EOF"))) ||
         hasUel))
      ReleaseHeldPageSetup(num_options, options, spool, st);
    if (st->bPageSetupHeld && Has(line, len, "cg_md begin")) {
      static const char kHeld[] = "%%BeginPageSetup\ncg_md begin\n";
      std::memcpy(line, kHeld, sizeof kHeld);
      *length = static_cast<int>(sizeof kHeld - 1);
      len = sizeof kHeld - 1;
      st->bPageSetupHeld = 0;
      has.Find(line, len);
    }
  }

  if (has.percent && Has(line, len, "%%Trailer"))
    WritePSOperator_Before_Trailer(num_options, options, stdout);

  // Feature blocks the customisation table replaces.
  if (st->bInFeature) {
    if (!st->bFeatureDone) {
      int written = iWritePS_DscEntry(num_options, options, stdout, featureKeywordBuffer, &ctrl1st);
      st->bFeatureDone = 1;
      if (written != -1) st->bWriteLine = 0;
    } else {
      st->bWriteLine = 0;
    }
  } else if (has.percent && Has(line, len, "%%BeginFeature:")) {
    st->bInFeature = static_cast<uint8_t>(
        bJudgementPsDscEntries(line, featureKeywordBuffer, &ctrl1st) ? 1 : 0);
    if (st->bInFeature) st->bFeatureDone = 0;
  }

  if (has.percent && Has(line, len, "%%EndFeature")) {
    std::memset(featureKeywordBuffer, 0, kKeywordSlot);
    st->bInFeature = 0;
    st->bFeatureDone = 0;
    st->bWriteLine = 1;
  }
  if (st->bWriteLine) {
    vWrappedFwrite(line, 1, len, stdout, spool);
    if (!spool && has.percent && Has(line, len, "%%Page:")) vProgressPage(++gPagesReported);
  }

  if (!has.percent) return;
  if (!st->bBeginSetupDone && Has(line, len, "%%BeginSetup")) {
    st->bBeginSetupDone = 1;
    WritePS_PclOrientation(num_options, options);
  }
  if (Has(line, len, "%%Page:")) st->bPageSeen = 1;
  if (Has(line, len, "%%BeginPageSetup")) {
    WritePSOperator_After_BeginPageSetup(num_options, options, stdout);
    st->bStripPlacement = 0;
    st->bPageSeen = 0;
  }
  if (Has(line, len, "%%BeginBinary")) st->bBinary = 1;
}

void vRunLinePass(FILE *input, const LinePassJob &job, ScanState *state) {
  char line[kLineCapacity] = {};
  char work[kLineCapacity] = {};
  char keyword[kKeywordSlot] = {};
  PsLineReader reader(input, kLineCapacity);
  if (!reader.usable()) {
    vErrorMessage("unable to read print file.");
    giJobFailed = 1;
    return;
  }
  // Most lines of a document are drawing operators the scanner writes as
  // they are: a line can only matter to it when it holds '%' (DSC comments),
  // '@' (PJL), ESC (the UEL) or the end-of-transmission byte, unless the job
  // or the state makes it look at every line (borders, the converters whose
  // lines are rewritten, the first line, a feature block, a held page
  // setup). Runs of such plain lines go out as one block.
  static const char kTextStops[] = {'%', '@', '\x1b', '\x04'};
  static const char kBinaryStops[] = {'%'};
  const bool older = bSystemOlderThan105();
  for (;;) {
    const char *run = nullptr;
    size_t runLength = 0;
    if (state->bBinary) {
      runLength = reader.plainRun(kBinaryStops, 1, &run);
    } else if (job.borderType == 0 && state->bFirstLineDone && !state->bInFeature &&
               !(state->bPageSetupHeld && !older && job.nupFaces < 2) &&
               gFilterType != kFilterCgpdftops && gFilterType != kFilterPictwpstops) {
      runLength = reader.plainRun(kTextStops, 4, &run);
    }
    if (runLength > 0) {
      vWrappedFwrite(run, 1, runLength, stdout, job.spool);
      if (giJobFailed) return;
      continue;
    }
    const char *next = nullptr;
    size_t nextLength = 0;
    if (!reader.next(&next, &nextLength)) break;
    // The scanner may rewrite the line in place and looks for text in it
    // with the C string functions: it gets its own NUL-ended copy.
    std::memcpy(line, next, nextLength);
    line[nextLength] = '\0';
    int length = static_cast<int>(nextLength);
    if (state->bBinary) {
      vWrappedFwrite(line, 1, static_cast<size_t>(length), stdout, job.spool);
      if (Has(line, static_cast<size_t>(length), "%%EndBinary")) state->bBinary = 0;
    } else {
      state->bWriteLine = 1;
      vSupportedMainNotBinaryMode(line, work, keyword, job.argv, job.num_options,
                                  job.bookletKind, job.nupFaces, job.borderType, job.options,
                                  &length, job.tablesLoaded, job.spool, job.layoutNup,
                                  job.rotate180, state);
    }
    if (giJobFailed) return;
  }
  if (state->bPageSetupHeld)
    ReleaseHeldPageSetup(job.num_options, job.options, job.spool, state);
  if (std::ferror(input)) {
    vErrorMessage("unable to read print file.");
    giJobFailed = 1;
  }
}
