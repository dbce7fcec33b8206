// Booklet jobs through the real filter: the sheet sides, their cells and
// page comments, the cover tray around the outer sheet, the rendered
// sheets, and the spool files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "impose/BookletCoverRules.h"
#include "output/Filter_Debug.h"
#include "impose/ImposeBooklet.h"
#include "ImposedOutput.h"
#include "output/SpoolUtil.h"

using imposetest::CellsOf;
using imposetest::Count;
using imposetest::LetterJob;
using imposetest::MarkedDocument;
using imposetest::Sides;
using Cells = std::vector<std::vector<int>>;

namespace {

const char kFrontCoverManual[] =
    " FrontCoverPage=True FrontCoverOption=BlankPrinter FrontCoverTray=Manual";
const char kManualTray[] = "<</ManualFeed true /MediaPosition 3>>setpagedevice\n"
                           "<</MediaType (plain)>>setpagedevice\n";
const char kBodyTray[] = "<</ManualFeed false /TraySwitch true /MediaPosition null>>setpagedevice\n";

// The end of a sheet side whose pages are turned for a portrait job.
const char kPortraitSideEnd[] =
    "userdict /ESPsave get restore\ngsave\n0.0 792.0 translate -90 rotate\nESPwl\ngrestore\n"
    "ESPshowpage\n";

// Which page each half of every rendered side shows: the upper half holds
// the side's first cell, the lower half its second.
Cells RenderedCells(const std::vector<imposetest::Image> &images) {
  Cells cells;
  for (const imposetest::Image &image : images)
    cells.push_back({image.PageAt(300, 560), image.PageAt(300, 170)});
  return cells;
}

// One booklet job: the document of `pages` marked pages printed with
// `options`, the pages each side carries (its first cell, then its second)
// and where the rendered sides show them (upper half, lower half; empty when
// the halves lie otherwise).
struct BookletCase {
  const char *name;
  int pages;
  std::string options;
  Cells cells;
  Cells rendered;
  // Further checks of the output (may be null).
  void (*check)(const std::string &out, const std::vector<imposetest::Side> &sides);
};

const BookletCase kBookletCases[] = {
    // Eight booklet pages, the last three blank, on four sheet sides.
    {"five pages left to right", 5, "VTDuplex=BookletL", {{-1, 0}, {1, -1}, {-1, 2}, {3, 4}},
     {{-1, 0}, {1, -1}, {-1, 2}, {3, 4}},
     [](const std::string &out, const std::vector<imposetest::Side> &sides) {
       const char *labels[] = {"(0,1)", "(2,3)", "(4,5)", "(6,7)"};
       for (size_t i = 0; i < sides.size() && i < 4; ++i) {
         EXPECT_EQ(sides[i].label, labels[i]);
         EXPECT_EQ(sides[i].number, static_cast<int>(i) + 1);
         EXPECT_EQ(Count(sides[i].text, kPortraitSideEnd), 1) << sides[i].text;
       }
       // Two pages per side, turned and scaled to fit the halves of the
       // sheet: scale min(372/588, 588/768), centred by (588 - 768 s) / 2.
       EXPECT_NE(sides[0].text.find("userdict/ESPsave save put\n12.0 12.0 translate\n"
                                    "0.0 768.0 translate -90 rotate\n"
                                    "0.0 51.1 translate 0.633 0.633 scale\n0 0 612.0 792.0 ESPrc\n"),
                 std::string::npos)
           << sides[0].text;
       EXPECT_NE(sides[0].text.find("387.2 51.1 translate 0.633 0.633 scale\n"), std::string::npos);
       // The converter's showpage is handed back before the trailer, and
       // the side's own showpage takes its place while pages are placed.
       EXPECT_NE(out.find("userdict/showpage/ESPshowpage load put\n%%Trailer"), std::string::npos);
       EXPECT_LT(out.find("userdict/showpage{}put\n"), out.find("/vtMarkedProlog"));
     }},
    {"five pages right to left come innermost sheet first", 5, "VTDuplex=BookletR",
     {{4, 3}, {2, -1}, {-1, 1}, {0, -1}}, {{4, 3}, {2, -1}, {-1, 1}, {0, -1}}, nullptr},
    // Four blanks: the cover sheet (both sides) and two pages at the back.
    {"eight pages with a blank front cover from the manual feed", 8,
     std::string("VTDuplex=BookletL") + kFrontCoverManual,
     {{-1, -1}, {-1, -1}, {7, 0}, {1, 6}, {5, 2}, {3, 4}},
     {{-1, -1}, {-1, -1}, {7, 0}, {1, 6}, {5, 2}, {3, 4}},
     // The outer sheet comes from the manual feed; the body's tray is back
     // after its second side.
     [](const std::string &out, const std::vector<imposetest::Side> &sides) {
       const size_t cover = out.find(kManualTray);
       EXPECT_NE(cover, std::string::npos);
       EXPECT_LT(cover, out.find("%%Page: (0,1) 1"));
       EXPECT_EQ(Count(out, kManualTray), 1);
       EXPECT_EQ(Count(out, kBodyTray), 1);
       const std::string &second = sides[1].text;
       EXPECT_EQ(second.substr(second.size() - std::string(kBodyTray).size()), kBodyTray);
     }},
    {"back to front takes the cover tray for the last two sides", 8,
     std::string("VTDuplex=BookletU") + kFrontCoverManual,
     {{4, 3}, {2, 5}, {6, 1}, {0, 7}, {-1, -1}, {-1, -1}},
     {{4, 3}, {2, 5}, {6, 1}, {0, 7}, {-1, -1}, {-1, -1}},
     // The selection precedes each of the outer sheet's sides; nothing
     // restores the body's tray afterwards, the job ends there.
     [](const std::string &out, const std::vector<imposetest::Side> &sides) {
       EXPECT_EQ(Count(out, kManualTray), 2);
       EXPECT_EQ(Count(sides[3].text, kManualTray), 1);
       EXPECT_EQ(Count(sides[4].text, kManualTray), 1);
       EXPECT_EQ(Count(out, kBodyTray), 0);
     }},
    // Turned by 180 degrees the two halves change places; on Letter the
    // pages keep the cells' fit (0.633), where the printer's 0.678 would
    // overlap them.
    {"rotate180 swaps the halves", 5, "VTDuplex=BookletL Rotate180=true",
     {{-1, 0}, {1, -1}, {-1, 2}, {3, 4}}, {{0, -1}, {-1, 1}, {2, -1}, {4, 3}},
     [](const std::string &, const std::vector<imposetest::Side> &sides) {
       EXPECT_NE(sides[0].text.find("0.0 768.0 translate -90 rotate\n"
                                    "387.2 51.1 translate 0.633 0.633 scale\n"),
                 std::string::npos)
           << sides[0].text;
       EXPECT_NE(sides[0].text.find("0.0 51.1 translate 0.633 0.633 scale\n"), std::string::npos);
     }},
    // A landscape job keeps the sheet upright: no turn, the clip and the end
    // of the side in landscape terms.
    {"landscape sheets are not turned", 4, "VTDuplex=BookletL orientation-requested=4",
     {{3, 0}, {1, 2}}, {},
     [](const std::string &, const std::vector<imposetest::Side> &sides) {
       for (const imposetest::Side &side : sides) {
         EXPECT_EQ(Count(side.text, " rotate\n"), 1) << side.text;
         EXPECT_NE(side.text.find("userdict/ESPsave save put\n12.0 12.0 translate\n"
                                  "51.1 0.0 translate 0.633 0.633 scale\n0 0 792.0 612.0 ESPrc\n"),
                   std::string::npos)
             << side.text;
         EXPECT_NE(side.text.find("51.1 387.2 translate 0.633 0.633 scale\n"), std::string::npos);
         EXPECT_NE(side.text.find("userdict /ESPsave get restore\ngsave\n612.0 792.0 translate 180 "
                                  "rotate\nESPwl\ngrestore\nESPshowpage\n"),
                   std::string::npos);
       }
     }},
    {"border frames each half", 4,
     "VTDuplex=BookletL com.apple.print.PrintSettings.PMBorder..b.=true "
     "com.apple.print.PrintSettings.PMBorderType..n.=1",
     {{3, 0}, {1, 2}}, {{3, 0}, {1, 2}},
     // A single hairline of the 2-up size class inside every cell.
     [](const std::string &out, const std::vector<imposetest::Side> &) {
       EXPECT_EQ(Count(out, "gsave\n0.35 setlinewidth 0 setgray newpath\n"
                            "3.30 3.30 605.40 785.40 ESPrs\ngrestore\n"
                            "userdict /ESPsave get restore\n"),
                 4);
     }},
};

}  // namespace

// Every case: the pages on each side, the header and CUPS's page log
// counting each sheet side once, the rendered sides, and no spool file left.
TEST(BookletJob, Layouts) {
  for (const BookletCase &c : kBookletCases) {
    SCOPED_TRACE(c.name);
    LetterJob job;
    FilterResult r = job.print(MarkedDocument(c.pages), c.options);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<imposetest::Side> sides = Sides(r.out);
    EXPECT_EQ(CellsOf(sides), c.cells);
    ASSERT_EQ(sides.size(), c.cells.size());
    EXPECT_NE(r.out.find("%%Pages: " + std::to_string(c.cells.size()) + " 0\n"), std::string::npos);
    EXPECT_EQ(Count(r.err, "PAGE: "), static_cast<int>(c.cells.size())) << r.err;
    EXPECT_TRUE(job.spoolFiles().empty());
    if (c.check) c.check(r.out, sides);
    std::vector<imposetest::Image> images = imposetest::Rendered(job, r.out);
    EXPECT_EQ(images.size(), c.cells.size());
    if (!c.rendered.empty()) {
      EXPECT_EQ(RenderedCells(images), c.rendered);
    }
  }
}

// A pstops document whose pages end in a plain showpage: the run defers it
// to the sheet ends, and the sheets come out on a printer that has nothing
// resident but its own procedure set.
TEST(BookletJob, PstopsDocumentRendersWithOnlyThePrintersProcedures) {
  LetterJob job;
  FilterResult r = job.print(MarkedDocument(5, "pstops"), "VTDuplex=BookletL");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(r.out, "userdict/showpage{}put"), 1);
  EXPECT_EQ(CellsOf(Sides(r.out)), (Cells{{-1, 0}, {1, -1}, {-1, 2}, {3, 4}}));

  std::string prelude = ReadFile(VT_SOURCE_DIR "/filter/tests/impose/prelude.ps");
  if (prelude.empty()) GTEST_SKIP() << "no shared prelude";
  EXPECT_EQ(RenderedCells(imposetest::Rendered(job, r.out, prelude)), (Cells{{-1, 0}, {1, -1}, {-1, 2}, {3, 4}}));
}

// A document without "%%Page:" comments gives the imposition nothing to
// place until Ghostscript has paged it. Without Ghostscript, whatever the
// layout, it prints whole, as it came, and the user is told the layout was
// not applied and why. Deferring its showpage would swallow every page it
// draws.
TEST(BookletJob, DocumentWithoutPageCommentsPrintsWholeWithAWarningWithoutGhostscript) {
  const std::string body = "/Helvetica findfont 40 scalefont setfont\n"
                           "100 400 moveto (one) show showpage\n100 400 moveto (two) show showpage\n";
  const std::vector<std::string> documents = {
      "%!PS\n" + body, MarkedDocument(0) + body,
      "%!PS-Adobe-3.0\n%%Pages: 2\n%%EndComments\n%%BeginProlog\n%%EndProlog\n" + body,
      // Named in a procedure, a string, a comment and as a name: no sides of
      // their own.
      "%!PS\n/sp { showpage } def (a showpage) pop % showpage\n/showpage where pop pop\n" + body,
      // Plain PostScript as CUPS's pstops wraps it: one page holding it all.
      "%!PS-Adobe-3.0\n%%Pages: 1\n%%EndComments\n%%BeginProlog\n%%EndProlog\n%%BeginSetup\n"
      "%%EndSetup\n%%Page: 1 1\n%%BeginPageSetup\n%%EndPageSetup\n%%BeginDocument: nondsc\n%!PS\n" +
          body + "%%EndDocument\n%%EOF\n"};
  const char *const layouts[] = {
      "VTDuplex=BookletL", "Combination=2x2",
      "com.apple.print.PrintSettings.PMLayoutRows..n.=2 "
      "com.apple.print.PrintSettings.PMLayoutColumns..n.=2 BackCoverPage=True "
      "BackCoverOption=BlankPrinter",
      "FrontCoverPage=True FrontCoverOption=PrintedSingle FrontCoverTray=Tray1"};
  for (const std::string &doc : documents) {
    for (const char *layout : layouts) {
      LetterJob job;
      job.setCustomization(ReadFile(VT_SOURCE_DIR "/examples/FilterCustomize.plist"));
      FilterResult r = job.run({"1", "tester", "title", "1", layout}, doc,
                               {{"VT_TEST_GHOSTSCRIPT", "/nonexistent/gs"}});
      SCOPED_TRACE(std::string(layout) + "\n" + doc);
      ASSERT_EQ(r.status, 0) << r.err;
      // The document's own lines, its page drawing whole (the filter's page
      // and printer setup may go in among its comments).
      EXPECT_NE(r.out.find(body), std::string::npos) << r.out;
      EXPECT_EQ(r.out.find("userdict/showpage{}put"), std::string::npos);
      EXPECT_EQ(Count(r.out, "showpage"), Count(doc, "showpage"));
      // CUPS's page log gets the two sides it prints.
      EXPECT_EQ(Count(r.err, "PAGE: "), 2) << r.err;
      // Whatever converter the document names (MarkedDocument's is
      // cgpdftops), Ghostscript was to page it.
      EXPECT_NE(r.err.find("WARNING: the document has no page comments and could not be paged "
                           "(Ghostscript (/nonexistent/gs) could not be started"),
                std::string::npos)
          << r.err;
      // The PJL job still closes after the document.
      ASSERT_NE(r.out.rfind("@PJL EOJ"), std::string::npos);
      EXPECT_GT(r.out.rfind("@PJL EOJ"), r.out.find(body));
      EXPECT_TRUE(job.spoolFiles().empty());
    }
  }
}

TEST(BookletJob, OnePageWithADoubleFrontCoverCopiesNothingFromBeyondTheDocument) {
  LetterJob job;
  FilterResult r = job.print(
      MarkedDocument(1),
      "VTDuplex=BookletL FrontCoverPage=True FrontCoverOption=PrintedDouble FrontCoverTray=Tray1");
  ASSERT_EQ(r.status, 0) << r.err;
  // Position 0 carries the page; position 1 (page 1 of a one-page document)
  // and the back stay blank.
  EXPECT_EQ(CellsOf(Sides(r.out)), (Cells{{-1, 0}, {-1, -1}}));
  EXPECT_EQ(Count(r.out, "(page-marker-0) pop\n"), 1);
}

// A write error on standard output ends the job with status 1.
TEST(BookletJob, WriteErrorOnStandardOutputFailsTheJob) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  FilterJob job;
  std::string ppd = job.usePpd();
  std::string doc = job.writeFile("doc.ps", MarkedDocument(12));
  std::string cmd = "VT_TEST_ROOT='" + job.root() + "' VT_TEST_SPOOL_DIR='" + job.spool() +
                    "' PPD='" + ppd + "' '" VT_FILTER_EXE "' 7 user title 1 VTDuplex=BookletL '" +
                    doc + "' > /dev/full 2> '" + job.dir() + "/err.txt'";
  int status = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1) << ReadFile(job.dir() + "/err.txt");
  EXPECT_NE(ReadFile(job.dir() + "/err.txt").find("ERROR:"), std::string::npos);
  EXPECT_TRUE(job.spoolFiles().empty());
}

// Spool file B is created afresh: a file or a symbolic link left at its name
// is removed, never written through.
TEST(SpoolFileB, ReplacesWhatIsLeftAtItsNameAndNeverFollowsALink) {
  FilterJob job;
  std::string target = job.writeFile("precious.txt", "keep me");
  std::string name = job.spool() + "/pstoMacOrb2SpoolB.tmp.1";
  ASSERT_EQ(symlink(target.c_str(), name.c_str()), 0);

  char *saved = cpSpoolFileBwithPID;
  cpSpoolFileBwithPID = name.data();
  int failedBefore = giJobFailed;
  FILE *f = pCreateSpoolFileB();
  ASSERT_NE(f, nullptr);
  std::fputs("%!PS\n", f);
  std::fclose(f);
  cpSpoolFileBwithPID = saved;

  struct stat st;
  ASSERT_EQ(lstat(name.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(ReadFile(name), "%!PS\n");
  EXPECT_EQ(ReadFile(target), "keep me");
  EXPECT_EQ(giJobFailed, failedBefore);
}

TEST(SpoolFileB, AnUncreatableFileFailsTheJob) {
  FilterJob job;
  std::string name = job.dir() + "/missing-folder/pstoMacOrb2SpoolB.tmp.1";
  char *saved = cpSpoolFileBwithPID;
  cpSpoolFileBwithPID = name.data();
  giJobFailed = 0;
  vSetDiagnosticsEnabled(false);
  EXPECT_EQ(pCreateSpoolFileB(), nullptr);
  vSetDiagnosticsEnabled(true);
  EXPECT_EQ(giJobFailed, 1);
  giJobFailed = 0;
  cpSpoolFileBwithPID = saved;
}
