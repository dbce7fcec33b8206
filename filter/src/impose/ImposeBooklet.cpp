// Booklet imposition: saddle-stitch order into spool file B, then two pages
// to a sheet side on standard output, with the cover tray around the outer
// sheet.
#include "impose/ImposeBooklet.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "impose/BookletCoverRules.h"
#include "impose/CoverPages.h"
#include "job/JobRecord.h"
#include "output/Filter_Debug.h"
#include "impose/ImposeNup.h"
#include "impose/ImposeShowpage.h"
#include "impose/PageMedia.h"
#include "impose/UnpagedDocument.h"
#include "jobticket/JobTicketAccess.h"
#include "setup/PSGeometry.h"
#include "output/SpoolUtil.h"

namespace {

// Orientation codes 2 and 4 are the landscape kinds, 1 and 3 the portrait ones.
bool IsLandscape(int orientation) { return orientation == 2 || orientation == 4; }

// Booklet kinds written back to front ("BookletR", "BookletU").
bool IsBackToFront(int kind) { return kind == 1 || kind == 4; }

// Set by the first phase when the document had no page to place and went
// to the printer whole: the second phase has nothing left to do.
bool gBookletPrintedWhole = false;

// Reports a spool file that cannot be read; the job cannot print.
void FailUnreadableSpool(const char *name) {
  int err = errno;
  vErrorMessage("[Filter] - <FATAL> can't open input file \n");
  vDebugMessage("spool file %s: %s", name ? name : "(no name)", std::strerror(err));
  giJobFailed = 1;
}

// An index that cannot be built ends the job (the index reports its own
// allocation failure; anything else is reported here).
void FailIndex() {
  if (!giJobFailed) vErrorMessage("[Filter] - <FATAL> can't index the spooled document\n");
  giJobFailed = 1;
}

}  // namespace

int iBookletPositionOfSlot(int i, int paddedCount) {
  int m = i % 4;
  if (m == 1 || m == 2) return i / 2;
  return (paddedCount - 1) - i / 2;
}

void vWriteEmptyPageBooklet(FILE *out, int *ordinal) {
  std::fprintf(out, "%%%%Page: * %d\n", *ordinal + 1);
  std::fputs("showpage\n", out);
  ++*ordinal;
  // Blank booklet pages normally go to spool file B; one written straight to
  // the printer is a sheet side CUPS counts.
  if (out == stdout) vReportPageProgress();
}

FILE *pCreateSpoolFileB() {
  if (!cpSpoolFileBwithPID) {
    vErrorMessage("[Filter] - <FATAL> can't open output file \n");
    giJobFailed = 1;
    return nullptr;
  }
  // A stale file (or a link planted at the name) from an earlier process
  // with the same id goes first; the new file is then created exclusively.
  unlink(cpSpoolFileBwithPID);
  int fd = open(cpSpoolFileBwithPID, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0664);
  FILE *f = fd >= 0 ? fdopen(fd, "wb") : nullptr;
  if (!f) {
    int err = errno;
    if (fd >= 0) close(fd);
    vErrorMessage("[Filter] - <FATAL> can't open output file \n");
    vDebugMessage("spool file %s: %s", cpSpoolFileBwithPID, std::strerror(err));
    giJobFailed = 1;
  }
  return f;
}

int bCheckImposedStream(FILE *out, const char *what) {
  if (std::fflush(out) != 0 || std::ferror(out)) {
    vErrorMessage("[Filter] - <FATAL> write error on %s\n", what);
    giJobFailed = 1;
    return 0;
  }
  return 1;
}

// First phase: spool file A in booklet order, with blanks and covers, as a
// complete DSC document in spool file B.
void vConvertBooklet1stPhase(JobRecord &job) {
  gBookletPrintedWhole = false;
  int hint = job.beginPages;
  int kind = job.bookletKind;
  int front = job.frontCover;
  int back = job.backCover;

  FILE *in = cpSpoolFileAwithPID ? std::fopen(cpSpoolFileAwithPID, "rb") : nullptr;
  if (!in) {
    FailUnreadableSpool(cpSpoolFileAwithPID);
    return;
  }
  FILE *out = pCreateSpoolFileB();
  if (!out) {
    std::fclose(in);
    return;
  }

  PageIndex index;
  if (!bBuildPageIndex(in, &index, hint)) {
    FailIndex();
    vFreePageIndex(&index);
    std::fclose(in);
    std::fclose(out);
    return;
  }
  // A document whose pages cannot be told apart is paged by Ghostscript
  // first; one that stays so prints whole.
  std::string why;
  bPageUnpagedDocument(in, &index, hint, cpSpoolFileAwithPID, job, &why, &job);
  if (bPrintedWholeWithoutPages(&index, in, stdout, "booklet", why.c_str())) {
    gBookletPrintedWhole = true;
    vFreePageIndex(&index);
    std::fclose(in);
    std::fclose(out);
    bCheckImposedStream(stdout, "standard output");
    return;
  }
  const int pageCount = index.count;
  const int padded = pageCount + iBookletBlankPages(back, front, pageCount);

  vWriteHeader(padded, in, out, index.pagesCommentPos, index.headerEnd);
  vWriteProlog(index.setupEnd, in, out);
  vWriteSetup(index.offsets, in, out);

  WriteToPageRule rule = pfnGetWriteToPageRule(back, front);
  if (!rule) rule = bJudgementDetailOfWriteToPage_F_None_B_None;
  int ordinal = 0;
  for (int n = 0; n < padded && !giJobFailed; ++n) {
    int i = IsBackToFront(kind) ? padded - 1 - n : n;
    int position = iBookletPositionOfSlot(i, padded);
    if (rule(&position, padded, pageCount))
      vWritePage(position, in, out, index.offsets, &ordinal);
    else
      vWriteEmptyPageBooklet(out, &ordinal);
  }

  vWriteTrailer(in, out, index.offsets, index.count);
  vFreePageIndex(&index);
  std::fclose(in);
  bCheckImposedStream(out, "spool file B");
  if (std::fclose(out) != 0 && !giJobFailed) {
    vErrorMessage("[Filter] - <FATAL> write error on spool file B\n");
    giJobFailed = 1;
  }
}

// Second phase: the pages of spool file B two to a sheet side.
void vConvertBooklet2ndPhase(const JobRecord &job) {
  // A booklet order that could not be written completely is not printed.
  if (giJobFailed || gBookletPrintedWhole) return;

  const PaperPair size = job.paperSize;
  const PaperPair margin = job.paperMargin;

  FILE *in = cpSpoolFileBwithPID ? std::fopen(cpSpoolFileBwithPID, "rb") : nullptr;
  if (!in) {
    FailUnreadableSpool(cpSpoolFileBwithPID);
    return;
  }
  if (size.a <= 0 || size.b <= 0)
    vDebugMessage("[Filter] - <FATAL> page width and height must be set\n");
  if (int64_t{size.a} - 2 * int64_t{margin.a} <= 0 || int64_t{size.b} - 2 * int64_t{margin.b} <= 0)
    vDebugMessage("[Filter] - <FATAL> paper margins are too large\n");

  // Two cells per side: the left one chains to the right one.
  PageInfo *left = pstCreatePageInfo();
  PageInfo *right = left ? pstCreatePageInfo() : nullptr;
  if (!left || !right) {
    vFreePageInfoList(left);
    std::fclose(in);
    giJobFailed = 1;
    return;
  }
  left->pageNumber = 0;
  left->flags = kPageInfoAddNext | kPageInfoTransform;
  left->next = right;
  right->pageNumber = 1;
  right->flags = kPageInfoTransform;

  vRearrange2upWithBooklet(left, in, stdout, job);

  vFreePageInfoList(left);
  std::fclose(in);
  bCheckImposedStream(stdout, "standard output");
}

void vRearrange2upWithBooklet(PageInfo *cellList, FILE *in, FILE *out, const JobRecord &job) {
  int hint = job.beginPages;
  const PaperPair size = job.paperSize;
  const float W = static_cast<float>(size.a);
  const float H = static_cast<float>(size.b);

  PageIndex index;
  if (!bBuildPageIndex(in, &index, hint)) {
    FailIndex();
    vFreePageIndex(&index);
    return;
  }
  const int pageCount = index.count;

  // One output page per sheet side; a cgpdftops document always gets the
  // deferral.
  vWriteImposedDocumentStart(job, (int64_t{pageCount} + 1) / 2, true, in, out, &index);

  int totalCells = static_cast<int>((int64_t{pageCount} + 1) & ~int64_t{1});
  vRearrange2upWithBookletEveryCirculation(job, totalCells, 2, cellList, W, H, pageCount, in,
                                           index.offsets, out);

  std::fputs("userdict/showpage/ESPshowpage load put\n", out);
  vWriteTrailer(in, out, index.offsets, index.count);
  vFreePageIndex(&index);
}

void vRearrange2upWithBookletEveryCirculation(const JobRecord &job, int totalCells,
                                              int cellsPerSide, PageInfo *cellList, float W,
                                              float H, int pageCount, FILE *in,
                                              const int64_t *offsets, FILE *out) {
  if (totalCells < 1 || cellsPerSide < 1 || !cellList) return;

  const int border = job.borderType;
  const int front = job.frontCover;
  const int back = job.backCover;
  const int kind = job.bookletKind;
  const int orientation = bOrientationAppliedUpstream(job) ? 1 : job.orient;
  const bool rotate180 = job.rotate180 != 0;
  const bool landscape = IsLandscape(orientation);
  const bool covers = front != 0 || back != 0;
  const bool frontToBack = kind == 2 || kind == 3;
  const int coverKind = front != 0 ? kMediaKindFrontCover : kMediaKindBackCover;

  int position = 0;  // pages placed so far: their slot on the side
  int ordinal = 0;
  char label[kDscLineSize];

  for (int first = 0; first < totalCells && !giJobFailed; first += cellsPerSide) {
    // The outer sheet comes from the cover tray: first when written front to
    // back, last (its two sides) when written back to front.
    if (covers && ((frontToBack && first == 0) ||
                   (IsBackToFront(kind) && int64_t{first} + 2 >= int64_t{totalCells} - 2))) {
      WritePS_MediaPosition_BottomHalf(out, job, coverKind);
      WritePS_MediaType_InsertPage_BottomHalf(out, job, coverKind);
    }

    int cellOfSide = 0;
    for (PageInfo *cell = cellList; cell && cellOfSide < cellsPerSide;
         cell = cell->next, ++cellOfSide) {
      const int index = first + cell->pageNumber;
      const bool cellPlaced = (cell->flags & kPageInfoTransform) != 0;
      const double cellW = landscape ? H : W;
      const double cellH = landscape ? W : H;
      PageMedia media;
      if (bDocumentNeedsImposedProcs(job.filterType) && index >= 0 && index < pageCount)
        media = sFindPageMedia(in, offsets, index, pageCount);
      if (!cellPlaced && !media.setsSize) media = PageMedia{};
      std::memset(label, 0, sizeof label);
      if (index >= 0 && index < pageCount) vSeekPage(index, in, offsets, label);

      if (cell == cellList) {
        // The side's page comment names the booklet pages it carries: "(4,5)".
        std::memset(label, 0, sizeof label);
        size_t used = 0;
        label[used++] = '(';
        for (PageInfo *c = cell; c; c = (c->flags & kPageInfoAddNext) ? c->next : nullptr) {
          int n = std::snprintf(label + used, sizeof label - used - 1, "%s%d",
                                c == cell ? "" : ",", first + c->pageNumber);
          if (n < 0 || used + static_cast<size_t>(n) >= sizeof label - 2) break;
          used += static_cast<size_t>(n);
        }
        label[used] = ')';
        vWritePageHeader(label, &ordinal, out);
      }

      std::fputs("userdict/ESPsave save put\n", out);
      if (bDocumentNeedsImposedProcs(job.filterType))
        vWriteCellGuard(out, cellPlaced, media.setsSize);
      if (cell->flags & kPageInfoTransform) {
        std::fprintf(out, "%.1f %.1f translate\n", 12.0, 12.0);
        if (!landscape)
          std::fprintf(out, "%.1f %.1f translate %d rotate\n", 0.0, static_cast<double>(H) - 24.0,
                       -90);
        float tx = 0.0f, ty = 0.0f, scale = 1.0f;
        if (rotate180)
          vCreateOffsetWithNupR180(&tx, &ty, &scale, position, job);
        else
          vCreateOffsetWithNup(&tx, &ty, &scale, position, job);
        std::fprintf(out, "%.1f %.1f translate %.03f %.03f scale\n", static_cast<double>(tx),
                     static_cast<double>(ty), static_cast<double>(scale),
                     static_cast<double>(scale));
        std::fprintf(out, "0 0 %.1f %.1f ESPrc\n", static_cast<double>(landscape ? H : W),
                     static_cast<double>(landscape ? W : H));
      }
      bWritePageFit(out, media, cellW, cellH);
      if (index >= 0 && index < pageCount) {
        vWritePageBody(index, offsets, in, out);
        ++position;
      }
      if (border != 0) vWriteFrame(out, border, orientation, 2, W, H);
      std::fputs("userdict /ESPsave get restore\n", out);

      if (index % 2 == 1) {
        if (landscape)
          std::fprintf(out, "gsave\n%.1f %.1f translate %d rotate\nESPwl\ngrestore\nESPshowpage\n",
                       static_cast<double>(W), static_cast<double>(H), 180);
        else
          std::fprintf(out, "gsave\n%.1f %.1f translate %d rotate\nESPwl\ngrestore\nESPshowpage\n",
                       0.0, static_cast<double>(H), -90);
      }
    }

    // Front to back: the outer sheet's two sides are done, back to the body.
    if (covers && frontToBack && first == 2) {
      WritePS_MediaPosition_BottomHalf(out, job, kMediaKindRestore);
      WritePS_MediaType_InsertPage_BottomHalf(out, job, kMediaKindRestore);
    }
  }
}
