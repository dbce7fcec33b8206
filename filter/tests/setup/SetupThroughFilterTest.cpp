// The setup injection and the converter line handling as the printer sees
// them: the real filter program, run on whole documents. No customisation
// file is installed, so no PJL surrounds the PostScript and the output can
// be compared whole. Spooled jobs are seen through a CUPS banner document,
// which the filter copies from its spool file unchanged.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FilterRunner.h"

namespace {

const std::string kFlag0 =
    "<</PclOrientation 0>> /VTOptions /ProcSet findresource /setVToptions get exec\n";
const std::string kFlag1 =
    "<</PclOrientation 1>> /VTOptions /ProcSet findresource /setVToptions get exec\n";
const std::string kTurn = "currentpagedevice /PageSize get aload pop translate 180 rotate\n";
const std::string kTurnSideways =
    "currentpagedevice /PageSize get aload pop exch translate 180 rotate\n";
const std::string kBanner = "%%DocumentSuppliedResources: procset bannerprint\n";
const std::string kLayoutNup = " com.apple.print.PrintSettings.PMLayoutNUp..b.=true";
const std::string kPMOrientation =
    " com.apple.print.subTicket.page_format_ticket..d.com.apple.print.PageFormat.PMOrientation..n.=";

std::string Nup(int rows, int columns) {
  return " com.apple.print.PrintSettings.PMLayoutRows..n.=" + std::to_string(rows) +
         " com.apple.print.PrintSettings.PMLayoutColumns..n.=" + std::to_string(columns);
}

std::string Header(const std::string &creator, const std::string &extra = "") {
  return "%!PS-Adobe-3.0\n%%Creator: " + creator + "\n" + extra + "%%EndComments\n";
}

std::string Replace(std::string text, const std::string &from, const std::string &to) {
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}


class SetupThroughFilter : public ::testing::Test {
 protected:
  void SetUp() override { job_.usePpd(); }
  std::string print(const std::string &doc, const std::string &options) {
    FilterResult r = job_.print(doc, options);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }
  FilterJob job_;
};

TEST_F(SetupThroughFilter, OrientationFlagOnceAfterTheFirstBeginSetup) {
  const std::string doc = Header("texttops") +
                          "%%BeginSetup\n%%EndSetup\n%%BeginSetup\n%%EndSetup\n%%EOF\n";
  struct Case {
    std::string options;
    const std::string &flag;
  } cases[] = {
      {"orientation-requested=4", kFlag1},
      {"orientation-requested=4" + Nup(1, 2), kFlag0},
      {"orientation-requested=5" + Nup(2, 3), kFlag0},
      {"orientation-requested=3" + Nup(1, 2), kFlag1},
  };
  for (const Case &c : cases) {
    std::string out = print(doc, c.options);
    EXPECT_EQ(out, Replace(doc, "%%BeginSetup\n", "%%BeginSetup\n" + c.flag)) << c.options;
    EXPECT_EQ(Occurrences(out, "PclOrientation"), 1u) << c.options;
  }
}

// One 1-up page as the converters write it on 10.5.0 and later: the page
// setup is held back until "cg_md begin".
std::string OnePage(const std::string &creator, const std::string &extra = "") {
  return Header(creator, extra) +
         "%%BeginSetup\n%%EndSetup\n%%Page: 1 1\n%%BeginPageSetup\ncg_md begin\n"
         "%%EndPageSetup\n(one) show\nshowpage\n%%Trailer\n%%EOF\n";
}

TEST_F(SetupThroughFilter, PageTurnForEachCreatorOnePass) {
  struct Case {
    std::string creator;
    std::string options;
    bool turned;
  } cases[] = {
      {"cgpdftops CUPS filter", "", true},
      {"cgpdftops CUPS filter", Nup(2, 2), true},
      {"pictwpstops", "", true},
      {"pictwpstops", Nup(2, 2), false},
      {"pstops", "", false},
      {"Mystery Writer 1.0", "", false},
  };
  for (const Case &c : cases) {
    const std::string doc = OnePage(c.creator);
    const std::string flag = "%%BeginSetup\n" + kFlag0;
    std::string expected = Replace(doc, "%%BeginSetup\n", flag);
    if (c.options.empty()) {
      // 1-up: the page turn follows the held "%%BeginPageSetup" and "cg_md begin".
      if (c.turned) expected = Replace(expected, "cg_md begin\n", "cg_md begin\n" + kTurn);
    } else if (c.turned) {
      expected = Replace(expected, "%%BeginPageSetup\n", "%%BeginPageSetup\n" + kTurn);
    }
    EXPECT_EQ(print(doc, "Rotate180=true" + c.options), expected)
        << c.creator << " /" << c.options;
    // Without the option nothing is turned.
    EXPECT_EQ(Occurrences(print(doc, c.options), "rotate"), 0u) << c.creator;
  }
}

TEST_F(SetupThroughFilter, SpooledJobsTurnEveryPageWhateverTheCreator) {
  for (std::string creator : {"Mystery Writer 1.0", "pstops", "pictwpstops"}) {
    std::string doc = Header(creator, kBanner) +
                      "%%BeginSetup\n%%EndSetup\n%%Page: 1 1\n%%BeginPageSetup\n"
                      "%%EndPageSetup\nshowpage\n%%Page: 2 2\n%%BeginPageSetup\n"
                      "%%EndPageSetup\nshowpage\n%%EOF\n";
    std::string out = print(doc, "Rotate180=true VTDuplex=BookletL" + Nup(2, 2));
    std::string expected = Replace(doc, "%%BeginSetup\n", "%%BeginSetup\n" + kFlag0);
    expected = Replace(expected, "%%Page: 1 1\n%%BeginPageSetup\n",
                       "%%Page: 1 1\n%%BeginPageSetup\n" + kTurn);
    expected = Replace(expected, "%%Page: 2 2\n%%BeginPageSetup\n",
                       "%%Page: 2 2\n%%BeginPageSetup\n" + kTurn);
    EXPECT_EQ(out, expected) << creator;
  }
}

TEST_F(SetupThroughFilter, SidewaysPagesTurnWithExch) {
  const std::string doc = OnePage("cgpdftops CUPS filter");
  for (std::string value : {"2", "4"}) {
    std::string out = print(doc, "Rotate180=true" + kPMOrientation + value);
    EXPECT_EQ(Occurrences(out, kTurnSideways), 1u) << value;
  }
  std::string out = print(doc, "Rotate180=true" + kPMOrientation + "1");
  EXPECT_EQ(Occurrences(out, kTurn), 1u);
  EXPECT_EQ(Occurrences(out, "exch"), 0u);
}

// A cgpdftops N-up sheet as CUPS writes it on systems older than 10.5.0:
// each logical page saved, placed, drawn and restored.
std::string NupSheet(int pages, const std::string &placement) {
  std::string doc = Header("cgpdftops CUPS filter") + "%%BeginSetup\n%%EndSetup\n%%Page: 1 1\n";
  for (int i = 1; i <= pages; ++i) {
    doc += "%%BeginPageSetup\nuserdict/ESPsave save put\n" + placement + "(page " +
           std::to_string(i) + ") show\nuserdict /ESPsave get restore\n";
  }
  return doc + "showpage\n%%Trailer\n%%EOF\n";
}

class OlderSystem : public SetupThroughFilter {
 protected:
  void SetUp() override {
    job_.setSystemVersion("10.4.11");
    job_.usePpd("", "A4");  // 595 x 841 points, margins 12
  }
};

TEST_F(OlderSystem, FourUpPlacementsOnTheTurnedSheet) {
  const std::string placement = "148.8 420.5 translate 0.48 0.48 scale\n";
  const std::string doc = NupSheet(4, placement);
  std::string out = print(doc, "Rotate180=true" + kLayoutNup + Nup(2, 2));
  // The position is the count of "%%BeginPageSetup" lines so far, modulo 4:
  // pages 1 to 4 take positions 1, 2, 3 and 0 (the last is the worked
  // example: 1 x 595 x 0.48 = 285.6).
  const char *turned[] = {"0.0 0.0 translate 0.480 0.480 scale\n",
                          "285.6 403.7 translate 0.480 0.480 scale\n",
                          "0.0 403.7 translate 0.480 0.480 scale\n",
                          "285.6 0.0 translate 0.480 0.480 scale\n"};
  std::string expected = Replace(doc, "%%BeginSetup\n", "%%BeginSetup\n" + kFlag0);
  for (const char *t : turned) {
    expected = Replace(expected, "%%BeginPageSetup\nuserdict/ESPsave save put\n" + placement,
                       "%%BeginPageSetup\n" + kTurn + "userdict/ESPsave save put\n" + t);
  }
  EXPECT_EQ(out, expected);
}

TEST_F(OlderSystem, SidewaysTwoUpSwapsTheHalves) {
  // VTDocumentOrientation 2: landscape on systems older than 10.5.0. The
  // 2-up scale on 595 x 841 with 12-point margins is 396.5 / 571; the
  // vertical offset (571 - s x 817) / 2 rounds to 1.8.
  const std::string placement = "0 0 translate 0.5 0.5 scale\n";
  std::string out =
      print(NupSheet(2, placement), "Rotate180=true VTDocumentOrientation=2" + kLayoutNup + Nup(1, 2));
  EXPECT_EQ(Occurrences(out, kTurnSideways), 2u);
  size_t first = out.find("1.8 0.0 translate 0.500 0.500 scale\n");
  size_t second = out.find("1.8 297.5 translate 0.500 0.500 scale\n");
  ASSERT_NE(first, std::string::npos) << out;
  ASSERT_NE(second, std::string::npos) << out;
  // Page 1 (position 1) takes the half at 297.5, page 2 (position 0) the one at 0.
  EXPECT_LT(second, first);
  EXPECT_EQ(Occurrences(out, placement), 0u);
}

TEST_F(OlderSystem, ThreeUpDropsThePlacement) {
  const std::string placement = "10 20 translate 0.33 0.33 scale\n";
  const std::string doc = NupSheet(3, placement);
  std::string out = print(doc, "Rotate180=true" + kLayoutNup + Nup(1, 3));
  std::string expected = Replace(doc, "%%BeginSetup\n", "%%BeginSetup\n" + kFlag0);
  for (int i = 0; i < 3; ++i) {
    expected = Replace(expected, "%%BeginPageSetup\nuserdict/ESPsave save put\n" + placement,
                       "%%BeginPageSetup\n" + kTurn + "userdict/ESPsave save put\n");
  }
  EXPECT_EQ(out, expected);
}

TEST_F(OlderSystem, APlacementThatIsNotAFiniteNumberIsLeftOut) {
  const std::string placement = "0 0 translate inf 0.48 scale\n";
  FilterResult r = job_.print(NupSheet(1, placement), "Rotate180=true" + kLayoutNup + Nup(2, 2));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Occurrences(r.out, "translate"), 1u) << r.out;  // only the page turn
  EXPECT_EQ(Occurrences(r.out, "inf"), 0u);
  EXPECT_NE(r.err.find("DEBUG: [Filter] - N-up placement of position 1 is not a finite number"),
            std::string::npos)
      << r.err;
}

TEST_F(OlderSystem, NotTurnedWithoutTheLayoutOption) {
  const std::string placement = "10 20 translate 0.48 0.48 scale\n";
  std::string out = print(NupSheet(4, placement), "Rotate180=true" + Nup(2, 2));
  EXPECT_EQ(Occurrences(out, placement), 4u);
}

TEST_F(OlderSystem, PictwpstopsMatrixTurnedOncePerJob) {
  const std::string page = "%%BeginPageSetup\n/mT[1 0 0 -1 0 841] def\n%%EndPageSetup\nshowpage\n";
  const std::string doc = Header("pictwpstops", "%%Title: (picture)\n") +
                          "%%BeginSetup\n%%EndSetup\n%%Page: 1 1\n" + page + "%%Page: 2 2\n" +
                          page + "%%EOF\n";
  std::string out = print(doc, "Rotate180=true" + kLayoutNup + Nup(2, 2));
  std::string expected = Replace(doc, "%%BeginSetup\n", "%%BeginSetup\n" + kFlag0);
  expected = Replace(expected, "/mT[1 0 0 -1 0 841]", "/mT[-1 0 0 1 0 841]");
  EXPECT_EQ(out, expected);
}

TEST_F(OlderSystem, PictwpstopsNupSectionStrippedWhenSpooling) {
  const std::string lw8 =
      "%%BeginFile: lw8_nup-2.1\n/startNup { } def\n/finalpage { } def\n%%EndFile\n";
  const std::string frame = "/framewidth 0 def 2 startNup\n";
  const std::string doc = Header("pictwpstops", kBanner) + "%%BeginProlog\n" + lw8 +
                          "%%EndProlog\n%%BeginSetup\n" + frame +
                          "%%EndSetup\n%%Page: 1 1\n/mT[1 0 0 -1 0 841] def\nshowpage\n"
                          "%%Trailer\nfinalpage\n%%EOF\n";
  std::string out = print(doc, "VTDuplex=BookletL" + kLayoutNup + Nup(1, 2));
  std::string expected = Replace(doc, lw8, "");
  expected = Replace(expected, "%%BeginSetup\n" + frame, "%%BeginSetup\n" + kFlag1);
  expected = Replace(expected, "finalpage\n", "");
  EXPECT_EQ(out, expected);
}

// cgpdftops pages placed by CUPS's N-up code, in a spooled banner job.
std::string PlacedPages(const std::string &between, const std::string &eol = "\n") {
  std::vector<std::string> lines = {
      "%!PS-Adobe-3.0", "%%Creator: cgpdftops CUPS filter",
      "%%DocumentSuppliedResources: procset bannerprint", "%%EndComments", "%%Page: 1 1",
      "userdict/ESPsave save put", "0 0 translate 0.5 0.5 scale", "(one) show", "ep", "end",
      "userdict /ESPsave get restore"};
  if (!between.empty()) lines.push_back(between);
  for (const char *l : {"userdict/ESPsave save put", "306 0 translate 0.5 0.5 scale",
                        "(two) show", "%%EOF"})
    lines.push_back(l);
  std::string doc;
  for (const std::string &l : lines) doc += l + eol;
  return doc;
}

TEST_F(SetupThroughFilter, CgpdftopsSpooledPagesStandAlone) {
  std::string out = print(PlacedPages(""), "VTDuplex=BookletL");
  EXPECT_EQ(out,
            "%!PS-Adobe-3.0\n%%Creator: cgpdftops CUPS filter\n"
            "%%DocumentSuppliedResources: procset bannerprint\n%%EndComments\n"
            "%%Page: 1 1\n(one) show\nep\nend\n"
            "%%Page: n \n"
            "(two) show\n%%EOF\n");
}

TEST_F(SetupThroughFilter, CgpdftopsRealPageCommentNeedsNoSyntheticOne) {
  std::string out = print(PlacedPages("%%Page: 2 2"), "VTDuplex=BookletL");
  EXPECT_EQ(out,
            "%!PS-Adobe-3.0\n%%Creator: cgpdftops CUPS filter\n"
            "%%DocumentSuppliedResources: procset bannerprint\n%%EndComments\n"
            "%%Page: 1 1\n(one) show\nep\nend\n%%Page: 2 2\n(two) show\n%%EOF\n");
  EXPECT_EQ(Occurrences(out, "%%Page: n"), 0u);
}

TEST_F(SetupThroughFilter, CgpdftopsCrLfLinesKeepTheirFraming) {
  // The exact-line rules do not match CR LF lines; the placement lines
  // after the page comment still go, and every line end stays CR LF.
  std::string out = print(PlacedPages("", "\r\n"), "VTDuplex=BookletL");
  EXPECT_EQ(out,
            "%!PS-Adobe-3.0\r\n%%Creator: cgpdftops CUPS filter\r\n"
            "%%DocumentSuppliedResources: procset bannerprint\r\n%%EndComments\r\n"
            "%%Page: 1 1\r\n(one) show\r\nep\r\nend\r\nuserdict /ESPsave get restore\r\n"
            "(two) show\r\n%%EOF\r\n");
}

TEST_F(SetupThroughFilter, CgpdftopsOneUpWithBorderDropsShowpage) {
  const std::string doc = Header("cgpdftops CUPS filter", kBanner) +
                          "%%Page: 1 1\n(one) show\nESPshowpage\n%%EOF\n";
  const std::string border =
      " com.apple.print.PrintSettings.PMBorder..b.=true"
      " com.apple.print.PrintSettings.PMBorderType..n.=1";
  EXPECT_EQ(print(doc, "VTDuplex=BookletL" + border), Replace(doc, "ESPshowpage\n", ""));
  EXPECT_EQ(print(doc, "VTDuplex=BookletL"), doc);
  EXPECT_EQ(print(doc, "VTDuplex=BookletL" + border + Nup(1, 2)), doc);
}

}  // namespace
