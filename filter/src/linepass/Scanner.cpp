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

// Writes a held "%%BeginPageSetup" with the printer's page setup after it.
void ReleaseHeldPageSetup(JobRecord &job) {
  ScanState *st = &job.scan;
  vWrappedFprintf(stdout, "%%BeginPageSetup\n", job.spool);
  WritePSOperator_After_BeginPageSetup(job, stdout);
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
void InsetBorder(char *line, int *length, float xScale) {
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

int bSupportedMainSetFilterName(const char *line, JobRecord &job) {
  if (!line) return 0;
  int code = CreatorOf(line, std::strlen(line));
  if (code == kFilterUnknown) return 0;
  job.filterType = code;
  return 1;
}

void vSupportedMainNotBinaryMode(char *line, char *workBuffer, char *featureKeywordBuffer,
                                 int *length, JobRecord &job) {
  if (!line || !length || !featureKeywordBuffer) return;
  if (*length < 0) *length = 0;
  if (*length > kLineCapacity - 1) *length = kLineCapacity - 1;
  size_t len = static_cast<size_t>(*length);
  ScanState *st = &job.scan;
  ScanMarks &marks = job.marks;
  const bool older = job.older;
  const int spool = job.spool;
  const int nupFaces = job.nupFaces;
  const int borderType = job.borderType;
  PsPjlTables *tables = job.tables;
  LineHints has;
  has.Find(line, len);

  // Job boundaries, and the end-of-transmission byte some applications put
  // after "%%EOF".
  if (!older) {
    if (has.at && Has(line, len, "@PJL EOJ")) marks.pjlEojSeen = 1;
    if (marks.pjlEojSeen && has.esc && Has(line, len, UEL)) {
      st->bFirstLineDone = 0;
      st->bFilterOpenedJob = 0;
      st->bPjlHeaderDone = 0;
      st->bJobNameSeen = 0;
      marks.pjlEojSeen = 0;
    }
    if (has.percent && Has(line, len, "%%EOF")) marks.eofSeen = 1;
    if (marks.eofSeen && len == 1 && line[0] == 0x04) return;
  }

  // A document without PJL of its own: the filter opens the job.
  const bool hasUel = has.esc && Has(line, len, UEL);
  if (!st->bFirstLineDone && !st->bFilterOpenedJob && !hasUel && tables) {
    vDebugMessage("[Filter] - Detect 1st line with Jaguar \n");
    vWrappedFprintf(stdout, UEL "@PJL JOB\n", spool);
    WritePJLHeader_TypeGeneral(job.argv, job.num_options, job.options, stdout, tables);
    vWrappedFprintf(stdout, "@PJL ENTER LANGUAGE = POSTSCRIPT\n", spool);
    st->bFilterOpenedJob = 1;
    st->bPjlHeaderDone = 1;
  }
  st->bFirstLineDone = 1;

  if (has.at) {
    if (!st->bPjlHeaderDone && tables && Has(line, len, "@PJL ENTER LANGUAGE = POSTSCRIPT")) {
      WritePJLHeader_TypeGeneral(job.argv, job.num_options, job.options, stdout, tables);
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
      if (code != kFilterUnknown) job.filterType = code;
      st->bCreatorKnown = code != kFilterUnknown;
    }
    if (!job.cupsBanner && Has(line, len, "%%DocumentSuppliedResources:") &&
        Has(line, len, "procset") && Has(line, len, "bannerprint"))
      job.cupsBanner = 1;
  }

  // Booklets with borders: the converter's showpage redefinitions go.
  const bool bookletBorder = job.bookletKind != 0 && borderType != 0;
  if (!st->bTitleSeen && bookletBorder &&
      (Has(line, len, "userdict/ESPshowpage/showpage load put\n") ||
       Has(line, len, "userdict/showpage{}put\n")))
    st->bWriteLine = 0;
  if (job.filterType == kFilterPictwpstops && Has(line, len, "/Title")) st->bTitleSeen = 1;
  if (has.percent && Has(line, len, "%%Pages:") && !Has(line, len, "(atent)"))
    st->bPagesSeen = 1;
  if (st->bPagesSeen && bookletBorder && !st->bTitleSeen &&
      Has(line, len, "userdict/showpage/ESPshowpage load put\n"))
    st->bWriteLine = 0;

  if (job.filterType == kFilterPictwpstops && job.layoutNup)
    vSupportedMainNupAndRotate180Pictwpstops(line, workBuffer, job);
  if (job.filterType == kFilterCgpdftops) vSupportedMainNupAndRotate180Cgpdftops(line, job);

  // Borders: each rectangle moves inward by one default-space unit.
  if (!older && borderType != 0) {
    if (Has(line, len, "translate") && Has(line, len, "scale")) {
      float tx = 0, ty = 0, sx = 0, sy = 0;
      if (std::sscanf(line, "%f %f translate %f %f scale", &tx, &ty, &sx, &sy) >= 3)
        marks.xScale = sx;
    }
    if (Has(line, len, "ESPrs\n") || Has(line, len, "ESPrs\r")) {
      InsetBorder(line, length, marks.xScale);
      len = static_cast<size_t>(*length);
      has.Find(line, len);
    }
  }

  // Page setup. 1-up on 10.5.0 and later, "%%BeginPageSetup" is held back
  // and written just before the page's "cg_md begin", so the page setup the
  // printer needs follows the converter's own; it is never lost.
  if (older) {
    if (has.percent && Has(line, len, "%%BeginPageSetup")) ++job.pageCount;
  } else if (nupFaces < 2) {
    if (!marks.inPages) {
      if (has.percent && Has(line, len, "%%Page:"))
        marks.inPages = 1;
      else if (!marks.cgMdDocument && Has(line, len, "cg_md"))
        marks.cgMdDocument = 1;
    }
    if (has.percent && Has(line, len, "%%BeginPageSetup")) {
      if (st->bPageSetupHeld) ReleaseHeldPageSetup(job);
      st->bPageSetupHeld = 1;
      return;
    }
    // A document that never names "cg_md" (from pdftops, Ghostscript and
    // most other converters) has no "cg_md begin" to wait for: the held line
    // and the printer's setup go in just before the "%%EndPageSetup" that
    // closes the section, after the converter's own page setup.
    if (st->bPageSetupHeld && has.percent && !marks.cgMdDocument &&
        Has(line, len, "%%EndPageSetup"))
      ReleaseHeldPageSetup(job);
    // A page that ends without the line it waited for still gets its
    // "%%BeginPageSetup" and the printer's page setup, at its end.
    if (st->bPageSetupHeld &&
        ((has.percent && (Has(line, len, "%%Page:") || Has(line, len, "%%Trailer") ||
                          Has(line, len, "%%EOF"))) ||
         hasUel))
      ReleaseHeldPageSetup(job);
    if (st->bPageSetupHeld && Has(line, len, "cg_md begin")) {
      static const char kHeld[] = "%%BeginPageSetup\ncg_md begin\n";
      std::memcpy(line, kHeld, sizeof kHeld);
      *length = static_cast<int>(sizeof kHeld - 1);
      len = sizeof kHeld - 1;
      st->bPageSetupHeld = 0;
      has.Find(line, len);
    }
  }

  if (has.percent && Has(line, len, "%%Trailer")) WritePSOperator_Before_Trailer(job, stdout);

  // Feature blocks the customisation table replaces.
  if (st->bInFeature) {
    if (!st->bFeatureDone) {
      int written =
          iWritePS_DscEntry(job.num_options, job.options, stdout, featureKeywordBuffer, tables);
      st->bFeatureDone = 1;
      if (written != -1) st->bWriteLine = 0;
    } else {
      st->bWriteLine = 0;
    }
  } else if (has.percent && Has(line, len, "%%BeginFeature:")) {
    st->bInFeature =
        static_cast<uint8_t>(bJudgementPsDscEntries(line, featureKeywordBuffer, tables) ? 1 : 0);
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
    if (!spool && has.percent && Has(line, len, "%%Page:")) vProgressPage(++marks.pagesReported);
  }

  if (!has.percent) return;
  if (!st->bBeginSetupDone && Has(line, len, "%%BeginSetup")) {
    st->bBeginSetupDone = 1;
    WritePS_PclOrientation(job);
  }
  if (Has(line, len, "%%Page:")) st->bPageSeen = 1;
  if (Has(line, len, "%%BeginPageSetup")) {
    WritePSOperator_After_BeginPageSetup(job, stdout);
    st->bStripPlacement = 0;
    st->bPageSeen = 0;
  }
  if (Has(line, len, "%%BeginBinary")) st->bBinary = 1;
}

void vRunLinePass(FILE *input, JobRecord &job) {
  ScanState *state = &job.scan;
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
  const bool older = job.older;
  for (;;) {
    const char *run = nullptr;
    size_t runLength = 0;
    if (state->bBinary) {
      runLength = reader.plainRun(kBinaryStops, 1, &run);
    } else if (job.borderType == 0 && state->bFirstLineDone && !state->bInFeature &&
               !(state->bPageSetupHeld && !older && job.nupFaces < 2) &&
               job.filterType != kFilterCgpdftops && job.filterType != kFilterPictwpstops) {
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
      vSupportedMainNotBinaryMode(line, work, keyword, &length, job);
    }
    if (giJobFailed) return;
  }
  if (state->bPageSetupHeld) ReleaseHeldPageSetup(job);
  if (std::ferror(input)) {
    vErrorMessage("unable to read print file.");
    giJobFailed = 1;
  }
}
