// Imposed jobs rendered by Ghostscript: every page of the document paints
// its own grey over its whole cell, and the rendered sheets are probed at
// the centre of each cell and measured at its edges. The renderer has
// nothing resident but the printer's own procedure set.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "FilterRunner.h"
#include "ImposedOutput.h"

namespace {

using imposetest::LetterJob;

constexpr int kDpi = 18;

const std::string kRows = "com.apple.print.PrintSettings.PMLayoutRows..n.=";
const std::string kColumns = "com.apple.print.PrintSettings.PMLayoutColumns..n.=";
const std::string kNup4 = kRows + "2 " + kColumns + "2 ";
const std::string kPrintedCover = "FrontCoverPage=True FrontCoverOption=PrintedSingle FrontCoverTray=Tray1";

std::string Total(int pages) {
  return "com.apple.print.PrintSettings.PMTotalBeginPages..n.=" + std::to_string(pages) + " ";
}

// Page i (from 1) fills its clip with grey level i / 10.
std::string GreyDocument(int pages) {
  std::string doc =
      "%!PS-Adobe-3.0\n%%Creator: render test\n%%Pages: " + std::to_string(pages) +
      "\n%%EndComments\n%%BeginProlog\n/paint { setgray clippath fill } bind def\n%%EndProlog\n"
      "%%BeginSetup\n%%EndSetup\n";
  for (int i = 1; i <= pages; ++i) {
    doc += "%%Page: " + std::to_string(i) + " " + std::to_string(i) + "\n";
    doc += "0." + std::to_string(i) + " paint\nshowpage\n";
  }
  return doc + "%%Trailer\n%%EOF\n";
}

struct Image {
  int width = 0, height = 0;
  std::vector<unsigned char> pixels;
  // Grey value at a point given in points from the sheet's lower left corner.
  int at(double x, double y) const {
    const int px = static_cast<int>(x * kDpi / 72.0);
    const int py = height - 1 - static_cast<int>(y * kDpi / 72.0);
    return pixels.at(static_cast<size_t>(py) * width + px);
  }
};

bool ReadPgm(const std::string &path, Image *image) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  in >> magic;
  if (magic != "P5") return false;
  auto next = [&in]() {
    in >> std::ws;
    while (in.peek() == '#') {
      std::string comment;
      std::getline(in, comment);
      in >> std::ws;
    }
    int v = 0;
    in >> v;
    return v;
  };
  image->width = next();
  image->height = next();
  const int maxval = next();
  in.get();
  if (maxval != 255 || image->width <= 0 || image->height <= 0) return false;
  image->pixels.resize(static_cast<size_t>(image->width) * image->height);
  in.read(reinterpret_cast<char *>(image->pixels.data()),
          static_cast<std::streamsize>(image->pixels.size()));
  return static_cast<bool>(in);
}

bool HaveGhostscript() { return system("gs --version > /dev/null 2>&1") == 0; }

// Renders the PostScript part of the filter's output after the prelude and
// returns the sheets; an interpreter that fails or reports an error is a
// test failure. `paper` names the paper the printer has loaded
// (Ghostscript's default when empty).
std::vector<Image> Render(const FilterJob &job, const std::string &filterOutput,
                          const std::string &paper = std::string()) {
  // The PostScript document runs from "%!" to the end-of-job PJL, if any.
  const size_t start = filterOutput.find("%!");
  EXPECT_NE(start, std::string::npos) << filterOutput;
  if (start == std::string::npos) return {};
  std::string ps = filterOutput.substr(start);
  const size_t uel = ps.find("\x1b%-12345X");
  if (uel != std::string::npos) ps.resize(uel);
  const std::string psPath = job.writeFile("imposed.ps", ps);
  const std::string command = "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pgmraw -r" +
                              std::to_string(kDpi) +
                              (paper.empty() ? "" : " -sPAPERSIZE=" + paper) + " -sOutputFile=" + job.dir() +
                              "/sheet%03d.pgm " + VT_SOURCE_DIR "/filter/tests/impose/prelude.ps " +
                              psPath + " > " + job.dir() + "/gs.log 2>&1";
  const int status = system(command.c_str());
  const std::string log = ReadFile(job.dir() + "/gs.log");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::vector<Image> sheets;
  for (int i = 1;; ++i) {
    char name[32];
    snprintf(name, sizeof name, "/sheet%03d.pgm", i);
    Image image;
    if (!ReadPgm(job.dir() + name, &image)) break;
    sheets.push_back(std::move(image));
  }
  return sheets;
}

// Prints the document with the options (the output in *result when given)
// and renders it; a failed job is a test failure and gives no sheets.
std::vector<Image> PrintAndRender(const FilterJob &job, const std::string &doc,
                                  const std::string &options, const std::string &paper = std::string(),
                                  FilterResult *result = nullptr) {
  const FilterResult r = job.print(doc, options);
  EXPECT_EQ(r.status, 0) << r.err;
  if (result) *result = r;
  return r.status == 0 ? Render(job, r.out, paper) : std::vector<Image>{};
}

int Grey(int page) { return (255 * page + 5) / 10; }

// Where the pixels of page `page`'s grey lie on a sheet, in points from its
// lower left corner; empty (left > right) when the page does not show.
struct Extent {
  double left = 1e9, bottom = 1e9, right = -1, top = -1;
  double area() const { return right < left ? 0 : (right - left) * (top - bottom); }
};
Extent ExtentOf(const Image &sheet, int page) {
  Extent e;
  const double pt = 72.0 / kDpi;
  for (int y = 0; y < sheet.height; ++y)
    for (int x = 0; x < sheet.width; ++x)
      if (std::abs(sheet.pixels[static_cast<size_t>(y) * sheet.width + x] - Grey(page)) <= 3) {
        e.left = std::min(e.left, x * pt);
        e.right = std::max(e.right, (x + 1) * pt);
        e.bottom = std::min(e.bottom, (sheet.height - 1 - y) * pt);
        e.top = std::max(e.top, (sheet.height - y) * pt);
      }
  return e;
}


// Centre of a 4-up cell on Letter with 12-point margins: cells are
// 0.48 x (612 x 792) = 293.76 x 380.16 points.
double CellX(int col) { return 12.0 + (col - 0.5) * 293.76; }
double CellY(int row) { return 12.0 + (row - 0.5) * 380.16; }

// Pages 1..last fill the 4-up cells of the sheet left to right, then down,
// each whole and no more: 293.76 x 380.16 points from the 12-point margins.
void ExpectFourUpCells(const Image &sheet, int last) {
  const double slack = 2 * 72.0 / kDpi;
  for (int page = 1; page <= last; ++page) {
    const Extent e = ExtentOf(sheet, page);
    const int col = page % 2 == 1 ? 1 : 2, row = page <= 2 ? 2 : 1;
    EXPECT_NEAR(e.left, 12 + 293.76 * (col - 1), slack) << "page " << page;
    EXPECT_NEAR(e.right, 12 + 293.76 * col, slack) << "page " << page;
    EXPECT_NEAR(e.bottom, 12 + 380.16 * (row - 1), slack) << "page " << page;
    EXPECT_NEAR(e.top, 12 + 380.16 * row, slack) << "page " << page;
  }
}

class NupRendering : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveGhostscript()) GTEST_SKIP() << "Ghostscript not installed";
  }
  LetterJob job_;
};

TEST_F(NupRendering, FourUpWithBlankInterleaveSheets) {
  const std::vector<Image> sheets = PrintAndRender(
      job_, GreyDocument(6),
      kNup4 + Total(6) + "OHPInterleave=True OHPInterOption=BlankPrinter OHPOpTray=Tray2");
  ASSERT_EQ(sheets.size(), 4u);
  // Sheet 1: pages 1-4 left to right, then down. Sheet 3: pages 5, 6 on top.
  const struct {
    size_t sheet;
    int col, row, page;  // page 0: paper white
  } probes[] = {{0, 1, 2, 1}, {0, 2, 2, 2}, {0, 1, 1, 3}, {0, 2, 1, 4},
                {2, 1, 2, 5}, {2, 2, 2, 6}, {2, 1, 1, 0}, {2, 2, 1, 0}};
  for (const auto &p : probes) {
    const int expected = p.page ? Grey(p.page) : 255;
    EXPECT_NEAR(sheets[p.sheet].at(CellX(p.col), CellY(p.row)), expected, 3)
        << "sheet " << p.sheet + 1 << " cell " << p.col << "," << p.row;
  }
  ExpectFourUpCells(sheets[0], 4);
  // The interleave sheets are blank.
  for (size_t s : {1u, 3u})
    for (int col = 1; col <= 2; ++col)
      for (int row = 1; row <= 2; ++row) EXPECT_EQ(sheets[s].at(CellX(col), CellY(row)), 255);
}

// Three pages to a side (1 x 3) have no layout of their own: they take the
// first three cells of the 4-up layout, each whole, none on top of another.
TEST_F(NupRendering, ThreeToASideTakeTheFourUpCells) {
  const std::vector<Image> sheets = PrintAndRender(
      job_, GreyDocument(3),
      kRows + "1 " + kColumns + "3 " + Total(3) +
          "OHPInterleave=True OHPInterOption=BlankPrinter OHPOpTray=Tray2");
  ASSERT_GE(sheets.size(), 1u);
  ExpectFourUpCells(sheets[0], 3);
  EXPECT_EQ(sheets[0].at(CellX(2), CellY(1)), 255);
}

TEST_F(NupRendering, RotatedFourUpWithAPrintedFrontCover) {
  const std::vector<Image> sheets = PrintAndRender(
      job_, GreyDocument(5),
      kNup4 + Total(5) +
          "Rotate180=True FrontCoverPage=True FrontCoverOption=PrintedSingle FrontCoverTray=Tray1");
  ASSERT_EQ(sheets.size(), 2u);
  // The cover carries page 1 over the whole sheet.
  EXPECT_NEAR(sheets[0].at(306, 396), Grey(1), 3);
  EXPECT_NEAR(sheets[0].at(100, 700), Grey(1), 3);
  // The body turned by 180 degrees: page 2 bottom right, then right to left
  // and up.
  const struct {
    int col, row, page;
  } probes[] = {{2, 1, 2}, {1, 1, 3}, {2, 2, 4}, {1, 2, 5}};
  for (const auto &p : probes)
    EXPECT_NEAR(sheets[1].at(CellX(p.col), CellY(p.row)), Grey(p.page), 3)
        << "cell " << p.col << "," << p.row;
}

// Each cell of a two-page side shows its whole page: both cells the same
// size, side by side without overlapping, inside the printable area of the
// Letter sheet (12-point margins); probed at their edges, not only at their
// centres. At 0.678 on Letter the two cells overlapped by about 28 points
// and the second ran off the sheet.
TEST_F(NupRendering, TwoPagesToASideFitTheSheetWithoutOverlapping) {
  const std::string twoUp = kRows + "1 " + kColumns + "2 BackCoverPage=True BackCoverOption=BlankPrinter ";
  const struct {
    std::string options;
    int first;  // the page in the side's first cell
  } cases[] = {{twoUp, 1}, {twoUp + "Rotate180=True", 1},
               {"VTDuplex=BookletL", 4}, {"VTDuplex=BookletL Rotate180=True", 4}};
  const double slack = 2 * 72.0 / kDpi;  // two pixels
  for (const auto &c : cases) {
    SCOPED_TRACE(c.options);
    LetterJob job;
    const std::vector<Image> sheets = PrintAndRender(job, GreyDocument(4), c.options);
    ASSERT_GE(sheets.size(), 2u);
    // 2-up: pages 1 and 2 on the first side; a booklet of 4: pages 4 and 1.
    const int pages[2] = {c.first, c.first == 1 ? 2 : 1};
    const Extent a = ExtentOf(sheets[0], pages[0]), b = ExtentOf(sheets[0], pages[1]);
    for (const Extent &e : {a, b}) {
      EXPECT_GE(e.left, 12 - slack);
      EXPECT_GE(e.bottom, 12 - slack);
      EXPECT_LE(e.right, 600 + slack);
      EXPECT_LE(e.top, 780 + slack);
      // A turned Letter page at the cells' scale: 792 x 612 times 0.633.
      EXPECT_NEAR(e.right - e.left, 501, 2 * slack);
      EXPECT_NEAR(e.top - e.bottom, 387, 2 * slack);
    }
    EXPECT_TRUE(a.bottom >= b.top - slack || b.bottom >= a.top - slack)
        << "cells overlap: " << a.bottom << "-" << a.top << " and " << b.bottom << "-" << b.top;
  }
}

// Pages that set a size of their own in their page setup, as CUPS's pstops
// passes PostScript on: page i sets its size and fills it with grey i / 10.
// `turn` goes first in each page setup (pstops turns a page onto the sheet
// so, for "orientation-requested" 4, before the page sets its size).
std::string SizedDocument(const std::vector<std::pair<int, int>> &sizes,
                          const std::string &turn = std::string()) {
  std::string doc = "%!PS-Adobe-3.0\n%%Pages: " + std::to_string(sizes.size()) +
                    "\n%%EndComments\n%%BeginProlog\n%%EndProlog\n%%BeginSetup\n%%EndSetup\n";
  for (size_t i = 1; i <= sizes.size(); ++i) {
    const std::string w = std::to_string(sizes[i - 1].first), h = std::to_string(sizes[i - 1].second);
    doc += "%%Page: " + std::to_string(i) + " " + std::to_string(i) + "\n%%BeginPageSetup\n" + turn + "<< /PageSize [" +
           w + " " + h + "] >> setpagedevice\n%%EndPageSetup\n0." + std::to_string(i) +
           " setgray 0 0 " + w + " " + h + " rectfill showpage\n";
  }
  return doc + "%%Trailer\n%%EOF\n";
}

// Each page shows whole in its cell, scaled from its own size (turned when
// it lies the other way than the cell), none overlapping another. Drawn at
// the sheet's size, a wider page lost its right part; a page of another
// size on a cover of its own came out blank (the cell's restore, going back
// to the sheet's size, erased it).
TEST_F(NupRendering, PagesOfTheirOwnSizeShowWholeInTheirCells) {
  const std::vector<std::pair<int, int>> sizes = {{612, 792}, {792, 612}, {595, 842}, {842, 595}};
  const std::string blankBack = " BackCoverPage=True BackCoverOption=BlankPrinter";
  const struct {
    std::string options;
    std::vector<std::vector<int>> sides;
    double cellLong, cellShort;  // a Letter page's cell on the sheet
  } layouts[] = {
      {kNup4 + blankBack, {{1, 2, 3, 4}, {}}, 380.16, 293.76},
      {kRows + "1 " + kColumns + "2" + blankBack, {{1, 2}, {3, 4}, {}}, 501.3, 387.4},
      {"VTDuplex=BookletL", {{4, 1}, {2, 3}}, 501.3, 387.4},
      {"FrontCoverPage=True FrontCoverOption=PrintedDouble FrontCoverTray=Tray1 "
       "BackCoverPage=True BackCoverOption=PrintedSingle BackCoverTray=Tray1",
       {{1}, {2}, {3}, {4}}, 792, 612},
  };
  const double slack = 2 * 72.0 / kDpi;
  for (int c = 0; c < 2 * static_cast<int>(std::size(layouts)); ++c) {
    const std::string turn = c % 2 ? "612 0 translate 90 rotate\n" : "";
    const auto &layout = layouts[c / 2];
    SCOPED_TRACE(turn + layout.options);
    LetterJob job;
    const std::vector<Image> sheets =
        PrintAndRender(job, SizedDocument(sizes, turn), layout.options, "letter");
    ASSERT_EQ(sheets.size(), layout.sides.size());
    for (size_t s = 0; s < sheets.size(); ++s) {
      std::vector<Extent> shown;
      for (int page : layout.sides[s]) {
        SCOPED_TRACE("side " + std::to_string(s + 1) + ", page " + std::to_string(page));
        const Extent e = ExtentOf(sheets[s], page);
        const double pageLong = std::max(sizes[page - 1].first, sizes[page - 1].second);
        const double pageShort = std::min(sizes[page - 1].first, sizes[page - 1].second);
        const double scale = std::min(layout.cellLong / pageLong, layout.cellShort / pageShort);
        const double across = e.right - e.left, up = e.top - e.bottom;
        EXPECT_NEAR(std::max(across, up), scale * pageLong, slack);
        EXPECT_NEAR(std::min(across, up), scale * pageShort, slack);
        for (const Extent &other : shown)
          EXPECT_TRUE(e.left >= other.right - slack || other.left >= e.right - slack ||
                      e.bottom >= other.top - slack || other.bottom >= e.top - slack);
        shown.push_back(e);
      }
    }
  }
}

// The "%%Pages:" counts of the output: the header's and the trailer's, -1
// for one that is missing or not a number.
std::pair<int, int> AnnouncedPages(const std::string &out) {
  const size_t trailer = out.rfind("%%Trailer");
  auto count = [&out](size_t from, size_t to) {
    const size_t at = out.find("%%Pages: ", from);
    if (at == std::string::npos || at >= to) return -1;
    char *end = nullptr;
    const long n = std::strtol(out.c_str() + at + 9, &end, 10);
    return end == out.c_str() + at + 9 ? -1 : static_cast<int>(n);
  };
  return {count(0, trailer), count(trailer, std::string::npos)};
}

// Every cover and interleave scenario renders without a PostScript error
// and gives the sheet sides it should (tray, media and duplex switches
// included); the header's "%%Pages:" and the trailer's count those sides.
TEST_F(NupRendering, CoverAndInterleaveScenariosRenderCleanly) {
  const struct {
    int pages;
    std::string options;
    size_t sides;
  } scenarios[] = {
      {6, kNup4 + "VTDuplex=Duplex Binding=LongEdge FrontCoverPage=True FrontCoverOption=PrintedDouble "
                 "FrontCoverTray=Tray3 VTInputSlot=Tray1",
       3},
      {5, kNup4 + "VTDuplex=Duplex Binding=LongEdge BackCoverPage=True BackCoverOption=PrintedSingle "
                 "BackCoverTray=Tray4",
       3},
      {2, kNup4 + "VTDuplex=Duplex Binding=LongEdge FrontCoverPage=True FrontCoverOption=BlankPrinter "
                 "FrontCoverTray=Manual",
       3},
      {5, kNup4 + "OHPInterleave=true OHPInterOption=PrintedSingle OHPOpTray=Tray5", 4},
      {3, "orientation-requested=4 BackCoverPage=True BackCoverOption=PrintedDouble "
          "com.apple.print.PrintSettings.PMBorder..b.=true "
          "com.apple.print.PrintSettings.PMBorderType..n.=4",
       3},
      // Two body sheets, each printed again on an interleave sheet, and the
      // back cover's two pages.
      {6, kRows + "1 " + kColumns + "2 BackCoverPage=True BackCoverOption=PrintedDouble"
          " OHPInterleave=True OHPInterOption=PrintedSingle "
          "OHPOpTray=Tray2",
       6},
      // A blank cover on both sides of the first sheet, 1-up, blank interleaves.
      {2, "VTDuplex=Duplex Binding=ShortEdge FrontCoverPage=True FrontCoverOption=BlankPrinter "
          "OHPInterleave=True OHPInterOption=BlankPrinter OHPOpTray=Tray2",
       6},
      // Booklet of 6 pages with a cover printed on both sides and a blank
      // back cover: 8 booklet pages, two to a side.
      {6, "VTDuplex=BookletL FrontCoverPage=True FrontCoverOption=PrintedDouble "
          "BackCoverPage=True BackCoverOption=BlankPrinter",
       4},
  };
  for (const auto &s : scenarios) {
    SCOPED_TRACE(s.options);
    LetterJob job;
    // The count left to the trailer, as poppler and pstops write it.
    std::string doc = GreyDocument(s.pages);
    const std::string pages = "%%Pages: " + std::to_string(s.pages) + "\n";
    doc.replace(doc.find(pages), pages.size(), "%%Pages: (atend)\n");
    doc.insert(doc.find("%%Trailer\n") + 10, pages);
    FilterResult r;
    const std::vector<Image> sheets = PrintAndRender(job, doc, s.options + " " + Total(s.pages), "", &r);
    EXPECT_EQ(sheets.size(), s.sides);
    EXPECT_EQ(AnnouncedPages(r.out),
              std::make_pair(static_cast<int>(sheets.size()), static_cast<int>(sheets.size())));
    EXPECT_EQ(r.out.find("%%Pages: (atend)"), std::string::npos);
  }
}

// A document whose pages the filter cannot tell apart is paged by
// Ghostscript, then imposed: data/three-grey-pages.ps has no page comments
// (page i fills its clip with grey i / 10); the other two are what CUPS's
// pstops makes of it, one page wrapping the whole document:
//   PPD=packaging/ppd/Q610.ppd /usr/lib/cups/filter/pstops 1 u three 1 ''
//     three-grey-pages.ps > three-grey-pages-pstops.ps
// and the same with the options 'number-up=2' (pstops then defers showpage
// and ends its page with ESPshowpage) into three-grey-pages-pstops-nup2.ps.
// The last is a DSC document with a prolog and a setup (where the filter
// writes the printer setup) but no page comments.
// Each rendered side shows the pages it should, each whole, none cut.
TEST_F(NupRendering, DocumentsWithoutPageCommentsArePagedAndImposed) {
  const std::string data = VT_SOURCE_DIR "/filter/tests/impose/data/";
  std::string withSetup = GreyDocument(3);
  for (size_t at; (at = withSetup.find("%%Page: ")) != std::string::npos;)
    withSetup.erase(at, withSetup.find('\n', at) + 1 - at);
  // Naming a converter whose paged documents are imposed by rules of their
  // own does not keep it from being paged.
  auto naming = [&data](const char *creator) {
    std::string doc = ReadFile(data + "three-grey-pages.ps");
    return doc.insert(doc.find('\n') + 1, std::string("%%Creator: ") + creator + "\n");
  };
  const std::pair<const char *, std::string> documents[] = {
      {"three-grey-pages.ps", ReadFile(data + "three-grey-pages.ps")},
      {"named cgpdftops", naming("cgpdftops")},
      {"named pictwpstops", naming("pictwpstops")},
      {"three-grey-pages-pstops.ps", ReadFile(data + "three-grey-pages-pstops.ps")},
      {"three-grey-pages-pstops-nup2.ps", ReadFile(data + "three-grey-pages-pstops-nup2.ps")},
      {"with a setup", withSetup}};
  const struct {
    std::string options;
    std::vector<std::vector<int>> sides;  // per side, its cells' pages (0: empty)
  } layouts[] = {
      // Three pages and a blank make one booklet sheet: 4 and 1, then 2 and 3.
      {"VTDuplex=BookletL", {{0, 1}, {2, 3}}},
      // A printed cover carries page 1 over the whole sheet, then two to a side.
      {kRows + "1 " + kColumns + "2 " + kPrintedCover,
       {{1}, {2, 3}}},
  };
  const double slack = 2 * 72.0 / kDpi;
  for (const auto &[name, doc] : documents) {
    ASSERT_FALSE(doc.empty()) << name;
    for (const auto &layout : layouts) {
      SCOPED_TRACE(std::string(name) + ", " + layout.options);
      LetterJob job;
      // The job's paper (Letter) is loaded: a page of that size sets it
      // without changing the sheet.
      FilterResult r;
      const std::vector<Image> sheets = PrintAndRender(job, doc, layout.options, "letter", &r);
      EXPECT_EQ(r.err.find("WARNING"), std::string::npos) << r.err;
      EXPECT_TRUE(job.spoolFiles().empty());
      ASSERT_EQ(sheets.size(), layout.sides.size());
      EXPECT_EQ(AnnouncedPages(r.out).first, static_cast<int>(sheets.size()));
      for (size_t s = 0; s < sheets.size(); ++s) {
        const std::vector<int> &cells = layout.sides[s];
        for (int page = 1; page <= 3; ++page) {
          SCOPED_TRACE("side " + std::to_string(s + 1) + ", page " + std::to_string(page));
          const Extent e = ExtentOf(sheets[s], page);
          const auto cell = std::find(cells.begin(), cells.end(), page);
          if (cell == cells.end()) {
            EXPECT_EQ(e.area(), 0);
          } else if (cells.size() == 1) {
            EXPECT_NEAR(e.right - e.left, 612, slack);
            EXPECT_NEAR(e.top - e.bottom, 792, slack);
          } else {
            // A turned Letter page at the cells' scale, the first cell above.
            EXPECT_NEAR(e.right - e.left, 501, 2 * slack);
            EXPECT_NEAR(e.top - e.bottom, 387, 2 * slack);
            EXPECT_EQ((e.top + e.bottom) / 2 > 396, cell == cells.begin());
          }
        }
      }
    }
  }
}

// CUPS's pstops makes the copies of such a document itself when the job
// collates them, wrapping it whole once per copy:
//   PPD=packaging/ppd/Q610.ppd /usr/lib/cups/filter/pstops 1 u three 2
//     Collate=True three-grey-pages.ps > three-grey-pages-pstops-copies2.ps
// Ghostscript pages every copy: pages 1 to 3 twice, a printed cover
// carrying the first, then two to a side.
TEST_F(NupRendering, CopiesPstopsWrappedArePagedEach) {
  FilterResult r;
  const std::vector<Image> sheets = PrintAndRender(
      job_, ReadFile(VT_SOURCE_DIR "/filter/tests/impose/data/three-grey-pages-pstops-copies2.ps"),
      kRows + "1 " + kColumns + "2 " + kPrintedCover, "letter", &r);
  EXPECT_EQ(r.err.find("WARNING"), std::string::npos) << r.err;
  ASSERT_EQ(sheets.size(), 4u);
  const std::vector<std::vector<int>> sides = {{1}, {2, 3}, {1, 2}, {3}};
  for (size_t side = 0; side < sides.size(); ++side)
    for (int page = 1; page <= 3; ++page) {
      const bool shown =
          std::find(sides[side].begin(), sides[side].end(), page) != sides[side].end();
      EXPECT_EQ(ExtentOf(sheets[side], page).area() > 0, shown)
          << "side " << side + 1 << ", page " << page;
    }
  EXPECT_NEAR(ExtentOf(sheets[0], 1).area(), 612.0 * 792.0, 612.0 * 792.0 * 0.03);
}

// When Ghostscript is missing or fails, such a document prints as it came,
// every page whole on a side of its own, and the job log says why the layout
// was not applied.
TEST_F(NupRendering, DocumentsWithoutPageCommentsPrintWholeWithoutGhostscript) {
  const std::string doc = ReadFile(VT_SOURCE_DIR "/filter/tests/impose/data/three-grey-pages.ps");
  const struct {
    const char *gs;
    const char *reason;
  } cases[] = {{"/nonexistent/gs", "could not be started"},
               {"/bin/false", "exit status 1"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.gs);
    LetterJob job;
    const FilterResult r = job.run({"1", "user", "title", "1", "VTDuplex=BookletL"}, doc,
                                   {{"VT_TEST_GHOSTSCRIPT", c.gs}});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("WARNING: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    EXPECT_NE(r.out.find(doc), std::string::npos);
    EXPECT_TRUE(job.spoolFiles().empty());
    // CUPS's page log counts the sides it prints, from its showpage calls.
    EXPECT_EQ(imposetest::Count(r.err, "PAGE: "), 3) << r.err;
    EXPECT_NE(r.err.find("ATTR: job-impressions-completed=3\n"), std::string::npos);
    const std::vector<Image> sheets = Render(job, r.out, "letter");
    ASSERT_EQ(sheets.size(), 3u);
    for (int page = 1; page <= 3; ++page)
      EXPECT_NEAR(ExtentOf(sheets[page - 1], page).area(), 612.0 * 792.0, 612.0 * 792.0 * 0.02);
  }
}

}  // namespace
