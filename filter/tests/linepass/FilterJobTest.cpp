// The filter as CUPS runs it: arguments, input, the line pass, spooled jobs,
// job failures and cancellation, and waking the printer.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include "FilterRunner.h"

namespace {
const char kUel[] = "\x1b%-12345X";
const char kHelper[] =
    "/Library/Application Support/VANTORA/Q610/Helpers/Q610Helper.app/Contents/MacOS/Q610Helper";

// A small document with no setup section (the setup injection of other
// stages stays out of byte-for-byte comparisons) and clear page markers.
std::string PlainDocument(const std::string &eol = "\n") {
  std::string doc;
  for (const char *line :
       {"%!PS-Adobe-3.0", "%%Creator: Acme Writer 2.1", "%%Pages: 2", "%%EndComments",
        "%%BeginProlog", "/F { pop } def", "%%EndProlog", "%%Page: 1 1",
        "(page one marker) F showpage", "%%Page: 2 2", "(page two marker) F showpage",
        "%%Trailer", "%%EOF"})
    doc += std::string(line) + eol;
  return doc;
}


class FilterJobTest : public ::testing::Test {
 protected:
  void SetUp() override { job.usePpd(); }
  FilterJob job;
};

// Writes a stand-in helper that records its argument vector (argv[0]
// included), one per line, then lingers a moment and marks that it ended.
void InstallHelperStandIn(const FilterJob &job) {
  std::string record = job.dir() + "/helper-args.txt";
  std::string path = job.writeRootFile(
      kHelper, "#!/bin/sh\nfor a in \"$0\" \"$@\"; do printf '%s\\n' \"$a\"; done > '" + record +
                   "'\nsleep 0.3\necho ended > '" + job.dir() + "/helper-ended.txt'\n");
  chmod(path.c_str(), 0755);
}
}  // namespace

// --- Arguments and input. ---------------------------------------------------

TEST_F(FilterJobTest, WrongArgumentCountsFailWithNothingPrinted) {
  for (std::vector<std::string> args :
       {std::vector<std::string>{"1", "u", "t", "1"},
        std::vector<std::string>{"1", "u", "t", "1", "", "/dev/null", "extra"}}) {
    FilterResult r = job.run(args, PlainDocument());
    EXPECT_EQ(r.status, 1) << args.size() + 1 << " entries";
    EXPECT_TRUE(r.out.empty());
    EXPECT_NE(r.err.find("ERROR: "), std::string::npos);
  }
}

TEST_F(FilterJobTest, StandardInputAndANamedFileGiveTheSameStream) {
  FilterResult fromStdin = job.print(PlainDocument());
  FilterResult fromFile = job.printFile(PlainDocument());
  EXPECT_EQ(fromStdin.status, 0);
  EXPECT_EQ(fromFile.status, 0);
  EXPECT_EQ(fromStdin.out, PlainDocument());
  EXPECT_EQ(fromFile.out, PlainDocument());
  // With a file named, standard input is not read.
  FilterResult r = job.run({"1", "u", "t", "1", "", job.writeFile("d.ps", "%!PS\nfile\n")},
                           "%!PS\nstdin\n");
  EXPECT_EQ(r.out, "%!PS\nfile\n");
}

TEST_F(FilterJobTest, UnreadableInputFileFails) {
  FilterResult r = job.run({"1", "u", "t", "1", "", job.dir() + "/no-such.ps"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.err.find("ERROR: unable to open print file."), std::string::npos);
}

TEST_F(FilterJobTest, InputThatFailsWhileReadingFailsTheJob) {
  // A folder opens but cannot be read: the job must not print as if the
  // document had ended.
  FilterResult r = job.run({"1", "u", "t", "1", "", job.spool()});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.err.find("ERROR: "), std::string::npos);
}

TEST_F(FilterJobTest, MissingOrBrokenPpdEndsTheJobAsFailed) {
  job.unsetPpd();
  FilterResult r = job.print(PlainDocument());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.err.find("ERROR: "), std::string::npos);

  job.usePpdText("this is not a PPD\n");
  r = job.print(PlainDocument());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.empty());

  FilterResult missing = job.run({"1", "u", "t", "1", ""}, PlainDocument(),
                                 {{"PPD", job.dir() + "/absent.ppd"}});
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(missing.out.empty());
}

// --- Byte-exact copying. -----------------------------------------------------

TEST_F(FilterJobTest, LineEndsNulBytesAndLongLinesPassUnchanged) {
  for (const char *eol : {"\n", "\r", "\r\n"}) {
    FilterResult r = job.print(PlainDocument(eol));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, PlainDocument(eol)) << "line end " << int(eol[0]);
  }
  std::string doc = "%!PS-Adobe-3.0\n" + std::string("(a\0b) pop\r\n", 11) +
                    std::string(10000, 'L') + "\n" + std::string(4095, 'M') + "\r\n" +
                    std::string("\0\0\0", 3) + "no final line end";
  FilterResult r = job.print(doc);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, doc);
}

TEST_F(FilterJobTest, BinarySectionsAreCopiedRawWithNoCommentActing) {
  std::string binary = std::string("\0\x01\xff\r\x04", 5) + "%%EOF\n" + std::string(kUel) + "@PJL JOB NAME=\"x\"\n" +
                       "%%BeginPageSetup\n%%BeginFeature: *PageSize A4\n" +
                       std::string(5000, '\xAB') + "\n\x04";
  std::string doc = "%!PS-Adobe-3.0\n%%Page: 1 1\n%%BeginBinary: 5000\n" + binary +
                    "%%EndBinary\n(after) pop\n";
  FilterResult r = job.print(doc);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, doc);
}

TEST_F(FilterJobTest, EndOfTransmissionAfterEofIsDropped) {
  std::string doc = PlainDocument() + "\x04";
  FilterResult r = job.print(doc);
  EXPECT_EQ(r.out, PlainDocument());
  // Before "%%EOF", or with more than the one byte on the line, it stays.
  std::string early = "%!PS\n\x04" + std::string("\n%%EOF\n\x04\n");
  EXPECT_EQ(job.print(early).out, early);
}

TEST_F(FilterJobTest, EndOfTransmissionStaysOnOlderSystems) {
  job.setSystemVersion("10.4.11");
  std::string doc = PlainDocument() + "\x04";
  EXPECT_EQ(job.print(doc).out, doc);
}

TEST_F(FilterJobTest, JobNameLineWithoutUelIsDropped) {
  std::string doc = "@PJL JOB NAME=\"report\"\n%!PS-Adobe-3.0\n(x) pop\n";
  EXPECT_EQ(job.print(doc).out, "%!PS-Adobe-3.0\n(x) pop\n");
  std::string withUel = std::string(kUel) + "@PJL JOB NAME=\"report\"\n@PJL ENTER LANGUAGE = "
                        "POSTSCRIPT\n%!PS-Adobe-3.0\n";
  EXPECT_EQ(job.print(withUel).out,
            std::string(kUel) + "@PJL JOB\n@PJL ENTER LANGUAGE = POSTSCRIPT\n%!PS-Adobe-3.0\n");
}

// --- Page setup. ------------------------------------------------------------

TEST_F(FilterJobTest, PageSetupIsHeldUntilTheConverterSetupBegins) {
  std::string doc =
      "%!PS-Adobe-3.0\n%%Page: 1 1\n%%BeginPageSetup\n/a 1 def\ncg_md begin\n(p1) pop\n"
      "%%Page: 2 2\n%%BeginPageSetup\n(p2) pop\n%%EOF\n";
  FilterResult r = job.print(doc);
  // Page 2 never says "cg_md begin": its held line comes back where the
  // page ends, never lost.
  EXPECT_EQ(r.out,
            "%!PS-Adobe-3.0\n%%Page: 1 1\n/a 1 def\n%%BeginPageSetup\ncg_md begin\n(p1) pop\n"
            "%%Page: 2 2\n(p2) pop\n%%BeginPageSetup\n%%EOF\n");
}

TEST_F(FilterJobTest, PageSetupPassesOnOlderSystemsAndInNup) {
  std::string doc =
      "%!PS-Adobe-3.0\n%%Page: 1 1\n%%BeginPageSetup\n/a 1 def\ncg_md begin\n(p1) pop\n";
  job.setSystemVersion("10.4.11");
  EXPECT_EQ(job.print(doc).out, doc);
  FilterJob nup;
  nup.usePpd();
  EXPECT_EQ(nup.print(doc, "com.apple.print.PrintSettings.PMLayoutRows..n.=1 "
                           "com.apple.print.PrintSettings.PMLayoutColumns..n.=2")
                .out,
            doc);
}

TEST_F(FilterJobTest, PrinterSetupFollowsOnlyTheFirstSetupSection) {
  std::string doc = "%!PS-Adobe-3.0\n%%BeginSetup\n%%EndSetup\n%%BeginSetup\n%%EndSetup\n";
  std::string out = job.print(doc).out;
  // One line of setup is written, right after the first "%%BeginSetup": the
  // printer's procedure set told that the page stands upright.
  EXPECT_EQ(out,
            "%!PS-Adobe-3.0\n%%BeginSetup\n"
            "<</PclOrientation 0>> /VTOptions /ProcSet findresource /setVToptions get exec\n"
            "%%EndSetup\n%%BeginSetup\n%%EndSetup\n");
  // A landscape job tells it the page is set sideways.
  EXPECT_NE(job.print(doc, "orientation-requested=4")
                .out.find("%%BeginSetup\n<</PclOrientation 1>> /VTOptions /ProcSet findresource "
                          "/setVToptions get exec\n%%EndSetup\n"),
            std::string::npos);
}

// --- Borders. ---------------------------------------------------------------

TEST_F(FilterJobTest, BorderRectanglesMoveInwardByOneUnit) {
  const char *border = "com.apple.print.PrintSettings.PMBorder..b.=true "
                       "com.apple.print.PrintSettings.PMBorderType..n.=1";
  std::string doc = "%!PS-Adobe-3.0\n10 20 translate 0.5 0.5 scale\n1 2 100 50 ESPrs\n";
  EXPECT_EQ(job.print(doc, border).out,
            "%!PS-Adobe-3.0\n10 20 translate 0.5 0.5 scale\n3.00 4.00 96.00 46.00 ESPrs\r\n");
  // Without borders the line is left alone.
  EXPECT_EQ(job.print(doc).out, doc);
  // A zero width, or a zero scale, leaves the rectangle as it is.
  std::string flat = "%!PS-Adobe-3.0\n1 2 0 50 ESPrs\n";
  EXPECT_EQ(job.print(flat, border).out, flat);
  std::string zero = "%!PS-Adobe-3.0\n0 0 translate 0 0 scale\n1 2 100 50 ESPrs\n";
  EXPECT_EQ(job.print(zero, border).out, zero);
  // With no scale seen the factor is 1.
  EXPECT_EQ(job.print("1 2 100 50 ESPrs\r", border).out, "2.00 3.00 98.00 48.00 ESPrs\r\n");
}

// --- Spooled jobs. ------------------------------------------------------------

TEST_F(FilterJobTest, SpooledBannerPageIsCopiedThroughUnchanged) {
  std::string banner =
      "%!PS-Adobe-3.0\n%%DocumentSuppliedResources: procset bannerprint/1.0\n"
      "%%Pages: 1\n%%Page: 1 1\n(banner) show\r\nshowpage\n%%EOF\n";
  FilterResult r = job.print(banner, "VTDuplex=BookletL");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, banner);
  EXPECT_TRUE(job.spoolFiles().empty());
  // A spooled job reports no pages from the first pass.
  EXPECT_EQ(r.err.find("PAGE:"), std::string::npos);
}

// Every document Linux CUPS hands over names a creator the filter does not
// know (Ghostscript) or none: a poster of it is tiled all the same, four
// tiles of each page, the page's bytes (a NUL included) copied unchanged.
TEST_F(FilterJobTest, PosterOfAnUnknownCreatorIsTiled) {
  static const char kBinary[] = "(bin\0ary) pop\r\n(page two marker) F showpage\r\n";
  const std::string binary(kBinary, sizeof kBinary - 1);
  std::string doc = PlainDocument("\r\n");
  doc.replace(doc.find("(page two"), binary.size() - 15, binary);
  FilterResult r = job.printFile(doc, "Combination=2x2");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Occurrences(r.out, "(page one marker) F showpage\r\n"), 4u);
  EXPECT_EQ(Occurrences(r.out, binary), 4u);
  EXPECT_EQ(Occurrences(r.out, "ESPshowpage\n%%Page:"), 7u);
  EXPECT_TRUE(job.spoolFiles().empty());
}

TEST_F(FilterJobTest, SpoolFilesAreRemovedAfterEveryJob) {
  for (const char *options : {"Combination=2x2", "VTDuplex=BookletR",
                              "FrontCoverPage=true FrontCoverOption=BlankPrinter", ""}) {
    FilterResult r = job.print(PlainDocument(), options);
    EXPECT_EQ(r.status, 0) << options;
    EXPECT_TRUE(job.spoolFiles().empty()) << options;
  }
}

TEST_F(FilterJobTest, SpoolWriteThatFailsEndsTheJobAsFailed) {
  // The files the filter writes may hold 1000 bytes: the spool file runs
  // out of room (as on a full disk).
  std::string doc = "%%Creator: none\n" + std::string(300, 'x') + "\n";
  std::string big;
  for (int i = 0; i < 20; ++i) big += doc;
  RunOptions limited;
  limited.fileSizeLimit = 1000;
  limited.stdoutPath = job.dir() + "/unused-stdout";
  FilterResult r = job.runWith({"1", "u", "t", "1", "Combination=2x2"}, big, limited);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ERROR: "), std::string::npos);
  EXPECT_EQ(ReadFile(limited.stdoutPath), "");
  EXPECT_TRUE(job.spoolFiles().empty());
}

TEST_F(FilterJobTest, OutputThatCannotBeWrittenEndsTheJobAsFailed) {
  RunOptions full;
  full.stdoutPath = "/dev/full";
  FilterResult r = job.runWith({"1", "u", "t", "1", ""}, PlainDocument(), full);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ERROR: "), std::string::npos);
}

TEST_F(FilterJobTest, CancelledJobLeavesNoSpoolFiles) {
  FilterJob::Running running = job.start({"1", "u", "t", "1", "VTDuplex=BookletR"});
  ASSERT_TRUE(running.feed(PlainDocument()));
  // Wait until the pass has created its spool file, then cancel as CUPS does.
  for (int i = 0; i < 3000 && job.spoolFiles().empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_FALSE(job.spoolFiles().empty());
  running.signal(SIGTERM);
  FilterResult r = running.wait();
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(job.spoolFiles().empty());
}

TEST_F(FilterJobTest, MemoryDoesNotGrowWithTheDocument) {
  auto document = [](int pages) {
    std::string doc = "%!PS-Adobe-3.0\n%%Pages: " + std::to_string(pages) + "\n";
    std::string body;
    for (int i = 0; i < 200; ++i) body += "0 0 moveto (some text on the page) show\n";
    for (int p = 1; p <= pages; ++p)
      doc += "%%Page: " + std::to_string(p) + " " + std::to_string(p) + "\n" + body;
    return doc + "%%EOF\n";
  };
  std::string small = document(100), large = document(3000);  // ~0.8 MB and ~24 MB
  FilterResult a = job.print(small);
  FilterResult b = job.print(large);
  ASSERT_EQ(b.status, 0);
  EXPECT_EQ(b.out.size(), large.size());
  EXPECT_LT(b.maxRssKb - a.maxRssKb, 4 * 1024) << a.maxRssKb << " KB vs " << b.maxRssKb << " KB";
}

// --- Progress for CUPS. -------------------------------------------------------

TEST_F(FilterJobTest, EachWrittenPageIsReported) {
  FilterResult r = job.print(PlainDocument());
  EXPECT_NE(r.err.find("PAGE: 1 1\nATTR: job-impressions-completed=1\n"), std::string::npos);
  EXPECT_NE(r.err.find("PAGE: 2 1\nATTR: job-impressions-completed=2\n"), std::string::npos);
  EXPECT_EQ(r.err.find("PAGE: 3"), std::string::npos);
}

// --- Waking the printer. ----------------------------------------------------

TEST_F(FilterJobTest, WakeOnLanStartsTheHelperWithItsArgumentsAndWaits) {
  InstallHelperStandIn(job);
  FilterResult r = job.print(PlainDocument(), "WoLEnable=true DestMacAddr=00:11:22:aa:bb:cc");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, PlainDocument());
  EXPECT_EQ(ReadFile(job.dir() + "/helper-args.txt"),
            job.root() + kHelper + "\nSendMagicPacket_XPC\nNULL\n00:11:22:aa:bb:cc\nNULL\nOFF\n");
  // The filter waited for the helper before it ended.
  EXPECT_EQ(ReadFile(job.dir() + "/helper-ended.txt"), "ended\n");
}

TEST_F(FilterJobTest, NoHelperWithoutAnAddressOrWithoutTheSwitch) {
  InstallHelperStandIn(job);
  EXPECT_EQ(job.print(PlainDocument(), "WoLEnable=true").status, 0);
  EXPECT_EQ(job.print(PlainDocument(), "WoLEnable=false DestMacAddr=00:11:22:aa:bb:cc").status,
            0);
  EXPECT_EQ(ReadFile(job.dir() + "/helper-args.txt"), "");
}

TEST_F(FilterJobTest, MissingHelperDoesNotStopTheJob) {
  FilterResult r = job.print(PlainDocument(), "WoLEnable=true DestMacAddr=00:11:22:aa:bb:cc");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, PlainDocument());
}
