// The job option accessors: each choice read from the CUPS options with the
// printer's default, including the values that must not be mistaken.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "CommonUtil.h"
#include "jobticket/JobTicketAccess.h"

namespace {
// The job's options, parsed as CUPS parses argv[5].
class Options {
 public:
  explicit Options(const char *text) { count_ = cupsParseOptions(text, 0, &options_); }
  ~Options() { cupsFreeOptions(count_, options_); }
  int n() const { return count_; }
  cups_option_t *o() const { return options_; }

 private:
  int count_ = 0;
  cups_option_t *options_ = nullptr;
};

#define CALL(fn, text)              \
  ([&] {                            \
    Options opts_(text);            \
    return fn(opts_.n(), opts_.o()); \
  }())

const char kRows[] = "com.apple.print.PrintSettings.PMLayoutRows..n.";
const char kColumns[] = "com.apple.print.PrintSettings.PMLayoutColumns..n.";

std::string Nup(int rows, int columns) {
  return std::string(kRows) + "=" + std::to_string(rows) + " " + kColumns + "=" +
         std::to_string(columns);
}

// Points the version lookup at a root of the test's own.
class SystemVersionScope {
 public:
  explicit SystemVersionScope(const char *version) {
    char templ[] = "/tmp/vt-version-XXXXXX";
    dir_ = mkdtemp(templ);
    if (version) {
      std::filesystem::create_directories(dir_ + "/System/Library/CoreServices");
      std::ofstream(dir_ + "/System/Library/CoreServices/SystemVersion.plist")
          << "<plist version=\"1.0\"><dict><key>ProductVersion</key><string>" << version
          << "</string></dict></plist>";
    }
    setenv("VT_TEST_ROOT", dir_.c_str(), 1);
    ResetSystemVersionCache();
  }
  ~SystemVersionScope() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
    unsetenv("VT_TEST_ROOT");
    ResetSystemVersionCache();
  }

 private:
  std::string dir_;
};
}  // namespace

TEST(OptionBooleans, OnlyTrueSpelledTheThreeWaysCounts) {
  EXPECT_EQ(CALL(bGetRotate180, "Rotate180=true"), 1);
  EXPECT_EQ(CALL(bGetRotate180, "Rotate180=True"), 1);
  EXPECT_EQ(CALL(bGetRotate180, "Rotate180=TRUE"), 1);
  EXPECT_EQ(CALL(bGetRotate180, "Rotate180=trueish"), 1);
  EXPECT_EQ(CALL(bGetRotate180, "Rotate180=yes"), 0);
  EXPECT_EQ(CALL(bGetRotate180, "Rotate180=1"), 0);
  EXPECT_EQ(CALL(bGetRotate180, "Rotate180=tRUE"), 0);
  EXPECT_EQ(CALL(bGetRotate180, "Rotate180=tru"), 0);
  EXPECT_EQ(CALL(bGetRotate180, ""), 0);
  EXPECT_EQ(CALL(bGetLayoutNup, "com.apple.print.PrintSettings.PMLayoutNUp..b.=true"), 1);
  // The type marker is part of the name.
  EXPECT_EQ(CALL(bGetLayoutNup, "com.apple.print.PrintSettings.PMLayoutNUp=true"), 0);
  EXPECT_EQ(CALL(bGetBorderLine, "VTBorderLine=True"), 1);
  EXPECT_EQ(CALL(bGetWakeOnLan, "WoLEnable=true"), 1);
  EXPECT_EQ(CALL(bGetWakeOnLan, "WoLEnable=false"), 0);
}

TEST(NupLayout, FacesAreRowsTimesColumns) {
  EXPECT_EQ(CALL(iGetNupFaces, Nup(2, 3).c_str()), 6);
  EXPECT_EQ(CALL(iGetNupFaces, (std::string(kRows) + "=2").c_str()), 1);
  EXPECT_EQ(CALL(iGetNupFaces, (std::string(kColumns) + "=4").c_str()), 1);
  EXPECT_EQ(CALL(iGetNupFaces, ""), 1);
}

TEST(NupLayout, NoFacesOrAnOverflowingCountPrintsOneUp) {
  EXPECT_EQ(CALL(iGetNupFaces, Nup(0, 4).c_str()), 1);
  EXPECT_EQ(CALL(iGetNupFaces, Nup(4, 0).c_str()), 1);
  EXPECT_EQ(CALL(iGetNupFaces, Nup(-2, 3).c_str()), 1);
  EXPECT_EQ(CALL(iGetNupFaces, Nup(-2, -3).c_str()), 1);
  EXPECT_EQ(CALL(iGetNupFaces, Nup(65536, 65536).c_str()), 1);
  EXPECT_EQ(CALL(iGetNupFaces, Nup(46341, 46340).c_str()), 2147441940);
}

TEST(NupLayout, DirectionMapsToTheFourOrders) {
  const char *key = "com.apple.print.PrintSettings.PMLayoutDirection..n.=";
  const int expected[] = {1, 1, 1, 3, 1, 5, 6, 1};  // directions 0..7
  for (int d = 0; d <= 7; ++d)
    EXPECT_EQ(CALL(iGetNupOrder, (std::string(key) + std::to_string(d)).c_str()), expected[d])
        << d;
  EXPECT_EQ(CALL(iGetNupOrder, ""), 1);
  EXPECT_EQ(CALL(iGetNupOrder, (std::string(key) + "-3").c_str()), 1);
}

TEST(Orientation, PageFormatFirstThenIppOnCurrentSystems) {
  SystemVersionScope version(nullptr);
  const std::string pf =
      "com.apple.print.subTicket.page_format_ticket..d.com.apple.print.PageFormat."
      "PMOrientation..n.=";
  EXPECT_EQ(CALL(iGetOrient, (pf + "2").c_str()), 2);
  EXPECT_EQ(CALL(iGetOrient, (pf + "4").c_str()), 4);
  EXPECT_EQ(CALL(iGetOrient, (pf + "3").c_str()), 1);
  // The page format wins over the IPP value.
  EXPECT_EQ(CALL(iGetOrient, (pf + "1 orientation-requested=4").c_str()), 1);
  EXPECT_EQ(CALL(iGetOrient, "orientation-requested=4"), 2);
  EXPECT_EQ(CALL(iGetOrient, "orientation-requested=5"), 4);
  EXPECT_EQ(CALL(iGetOrient, "orientation-requested=6"), 3);
  EXPECT_EQ(CALL(iGetOrient, "orientation-requested=3"), 1);
  EXPECT_EQ(CALL(iGetOrient, ""), 1);
  // The older systems' option is not read.
  EXPECT_EQ(CALL(iGetOrient, "VTDocumentOrientation=2"), 1);
  // N-up pages are always laid out portrait.
  EXPECT_EQ(CALL(iGetOrient, ("orientation-requested=6 " + Nup(2, 2)).c_str()), 1);
}

TEST(Orientation, OlderSystemsReadTheDriverOptionAndKeepItInNup) {
  SystemVersionScope version("10.4.11");
  EXPECT_EQ(CALL(iGetOrient, "VTDocumentOrientation=2"), 2);
  EXPECT_EQ(CALL(iGetOrient, "VTDocumentOrientation=4"), 4);
  EXPECT_EQ(CALL(iGetOrient, "orientation-requested=6"), 3);
  EXPECT_EQ(CALL(iGetOrient, ("orientation-requested=6 " + Nup(2, 2)).c_str()), 3);
}

TEST(FinishingChoices, BookletAndPosterKinds) {
  EXPECT_EQ(CALL(iGetBooklet, "VTDuplex=BookletL"), 2);
  EXPECT_EQ(CALL(iGetBooklet, "VTDuplex=BookletR"), 1);
  EXPECT_EQ(CALL(iGetBooklet, "VTDuplex=BookletU"), 4);
  EXPECT_EQ(CALL(iGetBooklet, "VTDuplex=BookletDown"), 3);
  EXPECT_EQ(CALL(iGetBooklet, "VTDuplex=Booklet"), 0);
  EXPECT_EQ(CALL(iGetBooklet, "VTDuplex=DuplexNoTumble"), 0);
  EXPECT_EQ(CALL(iGetPoster, "Combination=2x2"), 2);
  EXPECT_EQ(CALL(iGetPoster, "Combination=3x3"), 3);
  EXPECT_EQ(CALL(iGetPoster, "Combination=4x4"), 4);
  EXPECT_EQ(CALL(iGetPoster, "Combination=1x2"), 1);
  EXPECT_EQ(CALL(iGetPoster, "Combination=2x1"), 0);
  EXPECT_EQ(CALL(iGetPoster, "Combination=Off"), 0);
}

TEST(FinishingChoices, CoversAndInterleaveNeedTheirSwitch) {
  EXPECT_EQ(CALL(iGetFrontCoverPage, "FrontCoverPage=true FrontCoverOption=PrintedDouble"), 3);
  EXPECT_EQ(CALL(iGetFrontCoverPage, "FrontCoverPage=true FrontCoverOption=PrintedSingle"), 2);
  EXPECT_EQ(CALL(iGetFrontCoverPage, "FrontCoverPage=true FrontCoverOption=BlankPrinter"), 1);
  EXPECT_EQ(CALL(iGetFrontCoverPage, "FrontCoverPage=true FrontCoverOption=Off"), 0);
  EXPECT_EQ(CALL(iGetFrontCoverPage, "FrontCoverPage=true"), 0);
  EXPECT_EQ(CALL(iGetFrontCoverPage, "FrontCoverPage=false FrontCoverOption=PrintedDouble"), 0);
  EXPECT_EQ(CALL(iGetFrontCoverPage, "FrontCoverOption=PrintedDouble"), 0);
  EXPECT_EQ(CALL(iGetBackCoverPage, "BackCoverPage=True BackCoverOption=PrintedSingle"), 2);
  EXPECT_EQ(CALL(iGetBackCoverPage, "FrontCoverPage=True FrontCoverOption=PrintedSingle"), 0);
  EXPECT_EQ(CALL(iGetTransparencyInterleave, "OHPInterleave=true OHPInterOption=BlankPrinter"), 1);
  EXPECT_EQ(CALL(iGetTransparencyInterleave, "OHPInterleave=true OHPInterOption=PrintedSingle"),
            2);
  // Interleaves are never printed on both sides.
  EXPECT_EQ(CALL(iGetTransparencyInterleave, "OHPInterleave=true OHPInterOption=PrintedDouble"),
            0);
  EXPECT_EQ(CALL(iGetTransparencyInterleave, "OHPInterleave=no OHPInterOption=BlankPrinter"), 0);
}

TEST(SpoolDecision, OnlyReImposedJobsSpool) {
  EXPECT_EQ(CALL(bSpoolSetting, ""), 0);
  EXPECT_EQ(CALL(bSpoolSetting, "VTDuplex=BookletR"), 1);
  EXPECT_EQ(CALL(bSpoolSetting, "Combination=1x2"), 1);
  EXPECT_EQ(CALL(bSpoolSetting, "FrontCoverPage=true FrontCoverOption=BlankPrinter"), 1);
  EXPECT_EQ(CALL(bSpoolSetting, "BackCoverPage=true BackCoverOption=PrintedSingle"), 1);
  EXPECT_EQ(CALL(bSpoolSetting, "OHPInterleave=true OHPInterOption=BlankPrinter"), 1);
  EXPECT_EQ(CALL(bSpoolSetting, "FrontCoverPage=true FrontCoverOption=Off"), 0);
  // N-up, rotation, borders and duplex alone print in one pass.
  EXPECT_EQ(CALL(bSpoolSetting, (Nup(2, 2) +
                                 " Rotate180=true VTDuplex=DuplexTumble Binding=LongEdge "
                                 "com.apple.print.PrintSettings.PMBorder..b.=true "
                                 "com.apple.print.PrintSettings.PMBorderType..n.=1")
                                    .c_str()),
            0);
}

TEST(Duplex, SimplexLongAndShortEdge) {
  EXPECT_EQ(CALL(iGetDuplex, ""), 1);
  EXPECT_EQ(CALL(iGetDuplex, "VTDuplex=Duplex"), 1);
  EXPECT_EQ(CALL(iGetDuplex, "Binding=LongEdge"), 1);
  EXPECT_EQ(CALL(iGetDuplex, "VTDuplex=SingleSided Binding=LongEdge"), 1);
  EXPECT_EQ(CALL(iGetDuplex, "VTDuplex=Duplex Binding=LongEdge"), 2);
  EXPECT_EQ(CALL(iGetDuplex, "VTDuplex=Duplex Binding=ShortEdge"), 3);
  // A booklet setting is not simplex, so the binding decides.
  EXPECT_EQ(CALL(iGetDuplex, "VTDuplex=BookletR Binding=LongEdge"), 2);
}

TEST(BlankBeforeBackCover, ParityOfTheBodySides) {
  const std::string base =
      "VTDuplex=Duplex Binding=LongEdge "
      "com.apple.print.PrintSettings.PMTotalBeginPages..n.=9 "
      "FrontCoverPage=true FrontCoverOption=PrintedDouble ";
  // p = 9 - 2 = 7; 2 faces: 4 sides (even), 1 face: 7 sides (odd).
  EXPECT_EQ(CALL(bNeedToAddEmptyPageWithBackCoverPage, (base + Nup(1, 2)).c_str()), 0);
  EXPECT_EQ(CALL(bNeedToAddEmptyPageWithBackCoverPage, base.c_str()), 1);
  // Back cover printed on one side: p = 6, 1 face, even.
  EXPECT_EQ(CALL(bNeedToAddEmptyPageWithBackCoverPage,
                 (base + "BackCoverPage=true BackCoverOption=PrintedSingle").c_str()),
            0);
  // Simplex never needs one.
  EXPECT_EQ(CALL(bNeedToAddEmptyPageWithBackCoverPage,
                 "VTDuplex=SingleSided Binding=LongEdge "
                 "com.apple.print.PrintSettings.PMTotalBeginPages..n.=7"),
            0);
  // No body pages left.
  EXPECT_EQ(CALL(bNeedToAddEmptyPageWithBackCoverPage,
                 "VTDuplex=Duplex Binding=ShortEdge "
                 "com.apple.print.PrintSettings.PMTotalBeginPages..n.=2 "
                 "FrontCoverPage=true FrontCoverOption=PrintedDouble"),
            0);
  // Zero faces count as one: 3 sides, no division by zero.
  EXPECT_EQ(CALL(bNeedToAddEmptyPageWithBackCoverPage,
                 ("VTDuplex=Duplex Binding=ShortEdge "
                  "com.apple.print.PrintSettings.PMTotalBeginPages..n.=3 " +
                  Nup(0, 2))
                     .c_str()),
            1);
}

TEST(BorderAndPages, BorderTypeOnlyWhenBordersAreOnAndInRange) {
  const std::string on = "com.apple.print.PrintSettings.PMBorder..b.=true ";
  const std::string type = "com.apple.print.PrintSettings.PMBorderType..n.=";
  EXPECT_EQ(CALL(iGetPMBorderLine, (on + type + "3").c_str()), 3);
  EXPECT_EQ(CALL(iGetPMBorderLine, (on + type + "4").c_str()), 4);
  EXPECT_EQ(CALL(iGetPMBorderLine, (on + type + "5").c_str()), 0);
  EXPECT_EQ(CALL(iGetPMBorderLine, (on + type + "-1").c_str()), 0);
  EXPECT_EQ(CALL(iGetPMBorderLine, on.c_str()), 0);
  EXPECT_EQ(CALL(iGetPMBorderLine, (type + "3").c_str()), 0);
  EXPECT_EQ(CALL(iGetBeginPages, "com.apple.print.PrintSettings.PMTotalBeginPages..n.=12"), 12);
  EXPECT_EQ(CALL(iGetBeginPages, ""), 0);
}

TEST(CustomPaper, WidthAfterCustomHeightAfterTheFirstX) {
  EXPECT_EQ(CALL(bGetCustomPaperSize, "media=Custom.595.28x841.89"), 1);
  EXPECT_EQ(CALL(bGetCustomPaperSize, "media=A4"), 0);
  EXPECT_EQ(CALL(bGetCustomPaperSize, ""), 0);
  CustomPaperSize s = CALL(sGetCustomPaperSize, "media=Custom.595.28x841.89");
  EXPECT_EQ(s.width, 595);
  EXPECT_EQ(s.height, 841);
  s = CALL(sGetCustomPaperSize, "media=Custom.200x300mm");
  EXPECT_EQ(s.width, 200);
  EXPECT_EQ(s.height, 300);
  // No "x": no height.
  s = CALL(sGetCustomPaperSize, "media=Custom.200");
  EXPECT_EQ(s.width, 200);
  EXPECT_EQ(s.height, 0);
  // The "x" is searched from the start of the value.
  s = CALL(sGetCustomPaperSize, "media=xyz,Custom.100x200");
  EXPECT_EQ(s.width, 100);
  EXPECT_EQ(s.height, 0);
  s = CALL(sGetCustomPaperSize, "");
  EXPECT_EQ(s.width, 0);
  EXPECT_EQ(s.height, 0);
  // A very long value is read without overrunning anything: each dimension
  // is read from its first 2047 digits, with str2num's 32-bit wrap (values
  // from a 32-bit model of that rule in Python).
  std::string huge = "media=Custom." + std::string(5000, '1') + "x" + std::string(5000, '2');
  s = CALL(sGetCustomPaperSize, huge.c_str());
  EXPECT_EQ(s.width, -1773788741);
  EXPECT_EQ(s.height, -2072741000);
}
