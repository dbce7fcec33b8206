// Cell placement of the N-up layouts (plain and turned by 180 degrees) and
// the cell frames.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "CommonUtil.h"
#include "FilterRunner.h"
#include "impose/ImposeNup.h"
#include "job/JobRecord.h"
#include "ImposeTestUtil.h"

namespace {

const char kRows[] = "com.apple.print.PrintSettings.PMLayoutRows..n.";
const char kColumns[] = "com.apple.print.PrintSettings.PMLayoutColumns..n.";
const char kDirection[] = "com.apple.print.PrintSettings.PMLayoutDirection..n.";

// Letter, 612 x 792 points, 12-point margins, for every test here.
class NupPlacement : public ::testing::Test {
 protected:
  ScopedPpd ppd_{MinimalPpd()};
  static constexpr float W = 612.0f;
  static constexpr float H = 792.0f;
};

struct Result {
  float tx, ty, scale;
};

// The document's creator code for Place: landscape pages of the macOS
// converters are turned by the filter, those of CUPS's own were turned by
// them already.
int gCreator = kFilterUnknown;

Result Place(const Options &o, int position, bool rotated = false) {
  Result r{-1, -1, -1};
  JobRecord job = RecordOf(o);
  job.filterType = gCreator;
  if (rotated)
    vCreateOffsetWithNupR180(&r.tx, &r.ty, &r.scale, position, job);
  else
    vCreateOffsetWithNup(&r.tx, &r.ty, &r.scale, position, job);
  return r;
}

// "1,2 2,2 1,1 2,1" -> pairs.
std::vector<std::pair<int, int>> Cells(const std::string &text) {
  std::vector<std::pair<int, int>> cells;
  std::istringstream in(text);
  std::string pair;
  while (in >> pair) cells.emplace_back(pair[0] - '0', pair[2] - '0');
  return cells;
}

// The column/row tables of the printer's layouts, per reading order.
struct Layout {
  const char *rows;
  const char *columns;
  float scale;
  int gridColumns, gridRows;
  const char *z, *rz, *n, *rn;
  // Where each column and row starts on Letter (612 x 792 times the scale).
  double x[4], y[4];
};

const Layout kLayouts[] = {
    {"2", "2", 0.48f, 2, 2, "1,2 2,2 1,1 2,1", "2,2 1,2 2,1 1,1", "1,2 1,1 2,2 2,1", "2,2 2,1 1,2 1,1",
     {0, 293.76}, {0, 380.16}},
    {"3", "3", 0.32f, 3, 3, "1,3 2,3 3,3 1,2 2,2 3,2 1,1 2,1 3,1",
     "3,3 2,3 1,3 3,2 2,2 1,2 3,1 2,1 1,1", "1,3 1,2 1,1 2,3 2,2 2,1 3,3 3,2 3,1",
     "3,3 3,2 3,1 2,3 2,2 2,1 1,3 1,2 1,1", {0, 195.84, 391.68}, {0, 253.44, 506.88}},
    {"4", "4", 0.24f, 4, 4, "1,4 2,4 3,4 4,4 1,3 2,3 3,3 4,3 1,2 2,2 3,2 4,2 1,1 2,1 3,1 4,1",
     "4,4 3,4 2,4 1,4 4,3 3,3 2,3 1,3 4,2 3,2 2,2 1,2 4,1 3,1 2,1 1,1",
     "1,4 1,3 1,2 1,1 2,4 2,3 2,2 2,1 3,4 3,3 3,2 3,1 4,4 4,3 4,2 4,1",
     "4,4 4,3 4,2 4,1 3,4 3,3 3,2 3,1 2,4 2,3 2,2 2,1 1,4 1,3 1,2 1,1",
     {0, 146.88, 293.76, 440.64}, {0, 190.08, 380.16, 570.24}},
};

// The 2-up fit of two turned Letter pages with 12-point margins:
// s = min((396 - 24) / 588, (612 - 24) / 768) = 0.632653, and
// offset B = (588 - s * 768) / 2 = 51.0612.
constexpr double kTwoUpScale = 372.0 / 588.0;
constexpr double kTwoUpOffsetB = (588.0 - kTwoUpScale * 768.0) * 0.5;

// Every position of every reading order, plain and turned by 180 degrees.
// Positions repeat after a sheet; a negative one (a printed cover whose page
// is missing can leave the body one) is the cell counted back from the end.
// Without a direction the pages read as Z.
TEST_F(NupPlacement, FourNineAndSixteenUpFollowEachReadingOrder) {
  for (const Layout &layout : kLayouts) {
    const struct {
      const char *direction;
      const char *table;
    } orders[] = {{nullptr, layout.z}, {"1", layout.z}, {"2", layout.z}, {"3", layout.rz},
                  {"4", layout.z},     {"5", layout.n}, {"6", layout.rn}, {"7", layout.z}};
    for (const auto &order : orders) {
      Options o{{kRows, layout.rows}, {kColumns, layout.columns}};
      if (order.direction) o.set(kDirection, order.direction);
      const auto cells = Cells(order.table);
      const int n = static_cast<int>(cells.size());
      for (int position = -n; position < 2 * n; ++position) {
        SCOPED_TRACE(std::string(layout.rows) + "x" + layout.columns + " order " +
                     (order.direction ? order.direction : "none") + " position " +
                     std::to_string(position));
        const auto [col, row] = cells[(position % n + n) % n];
        const Result r = Place(o, position);
        EXPECT_FLOAT_EQ(r.scale, layout.scale);
        EXPECT_NEAR(r.tx, layout.x[col - 1], 1e-3);
        EXPECT_NEAR(r.ty, layout.y[row - 1], 1e-3);
        // Turned by 180 degrees: the point-mirrored cell.
        const Result m = Place(o, position, true);
        EXPECT_FLOAT_EQ(m.scale, layout.scale);
        EXPECT_NEAR(m.tx, layout.x[layout.gridColumns - col], 1e-3);
        EXPECT_NEAR(m.ty, layout.y[layout.gridRows - row], 1e-3);
      }
    }
  }
}

TEST_F(NupPlacement, TwoUpUsesTheTurnedFitAndNoLargerScale) {
  // The pages are drawn at the fit: at the printer's 0.678 two Letter
  // cells 387.2 points apart would overlap by 27.7 points.
  const double s = kTwoUpScale, offsetB = kTwoUpOffsetB;
  Options z{{kRows, "1"}, {kColumns, "2"}};
  Result r0 = Place(z, 0);
  Result r1 = Place(z, 1);
  EXPECT_NEAR(r0.scale, s, 1e-6);
  EXPECT_NEAR(r0.tx, 0.0, 1e-3);
  EXPECT_NEAR(r0.ty, offsetB, 1e-3);
  EXPECT_NEAR(r1.tx, 612.0 * s, 1e-3);
  EXPECT_NEAR(r1.ty, offsetB, 1e-3);
  // Right to left starts in column 2.
  Options rz{{kRows, "1"}, {kColumns, "2"}, {kDirection, "3"}};
  EXPECT_NEAR(Place(rz, 0).tx, 612.0 * s, 1e-3);
  // Turned: the same scale, no offsets, first page in column 2.
  Result m0 = Place(z, 0, true);
  EXPECT_NEAR(m0.scale, s, 1e-6);
  EXPECT_NEAR(m0.tx, 612.0 * s, 1e-3);
  EXPECT_NEAR(m0.ty, 0.0, 1e-3);
  EXPECT_NEAR(Place(z, 1, true).tx, 0.0, 1e-3);
}

// On A4 (595 x 841 points as the printer truncates them) the cells are
// wider than 0.678: min((420.5 - 24) / 571, 571 / 817) = 0.694396. The
// printer's 0.678 stays, plain and turned, and so do the turned spacing
// and the booklet's turned scale.
TEST(NupPlacementA4, TwoUpKeepsThePrintersScale) {
  ScopedPpd a4Ppd{MinimalPpd("", "A4")};
  Options z{{kRows, "1"}, {kColumns, "2"}};
  EXPECT_FLOAT_EQ(Place(z, 0).scale, 0.678f);
  EXPECT_NEAR(Place(z, 1).tx, 595.0 * 0.694396, 1e-2);
  EXPECT_FLOAT_EQ(Place(z, 0, true).scale, 0.678f);
  EXPECT_NEAR(Place(z, 0, true).tx, 595.0 * 0.678, 1e-2);
  EXPECT_FLOAT_EQ(Place(Options{{"VTDuplex", "BookletL"}}, 0, true).scale, 0.678f);
}

// The 6-up fit on Letter, worked once: s = min((792 / 3 - 24) / 588,
// (306 - 24) / 768) = 282 / 768 = 0.3671875; offset A = (792 - s * 612 * 3)
// / 2 - 12 = 46.921875; a column is 612 s = 224.71875 wide, a row 792 s =
// 290.8125 high.
constexpr double kSixUpOffsetA = 46.921875;
constexpr double kSixUpColumn = 224.71875;
constexpr double kSixUpRow = 290.8125;

TEST_F(NupPlacement, SixUpPortraitUsesTheTurnedFitAndItsOffset) {
  Options o{{kRows, "2"}, {kColumns, "3"}};
  const auto cells = Cells("1,2 2,2 3,2 1,1 2,1 3,1");
  for (int position = 0; position < 6; ++position) {
    const Result r = Place(o, position);
    EXPECT_FLOAT_EQ(r.scale, 0.339f);
    EXPECT_NEAR(r.tx, kSixUpColumn * (cells[position].first - 1) + kSixUpOffsetA, 1e-2) << position;
    EXPECT_NEAR(r.ty, kSixUpRow * (cells[position].second - 1), 1e-2) << position;
  }
}

// Counts without a layout of their own are drawn in the next larger one, a
// page to a cell, instead of every page whole on top of the first.
TEST_F(NupPlacement, LayoutsWithoutATableTakeTheNextLargerOne) {
  const struct {
    const char *columns;
    const char *layoutRows, *layoutColumns;
  } cases[] = {{"3", "2", "2"}, {"5", "2", "3"}, {"8", "3", "3"}};
  for (const auto &c : cases) {
    Options o{{kRows, "1"}, {kColumns, c.columns}};
    Options layout{{kRows, c.layoutRows}, {kColumns, c.layoutColumns}};
    for (int position = 0; position < std::atoi(c.columns); ++position) {
      const Result r = Place(o, position), expected = Place(layout, position);
      EXPECT_LT(r.scale, 0.5f) << c.columns;
      EXPECT_FLOAT_EQ(r.scale, expected.scale) << c.columns << " at " << position;
      EXPECT_FLOAT_EQ(r.tx, expected.tx) << c.columns << " at " << position;
      EXPECT_FLOAT_EQ(r.ty, expected.ty) << c.columns << " at " << position;
    }
  }
}

TEST_F(NupPlacement, BookletPairsUseTheFitAsWrittenScale) {
  const double s = kTwoUpScale, offsetB = kTwoUpOffsetB;
  Options o{{"VTDuplex", "BookletL"}};
  Result left = Place(o, 0);
  Result right = Place(o, 1);
  EXPECT_NEAR(left.scale, s, 1e-6);
  EXPECT_NEAR(left.tx, 0.0, 1e-3);
  EXPECT_NEAR(left.ty, offsetB, 1e-3);
  EXPECT_NEAR(right.tx, 612.0 * s, 1e-3);
  EXPECT_NEAR(Place(o, 2).tx, 0.0, 1e-3);
  // Turned: the pair mirrored, drawn at the same fit (0.678, the printer's
  // turned booklet scale, is kept only where it fits, as on A4).
  Result turned = Place(o, 0, true);
  EXPECT_NEAR(turned.scale, s, 1e-6);
  EXPECT_NEAR(turned.tx, 612.0 * s, 1e-3);
  // Landscape (pages of the macOS converters): column and row change roles,
  // offset B goes across. Pages that came through CUPS's converters were
  // turned by them already and are placed upright.
  Options landscape{{"VTDuplex", "BookletL"}, {"orientation-requested", "4"}};
  gCreator = kFilterCgpdftops;
  Result l1 = Place(landscape, 1);
  gCreator = kFilterUnknown;
  EXPECT_NEAR(l1.tx, offsetB, 1e-3);
  EXPECT_NEAR(l1.ty, 612.0 * s, 1e-3);
  EXPECT_NEAR(Place(landscape, 1).tx, right.tx, 1e-3);
}

// On systems older than 10.5.0 the orientation option counts for N-up too.
class NupOlderSystemPlacement : public NupPlacement {
 protected:
  void SetUp() override {
    root_.write("System/Library/CoreServices/SystemVersion.plist",
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                "<key>ProductVersion</key><string>10.4.11</string>\n</dict>\n</plist>\n");
    setenv("VT_TEST_ROOT", root_.path().c_str(), 1);
    ResetSystemVersionCache();
  }
  void TearDown() override {
    unsetenv("VT_TEST_ROOT");
    ResetSystemVersionCache();
    gCreator = kFilterUnknown;
  }
  TempDir root_;
};

TEST_F(NupOlderSystemPlacement, LandscapeLayoutsSwapTheAxes) {
  // Pages of the macOS converters, which this filter turns itself.
  gCreator = kFilterCgpdftops;
  // 4-up landscape: tx runs with the row across H, ty with the column up W.
  Options four{{kRows, "2"}, {kColumns, "2"}, {"orientation-requested", "4"}};
  const Result r = Place(four, 0);  // Z slot 0: column 1, row 2
  EXPECT_NEAR(r.tx, 0.0, 1e-3);
  EXPECT_NEAR(r.ty, 612.0 * 0.48, 1e-3);
  // 2-up landscape: slots reversed, (row, col) as (a, b).
  const double s = kTwoUpScale, offsetB = kTwoUpOffsetB;
  Options two{{kRows, "1"}, {kColumns, "2"}, {"orientation-requested", "4"}};
  const Result t0 = Place(two, 0);  // slot 1: column 2, row 1
  EXPECT_NEAR(t0.tx, offsetB, 1e-3);
  EXPECT_NEAR(t0.ty, 612.0 * s, 1e-3);
  // 6-up landscape uses its own 2 x 3 table; mirrored within 2 x 3.
  Options six{{kRows, "3"}, {kColumns, "2"}, {"orientation-requested", "4"}};
  const Result x0 = Place(six, 0);  // column 1, row 3
  EXPECT_NEAR(x0.tx, 0.0, 1e-3);  // 6-up has no offset B
  EXPECT_NEAR(x0.ty, kSixUpColumn * 2 + kSixUpOffsetA, 1e-2);
  const Result m0 = Place(six, 0, true);  // mirrored: column 2, row 1
  EXPECT_NEAR(m0.tx, kSixUpRow, 1e-2);
  EXPECT_NEAR(m0.ty, kSixUpOffsetA, 1e-2);
}

std::string Frame(int type, int orientation, int n, float w = 612.0f, float h = 792.0f) {
  Capture out;
  vWriteFrame(out.stream(), type, orientation, n, w, h);
  return out.text();
}

TEST(NupFrame, StylesWrittenAsThePrinterExpects) {
  EXPECT_EQ(Frame(1, 1, 4),
            "gsave\n0.50 setlinewidth 0 setgray newpath\n4.70 4.70 602.60 782.60 ESPrs\ngrestore\n");
  EXPECT_EQ(Frame(2, 1, 2),
            "gsave\n0.35 setlinewidth 0 setgray newpath\n6.30 6.30 599.40 779.40 ESPrs\n"
            "0.354 setlinewidth 0 setgray newpath\n3.30 3.30 605.40 785.40 ESPrs\ngrestore\n");
  EXPECT_EQ(Frame(3, 1, 16),
            "gsave\n2.08 setlinewidth 0 setgray newpath\n9.60 9.60 592.80 772.80 ESPrs\ngrestore\n");
  // The frame values are 32-bit floats like the rest of the sheet geometry:
  // 1.565 is stored as 1.56500006 and prints as 1.57.
  EXPECT_EQ(Frame(4, 1, 9),
            "gsave\n1.57 setlinewidth 0 setgray newpath\n13.30 13.30 585.40 765.40 ESPrs\n"
            "1.565 setlinewidth 0 setgray newpath\n7.00 7.00 598.00 778.00 ESPrs\ngrestore\n");
  EXPECT_EQ(Frame(5, 1, 1),
            "gsave\n[2.5 2.5] 0 setdash\n0.50 setlinewidth 0 setgray newpath\n"
            "14.20 14.20 583.60 763.60 ESPrs\ngrestore\n");
  // Landscape kinds exchange the rectangle's width and height.
  EXPECT_EQ(Frame(1, 2, 4),
            "gsave\n0.50 setlinewidth 0 setgray newpath\n4.70 4.70 782.60 602.60 ESPrs\ngrestore\n");
  EXPECT_EQ(Frame(1, 4, 4), Frame(1, 2, 4));
  EXPECT_EQ(Frame(1, 3, 4), Frame(1, 1, 4));
  for (int type : {0, 6, -1}) EXPECT_EQ(Frame(type, 1, 4), "") << type;
}

TEST(NupFrame, SizeClassesByCellCount) {
  const struct {
    int n;
    float hairline, thin, outer, inner;
  } classes[] = {{1, 0.24f, 0.5f, 14.2f, 16.2f},    {3, 0.24f, 0.5f, 14.2f, 16.2f},
                 {2, 0.354f, 0.737f, 3.3f, 6.3f},   {4, 0.5f, 1.042f, 4.7f, 8.9f},
                 {6, 0.708f, 1.475f, 6.6f, 12.5f},  {9, 0.751f, 1.565f, 7.0f, 13.3f},
                 {16, 1.0f, 2.084f, 9.6f, 17.7f}};
  for (const auto &c : classes) {
    SCOPED_TRACE(c.n);
    float width, x, y, w, h, width2, x2, y2, w2, h2;
    // Double thin lines carry both insets and the thin width.
    const std::string text = Frame(4, 1, c.n);
    ASSERT_EQ(sscanf(text.c_str(),
                     "gsave\n%f setlinewidth 0 setgray newpath\n%f %f %f %f ESPrs\n"
                     "%f setlinewidth 0 setgray newpath\n%f %f %f %f ESPrs\n",
                     &width, &x, &y, &w, &h, &width2, &x2, &y2, &w2, &h2),
              10);
    EXPECT_NEAR(width, c.thin, 0.006);
    EXPECT_NEAR(width2, c.thin, 0.0006);
    EXPECT_NEAR(x, c.inner, 0.006);
    EXPECT_NEAR(w, 612.0f - 2 * c.inner, 0.006);
    EXPECT_NEAR(h, 792.0f - 2 * c.inner, 0.006);
    EXPECT_NEAR(x2, c.outer, 0.006);
    EXPECT_NEAR(h2, 792.0f - 2 * c.outer, 0.006);
    ASSERT_EQ(sscanf(Frame(1, 1, c.n).c_str(), "gsave\n%f setlinewidth", &width), 1);
    EXPECT_NEAR(width, c.hairline, 0.006);
  }
}

}  // namespace
