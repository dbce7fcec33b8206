// N-up imposition with covers and transparency interleave. After a spooled
// line pass the document is re-read from spool file A by its page index and
// written to standard output N logical pages to a sheet in the chosen
// reading order, with optional frames; cover sheets come from their own
// trays with their own duplex setting, and an interleave sheet (blank, or
// the same content again) follows every body sheet.
#include "impose/ImposeNup.h"

#include <cinttypes>
#include <cstdlib>
#include <cstring>

#include "impose/CoverPages.h"
#include "job/JobRecord.h"
#include "output/Filter_Debug.h"
#include "impose/Impose.h"
#include "impose/ImposeShowpage.h"
#include "impose/PageMedia.h"
#include "impose/UnpagedDocument.h"
#include "jobticket/JobTicketAccess.h"
#include "setup/PSGeometry.h"
#include "output/SpoolUtil.h"

namespace {

// More cells per sheet side than any layout of the printer offers; a larger
// count (rows and columns options of thousands) is refused rather than
// building millions of cells.
constexpr int kMaxCellsPerSheet = 1024;

struct Cell {
  int col;
  int row;
};

// Column and row of each slot (columns from the left, rows from the bottom,
// both from 1), per layout and reading order Z (1), RZ (3), N (5), RN (6).
constexpr Cell k2up[4][2] = {
    {{1, 1}, {2, 1}}, {{2, 1}, {1, 1}}, {{1, 1}, {2, 1}}, {{2, 1}, {1, 1}}};
constexpr Cell k4up[4][4] = {{{1, 2}, {2, 2}, {1, 1}, {2, 1}},
                             {{2, 2}, {1, 2}, {2, 1}, {1, 1}},
                             {{1, 2}, {1, 1}, {2, 2}, {2, 1}},
                             {{2, 2}, {2, 1}, {1, 2}, {1, 1}}};
constexpr Cell k6upPortrait[4][6] = {{{1, 2}, {2, 2}, {3, 2}, {1, 1}, {2, 1}, {3, 1}},
                                     {{3, 2}, {2, 2}, {1, 2}, {3, 1}, {2, 1}, {1, 1}},
                                     {{1, 2}, {1, 1}, {2, 2}, {2, 1}, {3, 2}, {3, 1}},
                                     {{3, 2}, {3, 1}, {2, 2}, {2, 1}, {1, 2}, {1, 1}}};
constexpr Cell k6upLandscape[4][6] = {{{1, 3}, {2, 3}, {1, 2}, {2, 2}, {1, 1}, {2, 1}},
                                      {{2, 3}, {1, 3}, {2, 2}, {1, 2}, {2, 1}, {1, 1}},
                                      {{1, 3}, {1, 2}, {1, 1}, {2, 3}, {2, 2}, {2, 1}},
                                      {{2, 3}, {2, 2}, {2, 1}, {1, 3}, {1, 2}, {1, 1}}};
constexpr Cell k9up[4][9] = {
    {{1, 3}, {2, 3}, {3, 3}, {1, 2}, {2, 2}, {3, 2}, {1, 1}, {2, 1}, {3, 1}},
    {{3, 3}, {2, 3}, {1, 3}, {3, 2}, {2, 2}, {1, 2}, {3, 1}, {2, 1}, {1, 1}},
    {{1, 3}, {1, 2}, {1, 1}, {2, 3}, {2, 2}, {2, 1}, {3, 3}, {3, 2}, {3, 1}},
    {{3, 3}, {3, 2}, {3, 1}, {2, 3}, {2, 2}, {2, 1}, {1, 3}, {1, 2}, {1, 1}}};
constexpr Cell k16up[4][16] = {
    {{1, 4}, {2, 4}, {3, 4}, {4, 4}, {1, 3}, {2, 3}, {3, 3}, {4, 3},
     {1, 2}, {2, 2}, {3, 2}, {4, 2}, {1, 1}, {2, 1}, {3, 1}, {4, 1}},
    {{4, 4}, {3, 4}, {2, 4}, {1, 4}, {4, 3}, {3, 3}, {2, 3}, {1, 3},
     {4, 2}, {3, 2}, {2, 2}, {1, 2}, {4, 1}, {3, 1}, {2, 1}, {1, 1}},
    {{1, 4}, {1, 3}, {1, 2}, {1, 1}, {2, 4}, {2, 3}, {2, 2}, {2, 1},
     {3, 4}, {3, 3}, {3, 2}, {3, 1}, {4, 4}, {4, 3}, {4, 2}, {4, 1}},
    {{4, 4}, {4, 3}, {4, 2}, {4, 1}, {3, 4}, {3, 3}, {3, 2}, {3, 1},
     {2, 4}, {2, 3}, {2, 2}, {2, 1}, {1, 4}, {1, 3}, {1, 2}, {1, 1}}};

// Table row of a reading order: 3 RZ, 5 N, 6 RN, anything else Z.
int iOrderRow(int order) {
  switch (order) {
    case 3: return 1;
    case 5: return 2;
    case 6: return 3;
    default: return 0;
  }
}

int iModulo(int value, int m) {
  const int r = value % m;
  return r < 0 ? r + m : r;
}

bool bLandscape(int orientation) { return orientation == 2 || orientation == 4; }

// Document pages a printed cover takes: 1 for one side, 2 for both.
int iCoverPages(int coverCode) {
  return coverCode == kCoverSingle ? 1 : coverCode == kCoverDouble ? 2 : 0;
}

// The cells per sheet of the job; a count below 1 (rows or columns "0")
// counts as 1.
int iCellsPerSheet(const JobRecord &job) {
  const int n = job.nupFaces;
  return n < 1 ? 1 : n;
}

// The job's page count: the total-pages option, or the spool file's own
// page count when the option is absent (or not positive), so that a job
// without the option still prints its pages.
int iJobPages(const JobRecord &job, int spooledPages) {
  const int pages = job.beginPages;
  return pages > 0 ? pages : spooledPages;
}

// Pages written before the body's last page: the job's pages less the ones
// a printed back cover takes.
int iBodyPages(const JobRecord &job, int spooledPages) {
  return iJobPages(job, spooledPages) - iCoverPages(job.backCover);
}

// True when the back cover needs a blank page before it so that it starts a
// sheet of its own: duplex, and an odd number of body sheets.
bool bBlankBeforeBackCover(const JobRecord &job, int spooledPages) {
  const int duplex = job.duplex;
  if (duplex != 2 && duplex != 3) return false;
  if (job.beginPages > 0) return job.emptyPageWithBackCover != 0;
  const int pages = spooledPages - iCoverPages(job.frontCover) - iCoverPages(job.backCover);
  if (pages < 1) return false;
  const int n = iCellsPerSheet(job);
  const int sides = pages / n + (pages % n != 0 ? 1 : 0);
  return sides % 2 == 1;
}

// Sheet sides the run writes, walked as the sheet loop walks the cells but
// without writing: blank cover sides, one side per printed cover page, one
// per body sheet, the interleave sheet after a body sheet, the blank side
// before the back cover and the back cover's sides. The header's "%%Pages:"
// says this number; the trailer repeats it.
int64_t iNupSheetSides(const JobRecord &job, int64_t totalCells, int N, int pageCount,
                       int bodyPages, int backCover) {
  const int front = job.frontCover;
  const int duplex = job.duplex;
  const int interleave = job.interleave;
  const int coverSides = duplex == 2 || duplex == 3 ? 2 : 1;
  int64_t sides = front == kCoverBlank ? coverSides : 0;
  int64_t pagesWritten = 0;
  int64_t lastIndex = 0;
  auto place = [&](int64_t index) {
    lastIndex = index;
    if (index >= 0 && index < pageCount) ++pagesWritten;
  };
  for (int64_t firstCell = 0; firstCell < totalCells; firstCell += N) {
    if ((front == kCoverSingle || front == kCoverDouble) && pagesWritten == 0) {
      const int k = iCoverPages(front);
      for (int i = 0; i < k; ++i, ++sides) place(firstCell + i);
      firstCell += k;
    }
    if (pagesWritten < bodyPages) {
      ++sides;
      for (int slot = 0; slot < N && pagesWritten < bodyPages; ++slot) place(firstCell + slot);
      if ((interleave == 1 || interleave == 2) && lastIndex < pageCount) ++sides;
    }
  }
  if (backCover != kCoverNone) {
    if (bBlankBeforeBackCover(job, pageCount)) ++sides;
    sides += backCover == kCoverBlank ? coverSides : iCoverPages(backCover);
  }
  return sides;
}

void vSelectMedia(const JobRecord &job, int kind) {
  WritePS_MediaPosition_BottomHalf(job, kind);
  WritePS_MediaType_InsertPage_BottomHalf(job, kind);
}

void vGetSheet(const JobRecord &job, float *W, float *H) {
  const PaperPair size = job.paperSize;
  *W = static_cast<float>(size.a);
  *H = static_cast<float>(size.b);
}

// Placement shared by the plain and the turned sheet.
void vCreateOffset(float *tx, float *ty, float *scale, int position, const JobRecord &job,
                   bool rotated) {
  // The printer's layouts hold 2, 4, 6, 9 or 16 pages; a count between them
  // (1 x 3, 2 x 4, ...) is drawn in the next larger layout, its last cells
  // left empty, instead of every page on top of the first cell.
  int n = job.nupFaces;
  if (n > 2 && n < 16 && n != 4 && n != 6 && n != 9) {
    const int layout = n < 4 ? 4 : n < 6 ? 6 : n < 9 ? 9 : 16;
    if (position == 0)
      vDebugMessage("[Filter] - %d pages to a side are laid out %d to a side\n", n, layout);
    n = layout;
  }
  const int order = iOrderRow(job.nupOrder);
  const bool landscape = bLandscape(job.orient) && !bOrientationAppliedUpstream(job);
  const bool booklet = job.bookletKind != 0;
  const PaperPair size = job.paperSize;
  const PaperPair margin = job.paperMargin;
  const float W = static_cast<float>(size.a);
  const float H = static_cast<float>(size.b);

  float written = 1.0f;
  float sx = 1.0f;
  float sy = 1.0f;
  float offsetA = 0.0f;
  float offsetB = 0.0f;
  Cell cell{1, 1};
  int columns = 1;
  int rows = 1;
  bool swapped = false;  // (row, col) take the place of (col, row) when turned
  // Two pages to a side are drawn at 0.678, which fits A4; where the two
  // cells are narrower (Letter: 0.633), the pages take the cells' own scale,
  // or they would overlap by about 28 points and run off the sheet.
  auto fitted2up = [](float s) { return (s > 0.0f && s < 0.678f) ? s : 0.678f; };
  if (booklet) {
    float s = 0.0f;
    float unusedY = 0.0f;
    vConvertNupScale(&size, &margin, &s, &unusedY, &offsetA, &offsetB, 1);
    written = (s > 0.0f && !rotated) ? s : fitted2up(s);
    sx = sy = s;
    cell = k2up[2][iModulo(position, 2)];
    columns = 2;
    swapped = true;
  } else if (n == 2) {
    float s = 0.0f;
    float unusedY = 0.0f;
    if (rotated) {
      float unusedA = 0.0f;
      float unusedB = 0.0f;
      vConvertNupScale(&size, &margin, &s, &unusedY, &unusedA, &unusedB, 1);
      written = sx = sy = fitted2up(s);
    } else {
      vConvertNupScale(&size, &margin, &s, &unusedY, &offsetA, &offsetB, 1);
      sx = sy = s;
      written = fitted2up(s);
    }
    const int slot = landscape ? 1 - iModulo(position, 2) : iModulo(position, 2);
    cell = k2up[order][slot];
    columns = 2;
    swapped = true;
  } else if (n == 4) {
    written = sx = sy = 0.48f;
    cell = k4up[order][iModulo(position, 4)];
    columns = rows = 2;
  } else if (n == 6) {
    written = 0.339f;
    float s = 0.0f;
    float unusedY = 0.0f;
    vConvertNupScale(&size, &margin, &s, &unusedY, &offsetA, &offsetB, 3);
    sx = sy = s;
    const int slot = iModulo(position, 6);
    cell = landscape ? k6upLandscape[order][slot] : k6upPortrait[order][slot];
    columns = landscape ? 2 : 3;
    rows = landscape ? 3 : 2;
  } else if (n == 9) {
    written = sx = sy = 0.32f;
    cell = k9up[order][iModulo(position, 9)];
    columns = rows = 3;
  } else if (n == 16) {
    written = sx = sy = 0.24f;
    cell = k16up[order][iModulo(position, 16)];
    columns = rows = 4;
  }
  if (rotated) {
    cell.col = columns + 1 - cell.col;
    cell.row = rows + 1 - cell.row;
  }
  if (!landscape) {
    *tx = W * sx * static_cast<float>(cell.col - 1) + offsetA;
    *ty = H * sy * static_cast<float>(cell.row - 1) + offsetB;
  } else {
    const int a = swapped ? cell.row : cell.col;
    const int b = swapped ? cell.col : cell.row;
    *tx = H * sy * static_cast<float>(a - 1) + offsetB;
    *ty = W * sx * static_cast<float>(b - 1) + offsetA;
  }
  *scale = written;
}

// Reports, only, when no arrangement of N pages fits the printable area
// without much waste.
void vCheckNupLayout(int n, float W, float H, float mx, float my) {
  const float aw = W - 2.0f * mx;
  const float ah = H - 2.0f * my;
  bool acceptable = false;
  for (int c = 1; c <= n && !acceptable; ++c) {
    if (n % c != 0) continue;
    const int r = n / c;
    for (int turned = 0; turned < 2 && !acceptable; ++turned) {
      const float pw = turned ? H : W;
      const float ph = turned ? W : H;
      const float scaleW = aw / (static_cast<float>(c) * pw);
      const float scaleH = ah / (static_cast<float>(r) * ph);
      const float scale = scaleW < scaleH ? scaleW : scaleH;
      const float wasteW = aw - scale * static_cast<float>(c) * pw;
      const float wasteH = ah - scale * static_cast<float>(r) * ph;
      if (wasteW * wasteW + wasteH * wasteH < 100000.0f) acceptable = true;
    }
  }
  if (!acceptable) vDebugMessage("[FILTER] - <FATAL> can't find acceptable layout for Nup\n");
}

}  // namespace

// The procedures a pictwpstops document leaves to its printer.
void vWriteEspRectProcs(FILE *out) {
  static const char *const kProcs[] = {
      "% x y w h ESPrc - Clip to a rectangle.\n",
      "userdict/ESPrc/rectclip where{pop/rectclip load}\n",
      "{{newpath 4 2 roll moveto 1 index 0 rlineto 0 exch rlineto\n",
      "neg 0 rlineto closepath clip newpath}bind}ifelse put\n",
      "% x y w h ESPrf - Fill a rectangle.\n",
      "userdict/ESPrf/rectfill where{pop/rectfill load}\n",
      "{{gsave newpath 4 2 roll moveto 1 index 0 rlineto 0 exch rlineto\n",
      "neg 0 rlineto closepath fill grestore}bind}ifelse put\n",
      "% x y w h ESPrs - Stroke a rectangle.\n",
      "userdict/ESPrs/rectstroke where{pop/rectstroke load}\n",
      "{{gsave newpath 4 2 roll moveto 1 index 0 rlineto 0 exch rlineto\n",
      "neg 0 rlineto closepath stroke grestore}bind}ifelse put\n",
      "userdict/ESPwl{}bind put\n",
      "userdict/ESPshowpage/showpage load put\n",
      "userdict/showpage{}put\n",
  };
  for (const char *line : kProcs) std::fputs(line, out);
}

namespace {

// Writes the cells of one sheet side from the cell list, stopping after the
// last cell or once the body pages are written.
void vWalkSheet(PageInfo *cellList, int firstCell, int totalCells, int N, int pageCount, FILE *in,
                FILE *out, const JobRecord &job, const int64_t *offsets, int bodyPages,
                int *pagesWritten, int *callCount, int *ordinal, int *lastIndex, float W, float H) {
  int slot = 0;
  for (PageInfo *cell = cellList; cell != nullptr; cell = cell->next) {
    ++slot;
    vPrintLogicalPage(cell, firstCell, totalCells, N, pageCount, in, out, job, offsets,
                      pagesWritten, &slot, callCount, ordinal, lastIndex, W, H);
    if (*pagesWritten >= bodyPages) break;
  }
}

}  // namespace

void vWriteFrame(FILE *out, int borderType, int orientation, int n, float W, float H) {
  struct FrameClass {
    float hairline;
    float thin;
    float outer;
    float inner;
  };
  static const FrameClass kClasses[6] = {{0.24f, 0.5f, 14.2f, 16.2f},   {0.354f, 0.737f, 3.3f, 6.3f},
                                         {0.5f, 1.042f, 4.7f, 8.9f},    {0.708f, 1.475f, 6.6f, 12.5f},
                                         {0.751f, 1.565f, 7.0f, 13.3f}, {1.0f, 2.084f, 9.6f, 17.7f}};
  int k = 0;
  switch (n) {
    case 2: k = 1; break;
    case 4: k = 2; break;
    case 6: k = 3; break;
    case 9: k = 4; break;
    case 16: k = 5; break;
    default: k = 0; break;
  }
  const FrameClass &c = kClasses[k];
  const bool landscape = bLandscape(orientation);
  const float across = landscape ? H : W;
  const float up = landscape ? W : H;
  auto width = [&](float d) { return across - 2.0f * d; };
  auto height = [&](float d) { return up - 2.0f * d; };
  switch (borderType) {
    case 1:
    case 3: {
      const float line = borderType == 1 ? c.hairline : c.thin;
      fprintf(out, "gsave\n%.2f setlinewidth 0 setgray newpath\n%.2f %.2f %.2f %.2f ESPrs\ngrestore\n",
              line, c.outer, c.outer, width(c.outer), height(c.outer));
      break;
    }
    case 2:
    case 4: {
      const float line = borderType == 2 ? c.hairline : c.thin;
      fprintf(out,
              "gsave\n%.2f setlinewidth 0 setgray newpath\n%.2f %.2f %.2f %.2f ESPrs\n"
              "%.03f setlinewidth 0 setgray newpath\n%.2f %.2f %.2f %.2f ESPrs\ngrestore\n",
              line, c.inner, c.inner, width(c.inner), height(c.inner), line, c.outer, c.outer,
              width(c.outer), height(c.outer));
      break;
    }
    case 5:
      fprintf(out,
              "gsave\n[2.5 2.5] 0 setdash\n%.2f setlinewidth 0 setgray newpath\n"
              "%.2f %.2f %.2f %.2f ESPrs\ngrestore\n",
              c.thin, c.outer, c.outer, width(c.outer), height(c.outer));
      break;
    default:
      break;
  }
}

void vCreateOffsetWithNup(float *tx, float *ty, float *scale, int position, const JobRecord &job) {
  vCreateOffset(tx, ty, scale, position, job, false);
}

void vCreateOffsetWithNupR180(float *tx, float *ty, float *scale, int position,
                              const JobRecord &job) {
  vCreateOffset(tx, ty, scale, position, job, true);
}

void vPrintLogicalPage(PageInfo *cell, int firstCell, int /*totalCells*/, int n, int pageCount,
                       FILE *in, FILE *out, const JobRecord &job, const int64_t *offsets,
                       int *pagesWritten, int *slot, int *callCount, int *ordinal, int *lastIndex,
                       float W, float H) {
  const int index = firstCell + cell->pageNumber;
  const bool hasPage = index >= 0 && index < pageCount;
  *lastIndex = index;
  ++*callCount;

  const int orientation = bOrientationAppliedUpstream(job) ? 1 : job.orient;
  const bool landscape = bLandscape(orientation);
  const int border = job.borderType;
  const bool placed = (cell->flags & kPageInfoTransform) != 0 && n != 1;
  // A page of its own size is scaled into its cell from that size; one that
  // fills the sheet unplaced is so only when its own code changes the size.
  const bool ownProcs = bDocumentNeedsImposedProcs(job.filterType);
  const double cellW = landscape ? H : W;
  const double cellH = landscape ? W : H;
  PageMedia media;
  if (ownProcs && hasPage) media = sFindPageMedia(in, offsets, index, pageCount);
  if (!placed && !media.setsSize) media = PageMedia{};

  char label[kDscLineSize];
  memset(label, 0, sizeof label);
  if (hasPage) vSeekPage(index, in, offsets, label);
  // One progress report per sheet side, below; not one per cell.
  vWritePageComment(label, ordinal, out);
  fputs("userdict/ESPsave save put\n", out);

  if (ownProcs) vWriteCellGuard(out, placed, media.setsSize);
  if (!placed) {
    if (n == 1 && landscape) fprintf(out, "%.1f %.1f translate %d rotate\n", 0.0, H - 24.0f, -90);
    bWritePageFit(out, media, cellW, cellH);
  } else {
    fprintf(out, "%.1f %.1f translate\n", 12.0, 12.0);
    const bool sideways = n == 2 || n == 6;
    if (sideways != landscape) fprintf(out, "%.1f %.1f translate %d rotate\n", 0.0, H - 24.0f, -90);
    const int position = *pagesWritten - iCoverPages(job.frontCover);
    float tx = 0.0f;
    float ty = 0.0f;
    float scale = 1.0f;
    if (job.rotate180)
      vCreateOffsetWithNupR180(&tx, &ty, &scale, position, job);
    else
      vCreateOffsetWithNup(&tx, &ty, &scale, position, job);
    fprintf(out, "%.1f %.1f translate %.03f %.03f scale\n", tx, ty, scale, scale);
    fprintf(out, "0 0 %.1f %.1f ESPrc\n", landscape ? H : W, landscape ? W : H);
    bWritePageFit(out, media, cellW, cellH);
  }

  if (hasPage) {
    vWritePageBody(index, offsets, in, out);
    ++*pagesWritten;
  }
  if (border != 0) vWriteFrame(out, border, orientation, n, W, H);
  fputs("userdict /ESPsave get restore\n", out);

  const char *const kSheetEnd = "gsave\n%.1f %.1f translate %d rotate\nESPwl\ngrestore\nESPshowpage\n";
  bool endSheet = false;
  bool upright = false;  // (W, H, 180) rather than (0, H, -90)
  if (job.filterType != kFilterPictwpstops && n == 1 && border == 0) {
    endSheet = true;
    upright = !landscape;
  } else if (*slot == n || *pagesWritten == iBodyPages(job, pageCount)) {
    endSheet = true;
    const bool sideways = n == 2 || n == 6;
    upright = sideways == landscape;
  }
  if (endSheet) {
    if (upright)
      fprintf(out, kSheetEnd, W, H, 180);
    else
      fprintf(out, kSheetEnd, 0.0, H, -90);
    if (out == stdout) vReportPageProgress();
  }
}

void vRearrangeNupWithoutBookletEveryCirculation(const JobRecord &job, FILE *out, int totalCells,
                                                 int N, PageInfo *cellList, int pageCount, FILE *in,
                                                 const int64_t *offsets, int bodyPages,
                                                 int backCover) {
  const int front = job.frontCover;
  const int duplex = job.duplex;
  const int interleave = job.interleave;
  const bool twoSided = duplex == 2 || duplex == 3;
  float W = 0.0f;
  float H = 0.0f;
  vGetSheet(job, &W, &H);

  int pagesWritten = 0;
  int ordinal = 0;
  int lastIndex = 0;
  int callCount = 0;

  if (front == kCoverBlank) {
    vSelectMedia(job, kMediaKindFrontCover);
    vAddEmptyPage(out);
    if (twoSided) vAddEmptyPage(out);
    vSelectMedia(job, kMediaKindRestore);
  }

  for (int64_t firstCell = 0; firstCell < totalCells; firstCell += N) {
    if ((front == kCoverSingle || front == kCoverDouble) && pagesWritten == 0) {
      vSelectMedia(job, kMediaKindFrontCover);
      WritePS_ModifyToCoverPageDuplex_BottomHalf(job, front);
      const int k = iCoverPages(front);
      for (int i = 0; i < k; ++i) {
        int slot = 1;
        vPrintLogicalPage(cellList, static_cast<int>(firstCell) + i, totalCells, 1, pageCount, in,
                          out, job, offsets, &pagesWritten, &slot, &callCount, &ordinal, &lastIndex,
                          W, H);
      }
      firstCell += k;
      vSelectMedia(job, kMediaKindRestore);
      WritePS_RestoreDuplex_BottomHalf(job);
    }

    const int savedPagesWritten = pagesWritten;
    const int savedOrdinal = ordinal;
    bool bodyWritten = false;
    if (pagesWritten < bodyPages) {
      bodyWritten = true;
      vWalkSheet(cellList, static_cast<int>(firstCell), totalCells, N, pageCount, in, out, job,
                 offsets, bodyPages, &pagesWritten, &callCount, &ordinal, &lastIndex, W, H);
    }

    // An interleave sheet follows a body sheet; a pass that wrote no body
    // sheet gets none.
    if ((interleave == 1 || interleave == 2) && bodyWritten && lastIndex < pageCount) {
      vSelectMedia(job, kMediaKindInterleave);
      if (interleave == 1) {
        vAddEmptyPage(out);
      } else {
        int againWritten = savedPagesWritten;
        int againOrdinal = savedOrdinal;
        int againCalls = 0;
        int againLast = 0;
        vWalkSheet(cellList, static_cast<int>(firstCell), totalCells, N, pageCount, in, out, job,
                   offsets, bodyPages, &againWritten, &againCalls, &againOrdinal, &againLast, W, H);
      }
      vSelectMedia(job, kMediaKindRestore);
    }
  }

  if (backCover != kCoverNone) {
    if (bBlankBeforeBackCover(job, pageCount)) vAddEmptyPage(out);
    vSelectMedia(job, kMediaKindBackCover);
    if (backCover == kCoverBlank) {
      vAddEmptyPage(out);
      if (twoSided) vAddEmptyPage(out);
    } else {
      WritePS_ModifyToCoverPageDuplex_BottomHalf(job, backCover);
      const int k = iCoverPages(backCover);
      const int totalPages = iJobPages(job, pageCount);
      for (int i = 0; i < k; ++i) {
        int slot = 1;
        vPrintLogicalPage(cellList, totalPages - k + i, totalPages, 1, pageCount, in, out, job,
                          offsets, &pagesWritten, &slot, &callCount, &ordinal, &lastIndex, W, H);
      }
    }
    vSelectMedia(job, kMediaKindRestore);
    if (backCover == kCoverSingle || backCover == kCoverDouble)
      WritePS_RestoreDuplex_BottomHalf(job);
  }
}

void vRearrangeNupWithoutBooklet(PageInfo *cellList, FILE *in, FILE *out, const JobRecord &jobIn) {
  // What is learnt of the document below (a Ghostscript rewrite) goes into
  // the imposition's own copy of the record.
  JobRecord job = jobIn;
  const int hint = job.beginPages;
  const int N = iCellsPerSheet(job);
  const int backCover = job.backCover;
  const int border = job.borderType;

  PageIndex index;
  if (!bBuildPageIndex(in, &index, hint)) return;
  // A document whose pages cannot be told apart is paged by Ghostscript
  // first; one that stays so prints whole.
  std::string why;
  bPageUnpagedDocument(in, &index, hint, cpSpoolFileAwithPID, job, &why, &job);
  if (bPrintedWholeWithoutPages(&index, in, out, "N-up, cover and interleave", why.c_str())) {
    vFreePageIndex(&index);
    return;
  }
  const int P = index.count;
  const int bodyPages = iBodyPages(job, P);
  const int64_t sheets = (static_cast<int64_t>(N) + P - 1) / N;
  const int64_t totalCells = sheets * N;
  if (totalCells > INT32_MAX) {
    vFreePageIndex(&index);
    vImpositionFailed("[Filter] - <FATAL> too many pages per sheet for Nup\n");
    return;
  }

  // The header counts every sheet side the job prints: covers, body sheets
  // and interleave sheets alike.
  const int64_t sides = iNupSheetSides(job, totalCells, N, P, bodyPages, backCover);
  vWriteImposedDocumentStart(job, sides, N == 1 && border == 0, in, out, &index);
  vRearrangeNupWithoutBookletEveryCirculation(job, out, static_cast<int>(totalCells), N, cellList,
                                              P, in, index.offsets, bodyPages, backCover);
  if (job.filterType == kFilterPictwpstops) fputs("userdict/showpage/ESPshowpage load put\n", out);
  vWriteTrailer(in, out, index.offsets, index.count);
  vFreePageIndex(&index);
}

void vConvertInsertPage2ndPhase(const JobRecord &job) {
  const int N = iCellsPerSheet(job);
  const PaperPair size = job.paperSize;
  const PaperPair margin = job.paperMargin;

  FILE *in = cpSpoolFileAwithPID != nullptr ? fopen(cpSpoolFileAwithPID, "rb") : nullptr;
  if (in == nullptr) {
    vImpositionFailed("[Filter] - <FATAL> can't open input file \n");
    return;
  }
  if (size.a <= 0 || size.b <= 0) vDebugMessage("[Filter] - <FATAL> page width and height must be set\n");
  if (size.a - 2 * margin.a <= 0 || size.b - 2 * margin.b <= 0)
    vDebugMessage("[Filter] - <FATAL> paper margins are too large\n");
  if (N > kMaxCellsPerSheet) {
    fclose(in);
    vImpositionFailed("[Filter] - <FATAL> too many pages per sheet for Nup\n");
    return;
  }
  vCheckNupLayout(N, static_cast<float>(size.a), static_cast<float>(size.b),
                  static_cast<float>(margin.a), static_cast<float>(margin.b));

  PageInfo *head = nullptr;
  PageInfo **tail = &head;
  for (int i = 0; i < N; ++i) {
    PageInfo *cell = pstCreatePageInfo();
    if (cell == nullptr) {
      vFreePageInfoList(head);
      fclose(in);
      return;
    }
    cell->pageNumber = i;
    cell->flags = 0x2 | (i + 1 < N ? kPageInfoAddNext : 0);
    *tail = cell;
    tail = &cell->next;
  }

  vRearrangeNupWithoutBooklet(head, in, stdout, job);
  vFreePageInfoList(head);
  fclose(in);
  bImposedOutputWritten(stdout);
}
