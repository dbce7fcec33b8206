// The setup writers called at "%%BeginSetup", "%%BeginPageSetup" and at the
// placement lines of turned N-up sheets: what each writes, where, and when
// it writes nothing. The system version is the host's (no SystemVersion.plist
// under the test root), so these run as on 10.5.0 or later; the older-system
// cases go through the real program in ConvertersThroughFilterTest.cpp.
#include <gtest/gtest.h>

#include <string>

#include "job/JobRecord.h"
#include "FilterRunner.h"
#include "linepass/PS_DSC.h"
#include "SetupTestSupport.h"

namespace {

const char kOrientation0[] =
    "<</PclOrientation 0>> /VTOptions /ProcSet findresource /setVToptions get exec\n";
const char kOrientation1[] =
    "<</PclOrientation 1>> /VTOptions /ProcSet findresource /setVToptions get exec\n";
const char kTurn[] = "currentpagedevice /PageSize get aload pop translate 180 rotate\n";
const char kTurnSideways[] =
    "currentpagedevice /PageSize get aload pop exch translate 180 rotate\n";

// N-up options: rows x columns faces.
std::string Nup(int rows, int columns) {
  return " com.apple.print.PrintSettings.PMLayoutRows..n.=" + std::to_string(rows) +
         " com.apple.print.PrintSettings.PMLayoutColumns..n.=" + std::to_string(columns);
}

Written Orientation(const std::string &optionText) {
  JobOptions opts(optionText);
  const JobRecord job = RecordOf(opts);
  return CaptureWrites([&] { WritePS_PclOrientation(job); });
}

TEST(PclOrientation, LandscapeAndSidewaysNupCancelOut) {
  EXPECT_EQ(Orientation("").out, kOrientation0);
  EXPECT_EQ(Orientation("orientation-requested=4").out, kOrientation1);
  EXPECT_EQ(Orientation("orientation-requested=4" + Nup(1, 2)).out, kOrientation0);
  EXPECT_EQ(Orientation("orientation-requested=5" + Nup(2, 3)).out, kOrientation0);
  EXPECT_EQ(Orientation("orientation-requested=3" + Nup(1, 2)).out, kOrientation1);
  EXPECT_EQ(Orientation("orientation-requested=6").out, kOrientation0);
  // Only 2 and 6 faces set the page sideways.
  EXPECT_EQ(Orientation("orientation-requested=5" + Nup(2, 2)).out, kOrientation1);
  // "4" must match exactly.
  EXPECT_EQ(Orientation("orientation-requested=45").out, kOrientation0);
}

TEST(PclOrientation, GoesToTheSpoolFileWhenTheJobSpools) {
  Written w = Orientation("orientation-requested=4 VTDuplex=BookletL");
  EXPECT_EQ(w.out, "");
  EXPECT_EQ(w.spool, kOrientation1);
}

class PageTurn : public ::testing::Test {
 protected:
  Written turn(int creator, const std::string &optionText) {
    JobOptions opts(optionText);
    JobRecord job = RecordOf(opts);
    job.filterType = creator;
    return CaptureWrites([&] { WritePSOperator_After_BeginPageSetup(job, stdout); });
  }
};

TEST_F(PageTurn, NothingWithoutRotate) {
  EXPECT_EQ(turn(kFilterCgpdftops, "").out, "");
  EXPECT_EQ(turn(kFilterCgpdftops, "Rotate180=false").out, "");
  Written spooled = turn(kFilterUnknown, "Rotate180=no VTDuplex=BookletR");
  EXPECT_EQ(spooled.out, "");
  EXPECT_EQ(spooled.spool, "");
}

TEST_F(PageTurn, SpooledJobsTurnWhateverTheCreator) {
  for (int creator : {kFilterUnknown, kFilterPstops, kFilterCgpdftops, kFilterPictwpstops}) {
    Written w = turn(creator, "Rotate180=true VTDuplex=BookletL" + Nup(2, 2));
    EXPECT_EQ(w.out, "") << creator;
    EXPECT_EQ(w.spool, kTurn) << creator;
  }
}

TEST_F(PageTurn, SidewaysOrientationsSwapWidthAndHeight) {
  const std::string key =
      "com.apple.print.subTicket.page_format_ticket..d.com.apple.print.PageFormat.PMOrientation..n.";
  EXPECT_EQ(turn(kFilterCgpdftops, "Rotate180=true " + key + "=2").out, kTurnSideways);
  EXPECT_EQ(turn(kFilterCgpdftops, "Rotate180=true " + key + "=4").out, kTurnSideways);
  EXPECT_EQ(turn(kFilterCgpdftops, "Rotate180=true orientation-requested=4").out, kTurnSideways);
  EXPECT_EQ(turn(kFilterCgpdftops, "Rotate180=true orientation-requested=6").out, kTurn);
  // On 10.5.0 and later N-up sheets are always taken as portrait.
  EXPECT_EQ(turn(kFilterCgpdftops, "Rotate180=true orientation-requested=4" + Nup(2, 2)).out,
            kTurn);
}

// The turned N-up placement, with the sheet from a PPD written here.
class TurnedPlacement : public ::testing::Test {
 protected:
  // A PPD whose default size is width x height with the given margins.
  void paper(const std::string &width, const std::string &height, const std::string &margin) {
    std::string ppd = MinimalPpd("", "A4");
    auto swap = [&ppd](const std::string &from, const std::string &to) {
      ppd.replace(ppd.find(from), from.size(), to);
    };
    swap("*ImageableArea A4/A4: \"12.5 12.5 582.78 829.39\"",
         "*ImageableArea A4/A4: \"" + margin + " " + margin + " 500 700\"");
    swap("*PaperDimension A4/A4: \"595.28 841.89\"",
         "*PaperDimension A4/A4: \"" + width + " " + height + "\"");
    JobOptions none;
    ASSERT_TRUE(ppd_.open(job_, ppd, none));
  }
  std::string place(int pageCount, const std::string &optionText, const char *line) {
    JobOptions opts(optionText);
    JobRecord job = RecordOf(opts, ppd_.ppd);
    job.pageCount = pageCount;
    Written w = CaptureWrites([&] { WritePS_Nup_Rotate180_with_cgpdftops(line, job, stdout); });
    EXPECT_EQ(w.spool, "");
    return w.out;
  }
  FilterJob job_;
  JobPpd ppd_;
};

TEST_F(TurnedPlacement, FourUpPortraitOrder1) {
  paper("595", "842", "12");
  const char *line = "0 0 translate 0.48 0.48 scale\n";
  // Worked example: position 0 goes to the right cell of the bottom row.
  EXPECT_EQ(place(0, Nup(2, 2), line), "285.6 0.0 translate 0.480 0.480 scale\n");
  EXPECT_EQ(place(1, Nup(2, 2), line), "0.0 0.0 translate 0.480 0.480 scale\n");
  EXPECT_EQ(place(2, Nup(2, 2), line), "285.6 404.2 translate 0.480 0.480 scale\n");
  EXPECT_EQ(place(3, Nup(2, 2), line), "0.0 404.2 translate 0.480 0.480 scale\n");
  // The position is the page count modulo the faces.
  EXPECT_EQ(place(6, Nup(2, 2), line), "285.6 404.2 translate 0.480 0.480 scale\n");
}

TEST_F(TurnedPlacement, FourUpOtherOrders) {
  paper("595", "842", "12");
  const char *line = "0 0 translate 0.48 0.48 scale\n";
  const std::string dir = " com.apple.print.PrintSettings.PMLayoutDirection..n.=";
  // Order 3: left to right from the bottom.
  EXPECT_EQ(place(0, Nup(2, 2) + dir + "3", line), "0.0 0.0 translate 0.480 0.480 scale\n");
  EXPECT_EQ(place(1, Nup(2, 2) + dir + "3", line), "285.6 0.0 translate 0.480 0.480 scale\n");
  // Order 5: columns from the right, upwards.
  EXPECT_EQ(place(1, Nup(2, 2) + dir + "5", line), "285.6 404.2 translate 0.480 0.480 scale\n");
  EXPECT_EQ(place(2, Nup(2, 2) + dir + "5", line), "0.0 0.0 translate 0.480 0.480 scale\n");
  // Order 6: columns from the left, upwards.
  EXPECT_EQ(place(1, Nup(2, 2) + dir + "6", line), "0.0 404.2 translate 0.480 0.480 scale\n");
  EXPECT_EQ(place(2, Nup(2, 2) + dir + "6", line), "285.6 0.0 translate 0.480 0.480 scale\n");
  // Directions 2 and 4 (and unknown ones) are order 1.
  EXPECT_EQ(place(0, Nup(2, 2) + dir + "4", line), "285.6 0.0 translate 0.480 0.480 scale\n");
}

TEST_F(TurnedPlacement, MissingScaleNumbersTakeTheComputedScale) {
  paper("612", "792", "12");
  // 2-up on Letter: s = 372 / 588, oy = (588 - s * 768) / 2.
  EXPECT_EQ(place(0, Nup(1, 2), "10 20 translate\n"),
            "387.2 51.1 translate 0.633 0.633 scale\n");
  EXPECT_EQ(place(1, Nup(1, 2), "10 20 translate\n"), "0.0 51.1 translate 0.633 0.633 scale\n");
  // Only the horizontal scale read: the vertical one stays computed.
  EXPECT_EQ(place(0, Nup(1, 2), "10 20 translate 0.5 scale\n"),
            "306.0 51.1 translate 0.500 0.633 scale\n");
}

TEST_F(TurnedPlacement, SixUpPortrait) {
  paper("595", "842", "12");
  // s = min((842 / 3 - 24) / 571, (297.5 - 24) / 818), ox = (842 - 1785 s) / 2 - 12.
  const char *line = "0 0 translate\n";
  EXPECT_EQ(place(0, Nup(2, 3), line), "508.5 0.0 translate 0.334 0.334 scale\n");
  EXPECT_EQ(place(2, Nup(2, 3), line), "110.6 0.0 translate 0.334 0.334 scale\n");
  EXPECT_EQ(place(4, Nup(2, 3), line), "309.5 281.5 translate 0.334 0.334 scale\n");
}

TEST_F(TurnedPlacement, NineAndSixteenUp) {
  paper("612", "792", "12");
  EXPECT_EQ(place(0, Nup(3, 3), "0 0 translate\n"), "391.7 0.0 translate 0.320 0.320 scale\n");
  EXPECT_EQ(place(7, Nup(3, 3), "0 0 translate\n"), "195.8 506.9 translate 0.320 0.320 scale\n");
  EXPECT_EQ(place(12, Nup(4, 4), "0 0 translate\n"), "440.6 570.2 translate 0.240 0.240 scale\n");
}

TEST_F(TurnedPlacement, UnsupportedFaceCountsWriteNothing) {
  paper("612", "792", "12");
  const char *line = "0 0 translate 0.5 0.5 scale\n";
  for (auto [rows, columns] : {std::pair{1, 3}, {1, 5}, {2, 4}, {1, 1}, {3, 4}, {5, 5}}) {
    EXPECT_EQ(place(5, Nup(rows, columns), line), "") << rows << "x" << columns;
  }
  // Zero or negative faces never reach the modulo.
  EXPECT_EQ(place(5, Nup(0, 2), line), "");
  EXPECT_EQ(place(5, Nup(-1, 2), line), "");
}

TEST_F(TurnedPlacement, NonFiniteNumbersAreNeverWritten) {
  // Margins as large as the paper: the 2-up scale is 0/0.
  paper("100", "100", "50");
  EXPECT_EQ(place(0, Nup(1, 2), "0 0 translate\n"), "");
  // Scale numbers that read as infinite or NaN.
  ppd_.close();
  paper("612", "792", "12");
  EXPECT_EQ(place(0, Nup(2, 2), "0 0 translate inf 0.5 scale\n"), "");
  EXPECT_EQ(place(0, Nup(2, 2), "0 0 translate 0.5 nan scale\n"), "");
  EXPECT_EQ(place(0, Nup(2, 2), "0 0 translate 1e38 1e38 scale\n"), "");
}

}  // namespace
