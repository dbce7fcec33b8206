// The line handling of pictwpstops and cgpdftops documents, driven line by
// line the way the scanner drives it: bWriteLine set before each line, the
// line kept when the handler leaves it set.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "job/JobRecord.h"
#include "linepass/PS_DSC.h"
#include "SetupTestSupport.h"

namespace {

// The state a job starts its line pass with.
ScanState FreshState() {
  ScanState s;
  vInitScanState(&s);
  return s;
}

// What came out of a run: the lines the scanner would have written, in
// order, with whatever the handler wrote itself in between.
struct HandledLines {
  std::string kept;   // written lines and handler output, in order
  ScanState state{};
};

// Feeds each line to handler(line, state) and collects the result. The
// handler's own output is captured on the destination the spool flag picks.
template <typename Handler>
HandledLines Drive(const std::vector<std::string> &lines, int spool, Handler handler,
          ScanState start = FreshState()) {
  HandledLines run;
  run.state = start;
  for (const std::string &text : lines) {
    char line[4096] = {};
    std::memcpy(line, text.data(), std::min(text.size(), sizeof line - 1));
    run.state.bWriteLine = 1;
    Written w = CaptureWrites([&] { handler(line, run.state); });
    run.kept += spool == 1 ? w.spool : w.out;
    EXPECT_EQ(spool == 1 ? w.out : w.spool, "") << "wrote to the wrong destination";
    if (run.state.bWriteLine) run.kept += text;
  }
  return run;
}

HandledLines Pictwpstops(const std::vector<std::string> &lines, int spool, int rotate180) {
  char work[4096];
  JobRecord job;
  job.spool = spool;
  job.rotate180 = rotate180;
  return Drive(lines, spool, [&](char *line, ScanState &s) {
    job.scan = s;
    vSupportedMainNupAndRotate180Pictwpstops(line, work, job);
    s = job.scan;
  });
}

TEST(PictwpstopsSpooled, StripsTheLw8NupSectionFrameAndFinalPage) {
  HandledLines r = Pictwpstops({"%!PS-Adobe-3.0\n", "%%BeginFile: lw8_nup-2.0\n", "/startNup {} def\n",
                       "%%EndFile\n", "%%EndFile\n", "gsave /framewidth 2 def startNup\n",
                       "/framewidth 2 def\n", "finalpage\n", "%%Trailer\n", "x\n",
                       "finalpage\n", "finalpage\n"},
                      1, 0);
  EXPECT_EQ(r.kept,
            "%!PS-Adobe-3.0\n"
            "%%EndFile\n"  // a second end of file is not inside the section
            "/framewidth 2 def\n"
            "finalpage\n"  // before the trailer: kept
            "%%Trailer\n"
            "x\n"
            "finalpage\n");  // only the first one in the trailer goes
  EXPECT_EQ(r.state.bInLw8Nup, 0);
  EXPECT_EQ(r.state.bInTrailer, 0);
}

TEST(PictwpstopsSpooled, LeavesTheMatrixAlone) {
  HandledLines r = Pictwpstops({"/mT[1 0 0 -1 0 792] def\n"}, 1, 1);
  EXPECT_EQ(r.kept, "/mT[1 0 0 -1 0 792] def\n");
}

TEST(PictwpstopsOnePass, TurnsTheFirstMatrixOnly) {
  HandledLines r = Pictwpstops({"%%Page: 1 1\n", "x /mT[1 0 0 -1 0 792] def\n", "/mT[1 0 0 -1 0 792] def\n"},
                      0, 1);
  EXPECT_EQ(r.kept,
            "%%Page: 1 1\n"
            "/mT[-1 0 0 1 0 792] def\n"  // text before the matrix goes
            "/mT[1 0 0 -1 0 792] def\n");
  EXPECT_EQ(r.state.bMatrixDone, 1);
}

TEST(PictwpstopsOnePass, EachMatrixTurnsToItsOpposite) {
  const std::pair<const char *, const char *> cases[] = {
      {"/mT[1 0 0 -1 10 20]\n", "/mT[-1 0 0 1 10 20]\n"},
      {"/mT[-1 0 0 1 10 20]\n", "/mT[1 0 0 -1 10 20]\n"},
      {"/mT[1 0 0 1 10 20]\n", "/mT[-1 0 0 -1 10 20]\n"},
      {"/mT[-1 0 0 -1 10 20]\n", "/mT[1 0 0 1 10 20]\n"},
      {"/mT[0 1 -1 0 10 20]\n", "/mT[0 1 -1 0 10 20]\n"},  // none of them: unchanged
  };
  for (auto [in, out] : cases) EXPECT_EQ(Pictwpstops({in}, 0, 1).kept, out) << in;
}

TEST(PictwpstopsOnePass, WithoutRotateTheMatrixStillCountsAsHandled) {
  HandledLines r = Pictwpstops({"/mT[1 0 0 -1 0 792]\n", "%%BeginFile: lw8_nup-2.0\n"}, 0, 0);
  EXPECT_EQ(r.kept, "/mT[1 0 0 -1 0 792]\n%%BeginFile: lw8_nup-2.0\n");
  EXPECT_EQ(r.state.bMatrixDone, 1);
}

TEST(PictwpstopsOnePass, AFullLengthLineIsNotCutShort) {
  // 4095 bytes with the shorter prefix: the turned line is 4097 bytes.
  std::string line = "/mT[1 0 0 1";
  line += std::string(4095 - line.size() - 1, '7') + "\n";
  ASSERT_EQ(line.size(), 4095u);
  HandledLines r = Pictwpstops({line}, 0, 1);
  EXPECT_EQ(r.kept, "/mT[-1 0 0 -1" + line.substr(11));
}

HandledLines Cgpdftops(const std::vector<std::string> &lines, int spool, const std::string &optionText,
              int rotate180, int layoutNup, int faces, int border,
              ppd_file_t *ppd = nullptr) {
  JobOptions opts(optionText);
  JobRecord job = RecordOf(opts, ppd);
  job.spool = spool;
  job.rotate180 = rotate180;
  job.layoutNup = layoutNup;
  job.nupFaces = faces;
  job.borderType = border;
  return Drive(lines, spool, [&](char *line, ScanState &s) {
    job.scan = s;
    vSupportedMainNupAndRotate180Cgpdftops(line, job);
    s = job.scan;
  });
}

TEST(CgpdftopsSpooled, APageStartWithoutPageCommentGetsOne) {
  HandledLines r = Cgpdftops({"ep\n", "end\n", "userdict /ESPsave get restore\n",
                     "userdict/ESPsave save put\n", "0 0 translate 0.5 0.5 scale\n", "body\n"},
                    1, "", 0, 0, 2, 0);
  EXPECT_EQ(r.kept,
            "ep\nend\n"
            "%%Page: n \n"
            "body\n");
  EXPECT_EQ(r.state.bStripPlacement, 1);
  EXPECT_EQ(r.state.bPageMarkNeeded, 1);
  EXPECT_EQ(r.state.bSawEp + r.state.bSawEnd + r.state.bSawRestore, 0);
}

TEST(CgpdftopsSpooled, TheSequenceMustBeInOrderAndExact) {
  // "end" before "ep", and lines that only contain the texts, do nothing.
  HandledLines r = Cgpdftops({"end\n", "ep\n", "userdict /ESPsave get restore\n", "  end\n", "end \n",
                     "userdict/ESPsave save put\n"},
                    1, "", 0, 0, 2, 0);
  EXPECT_EQ(r.kept,
            "end\nep\nuserdict /ESPsave get restore\n  end\nend \nuserdict/ESPsave save put\n");
  EXPECT_EQ(r.state.bSawEp, 1);
  EXPECT_EQ(r.state.bSawEnd, 0);
}

TEST(CgpdftopsSpooled, PlacementAfterAPageCommentIsDropped) {
  ScanState start = FreshState();
  start.bPageSeen = 1;
  HandledLines r = Drive({"0 0 translate\n", "ESPrc\n", "userdict/ESPsave save put\n", "keep\n"}, 1,
                [&](char *line, ScanState &s) {
                  JobRecord job;
                  job.spool = 1;
                  job.nupFaces = 2;
                  job.scan = s;
                  vSupportedMainNupAndRotate180Cgpdftops(line, job);
                  s = job.scan;
                },
                start);
  EXPECT_EQ(r.kept, "keep\n");
  // Without a page comment or a stripped page start they stay.
  EXPECT_EQ(Cgpdftops({"0 0 translate\n", "ESPrc\n"}, 1, "", 0, 0, 2, 0).kept,
            "0 0 translate\nESPrc\n");
}

TEST(CgpdftopsSpooled, ThePlacedPagesGsaveBlockIsUnwrapped) {
  HandledLines r = Cgpdftops({"ep\n", "end\n", "gsave\n", "90 rotate\n", "1 2 translate\n", "ESPwl\n",
                     "page\n", "grestore\n", "ESPshowpage\n", "ESPshowpage\n"},
                    1, "", 0, 0, 2, 0);
  EXPECT_EQ(r.kept, "ep\nend\npage\nESPshowpage\n");
  EXPECT_EQ(r.state.bInPageGsave, 0);
  EXPECT_EQ(r.state.bSawEp, 0);
}

TEST(CgpdftopsSpooled, BorderDrawingIsDropped) {
  HandledLines r = Cgpdftops({"gsave 1 setlinewidth 0 setgray newpath\n", "1 2 3 4 ESPrs\n",
                     "grestore\n", "5 6 7 8 ESPrs\n"},
                    1, "", 0, 0, 2, 0);
  EXPECT_EQ(r.kept, "grestore\n5 6 7 8 ESPrs\n");
  EXPECT_EQ(r.state.bInBorder, 0);
}

class CgpdftopsOnePass : public ::testing::Test {
 protected:
  void SetUp() override {
    JobOptions none;
    ASSERT_TRUE(ppd_.open(job_, MinimalPpd("", "Letter"), none));
  }
  FilterJob job_;
  JobPpd ppd_;
};

TEST_F(CgpdftopsOnePass, ThePlacementAfterEachSaveIsReplaced) {
  const std::string fourUp =
      "com.apple.print.PrintSettings.PMLayoutRows..n.=2 "
      "com.apple.print.PrintSettings.PMLayoutColumns..n.=2";
  HandledLines r = Cgpdftops({"0 0 translate 0.5 0.5 scale\n", "userdict/ESPsave save put\n", "gsave\n",
                     "10 20 translate 0.48 0.48 scale\n", "30 40 translate 0.48 0.48 scale\n"},
                    0, fourUp, 1, 1, 4, 0, ppd_.ppd);
  EXPECT_EQ(r.kept,
            "0 0 translate 0.5 0.5 scale\n"  // no save before it: kept
            "userdict/ESPsave save put\n"
            "gsave\n"
            "293.8 0.0 translate 0.480 0.480 scale\n"  // 612 x 0.48, position 0
            "30 40 translate 0.48 0.48 scale\n");      // only the first after the save
  EXPECT_EQ(r.state.bSawSave, 0);
}

TEST_F(CgpdftopsOnePass, LeftAloneUnlessTurnedNup) {
  const std::vector<std::string> lines = {"userdict/ESPsave save put\n",
                                          "10 20 translate 0.48 0.48 scale\n"};
  const std::string all = lines[0] + lines[1];
  EXPECT_EQ(Cgpdftops(lines, 0, "", 0, 1, 4, 0, ppd_.ppd).kept, all);  // no rotate
  EXPECT_EQ(Cgpdftops(lines, 0, "", 1, 0, 4, 0, ppd_.ppd).kept, all);  // no N-up layout
  EXPECT_EQ(Cgpdftops(lines, 0, "", 1, 1, 1, 0, ppd_.ppd).kept, all);  // 1-up
}

TEST_F(CgpdftopsOnePass, ZeroFacesDropsThePlacementWithoutDividing) {
  HandledLines r = Cgpdftops({"userdict/ESPsave save put\n", "10 20 translate 0.48 0.48 scale\n"}, 0,
                    "com.apple.print.PrintSettings.PMLayoutRows..n.=0 "
                    "com.apple.print.PrintSettings.PMLayoutColumns..n.=2",
                    1, 1, 0, 0, ppd_.ppd);
  EXPECT_EQ(r.kept, "userdict/ESPsave save put\n");
}

}  // namespace
