// One N-up run over a spool file, in process: what the run adds around the
// document for each creator, the placement and sheet-end lines of each
// layout and orientation, and the failures that end the job.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "CommonUtil.h"
#include "impose/DscIndex.h"
#include "job/JobRecord.h"
#include "FilterRunner.h"
#include "impose/Impose.h"
#include "impose/ImposeNup.h"
#include "ImposeTestUtil.h"
#include "output/SpoolUtil.h"

namespace {

const char kRows[] = "com.apple.print.PrintSettings.PMLayoutRows..n.";
const char kColumns[] = "com.apple.print.PrintSettings.PMLayoutColumns..n.";
const char kTotal[] = "com.apple.print.PrintSettings.PMTotalBeginPages..n.";

const std::string kDoc =
    "%!PS-Adobe-3.0\n%%Pages: 2\n%%EndComments\n%%BeginProlog\n%%EndProlog\n"
    "%%BeginSetup\nsetup\n%%EndSetup\n"
    "%%Page: 1 1\nbody-1\n%%Page: 2 2\nbody-2\n%%Trailer\n%%EOF\n";

int Count(const std::string &text, const std::string &needle) {
  return static_cast<int>(FindAll(text, needle).size());
}

class NupRun : public ::testing::Test {
 protected:
  void TearDown() override { giJobFailed = 0; }
  // Runs the imposition with a cell list of N cells and returns its output.
  std::string Run(const Options &o, int N, const std::string &doc = kDoc) {
    FILE *in = fopen(dir_.write("spool", doc).c_str(), "rb");
    EXPECT_NE(in, nullptr);
    PageInfo *head = nullptr;
    PageInfo **tail = &head;
    for (int i = 0; i < N; ++i) {
      *tail = pstCreatePageInfo();
      (*tail)->pageNumber = i;
      (*tail)->flags = 0x2 | (i + 1 < N ? kPageInfoAddNext : 0);
      tail = &(*tail)->next;
    }
    Capture out;
    JobRecord job = RecordOf(o);
    job.filterType = creator_;
    vRearrangeNupWithoutBooklet(head, in, out.stream(), job);
    vFreePageInfoList(head);
    fclose(in);
    return out.text();
  }
  // Runs the second phase over the spool file holding doc (a missing file
  // when null) and returns what it wrote on standard output.
  std::string RunSecondPhase(const Options &o, const std::string *doc) {
    std::string spool = doc ? dir_.write("spool", *doc) : dir_.path() + "/no-such-spool";
    char *saved = cpSpoolFileAwithPID;
    cpSpoolFileAwithPID = spool.data();
    FILE *keep = stdout;
    Capture out;
    stdout = out.stream();
    vConvertInsertPage2ndPhase(RecordOf(o));
    stdout = keep;
    cpSpoolFileAwithPID = saved;
    return out.text();
  }
  ScopedPpd ppd_{MinimalPpd()};
  TempDir dir_;
  int creator_ = kFilterUnknown;  // the document's creator code
};

// What a document that defines none of them gets from the filter after its
// setup: every procedure its imposed sheets call, so that the printer, which
// has none of them resident, can print it.
const char kImposedProcs[] =
    "userdict/ESPshowpage known not{userdict/ESPshowpage/showpage load put}if\n"
    "userdict/ESPrc known not{userdict/ESPrc systemdict/rectclip get put}if\n"
    "userdict/ESPrf known not{userdict/ESPrf systemdict/rectfill get put}if\n"
    "userdict/ESPrs known not{userdict/ESPrs systemdict/rectstroke get put}if\n"
    "userdict/ESPwl known not{userdict/ESPwl{}put}if\n";

TEST_F(NupRun, AFourUpCellAsThePrinterReceivesIt) {
  Options o{{kRows, "2"}, {kColumns, "2"}, {kTotal, "2"}};
  EXPECT_EQ(Run(o, 4),
            "%!PS-Adobe-3.0\n%%Pages: 1 0\n%%EndComments\n%%BeginProlog\n%%EndProlog\n"
            "%%BeginSetup\nsetup\n%%EndSetup\n" +
                std::string(kImposedProcs) +
                "%%Page: 1 1\nuserdict/ESPsave save put\n12.0 12.0 translate\n"
            "0.0 380.2 translate 0.480 0.480 scale\n0 0 612.0 792.0 ESPrc\nbody-1\n"
            "userdict /ESPsave get restore\n"
            "%%Page: 2 2\nuserdict/ESPsave save put\n12.0 12.0 translate\n"
            "293.8 380.2 translate 0.480 0.480 scale\n0 0 612.0 792.0 ESPrc\nbody-2\n"
            "userdict /ESPsave get restore\n"
            "gsave\n612.0 792.0 translate 180 rotate\nESPwl\ngrestore\nESPshowpage\n"
            "%%Trailer\n%%EOF\n");
}

// A document that brings some of the procedures (CUPS's pstops writes the
// rectangle ones and ESPwl) gets only the others; one that also defines
// ESPshowpage, ending the sheets it laid out itself, has it emptied in each
// cell so that only the imposed sheet's end ends a sheet.
TEST_F(NupRun, OnlyTheProceduresTheDocumentLacksAreDefined) {
  std::string own = kDoc;
  own.insert(own.find("setup\n"), "userdict/ESPrc/rectclip load put\nuserdict/ESPwl{}bind put\n");
  Options o{{kRows, "2"}, {kColumns, "2"}, {kTotal, "2"}};
  std::string text = Run(o, 4, own);
  EXPECT_NE(text.find("%%EndSetup\n"
                      "userdict/ESPshowpage known not{userdict/ESPshowpage/showpage load put}if\n"
                      "userdict/ESPrf known not{userdict/ESPrf systemdict/rectfill get put}if\n"
                      "userdict/ESPrs known not{userdict/ESPrs systemdict/rectstroke get put}if\n"
                      "%%Page: 1 1\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(Count(text, "userdict/ESPshowpage{}put"), 0);

  own.insert(own.find("setup\n"), "userdict/ESPshowpage/showpage load put\nuserdict/showpage{}put\n");
  text = Run(o, 4, own);
  EXPECT_EQ(text.find("userdict/ESPshowpage known"), std::string::npos);
  EXPECT_EQ(Count(text, "userdict/ESPsave save put\nuserdict/ESPshowpage{}put\n12.0 12.0 translate"), 2)
      << text;
}

// One-up sheets: each cell as it ends its sheet, for a portrait and a
// landscape job.
TEST_F(NupRun, OneUpPortraitAndLandscapeSheets) {
  const std::string portraitEnd =
      "userdict /ESPsave get restore\ngsave\n612.0 792.0 translate 180 rotate\nESPwl\ngrestore\n"
      "ESPshowpage\n";
  const struct {
    const char *name;
    const char *orientation;
    int creator;
    std::string sheet;
  } cases[] = {
      {"portrait", nullptr, kFilterUnknown,
       "%%Page: 1 1\nuserdict/ESPsave save put\nbody-1\n" + portraitEnd},
      // Landscape pages of the macOS converters are turned onto the sheet.
      {"landscape from cgpdftops", "4", kFilterCgpdftops,
       "%%Page: 2 2\nuserdict/ESPsave save put\n0.0 768.0 translate -90 rotate\nbody-2\n"
       "userdict /ESPsave get restore\ngsave\n0.0 792.0 translate -90 rotate\nESPwl\ngrestore\n"
       "ESPshowpage\n"},
      // CUPS's pdftopdf and pstops turned them already: turned once more,
      // the page was cut.
      {"landscape turned upstream", "4", kFilterUnknown,
       "%%Page: 2 2\nuserdict/ESPsave save put\nbody-2\n" + portraitEnd},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    creator_ = c.creator;
    Options o{{kTotal, "2"}};
    if (c.orientation) o.set("orientation-requested", c.orientation);
    const std::string text = Run(o, 1);
    EXPECT_NE(text.find(c.sheet), std::string::npos) << text;
  }
}

TEST_F(NupRun, TwoUpPortraitTurnsItsPages) {
  Options o{{kRows, "1"}, {kColumns, "2"}, {kTotal, "2"}};
  const std::string text = Run(o, 2);
  // Both cells turned; the sheet ends turned back.
  EXPECT_EQ(Count(text, "12.0 12.0 translate\n0.0 768.0 translate -90 rotate\n"), 2) << text;
  EXPECT_NE(text.find("0.633 0.633 scale\n0 0 612.0 792.0 ESPrc\n"), std::string::npos);
  EXPECT_NE(text.find("gsave\n0.0 792.0 translate -90 rotate\nESPwl\ngrestore\nESPshowpage\n"),
            std::string::npos);
  EXPECT_EQ(Count(text, "grestore\nESPshowpage\n"), 1);
}

// A cgpdftops document defers its showpage itself when CUPS placed its
// pages or drew frames; a 1-up unframed one gets the deferral right after
// the header, which runs through "%%BeginProlog".
TEST_F(NupRun, CgpdftopsOneUpDefersShowpageBeforeTheProlog) {
  creator_ = kFilterCgpdftops;
  const char kDeferred[] =
      "%%BeginProlog\nuserdict/ESPshowpage/showpage load put\nuserdict/showpage{}put\n%%EndProlog\n";
  Options oneUp{{kTotal, "2"}};
  Options nup{{kRows, "2"}, {kColumns, "2"}, {kTotal, "2"}};
  Options framed{{kTotal, "2"},
                 {"com.apple.print.PrintSettings.PMBorder..b.", "true"},
                 {"com.apple.print.PrintSettings.PMBorderType..n.", "3"}};
  const struct {
    const char *name;
    const Options &options;
    int cells;
    int deferrals;
  } cases[] = {{"1-up", oneUp, 1, 1}, {"4-up", nup, 4, 0}, {"framed", framed, 1, 0}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string text = Run(c.options, c.cells);
    EXPECT_EQ(Count(text, kDeferred), c.deferrals) << text;
    EXPECT_EQ(Count(text, "userdict/showpage{}put"), c.deferrals);
  }
}

TEST_F(NupRun, PictwpstopsGetsItsProceduresBeforeEndSetupAndShowpageBackAtTheEnd) {
  creator_ = kFilterPictwpstops;
  Options o{{kTotal, "2"}};
  const std::string text = Run(o, 1);
  const size_t procs = text.find("setup\n% x y w h ESPrc - Clip to a rectangle.\n");
  ASSERT_NE(procs, std::string::npos) << text;
  EXPECT_NE(text.find("userdict/ESPwl{}bind put\nuserdict/ESPshowpage/showpage load put\n"
                      "userdict/showpage{}put\n%%EndSetup\n"),
            std::string::npos);
  EXPECT_NE(text.find("ESPshowpage\nuserdict/showpage/ESPshowpage load put\n%%Trailer\n"),
            std::string::npos);
  EXPECT_EQ(Count(text, "ESPshowpage\n%%Page:"), 1);  // each 1-up sheet still ends
}

// The second phase over spool file A: a file it cannot read and a cell
// count it cannot build fail the job; a count below one is one.
TEST_F(NupRun, SecondPhaseFailuresAndTheSmallestCellCount) {
  Options cover{{"BackCoverPage", "True"}, {"BackCoverOption", "BlankPrinter"}};
  EXPECT_EQ(RunSecondPhase(cover, nullptr), "");
  EXPECT_EQ(giJobFailed, 1);
  giJobFailed = 0;

  Options absurd{{kRows, "5000"}, {kColumns, "5000"}, {kTotal, "2"}};
  RunSecondPhase(absurd, &kDoc);
  EXPECT_EQ(giJobFailed, 1);
  giJobFailed = 0;

  Options belowOne{{kRows, "0"}, {kColumns, "3"}, {kTotal, "2"}};
  const std::string text = RunSecondPhase(belowOne, &kDoc);
  EXPECT_EQ(giJobFailed, 0);
  EXPECT_NE(text.find("%%Pages: 2 0\n"), std::string::npos) << text;
  EXPECT_EQ(Count(text, "grestore\nESPshowpage\n"), 2);
}

}  // namespace
