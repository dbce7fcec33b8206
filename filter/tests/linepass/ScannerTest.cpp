// The scanner's decisions that do not show in a plain document's bytes:
// which converter made the document, banner pages, the booklet-with-borders
// showpage rules, job boundaries and the page count of older systems. The
// pass runs in this process and spools into a file of the test's own.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "CommonUtil.h"
#include "job/JobRecord.h"
#include "FilterRunner.h"
#include "linepass/Scanner.h"
#include "output/SpoolUtil.h"

namespace {
class ScannerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("VT_TEST_SPOOL_DIR", folder.spool().c_str(), 1);
    setenv("VT_TEST_ROOT", folder.root().c_str(), 1);
    ResetSystemVersionCache();
    giJobFailed = 0;
    vReadJobRecord(&job, argv, 0, nullptr, nullptr, nullptr);
  }
  void TearDown() override {
    vCloseSpoolFile();
    vRemoveSpoolFiles();
    unsetenv("VT_TEST_SPOOL_DIR");
    unsetenv("VT_TEST_ROOT");
    ResetSystemVersionCache();
  }

  // Runs the line pass over the document into spool file A, the scanner's
  // state going on from the last pass; returns what the pass wrote.
  std::string Pass(const std::string &document, int bookletKind = 0, int borderType = 0) {
    job.older = SystemOlderThan105();
    job.bookletKind = bookletKind;
    job.borderType = borderType;
    job.spool = 1;
    return Run(document);
  }
  // The same with the record as it is.
  std::string Run(const std::string &document) {
    vCreateSpoolFile();
    std::string copy = document;
    FILE *in = copy.empty() ? std::fopen("/dev/null", "rb")
                            : fmemopen(copy.data(), copy.size(), "rb");
    vRunLinePass(in, job);
    std::fclose(in);
    vCloseSpoolFile();
    std::string written = ReadFile(cpSpoolFileAwithPID);
    vRemoveSpoolFiles();
    return written;
  }

  FilterJob folder;  // private root and spool folder
  char arg0[12] = "psToVTOrbPS";
  char *argv[2] = {arg0, nullptr};
  JobRecord job;
  const ScanState &state = job.scan;
};
}  // namespace

TEST(CreatorDetection, LongerNamesWinAndUnknownNamesDoNotCount) {
  JobRecord job;
  EXPECT_EQ(bSupportedMainSetFilterName("%%Creator: cgpdftops 1.2\n", job), 1);
  EXPECT_EQ(job.filterType, 1);
  EXPECT_EQ(bSupportedMainSetFilterName("%%Creator: pictwpstops\n", job), 1);
  EXPECT_EQ(job.filterType, 5);
  EXPECT_EQ(bSupportedMainSetFilterName("%%Creator: pstops\n", job), 1);
  EXPECT_EQ(job.filterType, 6);
  EXPECT_EQ(bSupportedMainSetFilterName("%%Creator: texttops\n", job), 1);
  EXPECT_EQ(job.filterType, 7);
  EXPECT_EQ(bSupportedMainSetFilterName("%%Creator: poppler pdftops version 22\n", job), 1);
  EXPECT_EQ(job.filterType, 4);
  EXPECT_EQ(bSupportedMainSetFilterName("%%Creator: Acme Writer\n", job), 0);
  EXPECT_EQ(job.filterType, 4);
  EXPECT_EQ(bSupportedMainSetFilterName(nullptr, job), 0);
}

TEST_F(ScannerTest, UnknownCreatorLeavesTheSearchOpenUntilOneIsKnown) {
  Pass("%!PS\n%%Creator: Acme Writer\n%%Creator: hpgltops\n%%Creator: imagetops\n");
  EXPECT_EQ(job.filterType, 2);
  EXPECT_EQ(state.bCreatorKnown, 1);
}

TEST_F(ScannerTest, BannerPagesAreRecognisedByTheirProcset) {
  Pass("%!PS\n%%DocumentSuppliedResources: procset other\n");
  EXPECT_EQ(job.cupsBanner, 0);
  Pass("%!PS\n%%DocumentSuppliedResources: procset bannerprint/1.0 0\n");
  EXPECT_EQ(job.cupsBanner, 1);
}

TEST_F(ScannerTest, BookletWithBordersDropsTheShowpageRedefinitions) {
  // The restoring line goes only once a "%%Pages:" comment has been seen;
  // one holding the text "(atent)" does not count.
  const std::string doc =
      "%!PS\nuserdict/ESPshowpage/showpage load put\nuserdict/showpage{}put\n"
      "userdict/showpage/ESPshowpage load put\n%%Pages: (atent)\n"
      "userdict/showpage/ESPshowpage load put\n%%Pages: 2\n"
      "userdict/showpage/ESPshowpage load put\n%%EOF\n";
  EXPECT_EQ(Pass(doc, 1, 1),
            "%!PS\nuserdict/showpage/ESPshowpage load put\n%%Pages: (atent)\n"
            "userdict/showpage/ESPshowpage load put\n%%Pages: 2\n%%EOF\n");
  // Only booklets with borders.
  EXPECT_EQ(Pass(doc, 1, 0), doc);
  EXPECT_EQ(Pass(doc, 0, 1), doc);
}

TEST_F(ScannerTest, EndOfJobThenUelStartsTheJobStateAfresh) {
  Pass("%!PS\n@PJL JOB NAME=\"a\"\n");
  EXPECT_EQ(state.bFirstLineDone, 1);
  EXPECT_EQ(state.bJobNameSeen, 1);
  // The usual closing line ends the job on its own.
  std::string rest = Pass("\x1b%-12345X@PJL EOJ\n");
  EXPECT_EQ(rest, "\x1b%-12345X@PJL EOJ\n");
  EXPECT_EQ(state.bJobNameSeen, 0);
  // The next job's name line is dropped again.
  EXPECT_EQ(Pass("@PJL JOB NAME=\"b\"\n%!PS\n"), "%!PS\n");
}

TEST_F(ScannerTest, OlderSystemsCountPageSetups) {
  folder.setSystemVersion("10.4.11");
  ResetSystemVersionCache();
  std::string doc = "%!PS\n%%BeginPageSetup\n%%BeginPageSetup\n\x1b%-12345X@PJL EOJ\n";
  EXPECT_EQ(Pass(doc), doc);
  EXPECT_EQ(job.pageCount, 2);
  // No job boundaries on older systems.
  EXPECT_EQ(state.bFirstLineDone, 1);
}

TEST_F(ScannerTest, UnreadableScaleKeepsThePreviousOne) {
  std::string doc =
      "0 0 translate 0.5 0.5 scale\nx y translate a b scale\n1 2 100 50 ESPrs\n";
  EXPECT_EQ(Pass(doc, 0, 2),
            "0 0 translate 0.5 0.5 scale\nx y translate a b scale\n3.00 4.00 96.00 46.00 ESPrs\r\n");
}

// A held "%%BeginPageSetup" is never lost: a page that ends before the
// line it waits for gets it at its end (here, the end of the document).
TEST_F(ScannerTest, HeldPageSetupIsWrittenWhenThePageEndsWithoutConverterSetup) {
  EXPECT_EQ(Pass("%%Page: 1 1\n%%BeginPageSetup\n(body) pop\n"),
            "%%Page: 1 1\n(body) pop\n%%BeginPageSetup\n");
  EXPECT_EQ(state.bPageSetupHeld, 0);
}

// The options and the system's generation are read once, when the record is
// made: the line pass goes by the record even when the options are gone and
// the system's version file says otherwise by then.
TEST_F(ScannerTest, OptionsAndSystemAreReadOnceWhenTheRecordIsMade) {
  folder.setSystemVersion("10.4.11");
  ResetSystemVersionCache();
  cups_option_t *options = nullptr;
  const int count =
      cupsParseOptions("Rotate180=true orientation-requested=4 VTDuplex=BookletL", 0, &options);
  vReadJobRecord(&job, argv, count, options, nullptr, nullptr);
  cupsFreeOptions(count, options);
  job.num_options = 0;
  job.options = nullptr;
  folder.setSystemVersion("10.6.8");
  ResetSystemVersionCache();

  EXPECT_EQ(Run("%!PS\n%%BeginSetup\n%%EndSetup\n%%Page: 1 1\n%%BeginPageSetup\n(body) pop\n"),
            "%!PS\n%%BeginSetup\n"
            "<</PclOrientation 1>> /VTOptions /ProcSet findresource /setVToptions get exec\n"
            "%%EndSetup\n%%Page: 1 1\n%%BeginPageSetup\n"
            "currentpagedevice /PageSize get aload pop exch translate 180 rotate\n(body) pop\n");
  // Counted as on the older system, where "%%BeginPageSetup" is not held.
  EXPECT_EQ(job.pageCount, 1);
}
