// The job option accessors: each choice read from the CUPS options with the
// printer's default, including the values that must not be mistaken.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
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

namespace {
using Accessor = int (*)(int, cups_option_t *);
struct Row {
  Accessor fn;
  const char *name;
  std::string options;
  int expected;
};
#define FN(f) f, #f

void CheckRows(std::initializer_list<Row> rows) {
  for (const Row &r : rows)
    EXPECT_EQ(CALL(r.fn, r.options.c_str()), r.expected) << r.name << "(" << r.options << ")";
}

const std::string kPf =
    "com.apple.print.subTicket.page_format_ticket..d.com.apple.print.PageFormat.PMOrientation..n.=";
const std::string kDirection = "com.apple.print.PrintSettings.PMLayoutDirection..n.=";
const std::string kBorderOn = "com.apple.print.PrintSettings.PMBorder..b.=true ";
const std::string kBorderType = "com.apple.print.PrintSettings.PMBorderType..n.=";
const std::string kBeginPages = "com.apple.print.PrintSettings.PMTotalBeginPages..n.=";
const std::string kCoverBase = "VTDuplex=Duplex Binding=LongEdge " + kBeginPages +
                               "9 FrontCoverPage=true FrontCoverOption=PrintedDouble ";
}  // namespace

// Every accessor that reads one choice, with the values that must not be mistaken.
TEST(OptionAccessors, ChoicesAndTheirDefaults) {
  CheckRows({
      // Booleans: only "true" spelled three ways (as a prefix) counts.
      {FN(bGetRotate180), "Rotate180=true", 1},
      {FN(bGetRotate180), "Rotate180=True", 1},
      {FN(bGetRotate180), "Rotate180=TRUE", 1},
      {FN(bGetRotate180), "Rotate180=trueish", 1},
      {FN(bGetRotate180), "Rotate180=yes", 0},
      {FN(bGetRotate180), "Rotate180=1", 0},
      {FN(bGetRotate180), "Rotate180=tRUE", 0},
      {FN(bGetRotate180), "Rotate180=tru", 0},
      {FN(bGetRotate180), "", 0},
      {FN(bGetLayoutNup), "com.apple.print.PrintSettings.PMLayoutNUp..b.=true", 1},
      // The type marker is part of the name.
      {FN(bGetLayoutNup), "com.apple.print.PrintSettings.PMLayoutNUp=true", 0},
      {FN(bGetBorderLine), "VTBorderLine=True", 1},
      {FN(bGetWakeOnLan), "WoLEnable=true", 1},
      {FN(bGetWakeOnLan), "WoLEnable=false", 0},
      // N-up faces are rows times columns; none or an overflowing count prints one-up.
      {FN(iGetNupFaces), Nup(2, 3), 6},
      {FN(iGetNupFaces), std::string(kRows) + "=2", 1},
      {FN(iGetNupFaces), std::string(kColumns) + "=4", 1},
      {FN(iGetNupFaces), "", 1},
      {FN(iGetNupFaces), Nup(0, 4), 1},
      {FN(iGetNupFaces), Nup(4, 0), 1},
      {FN(iGetNupFaces), Nup(-2, 3), 1},
      {FN(iGetNupFaces), Nup(-2, -3), 1},
      {FN(iGetNupFaces), Nup(65536, 65536), 1},
      {FN(iGetNupFaces), Nup(46341, 46340), 2147441940},
      {FN(iGetNupOrder), kDirection + "-3", 1},
      {FN(iGetNupOrder), "", 1},
      // Booklet and poster kinds.
      {FN(iGetBooklet), "VTDuplex=BookletL", 2},
      {FN(iGetBooklet), "VTDuplex=BookletR", 1},
      {FN(iGetBooklet), "VTDuplex=BookletU", 4},
      {FN(iGetBooklet), "VTDuplex=BookletDown", 3},
      {FN(iGetBooklet), "VTDuplex=Booklet", 0},
      {FN(iGetBooklet), "VTDuplex=DuplexNoTumble", 0},
      {FN(iGetPoster), "Combination=2x2", 2},
      {FN(iGetPoster), "Combination=3x3", 3},
      {FN(iGetPoster), "Combination=4x4", 4},
      {FN(iGetPoster), "Combination=1x2", 1},
      {FN(iGetPoster), "Combination=2x1", 0},
      {FN(iGetPoster), "Combination=Off", 0},
      // Covers and interleaves need their switch.
      {FN(iGetFrontCoverPage), "FrontCoverPage=true FrontCoverOption=PrintedDouble", 3},
      {FN(iGetFrontCoverPage), "FrontCoverPage=true FrontCoverOption=PrintedSingle", 2},
      {FN(iGetFrontCoverPage), "FrontCoverPage=true FrontCoverOption=BlankPrinter", 1},
      {FN(iGetFrontCoverPage), "FrontCoverPage=true FrontCoverOption=Off", 0},
      {FN(iGetFrontCoverPage), "FrontCoverPage=true", 0},
      {FN(iGetFrontCoverPage), "FrontCoverPage=false FrontCoverOption=PrintedDouble", 0},
      {FN(iGetFrontCoverPage), "FrontCoverOption=PrintedDouble", 0},
      {FN(iGetBackCoverPage), "BackCoverPage=True BackCoverOption=PrintedSingle", 2},
      {FN(iGetBackCoverPage), "FrontCoverPage=True FrontCoverOption=PrintedSingle", 0},
      {FN(iGetTransparencyInterleave), "OHPInterleave=true OHPInterOption=BlankPrinter", 1},
      {FN(iGetTransparencyInterleave), "OHPInterleave=true OHPInterOption=PrintedSingle", 2},
      // Interleaves are never printed on both sides.
      {FN(iGetTransparencyInterleave), "OHPInterleave=true OHPInterOption=PrintedDouble", 0},
      {FN(iGetTransparencyInterleave), "OHPInterleave=no OHPInterOption=BlankPrinter", 0},
      // Only re-imposed jobs spool; N-up, rotation, borders and duplex alone print in one pass.
      {FN(bSpoolSetting), "", 0},
      {FN(bSpoolSetting), "VTDuplex=BookletR", 1},
      {FN(bSpoolSetting), "Combination=1x2", 1},
      {FN(bSpoolSetting), "FrontCoverPage=true FrontCoverOption=BlankPrinter", 1},
      {FN(bSpoolSetting), "BackCoverPage=true BackCoverOption=PrintedSingle", 1},
      {FN(bSpoolSetting), "OHPInterleave=true OHPInterOption=BlankPrinter", 1},
      {FN(bSpoolSetting), "FrontCoverPage=true FrontCoverOption=Off", 0},
      {FN(bSpoolSetting), Nup(2, 2) + " Rotate180=true VTDuplex=DuplexTumble Binding=LongEdge " +
                              kBorderOn + kBorderType + "1", 0},
      // Simplex, long and short edge; a booklet setting is not simplex, so the binding decides.
      {FN(iGetDuplex), "", 1},
      {FN(iGetDuplex), "VTDuplex=Duplex", 1},
      {FN(iGetDuplex), "Binding=LongEdge", 1},
      {FN(iGetDuplex), "VTDuplex=SingleSided Binding=LongEdge", 1},
      {FN(iGetDuplex), "VTDuplex=Duplex Binding=LongEdge", 2},
      {FN(iGetDuplex), "VTDuplex=Duplex Binding=ShortEdge", 3},
      {FN(iGetDuplex), "VTDuplex=BookletR Binding=LongEdge", 2},
      // A blank before the back cover by the parity of the body's sides.
      // p = 9 - 2 = 7; 2 faces: 4 sides (even), 1 face: 7 sides (odd).
      {FN(bNeedToAddEmptyPageWithBackCoverPage), kCoverBase + Nup(1, 2), 0},
      {FN(bNeedToAddEmptyPageWithBackCoverPage), kCoverBase, 1},
      // Back cover printed on one side: p = 6, 1 face, even.
      {FN(bNeedToAddEmptyPageWithBackCoverPage),
       kCoverBase + "BackCoverPage=true BackCoverOption=PrintedSingle", 0},
      // Simplex never needs one; nor a job with no body pages left.
      {FN(bNeedToAddEmptyPageWithBackCoverPage),
       "VTDuplex=SingleSided Binding=LongEdge " + kBeginPages + "7", 0},
      {FN(bNeedToAddEmptyPageWithBackCoverPage),
       "VTDuplex=Duplex Binding=ShortEdge " + kBeginPages +
           "2 FrontCoverPage=true FrontCoverOption=PrintedDouble", 0},
      // Zero faces count as one: 3 sides, no division by zero.
      {FN(bNeedToAddEmptyPageWithBackCoverPage),
       "VTDuplex=Duplex Binding=ShortEdge " + kBeginPages + "3 " + Nup(0, 2), 1},
      // The border type only when borders are on and it is in range.
      {FN(iGetPMBorderLine), kBorderOn + kBorderType + "3", 3},
      {FN(iGetPMBorderLine), kBorderOn + kBorderType + "4", 4},
      {FN(iGetPMBorderLine), kBorderOn + kBorderType + "5", 0},
      {FN(iGetPMBorderLine), kBorderOn + kBorderType + "-1", 0},
      {FN(iGetPMBorderLine), kBorderOn, 0},
      {FN(iGetPMBorderLine), kBorderType + "3", 0},
      {FN(iGetBeginPages), kBeginPages + "12", 12},
      {FN(iGetBeginPages), "", 0},
      {FN(bGetCustomPaperSize), "media=Custom.595.28x841.89", 1},
      {FN(bGetCustomPaperSize), "media=A4", 0},
      {FN(bGetCustomPaperSize), "", 0},
  });
  // The layout direction maps onto the four orders.
  const int orders[] = {1, 1, 1, 3, 1, 5, 6, 1};  // directions 0..7
  for (int d = 0; d <= 7; ++d)
    EXPECT_EQ(CALL(iGetNupOrder, (kDirection + std::to_string(d)).c_str()), orders[d]) << d;
}

TEST(Orientation, PageFormatFirstThenIppOnCurrentSystems) {
  SystemVersionScope version(nullptr);
  CheckRows({
      {FN(iGetOrient), kPf + "2", 2},
      {FN(iGetOrient), kPf + "4", 4},
      {FN(iGetOrient), kPf + "3", 1},
      // The page format wins over the IPP value.
      {FN(iGetOrient), kPf + "1 orientation-requested=4", 1},
      {FN(iGetOrient), "orientation-requested=4", 2},
      {FN(iGetOrient), "orientation-requested=5", 4},
      {FN(iGetOrient), "orientation-requested=6", 3},
      {FN(iGetOrient), "orientation-requested=3", 1},
      {FN(iGetOrient), "", 1},
      // The older systems' option is not read.
      {FN(iGetOrient), "VTDocumentOrientation=2", 1},
      // N-up pages are always laid out portrait.
      {FN(iGetOrient), "orientation-requested=6 " + Nup(2, 2), 1},
  });
}

TEST(Orientation, OlderSystemsReadTheDriverOptionAndKeepItInNup) {
  SystemVersionScope version("10.4.11");
  CheckRows({
      {FN(iGetOrient), "VTDocumentOrientation=2", 2},
      {FN(iGetOrient), "VTDocumentOrientation=4", 4},
      {FN(iGetOrient), "orientation-requested=6", 3},
      {FN(iGetOrient), "orientation-requested=6 " + Nup(2, 2), 3},
  });
}

TEST(CustomPaper, WidthAfterCustomHeightAfterTheFirstX) {
  const struct {
    std::string options;
    int width, height;
  } cases[] = {
      {"media=Custom.595.28x841.89", 595, 841},
      {"media=Custom.200x300mm", 200, 300},
      {"media=Custom.200", 200, 0},  // no "x": no height
      {"media=xyz,Custom.100x200", 100, 0},  // the "x" is searched from the value's start
      {"", 0, 0},
      // A very long value is read without overrunning anything: each dimension
      // is read from its first 2047 digits, with str2num's 32-bit wrap (values
      // from a 32-bit model of that rule in Python).
      {"media=Custom." + std::string(5000, '1') + "x" + std::string(5000, '2'), -1773788741,
       -2072741000},
  };
  for (const auto &c : cases) {
    CustomPaperSize s = CALL(sGetCustomPaperSize, c.options.c_str());
    EXPECT_EQ(s.width, c.width) << c.options.substr(0, 40);
    EXPECT_EQ(s.height, c.height) << c.options.substr(0, 40);
  }
}
