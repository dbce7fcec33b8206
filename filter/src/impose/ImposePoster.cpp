// Poster imposition: each page of spool file A enlarged over several tiles,
// with covers, interleave sheets and cut lines, written to standard output.
#include "impose/ImposePoster.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <initializer_list>

#include "impose/CoverPages.h"
#include "impose/DscIndex.h"
#include "job/JobRecord.h"
#include "output/Filter_Debug.h"
#include "impose/ImposeBooklet.h"
#include "impose/ImposeNup.h"
#include "impose/ImposeShowpage.h"
#include "impose/PageMedia.h"
#include "impose/UnpagedDocument.h"
#include "jobticket/JobTicketAccess.h"
#include "setup/PSGeometry.h"
#include "output/SpoolUtil.h"

namespace {

bool IsLandscape(int orientation) { return orientation == 2 || orientation == 4; }


// How page pageIndex lies by its "%%PageBoundingBox:" comment (Ghostscript,
// poppler and pstops write one after every "%%Page:" line), else by the
// document's "%%BoundingBox:": 1 wider than tall, 0 not, -1 no box found.
// Leaves the file position anywhere: the caller seeks the page afterwards.
int PageLie(FILE *in, const int64_t *offsets, int pageIndex, int pageCount) {
  double llx = 0, lly = 0, urx = 0, ury = 0;
  char line[kDscLineSize];
  bool found = false;
  if (pageIndex >= 0 && pageIndex < pageCount && fseeko(in, offsets[pageIndex], SEEK_SET) == 0) {
    // The page's comments come first: read them up to the first line of
    // code or the end of the page setup.
    for (int i = 0; i < 64 && !found && ftello(in) < offsets[pageIndex + 1] &&
                    std::fgets(line, sizeof line, in);
         ++i) {
      if (i > 0 && line[0] != '%') break;
      if (std::strncmp(line, "%%EndPageSetup", 14) == 0) break;
      found = std::sscanf(line, "%%%%PageBoundingBox: %lf %lf %lf %lf", &llx, &lly, &urx, &ury) == 4;
    }
  }
  if (!found && fseeko(in, 0, SEEK_SET) == 0) {
    for (int i = 0; i < 64 && !found && std::fgets(line, sizeof line, in); ++i) {
      if (std::strncmp(line, "%%EndComments", 13) == 0) break;
      found = std::sscanf(line, "%%%%BoundingBox: %lf %lf %lf %lf", &llx, &lly, &urx, &ury) == 4;
    }
  }
  return found ? urx - llx > ury - lly : -1;
}

// Document pages a printed cover carries: one for Single, two for Double.
int PrintedCoverPages(int coverCode) {
  return coverCode == kCoverSingle ? 1 : coverCode == kCoverDouble ? 2 : 0;
}

// Tray and media selection for the coming sheets of a media kind.
void SelectMedia(FILE *out, const JobRecord &job, int kind) {
  WritePS_MediaPosition_BottomHalf(out, job, kind);
  WritePS_MediaType_InsertPage_BottomHalf(out, job, kind);
}

// The end of the pages tiled as body pages: pages past the end of the
// document (an N-up layout rounds the sheet count up) have nothing to tile,
// and a printed back cover's pages are not tiled before it.
int LastTiledPage(int totalPages, int pageCount, int backCover) {
  int lastPage = totalPages < pageCount ? totalPages : pageCount;
  const int backFirst = pageCount - PrintedCoverPages(backCover);
  if (PrintedCoverPages(backCover) > 0 && lastPage > backFirst)
    lastPage = backFirst < 0 ? 0 : backFirst;
  return lastPage;
}

// Sheet sides the page loop writes: covers, every tile and the interleave
// sheet after each. The header's "%%Pages:" says this number.
int64_t PosterSheetSides(const JobRecord &job, int backCover, int totalPages, int pageCount,
                         int tilesPerPage) {
  const int front = job.frontCover;
  const int duplex = job.duplex;
  const int interleave = job.interleave;
  const int coverSides = duplex == 2 || duplex == 3 ? 2 : 1;
  int64_t sides = front == kCoverBlank ? coverSides : 0;
  const int lastPage = LastTiledPage(totalPages, pageCount, backCover);
  if (totalPages > 0 && lastPage > 0) {
    const int frontPages = PrintedCoverPages(front);
    sides += frontPages;
    const int64_t body = lastPage > frontPages ? lastPage - frontPages : 0;
    sides += body * tilesPerPage * (interleave == 1 || interleave == 2 ? 2 : 1);
  }
  if (backCover != kCoverNone) {
    if (job.emptyPageWithBackCover) ++sides;
    sides += backCover == kCoverBlank ? coverSides : PrintedCoverPages(backCover);
  }
  return sides;
}

}  // namespace

int iPosterTilesPerPage(int posterKind) {
  switch (posterKind) {
    case 1: return 2;
    case 2: return 4;
    case 3: return 9;
    case 4: return 16;
    default: return 1;
  }
}

void vConvertPoster(const JobRecord &jobIn) {
  // What is learnt of the document below (a Ghostscript rewrite) goes into
  // the imposition's own copy of the record.
  JobRecord job = jobIn;
  const int hint = job.beginPages;
  const int back = job.backCover;
  const int border = job.borderType;
  // A faces value below one (a rows or columns option of "0") would divide
  // by zero below; such a layout prints one page per sheet.
  int faces = job.nupFaces;
  if (faces < 1) faces = 1;
  const PaperPair size = job.paperSize;
  const int tiles = iPosterTilesPerPage(job.posterKind);

  FILE *in = cpSpoolFileAwithPID ? std::fopen(cpSpoolFileAwithPID, "rb") : nullptr;
  if (!in) {
    int err = errno;
    vErrorMessage("[Filter] - <FATAL> can't open input file \n");
    vDebugMessage("spool file %s: %s", cpSpoolFileAwithPID ? cpSpoolFileAwithPID : "(no name)",
                  std::strerror(err));
    giJobFailed = 1;
    return;
  }
  FILE *out = stdout;

  PageIndex index;
  if (!bBuildPageIndex(in, &index, hint)) {
    if (!giJobFailed) vErrorMessage("[Filter] - <FATAL> can't index the spooled document\n");
    giJobFailed = 1;
    vFreePageIndex(&index);
    std::fclose(in);
    return;
  }
  // A document whose pages cannot be told apart is paged by Ghostscript
  // first; one that stays so prints whole.
  std::string why;
  bPageUnpagedDocument(in, &index, hint, cpSpoolFileAwithPID, job, &why, &job);
  if (bPrintedWholeWithoutPages(&index, in, out, "poster", why.c_str())) {
    vFreePageIndex(&index);
    std::fclose(in);
    bCheckImposedStream(out, "standard output");
    return;
  }
  const int pageCount = index.count;
  const int64_t sheets = (int64_t{faces} + pageCount - 1) / faces;
  const int64_t totalPages = sheets * faces;
  const int loopPages = static_cast<int>(totalPages > INT32_MAX ? INT32_MAX : totalPages);

  // The header counts every sheet side the job prints, covers, tiles and
  // interleave sheets alike; the trailer repeats it.
  const int64_t sides = PosterSheetSides(job, back, loopPages, pageCount, tiles);
  vWriteImposedDocumentStart(job, sides, faces == 1 && border == 0, in, out, &index);

  vConvertPosterEveryCirculation(job, back, out, loopPages, pageCount, in, index.offsets, tiles,
                                 static_cast<float>(size.a), static_cast<float>(size.b));

  if (job.filterType == kFilterPictwpstops)
    std::fputs("userdict/showpage/ESPshowpage load put\n", out);
  vWriteTrailer(in, out, index.offsets, index.count);
  vFreePageIndex(&index);
  std::fclose(in);
  bCheckImposedStream(out, "standard output");
}

void vConvertPosterEveryCirculation(const JobRecord &job, int backCover, FILE *out, int totalPages,
                                    int pageCount, FILE *in, const int64_t *offsets,
                                    int tilesPerPage, float W, float H) {
  const int front = job.frontCover;
  const int duplex = job.duplex;
  const int interleave = job.interleave;
  const bool twoSided = duplex == 2 || duplex == 3;

  int pagesWritten = 0;
  int callCount = 0;
  int ordinal = 0;

  // A blank front cover: an empty sheet (both sides when duplex) from the
  // front cover tray before anything else.
  if (front == kCoverBlank) {
    SelectMedia(out, job, kMediaKindFrontCover);
    vAddEmptyPage(out);
    if (twoSided) vAddEmptyPage(out);
    SelectMedia(out, job, kMediaKindRestore);
  }

  const int lastPage = LastTiledPage(totalPages, pageCount, backCover);
  // A printed back cover carries the document's last pages.
  const int backPages = PrintedCoverPages(backCover);
  const int backFirst = pageCount - backPages;
  int pageIndex = 0;
  bool frontCoverDone = false;
  while (totalPages > 0 && pageIndex < lastPage && !giJobFailed) {
    if ((front == kCoverSingle || front == kCoverDouble) && !frontCoverDone) {
      frontCoverDone = true;
      SelectMedia(out, job, kMediaKindFrontCover);
      WritePS_ModifyToCoverPageDuplex_BottomHalf(out, job, front);
      const int k = PrintedCoverPages(front);
      for (int i = 0; i < k; ++i)
        vPrintPosterPage(pageCount, in, out, job, offsets, &pagesWritten, &callCount, &ordinal,
                         pageIndex + i, W, H, true);
      pageIndex += k;
      SelectMedia(out, job, kMediaKindRestore);
      WritePS_RestoreDuplex_BottomHalf(out, job);
      if (pageIndex >= lastPage) break;
    }

    // The reprint of an interleave sheet runs on counters of its own that
    // follow the tiles, so it repeats each tile's position and page number.
    int reprintWritten = pagesWritten;
    int reprintCalls = callCount;
    int reprintOrdinal = ordinal;
    for (int t = 0; t < tilesPerPage && !giJobFailed; ++t) {
      vPrintPosterPage(pageCount, in, out, job, offsets, &pagesWritten, &callCount, &ordinal,
                       pageIndex, W, H);
      if (interleave == 1 || interleave == 2) {
        SelectMedia(out, job, kMediaKindInterleave);
        if (interleave == 2)
          vPrintPosterPage(pageCount, in, out, job, offsets, &reprintWritten, &reprintCalls,
                           &reprintOrdinal, pageIndex, W, H);
        else
          vAddEmptyPage(out);
        SelectMedia(out, job, kMediaKindRestore);
      }
    }
    ++pageIndex;
  }

  if (backCover != kCoverNone && !giJobFailed) {
    if (job.emptyPageWithBackCover) vAddEmptyPage(out);
    SelectMedia(out, job, kMediaKindBackCover);
    if (backCover == kCoverBlank) {
      vAddEmptyPage(out);
      if (twoSided) vAddEmptyPage(out);
    } else if (backCover == kCoverSingle || backCover == kCoverDouble) {
      WritePS_ModifyToCoverPageDuplex_BottomHalf(out, job, backCover);
      // Placed as the front cover is: the whole page on the sheet.
      for (int i = 0; i < backPages; ++i) {
        int coverPosition = PrintedCoverPages(front) - 1;
        vPrintPosterPage(pageCount, in, out, job, offsets, &coverPosition, &callCount, &ordinal,
                         backFirst + i, W, H, true);
      }
    }
    SelectMedia(out, job, kMediaKindRestore);
    if (backCover == kCoverSingle || backCover == kCoverDouble)
      WritePS_RestoreDuplex_BottomHalf(out, job);
  }
}

void vPrintPosterPage(int pageCount, FILE *in, FILE *out, const JobRecord &job,
                      const int64_t *offsets, int *pagesWritten, int *callCount, int *ordinal,
                      int pageIndex, float W, float H, bool wholePage) {
  const bool hasBody = pageIndex >= 0 && pageIndex < pageCount;
  const int kind = job.posterKind;
  const int orientation = job.orient;
  // A page wider than tall is tiled as a landscape page: tiled upright its
  // right part never printed. A page with a box came through CUPS's
  // converters, which apply "orientation-requested" before this filter:
  // pdftopdf and pstops have turned it onto the upright sheet already
  // (pstops's box still says how the document lay), so it is tiled
  // upright; turned once more, part of it never printed.
  // The page's media size, where the document states it, tells how it lies;
  // the bounding box (which may be the ink's) only when it states none.
  PageMedia media;
  if (bDocumentNeedsImposedProcs(job.filterType) && hasBody)
    media = sFindPageMedia(in, offsets, pageIndex, pageCount);
  int lie = -1;
  if (!job.macOrientationGiven && hasBody) {
    lie = media.found() ? media.width > media.height
                        : PageLie(in, offsets, pageIndex, pageCount);
    if (lie >= 0 && job.orientationRequested) lie = 0;
  }
  const bool landscape = lie < 0 ? IsLandscape(orientation) : lie == 1;
  const double cellW = landscape ? H : W;
  const double cellH = landscape ? W : H;

  char label[kDscLineSize];
  std::memset(label, 0, sizeof label);
  if (hasBody) vSeekPage(pageIndex, in, offsets, label);
  vWritePageHeader(label, ordinal, out);
  ++*callCount;

  std::fputs("userdict/ESPsave save put\n", out);
  if (bDocumentNeedsImposedProcs(job.filterType))
    vWriteCellGuard(out, true, media.setsSize);
  std::fprintf(out, "%.1f %.1f translate\n", 12.0, 12.0);
  float tx = 0.0f, ty = 0.0f, sx = 1.0f, sy = 1.0f;
  if (wholePage) {
    // A printed cover shows the whole page inside the sheet's margins,
    // turned when it lies on its side, not one tile of it.
    if (landscape) std::fprintf(out, "%.1f %.1f translate %d rotate\n", 0.0, 0.0, 90);
    const PaperPair margin = job.paperMargin;
    const float across = W - 2.0f * static_cast<float>(margin.a);
    const float up = H - 2.0f * static_cast<float>(margin.b);
    sx = sy = std::min(across / W, up / H);
    if (landscape) ty = -across;
  } else {
    if ((kind == 1 && !landscape) || (kind >= 2 && kind <= 4 && landscape))
      std::fprintf(out, "%.1f %.1f translate %d rotate\n", 0.0, 0.0, 90);
    const int position = *pagesWritten - PrintedCoverPages(job.frontCover);
    if (!job.rotate180) vCreateOffsetWithPoster(&tx, &ty, &sx, &sy, position, job, lie);
  }
  std::fprintf(out, "%.1f %.1f translate %.03f %.03f scale\n", static_cast<double>(tx),
               static_cast<double>(ty), static_cast<double>(sx), static_cast<double>(sy));
  std::fprintf(out, "0 0 %.1f %.1f ESPrc\n", static_cast<double>(landscape ? H : W),
               static_cast<double>(landscape ? W : H));
  bWritePageFit(out, media, cellW, cellH);

  if (hasBody) {
    vWritePageBody(pageIndex, offsets, in, out);
    ++*pagesWritten;
  }
  std::fputs("userdict /ESPsave get restore\n", out);

  const double closeX = landscape ? 0.0 : static_cast<double>(W);
  const double closeY = landscape ? -static_cast<double>(H) : static_cast<double>(H);
  const int angle = landscape ? 90 : 180;
  if (job.borderLine) {
    std::fprintf(out, "gsave\n%.1f %.1f translate %d rotate\nESPwl\ngrestore\n", closeX, closeY,
                 angle);
    const PaperPair margin = job.paperMargin;
    vWriteFramePoster(out, 5, W, H, static_cast<float>(margin.a), static_cast<float>(margin.b));
    std::fputs("ESPshowpage\n", out);
  } else {
    std::fprintf(out, "gsave\n%.1f %.1f translate %d rotate\nESPwl\ngrestore\nESPshowpage\n",
                 closeX, closeY, angle);
  }
}

void vCreateOffsetWithPoster(float *tx, float *ty, float *sx, float *sy, int position,
                             const JobRecord &job, int lie) {
  // A printed front cover comes here before any body tile, with a position
  // below zero; it shows the first tile.
  if (position < 0) position = 0;

  const PaperPair size = job.paperSize;
  const PaperPair margin = job.paperMargin;
  const float W = static_cast<float>(size.a);
  const float H = static_cast<float>(size.b);
  const float mx = static_cast<float>(margin.a);
  const float my = static_cast<float>(margin.b);

  const int kind = job.posterKind;
  const int orientation = job.orient;
  const bool landscape = lie < 0 ? IsLandscape(orientation) : lie == 1;
  const bool odd = position % 2 == 1;

  if (kind == 1) {
    float X = 1.0f;
    float Y = 1.0f;
    if (landscape) {
      *sx = W / (W + 2.0f * mx) * (2.0f * W / H);
      *sy = H / (H + 2.0f * my) * (H / W);
      Y = odd ? 2.0f : 1.0f;
      *tx = (2.0f * mx - W) * (Y - 1.0f);
      *ty = 0.0f;
    } else {
      *sx = H / (H + 2.0f * my) * (H / W);
      *sy = W / (W + 2.0f * mx) * (2.0f * W / H);
      // Every other converter's pages stand like cgpdftops ones; giving
      // them X = 1 for both halves printed the same half twice.
      if (job.filterType == kFilterPictwpstops)
        X = odd ? 2.0f : 1.0f;
      else
        X = odd ? 1.0f : 2.0f;
      *tx = 0.0f;
      *ty = (2.0f * mx - W) * X;
    }
    return;
  }

  float X = 1.0f;
  float Y = 1.0f;
  if (kind >= 2 && kind <= 4) {
    const int n = kind;
    *sx = static_cast<float>(n) * W / (2.0f * mx + W);
    *sy = static_cast<float>(n) * H / (2.0f * my + H);
    // Upright, the tiles run along each row from the left, rows from the top.
    // This holds whatever converter made the document: with X = Y = 1 for
    // the others every tile showed the same corner of the page.
    const int t = position % (n * n);
    X = static_cast<float>(n - t / n);
    Y = static_cast<float>(t % n + 1);
  } else {
    *sx = 1.0f;
    *sy = 1.0f;
  }
  // Reverse portrait (3) tiles as portrait does: with the landscape steps
  // its tiles covered about half of the page.
  if (!landscape) {
    *tx = (2.0f * mx - W) * (Y - 1.0f);
    *ty = (2.0f * my - H) * (X - 1.0f);
  } else {
    *tx = (2.0f * my - H) * (Y - 1.0f);
    *ty = (2.0f * mx - W) * X;
  }
}

void vWriteFramePoster(FILE *out, int style, float W, float H, float mx, float my) {
  const float width = 0.12f;
  const float x = mx + 0.24f;
  const float y = my + 0.24f;
  const float w = W - 2.0f * x;
  const float h = H - 2.0f * y;
  if (style == 5) {
    std::fprintf(out,
                 "gsave\n[2.5 2.5] 0 setdash\n%.2f setlinewidth 0 setgray newpath\n"
                 "%.2f %.2f %.2f %.2f ESPrs\ngrestore\n",
                 static_cast<double>(width), static_cast<double>(x), static_cast<double>(y),
                 static_cast<double>(w), static_cast<double>(h));
  } else if (style == 1 || style == 3) {
    std::fprintf(out,
                 "gsave\n%.2f setlinewidth 0 setgray newpath\n%.2f %.2f %.2f %.2f ESPrs\ngrestore\n",
                 static_cast<double>(width), static_cast<double>(x), static_cast<double>(y),
                 static_cast<double>(w), static_cast<double>(h));
  }
}
