// Paper size, margins and the turned N-up scale, against PPDs written here,
// opened and marked the way main does it.
#include <gtest/gtest.h>
#include <cups/ppd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "job/JobRecord.h"
#include "FilterRunner.h"
#include "setup/PSGeometry.h"
#include "SetupTestSupport.h"

namespace {

// MinimalPpd with one line replaced.
std::string Edited(std::string ppd, const std::string &from, const std::string &to) {
  ppd.replace(ppd.find(from), from.size(), to);
  return ppd;
}
const std::string kA4Area = "*ImageableArea A4/A4: \"12.5 12.5 582.78 829.39\"";

TEST(PaperGeometry, SizeAndMarginsFromThePpdAndTheJob) {
  const struct {
    const char *name;
    std::string ppd;  // empty: no PPD at all
    const char *options;
    bool mark;
    PaperPair size, margin;
  } cases[] = {
      // The marked size and imageable area, truncated to whole points: 595.28, 841.89, 12.5.
      {"A4 marked", MinimalPpd("", "A4"), "", true, {595, 841}, {12, 12}},
      {"job selects A4", MinimalPpd("", "Letter"), "PageSize=A4", true, {595, 841}, {12, 12}},
      {"job selects Letter", MinimalPpd("", "A4"), "PageSize=Letter", true, {612, 792}, {12, 12}},
      // Margins are the left and bottom; right and top differ so a mix-up shows.
      {"left and bottom",
       Edited(MinimalPpd("", "A4"), kA4Area, "*ImageableArea A4/A4: \"10.9 20.99 550 800\""), "",
       true, {595, 841}, {10, 20}},
      // No marked size, or no PPD: the caller's pair is kept, margins default.
      {"nothing marked", MinimalPpd("", "Letter"), "", false, {7, 9}, {12, 12}},
      {"no PPD", "", "", false, {7, 9}, {12, 12}},
      // Absurd dimensions are clamped, not overflowed.
      {"absurd",
       Edited(Edited(MinimalPpd("", "A4"), kA4Area, "*ImageableArea A4/A4: \"-1e30 1e30 5 5\""),
              "*PaperDimension A4/A4: \"595.28 841.89\"", "*PaperDimension A4/A4: \"1e30 -1e30\""),
       "", true, {INT32_MAX, INT32_MIN}, {INT32_MIN, INT32_MAX}},
      // Custom media takes its own size and the PPD's custom margins (zero without
      // them), even where the PPD marks A4; a media naming a regular size is not custom.
      {"custom", MinimalPpd("*HWMargins: 18.9 20.7 18 36\n", "A4"), "media=Custom.200.7x300.2mm",
       true, {200, 300}, {18, 20}},
      {"custom, no margins", MinimalPpd("", "A4"), "media=Custom.595.28x841.89", true, {595, 841},
       {0, 0}},
      {"regular media", MinimalPpd("*HWMargins: 18 20 18 36\n", "Letter"), "media=A4", true,
       {595, 841}, {12, 12}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    FilterJob job;
    JobPpd ppd;
    JobOptions opts(c.options);
    if (!c.ppd.empty()) {
      ASSERT_TRUE(ppd.open(job, c.ppd, opts, c.mark));
    }
    PaperPair size{7, 9}, margin{-1, -1};
    vGetPaperSize(ppd.ppd, opts.num, opts.options, &size);
    vGetPaperMargin(ppd.ppd, opts.num, opts.options, &margin);
    EXPECT_EQ(size.a, c.size.a);
    EXPECT_EQ(size.b, c.size.b);
    EXPECT_EQ(margin.a, c.margin.a);
    EXPECT_EQ(margin.b, c.margin.b);
  }
}

TEST(NupScale, TwoUpAndSixUpScaleAndCentreOnTheTurnedSheet) {
  const float kKept = 5.5f;  // what an offset the mode does not move keeps
  const struct {
    PaperPair size, margin;
    int mode;
    double scale, offsetA, offsetB;  // scale NAN: nothing changes
  } cases[] = {
      // Two-up on Letter: aw = 588, ah = 768: s = min((396 - 24) / 588, (612 - 24) / 768).
      {{612, 792}, {12, 12}, 1, 372.0 / 588.0, kKept, (588.0 - 372.0 / 588.0 * 768.0) * 0.5},
      // A wide sheet takes the height bound: (0.5 * 400 - 0) / 1000 = 0.2 against 1000 / 400.
      {{1000, 400}, {0, 0}, 1, 0.2, kKept, (1000.0 - 0.2 * 400.0) * 0.5},
      // Six-up on A4: aw = 571, ah = 818: s = min((842 / 3 - 24) / 571, (297.5 - 24) / 818).
      {{595, 842}, {12, 12}, 3, 273.5 / 818.0, (842.0 - 273.5 / 818.0 * 595.0 * 3.0) * 0.5 - 12.0,
       kKept},
      // The clamped absurd sheet is computed without overflow too. The expected
      // numbers come from the same formulas worked through in Python with every
      // step rounded to 32 bits: printable 6442450944 x -6442450944.
      {{INT32_MAX, INT32_MIN}, {INT32_MIN, INT32_MAX}, 1, 1.0 / 3.0, kKept, 4294967296.0},
      {{INT32_MAX, INT32_MIN}, {INT32_MIN, INT32_MAX}, 3, -0.833333313, -536870912.0, kKept},
      // Other modes change nothing.
      {{612, 792}, {12, 12}, 0, NAN, kKept, kKept},
      {{612, 792}, {12, 12}, 2, NAN, kKept, kKept},
      {{612, 792}, {12, 12}, 4, NAN, kKept, kKept},
      {{612, 792}, {12, 12}, 6, NAN, kKept, kKept},
      {{612, 792}, {12, 12}, -1, NAN, kKept, kKept},
  };
  auto near = [](double expected) { return std::max(1e-3, std::fabs(expected) * 1e-6); };
  for (const auto &c : cases) {
    SCOPED_TRACE(::testing::Message() << c.size.a << "x" << c.size.b << " mode " << c.mode);
    float sx = 1.5f, sy = 2.5f, offsetA = kKept, offsetB = kKept;
    vConvertNupScale(&c.size, &c.margin, &sx, &sy, &offsetA, &offsetB, c.mode);
    if (std::isnan(c.scale)) {
      EXPECT_EQ(sx, 1.5f);
      EXPECT_EQ(sy, 2.5f);
    } else {
      EXPECT_NEAR(sx, c.scale, 1e-6 * std::max(1.0, std::fabs(c.scale)));
      EXPECT_EQ(sx, sy);
    }
    EXPECT_NEAR(offsetA, c.offsetA, near(c.offsetA));
    EXPECT_NEAR(offsetB, c.offsetB, near(c.offsetB));
  }
}

}  // namespace
