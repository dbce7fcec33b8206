// Poster jobs through the real filter: the tiles of every page, their
// placement and cut lines, covers and layouts, the rendered tiles, and the
// spool file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "ImposedOutput.h"
#include "job/JobRecord.h"
#include "impose/ImposePoster.h"

using imposetest::CellsOf;
using imposetest::Count;
using imposetest::LetterJob;
using imposetest::MarkedDocument;
using imposetest::Sides;
using Cells = std::vector<std::vector<int>>;

namespace {

// Placement of the four tiles of a "2x2" poster on a Letter sheet with
// 12-point margins: scales 2 x 612 / 636 and 2 x 792 / 816; tile t shows
// the top left, top right, bottom left and bottom right quarter in turn.
const char *const kTile2x2[4] = {
    "-0.0 -768.0 translate 1.925 1.941 scale\n0 0 612.0 792.0 ESPrc\n",
    "-588.0 -768.0 translate 1.925 1.941 scale\n0 0 612.0 792.0 ESPrc\n",
    "-0.0 -0.0 translate 1.925 1.941 scale\n0 0 612.0 792.0 ESPrc\n",
    "-588.0 -0.0 translate 1.925 1.941 scale\n0 0 612.0 792.0 ESPrc\n",
};
const char kTileStart[] = "userdict/ESPsave save put\n12.0 12.0 translate\n";
const char kPortraitClose[] =
    "userdict /ESPsave get restore\ngsave\n612.0 792.0 translate 180 rotate\nESPwl\ngrestore\n";
const char kCutLine[] =
    "gsave\n[2.5 2.5] 0 setdash\n0.12 setlinewidth 0 setgray newpath\n"
    "12.24 12.24 587.52 767.52 ESPrs\ngrestore\n";

// A printed cover shows the whole page within the sheet's margins: each of
// its quarters, near the sheet's corners and at its centre lines.
void ExpectWholePage(const imposetest::Image &image, int page) {
  const double at[4][2] = {{60, 720}, {550, 720}, {60, 50}, {550, 50}};
  for (int q = 0; q < 4; ++q) {
    for (const auto &[x, y] : {std::pair{at[q][0], at[q][1]},
                               std::pair{q % 2 ? 320.0 : 290.0, q < 2 ? 410.0 : 380.0}}) {
      int quarter = -1;
      EXPECT_EQ(image.PageAt(x, y, &quarter), page) << x << "," << y;
      EXPECT_EQ(quarter, q) << x << "," << y;
    }
  }
}

// The header's "%%Pages:" count, -1 without one.
int AnnouncedPages(const std::string &out) {
  const size_t at = out.find("\n%%Pages: ");
  return at == std::string::npos ? -1 : std::atoi(out.c_str() + at + 10);
}

Cells OnePageEach(std::vector<int> pages) {
  Cells cells;
  for (int p : pages) cells.push_back({p});
  return cells;
}

// One poster job: the document of `pages` marked pages printed with
// `options`, the page each side shows, and what each side's text holds.
struct PosterCase {
  const char *name;
  int pages;
  const char *options;
  Cells cells;
  std::string (*sideHas)(int side);
  // Further checks of the output and of its rendered sides (may be null).
  void (*checkOutput)(const std::string &out, const std::vector<imposetest::Side> &sides);
  void (*checkImages)(const std::vector<imposetest::Image> &images);
};

const PosterCase kPosterCases[] = {
    {"three pages 2x2", 3, "Combination=2x2", OnePageEach({0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2}),
     // Tile numbers run on across pages: the fifth tile is tile 0 again.
     [](int i) { return std::string(kTileStart) + kTile2x2[i % 4]; },
     [](const std::string &out, const std::vector<imposetest::Side> &sides) {
       for (size_t i = 0; i < sides.size(); ++i) {
         EXPECT_EQ(sides[i].label, "(p" + std::to_string(i / 4) + ")");
         EXPECT_EQ(sides[i].number, static_cast<int>(i) + 1);
         EXPECT_NE(sides[i].text.find(std::string(kPortraitClose) + "ESPshowpage\n"),
                   std::string::npos);
         EXPECT_EQ(Count(sides[i].text, "setdash"), 0);
       }
       EXPECT_LT(out.find("userdict/ESPshowpage/showpage load put\nuserdict/showpage{}put\n"),
                 out.find("/vtMarkedProlog"));
     },
     // Each sheet's centre shows its quarter of the page.
     [](const std::vector<imposetest::Image> &images) {
       for (size_t i = 0; i < images.size(); ++i) {
         int quarter = -1;
         EXPECT_EQ(images[i].PageAt(306, 396, &quarter), static_cast<int>(i) / 4) << "tile " << i;
         EXPECT_EQ(quarter, static_cast<int>(i) % 4) << "tile " << i;
       }
     }},
    // A printed back cover carries the document's last page, placed as a
    // printed front cover is (the whole page); that page is not tiled in the
    // body before it. It used to come out blank, after the page's tiles.
    {"printed back cover", 3,
     "Combination=2x2 BackCoverPage=True BackCoverOption=PrintedSingle BackCoverTray=Tray1",
     OnePageEach({0, 0, 0, 0, 1, 1, 1, 1, 2}),
     [](int i) { return std::string(i < 8 ? kTile2x2[i % 4] : ""); }, nullptr,
     [](const std::vector<imposetest::Image> &images) {
       if (images.size() == 9) ExpectWholePage(images[8], 2);
     }},
    // A printed front cover comes before any tile has been written: it shows
    // its whole page, and the body's tiles start from the first.
    {"printed front cover", 3,
     "Combination=2x2 FrontCoverPage=True FrontCoverOption=PrintedSingle FrontCoverTray=Tray2",
     OnePageEach({0, 1, 1, 1, 1, 2, 2, 2, 2}),
     [](int i) { return std::string(i > 0 ? kTile2x2[(i - 1) % 4] : ""); },
     // Tray 2 is the printer's position 0; one side only, not duplexed.
     [](const std::string &out, const std::vector<imposetest::Side> &) {
       EXPECT_LT(out.find("/MediaPosition 0>>setpagedevice"), out.find("%%Page:"));
       EXPECT_LT(out.find("<</Duplex false>>setpagedevice\n<</Tumble false>>setpagedevice\n"),
                 out.find("%%Page:"));
     },
     [](const std::vector<imposetest::Image> &images) {
       if (!images.empty()) ExpectWholePage(images[0], 0);
     }},
    // Reverse portrait is tiled as portrait: each tile shows its own quarter
    // of the page, at the tile's centre and at its corners inside the
    // margins. With the landscape steps half the page never printed.
    {"reverse portrait", 1, "Combination=2x2 orientation-requested=6", OnePageEach({0, 0, 0, 0}),
     [](int i) { return std::string(kTileStart) + kTile2x2[i]; }, nullptr,
     // The page's quarters are filled from 36 to 576 and 36 to 756; enlarged
     // about 1.93 times, each fills its tile from the inner corner out to the
     // page margin's image (about 70 points in from the sheet's outer edges).
     [](const std::vector<imposetest::Image> &images) {
       for (int i = 0; i < static_cast<int>(images.size()); ++i) {
         const double outerX = i % 2 == 0 ? 90 : 522, outerY = i < 2 ? 700 : 90;
         for (const auto &[x, y] : {std::pair{306.0, 396.0}, std::pair{outerX, outerY},
                                    std::pair{outerX, 396.0}, std::pair{306.0, outerY}}) {
           int quarter = -1;
           EXPECT_EQ(images[i].PageAt(x, y, &quarter), 0) << "tile " << i << " at " << x << "," << y;
           EXPECT_EQ(quarter, i) << "tile " << i << " at " << x << "," << y;
         }
       }
     }},
    // A landscape page is turned onto the sheet; its tiles step across the
    // sheet's long side and the sheet is closed in landscape terms.
    {"landscape", 1, "Combination=2x2 orientation-requested=4", OnePageEach({0, 0, 0, 0}),
     [](int i) {
       const char *const shifts[4] = {"-0.0 -1176.0", "-768.0 -1176.0", "-0.0 -588.0",
                                      "-768.0 -588.0"};
       return std::string(kTileStart) + "0.0 0.0 translate 90 rotate\n" + shifts[i] +
              " translate 1.925 1.941 scale\n0 0 792.0 612.0 ESPrc\n";
     },
     [](const std::string &, const std::vector<imposetest::Side> &sides) {
       for (const imposetest::Side &side : sides)
         EXPECT_NE(side.text.find("userdict /ESPsave get restore\ngsave\n0.0 -792.0 translate 90 "
                                  "rotate\nESPwl\ngrestore\nESPshowpage\n"),
                   std::string::npos);
     },
     nullptr},
    {"cut lines just inside the margins", 3, "Combination=2x2 VTBorderLine=True",
     OnePageEach({0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2}),
     [](int) { return std::string(kPortraitClose) + kCutLine + "ESPshowpage\n"; },
     [](const std::string &out, const std::vector<imposetest::Side> &) {
       EXPECT_EQ(Count(out, kCutLine), 12);
     },
     nullptr},
    {"rotate180 prints every tile unscaled", 3, "Combination=2x2 Rotate180=true",
     OnePageEach({0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2}),
     [](int) {
       return std::string(kTileStart) + "0.0 0.0 translate 1.000 1.000 scale\n0 0 612.0 792.0 ESPrc\n";
     },
     [](const std::string &out, const std::vector<imposetest::Side> &) {
       EXPECT_EQ(Count(out, " scale\n"), 12);
     },
     nullptr},
    // Interleave reprints each tile with its placement and number.
    {"interleave", 2, "Combination=1x2 OHPInterleave=True OHPInterOption=PrintedSingle OHPOpTray=Tray3",
     OnePageEach({0, 0, 0, 0, 1, 1, 1, 1}), nullptr,
     [](const std::string &, const std::vector<imposetest::Side> &sides) {
       for (size_t i = 0; i + 1 < sides.size(); i += 2) {
         EXPECT_EQ(sides[i].number, sides[i + 1].number);
         EXPECT_EQ(sides[i].number, static_cast<int>(i) / 2 + 1);
         // The reprint follows the interleave tray (Tray 3, position 1).
         EXPECT_NE(sides[i].text.find("/MediaPosition 1>>setpagedevice"), std::string::npos);
         std::string placed = sides[i].text.substr(sides[i].text.find("scale\n") - 40, 40);
         EXPECT_NE(sides[i + 1].text.find(placed), std::string::npos) << placed;
       }
     },
     // "1x2" turns the page across two sheets: its upper half on the first
     // tile, its lower half on the second; each reprint shows the same half.
     [](const std::vector<imposetest::Image> &images) {
       for (int i = 0; i < static_cast<int>(images.size()); ++i) {
         int quarter = -1;
         EXPECT_EQ(images[i].PageAt(306, 300, &quarter), i / 4) << "side " << i;
         EXPECT_EQ(quarter, (i / 2) % 2 == 0 ? 0 : 2) << "side " << i;
       }
     }},
    // A layout of no columns at all prints one page per sheet.
    {"layout of no columns", 2,
     "Combination=2x2 com.apple.print.PrintSettings.PMLayoutRows..n.=2 "
     "com.apple.print.PrintSettings.PMLayoutColumns..n.=0",
     OnePageEach({0, 0, 0, 0, 1, 1, 1, 1}), nullptr, nullptr, nullptr},
};

}  // namespace

// Every case: the pages on each side, the header counting every sheet side
// printed (not document pages), CUPS hearing of each side once, each side
// rendering, and no spool file left.
TEST(PosterJob, Layouts) {
  for (const PosterCase &c : kPosterCases) {
    SCOPED_TRACE(c.name);
    LetterJob job;
    FilterResult r = job.print(MarkedDocument(c.pages), c.options);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<imposetest::Side> sides = Sides(r.out);
    EXPECT_EQ(CellsOf(sides), c.cells);
    const int count = static_cast<int>(c.cells.size());
    ASSERT_EQ(static_cast<int>(sides.size()), count);
    for (int i = 0; c.sideHas && i < count; ++i)
      EXPECT_NE(sides[i].text.find(c.sideHas(i)), std::string::npos) << i << "\n" << sides[i].text;
    EXPECT_EQ(AnnouncedPages(r.out), count);
    EXPECT_EQ(Count(r.err, "PAGE: "), count) << r.err;
    EXPECT_TRUE(job.spoolFiles().empty());
    if (c.checkOutput) c.checkOutput(r.out, sides);
    std::vector<imposetest::Image> images = imposetest::Rendered(job, r.out);
    ASSERT_EQ(static_cast<int>(images.size()), count);
    if (c.checkImages) c.checkImages(images);
  }
}

// An N-up layout rounds the sheet count up; pages the document does not
// have are not tiled into blank sheets.
TEST(PosterJob, LayoutRoundingPrintsNoTilesForMissingPages) {
  LetterJob job;
  FilterResult r = job.print(MarkedDocument(3),
                             "Combination=2x2 com.apple.print.PrintSettings.PMLayoutRows..n.=1 "
                             "com.apple.print.PrintSettings.PMLayoutColumns..n.=2");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(AnnouncedPages(r.out), 12);
  EXPECT_EQ(CellsOf(Sides(r.out)), OnePageEach({0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2}));

  // Blank covers, both sides of each when duplexed, count as sides too.
  FilterResult covers = job.print(
      MarkedDocument(2), "Combination=1x2 VTDuplex=Duplex Binding=LongEdge FrontCoverPage=True "
                         "FrontCoverOption=BlankPrinter BackCoverPage=True "
                         "BackCoverOption=BlankPrinter");
  ASSERT_EQ(covers.status, 0) << covers.err;
  std::vector<imposetest::Image> images = imposetest::Rendered(job, covers.out);
  EXPECT_EQ(AnnouncedPages(covers.out), static_cast<int>(images.size()));
  EXPECT_GE(images.size(), 8u);
}

// The tile placement in its own right: positions below zero and the tile
// table's bounds.
TEST(PosterPlacement, ATilePositionBelowZeroShowsTheFirstTile) {
  // A 3x3 poster of a converter whose tiles follow the tile table, on a
  // Letter-sized custom sheet.
  cups_option_t *options = nullptr;
  int n = cupsParseOptions("Combination=3x3 media=Custom.612x792", 0, &options);
  JobRecord job;
  vReadJobRecord(&job, nullptr, n, options, nullptr, nullptr);
  job.filterType = kFilterCgpdftops;
  float tx0, ty0, sx0, sy0, tx, ty, sx, sy;
  vCreateOffsetWithPoster(&tx0, &ty0, &sx0, &sy0, 0, job);
  for (int position : {-1, -2, -9, -2147483647 - 1}) {
    vCreateOffsetWithPoster(&tx, &ty, &sx, &sy, position, job);
    EXPECT_EQ(tx, tx0);
    EXPECT_EQ(ty, ty0);
    EXPECT_EQ(sx, sx0);
    EXPECT_EQ(sy, sy0);
  }
  // Position 0 is the top left tile: shifted down by two printable heights.
  EXPECT_FLOAT_EQ(tx0, 0.0f);
  EXPECT_FLOAT_EQ(ty0, 2.0f * (24.0f - 792.0f));
  EXPECT_FLOAT_EQ(sx0, 3.0f * 612.0f / 636.0f);
  // The ninth position is the bottom right tile, the tenth the first again.
  vCreateOffsetWithPoster(&tx, &ty, &sx, &sy, 8, job);
  EXPECT_FLOAT_EQ(tx, 2.0f * (24.0f - 612.0f));
  EXPECT_FLOAT_EQ(ty, 0.0f);
  vCreateOffsetWithPoster(&tx, &ty, &sx, &sy, 9, job);
  EXPECT_EQ(tx, tx0);
  EXPECT_EQ(ty, ty0);
  cupsFreeOptions(n, options);
}

// Documents from other converters than cgpdftops and pictwpstops are tiled
// the same way: each tile shows its own part of the page, not one corner
// four times.
TEST(PosterJob, EveryConverterGetsEveryTile) {
  for (const char *creator : {"pstops", "pdftops", "texttops"}) {
    SCOPED_TRACE(creator);
    LetterJob job;
    FilterResult r = job.print(MarkedDocument(1, creator), "Combination=2x2");
    ASSERT_EQ(r.status, 0) << r.err;
    size_t at = 0;
    for (const char *tile : kTile2x2) {
      at = r.out.find(tile, at);
      EXPECT_NE(at, std::string::npos) << tile;
      if (at == std::string::npos) break;
      ++at;
    }
  }
}

// A page wider than tall, as ps2write and pdftops write it (its
// "%%PageBoundingBox:" says 792 x 612), printed without an orientation:
// over all tiles, each quarter of the page covers about the same area.
// Tiled upright, the right third of the page never printed.
TEST(PosterJob, WidePageWithoutOrientationIsTiledWhole) {
  // MarkedDocument's page turned onto a 792 x 612 page.
  auto wide = [](const char *creator) {
    std::string doc = MarkedDocument(1, creator);
    return doc.insert(doc.find("(page-marker"),
                      "%%PageBoundingBox: 0 0 792 612\n0 612 translate -90 rotate\n");
  };
  // A page that sets its size itself, as CUPS's pstops passes it on; its
  // box is pstops's printable area of the queue's upright sheet.
  std::string sized = MarkedDocument(1, "pstops");
  sized.insert(sized.find("(page-marker"), "%%PageBoundingBox: 12 12 600 780\n"
                                           "<</PageSize[792 612]>>setpagedevice\n"
                                           "0 612 translate -90 rotate\n");
  for (const auto &[creator, layout, tiles] :
       {std::tuple{"GPL Ghostscript 10000 (ps2write)", "Combination=2x2", 4u},
        std::tuple{"pdftops", "Combination=2x2", 4u}, std::tuple{"pdftops", "Combination=1x2", 2u},
        // A printed cover shows the whole page, turned.
        std::tuple{"pdftops", "Combination=2x2 FrontCoverPage=True FrontCoverOption=PrintedSingle",
                   1u},
        std::tuple{"", "Combination=2x2", 4u}, std::tuple{"", "Combination=1x2", 2u}}) {
    SCOPED_TRACE(std::string(creator) + " " + layout);
    LetterJob job;
    FilterResult r = job.print(*creator ? wide(creator) : sized, layout);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<imposetest::Image> images = imposetest::Rendered(job, r.out);
    ASSERT_EQ(images.size(), tiles);
    long area[4] = {0, 0, 0, 0};
    for (const imposetest::Image &image : images)
      for (double y = 0; y < 792; y += 2)
        for (double x = 0; x < 612; x += 2) {
          int quarter = -1;
          if (image.PageAt(x, y, &quarter) == 0 && quarter >= 0 && quarter < 4) ++area[quarter];
        }
    const long most = *std::max_element(area, area + 4);
    for (int q = 0; q < 4; ++q) EXPECT_GT(area[q] * 10, most * 9) << "quarter " << q;
  }
  // CUPS's pdftopdf and pstops apply "orientation-requested" before this
  // filter: the page comes turned onto the upright sheet already (pstops's
  // box still says how the document lay). Turned once more, part of it
  // never printed. The macOS dialog's orientation is the filter's own.
  std::string tall = MarkedDocument(1, "pdftops");
  tall.insert(tall.find("(page-marker"), "%%PageBoundingBox: 0 0 612 792\n");
  // A box that gives the ink, wider than tall, on a page whose media is
  // upright: the media tells how the page lies.
  std::string inked = MarkedDocument(1, "pdftops");
  inked.insert(inked.find("(page-marker"), "%%PageBoundingBox: 36 300 576 420\n");
  std::string inkedMedia = inked;
  inkedMedia.insert(inkedMedia.find("%%Pages:"), "%%DocumentMedia: Letter 612 792 0 () ()\n");
  std::string inkedSize = inked;
  inkedSize.insert(inkedSize.find("(page-marker"), "<</PageSize[612 792]>>setpagedevice\n");
  const std::string macLandscape =
      "com.apple.print.subTicket.page_format_ticket..d.com.apple.print.PageFormat.PMOrientation..n.=2";
  for (const auto &[doc, layout, turned] :
       {std::tuple{wide("pdftops"), std::string("orientation-requested=3"), 0},
        std::tuple{wide("pdftops"), std::string("orientation-requested=4"), 0},
        std::tuple{tall, std::string("orientation-requested=4"), 0},
        std::tuple{tall, std::string("orientation-requested=5"), 0},
        std::tuple{tall, macLandscape, 4}, std::tuple{inked, std::string(), 4},
        std::tuple{inkedMedia, std::string(), 0}, std::tuple{inkedSize, std::string(), 0},
        std::tuple{sized, std::string(), 4}}) {
    SCOPED_TRACE(layout);
    LetterJob job;
    FilterResult r = job.print(doc, "Combination=2x2 " + layout);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Count(r.out, "0.0 0.0 translate 90 rotate\n"), turned);
    if (turned == 0) {
      EXPECT_NE(r.out.find(kTile2x2[0]), std::string::npos);
    }
  }
}
