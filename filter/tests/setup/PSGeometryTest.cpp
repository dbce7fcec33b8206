// Paper size, margins and the turned N-up scale, against PPDs written here,
// opened and marked the way main does it.
#include <gtest/gtest.h>
#include <cups/ppd.h>

#include <cmath>
#include <string>

#include "job/JobRecord.h"
#include "FilterRunner.h"
#include "setup/PSGeometry.h"
#include "SetupTestSupport.h"

namespace {

class PaperGeometry : public ::testing::Test {
 protected:
  void TearDown() override { ppd_.close(); }
  // Opens ppdText as the job's PPD; marks defaults and the options unless
  // mark is false.
  void open(const std::string &ppdText, const std::string &optionText = "", bool mark = true) {
    opts_.parse(optionText);
    ASSERT_TRUE(ppd_.open(job_, ppdText, opts_, mark));
  }
  FilterJob job_;
  JobPpd ppd_;
  JobOptions opts_;
};

TEST_F(PaperGeometry, MarkedSizeAndImageableAreaAreTruncatedToWholePoints) {
  open(MinimalPpd("", "A4"));
  PaperPair size{0, 0}, margin{0, 0};
  vGetPaperSize(ppd_.ppd, opts_.num, opts_.options, &size);
  vGetPaperMargin(ppd_.ppd, opts_.num, opts_.options, &margin);
  EXPECT_EQ(size.a, 595);  // 595.28
  EXPECT_EQ(size.b, 841);  // 841.89
  EXPECT_EQ(margin.a, 12);  // 12.5
  EXPECT_EQ(margin.b, 12);
}

TEST_F(PaperGeometry, JobOptionSelectsTheMarkedSize) {
  open(MinimalPpd("", "Letter"), "PageSize=A4");
  PaperPair size{0, 0};
  vGetPaperSize(ppd_.ppd, opts_.num, opts_.options, &size);
  EXPECT_EQ(size.a, 595);
  EXPECT_EQ(size.b, 841);

  ppd_.close();
  open(MinimalPpd("", "A4"), "PageSize=Letter");
  vGetPaperSize(ppd_.ppd, opts_.num, opts_.options, &size);
  EXPECT_EQ(size.a, 612);
  EXPECT_EQ(size.b, 792);
}

TEST_F(PaperGeometry, MarginsAreTheLeftAndBottomOfTheImageableArea) {
  // Left 10.9, bottom 20.99; right and top differ so a mix-up shows.
  std::string ppd = MinimalPpd("", "A4");
  const std::string from = "*ImageableArea A4/A4: \"12.5 12.5 582.78 829.39\"";
  ppd.replace(ppd.find(from), from.size(), "*ImageableArea A4/A4: \"10.9 20.99 550 800\"");
  open(ppd);
  PaperPair margin{0, 0};
  vGetPaperMargin(ppd_.ppd, opts_.num, opts_.options, &margin);
  EXPECT_EQ(margin.a, 10);
  EXPECT_EQ(margin.b, 20);
}

TEST_F(PaperGeometry, NoMarkedSizeKeepsTheCallersPairAndGivesDefaultMargins) {
  open(MinimalPpd("", "Letter"), "", /*mark=*/false);
  PaperPair size{0, 0}, margin{-1, -1};
  vGetPaperSize(ppd_.ppd, opts_.num, opts_.options, &size);
  EXPECT_EQ(size.a, 0);
  EXPECT_EQ(size.b, 0);
  size = PaperPair{7, 9};
  vGetPaperSize(ppd_.ppd, opts_.num, opts_.options, &size);
  EXPECT_EQ(size.a, 7);
  EXPECT_EQ(size.b, 9);
  vGetPaperMargin(ppd_.ppd, opts_.num, opts_.options, &margin);
  EXPECT_EQ(margin.a, 12);
  EXPECT_EQ(margin.b, 12);

  // No PPD at all behaves the same.
  ppd_.close();
  vGetPaperSize(ppd_.ppd, opts_.num, opts_.options, &size);
  EXPECT_EQ(size.a, 7);
  EXPECT_EQ(size.b, 9);
  margin = PaperPair{0, 0};
  vGetPaperMargin(ppd_.ppd, opts_.num, opts_.options, &margin);
  EXPECT_EQ(margin.a, 12);
  EXPECT_EQ(margin.b, 12);
}

TEST_F(PaperGeometry, AbsurdPpdDimensionsAreClampedNotOverflowed) {
  std::string ppd = MinimalPpd("", "A4");
  for (auto [from, to] : {std::pair<std::string, std::string>{
                              "*ImageableArea A4/A4: \"12.5 12.5 582.78 829.39\"",
                              "*ImageableArea A4/A4: \"-1e30 1e30 5 5\""},
                          {"*PaperDimension A4/A4: \"595.28 841.89\"",
                           "*PaperDimension A4/A4: \"1e30 -1e30\""}}) {
    ppd.replace(ppd.find(from), from.size(), to);
  }
  open(ppd);
  PaperPair size{0, 0}, margin{0, 0};
  vGetPaperSize(ppd_.ppd, opts_.num, opts_.options, &size);
  vGetPaperMargin(ppd_.ppd, opts_.num, opts_.options, &margin);
  EXPECT_EQ(size.a, INT32_MAX);
  EXPECT_EQ(size.b, INT32_MIN);
  EXPECT_EQ(margin.a, INT32_MIN);
  EXPECT_EQ(margin.b, INT32_MAX);
  // The scale of such a sheet is computed without overflow too. The
  // expected numbers come from the same formulas worked through in Python
  // with every step rounded to 32 bits: printable 6442450944 x -6442450944.
  struct Expected {
    int mode;
    float scale, offsetA, offsetB;
  };
  for (const Expected &e : {Expected{1, 1.0f / 3.0f, 0.0f, 4294967296.0f},
                            Expected{3, -0.833333313f, -536870912.0f, 0.0f}}) {
    float sx = -1, sy = -2, oa = 0, ob = 0;
    vConvertNupScale(&size, &margin, &sx, &sy, &oa, &ob, e.mode);
    EXPECT_FLOAT_EQ(sx, e.scale) << e.mode;
    EXPECT_EQ(sx, sy) << e.mode;
    EXPECT_FLOAT_EQ(oa, e.offsetA) << e.mode;
    EXPECT_FLOAT_EQ(ob, e.offsetB) << e.mode;
  }
}

TEST_F(PaperGeometry, CustomMediaTakesItsSizeAndThePpdsCustomMargins) {
  // The PPD also marks A4 (margins 12.5): the custom branch wins for both.
  open(MinimalPpd("*HWMargins: 18.9 20.7 18 36\n", "A4"), "media=Custom.200.7x300.2mm");
  PaperPair size{0, 0}, margin{0, 0};
  vGetPaperSize(ppd_.ppd, opts_.num, opts_.options, &size);
  vGetPaperMargin(ppd_.ppd, opts_.num, opts_.options, &margin);
  EXPECT_EQ(size.a, 200);
  EXPECT_EQ(size.b, 300);
  EXPECT_EQ(margin.a, 18);
  EXPECT_EQ(margin.b, 20);

  // Without custom margins in the PPD they are zero.
  ppd_.close();
  open(MinimalPpd("", "A4"), "media=Custom.595.28x841.89");
  vGetPaperSize(ppd_.ppd, opts_.num, opts_.options, &size);
  vGetPaperMargin(ppd_.ppd, opts_.num, opts_.options, &margin);
  EXPECT_EQ(size.a, 595);
  EXPECT_EQ(size.b, 841);
  EXPECT_EQ(margin.a, 0);
  EXPECT_EQ(margin.b, 0);

  // A media value naming a regular size is not custom.
  ppd_.close();
  open(MinimalPpd("*HWMargins: 18 20 18 36\n", "Letter"), "media=A4");
  vGetPaperSize(ppd_.ppd, opts_.num, opts_.options, &size);
  vGetPaperMargin(ppd_.ppd, opts_.num, opts_.options, &margin);
  EXPECT_EQ(size.a, 595);
  EXPECT_EQ(margin.a, 12);
}

TEST(NupScale, TwoUpOnLetterWithTwelvePointMargins) {
  // aw = 588, ah = 768: s = min((396 - 24) / 588, (612 - 24) / 768).
  PaperPair size{612, 792}, margin{12, 12};
  float sx = 0, sy = 0, offsetA = -7.0f, offsetB = 0;
  vConvertNupScale(&size, &margin, &sx, &sy, &offsetA, &offsetB, 1);
  EXPECT_NEAR(sx, 0.6327, 0.00005);
  EXPECT_NEAR(sx, 372.0 / 588.0, 1e-6);
  EXPECT_EQ(sx, sy);
  EXPECT_NEAR(offsetB, (588.0 - 372.0 / 588.0 * 768.0) * 0.5, 1e-3);
  EXPECT_EQ(offsetA, -7.0f);
}

TEST(NupScale, TwoUpTakesTheHeightBoundWhenItIsSmaller) {
  // A wide sheet: (0.5 * 400 - 0) / 1000 = 0.2 against (1000 - 0) / 400.
  PaperPair size{1000, 400}, margin{0, 0};
  float sx = 0, sy = 0, offsetA = 0, offsetB = 0;
  vConvertNupScale(&size, &margin, &sx, &sy, &offsetA, &offsetB, 1);
  EXPECT_FLOAT_EQ(sx, 0.2f);
  EXPECT_FLOAT_EQ(offsetB, (1000.0f - 0.2f * 400.0f) * 0.5f);
}

TEST(NupScale, SixUpOnA4) {
  // aw = 571, ah = 818: s = min((842 / 3 - 24) / 571, (297.5 - 24) / 818).
  PaperPair size{595, 842}, margin{12, 12};
  float sx = 0, sy = 0, offsetA = 0, offsetB = 5.0f;
  vConvertNupScale(&size, &margin, &sx, &sy, &offsetA, &offsetB, 3);
  const double s = 273.5 / 818.0;
  EXPECT_NEAR(sx, s, 1e-6);
  EXPECT_EQ(sx, sy);
  EXPECT_NEAR(offsetA, (842.0 - s * 595.0 * 3.0) * 0.5 - 12.0, 1e-3);
  EXPECT_EQ(offsetB, 5.0f);
}

TEST(NupScale, OtherModesChangeNothing) {
  PaperPair size{612, 792}, margin{12, 12};
  for (int mode : {0, 2, 4, 6, -1}) {
    float sx = 1.5f, sy = 2.5f, offsetA = 3.5f, offsetB = 4.5f;
    vConvertNupScale(&size, &margin, &sx, &sy, &offsetA, &offsetB, mode);
    EXPECT_EQ(sx, 1.5f) << mode;
    EXPECT_EQ(sy, 2.5f) << mode;
    EXPECT_EQ(offsetA, 3.5f) << mode;
    EXPECT_EQ(offsetB, 4.5f) << mode;
  }
}

}  // namespace
