// Imposed jobs whose document reached the filter the way Linux CUPS hands
// it over: a PDF converted by cups-filters' pdftops, either with Ghostscript
// (ps2write output, whose prolog binds showpage into its page procedure) or
// with poppler's pdftops (pages ending in a plain showpage, passed through
// CUPS's pstops, no "%%Creator:"). Each imposed sheet side must come out as
// one side: the document's own showpage is deferred to the sheet ends.
//
// The sheets are rendered by Ghostscript after a prelude that stands in only
// for what the printer has resident; it leaves showpage and ESPshowpage
// alone, so a stream that does not defer the document's showpage, or never
// defines ESPshowpage, shows it here as it would on paper.
//
// data/six-pages.ps is the source document: page k (1 to 6) is grey with k
// black bars. data/six-pages-pdftops.ps was made from its PDF by
//   PPD=packaging/ppd/Q610.ppd /usr/lib/cups/filter/pdftops 1 u "six pages" 1
//     pdftops-renderer=pdftops six.pdf
// data/six-pages-pstops-nup2.ps is that document laid out two pages to a
// sheet by CUPS's pstops:
//   PPD=packaging/ppd/Q610.ppd /usr/lib/cups/filter/pstops 1 u six 1
//     number-up=2 six-pages-pdftops.ps
// The ps2write document is made the same way at run time (its prolog alone
// is about 170 KB).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "ImposedOutput.h"
#include "FilterRunner.h"

namespace {

using imposetest::Image;

const char kData[] = VT_SOURCE_DIR "/filter/tests/impose/data/";
const char kCupsPdftops[] = "/usr/lib/cups/filter/pdftops";

// 4-up with a transparency interleave: the job spools and is imposed.
const char kFourUp[] =
    "com.apple.print.PrintSettings.PMLayoutRows..n.=2 "
    "com.apple.print.PrintSettings.PMLayoutColumns..n.=2 "
    "OHPInterleave=True OHPInterOption=BlankPrinter OHPOpTray=Tray2";

const char kFourUpCoverInterleave[] =
    "com.apple.print.PrintSettings.PMLayoutRows..n.=2 "
    "com.apple.print.PrintSettings.PMLayoutColumns..n.=2 "
    "FrontCoverPage=True FrontCoverOption=PrintedSingle FrontCoverTray=Tray1 "
    "OHPInterleave=True OHPInterOption=BlankPrinter OHPOpTray=Tray2";

bool Succeeded(int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }

bool HaveGhostscript() { return Succeeded(system("gs --version > /dev/null 2>&1")); }

using imposetest::Count;

// The bars of the page shown in a region of a rendered side (fractions of
// the sheet, from the top left): the most separate black runs that any row
// or column of the region crosses. 0 for paper left white.
int BarsIn(const Image &side, double left, double top, double right, double bottom) {
  auto black = [&side](int x, int y) {
    const size_t i = (static_cast<size_t>(y) * side.width + x) * 3;
    return side.rgb[i] < 64 && side.rgb[i + 1] < 64 && side.rgb[i + 2] < 64;
  };
  const int x0 = static_cast<int>(left * side.width), x1 = static_cast<int>(right * side.width);
  const int y0 = static_cast<int>(top * side.height), y1 = static_cast<int>(bottom * side.height);
  int most = 0;
  for (int y = y0; y < y1; ++y) {
    int runs = 0;
    for (int x = x0; x < x1; ++x) runs += black(x, y) && (x == x0 || !black(x - 1, y));
    most = std::max(most, runs);
  }
  for (int x = x0; x < x1; ++x) {
    int runs = 0;
    for (int y = y0; y < y1; ++y) runs += black(x, y) && (y == y0 || !black(x, y - 1));
    most = std::max(most, runs);
  }
  return most;
}

// Bars in the two halves of booklet sides (first cell on top) and in the
// four cells of 4-up sides (left to right, then down).
std::vector<int> Halves(const Image &s) { return {BarsIn(s, 0, 0, 1, 0.5), BarsIn(s, 0, 0.5, 1, 1)}; }
std::vector<int> Quarters(const Image &s) {
  return {BarsIn(s, 0, 0, 0.5, 0.5), BarsIn(s, 0.5, 0, 1, 0.5), BarsIn(s, 0, 0.5, 0.5, 1),
          BarsIn(s, 0.5, 0.5, 1, 1)};
}

// The two documents as Linux CUPS hands them to the filter.
class ForeignConverterSheets : public ::testing::TestWithParam<const char *> {
 protected:
  static void SetUpTestSuite() {
    pdftops_ = ReadFile(std::string(kData) + "six-pages-pdftops.ps");
    if (!HaveGhostscript() || access(kCupsPdftops, X_OK) != 0) return;
    // A PDF of the source document, converted by cups-filters' pdftops with
    // its default renderer, Ghostscript's ps2write.
    maker_ = std::make_unique<FilterJob>();
    const std::string pdf = maker_->dir() + "/six.pdf";
    const std::string made = maker_->dir() + "/six-ps2write.ps";
    const std::string command =
        "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile='" + pdf + "' '" + kData +
        "six-pages.ps' && PPD='" VT_SOURCE_DIR "/packaging/ppd/Q610.ppd' " + kCupsPdftops +
        " 1 user six 1 '' '" + pdf + "' > '" + made + "' 2> /dev/null";
    if (Succeeded(system(command.c_str()))) ps2write_ = ReadFile(made);
  }
  static void TearDownTestSuite() { maker_.reset(); }

  void SetUp() override {
    if (!HaveGhostscript()) GTEST_SKIP() << "Ghostscript is not installed";
    job_.usePpd();
  }
  // The document of this case, or empty (the test is then skipped).
  static const std::string &Document(const std::string &which) {
    return which == "ps2write" ? ps2write_ : pdftops_;
  }

  FilterJob job_;
  static std::unique_ptr<FilterJob> maker_;
  static std::string ps2write_;
  static std::string pdftops_;
};

std::unique_ptr<FilterJob> ForeignConverterSheets::maker_;
std::string ForeignConverterSheets::ps2write_;
std::string ForeignConverterSheets::pdftops_;

TEST_P(ForeignConverterSheets, DocumentAsCupsHandsItOver) {
  const std::string &doc = Document(GetParam());
  if (doc.empty()) GTEST_SKIP() << "no " << GetParam() << " document could be made here";
  EXPECT_EQ(Count(doc, "%%Page: "), 6);
  if (std::string(GetParam()) == "ps2write") {
    // The page procedure of the prolog calls showpage itself.
    EXPECT_NE(doc.find("%%Creator: GPL Ghostscript"), std::string::npos);
    EXPECT_NE(doc.find("{showpage}if"), std::string::npos);
  } else {
    EXPECT_EQ(doc.find("%%Creator:"), std::string::npos);
    EXPECT_EQ(Count(doc, "\nshowpage\n"), 6);
  }
}

TEST_P(ForeignConverterSheets, BookletComesOutAsFourSides) {
  const std::string &doc = Document(GetParam());
  if (doc.empty()) GTEST_SKIP() << "no " << GetParam() << " document could be made here";
  const FilterResult r = job_.print(doc, "VTDuplex=BookletL");
  ASSERT_EQ(r.status, 0) << r.err;
  // Deferred once, at the start of the prolog, before anything binds it.
  EXPECT_EQ(Count(r.out, "userdict/showpage{}put\n"), 1);
  EXPECT_NE(r.out.find("%%BeginProlog\nuserdict/ESPshowpage known not{userdict/ESPshowpage/"
                       "showpage load put}if\nuserdict/showpage{}put\n"),
            std::string::npos);

  const std::vector<Image> sides = imposetest::Rendered(job_, r.out);
  ASSERT_EQ(sides.size(), 4u);
  // Booklet positions 7,0 | 1,6 | 5,2 | 3,4 of pages 1 to 6 (7 and 8 blank).
  const std::vector<std::vector<int>> expected = {{0, 1}, {2, 0}, {6, 3}, {4, 5}};
  for (size_t i = 0; i < sides.size(); ++i)
    EXPECT_EQ(Halves(sides[i]), expected[i]) << "side " << i + 1;
}

TEST_P(ForeignConverterSheets, FourUpWithCoverAndInterleaveComesOutAsFiveSides) {
  const std::string &doc = Document(GetParam());
  if (doc.empty()) GTEST_SKIP() << "no " << GetParam() << " document could be made here";
  const FilterResult r = job_.print(doc, kFourUpCoverInterleave);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(r.out, "userdict/showpage{}put\n"), 1);

  const std::vector<Image> sides = imposetest::Rendered(job_, r.out);
  ASSERT_EQ(sides.size(), 5u);
  // The header counts every side printed (the document leaves it to the
  // trailer, which says the same).
  EXPECT_EQ(Count(r.out, "%%Pages: 5"), 2);
  EXPECT_EQ(r.out.find("%%Pages: (atend)"), std::string::npos);
  // The printed cover carries page 1 whole; two 4-up sheets, each followed
  // by a blank interleave sheet.
  EXPECT_EQ(BarsIn(sides[0], 0, 0, 1, 1), 1);
  EXPECT_EQ(Quarters(sides[1]), (std::vector<int>{2, 3, 4, 5}));
  EXPECT_EQ(BarsIn(sides[2], 0, 0, 1, 1), 0);
  EXPECT_EQ(Quarters(sides[3]), (std::vector<int>{6, 0, 0, 0}));
  EXPECT_EQ(BarsIn(sides[4], 0, 0, 1, 1), 0);
}

// A page of another size than the sheet makes poppler's pdftops (and
// Ghostscript's page procedure, bound into its prolog) call setpagedevice,
// which on a printer erases the sheet: inside a cell it must do nothing, or
// the cells drawn before it are lost.
TEST(ForeignConverterMixedSizes, APageOfAnotherSizeKeepsTheSheetsEarlierCells) {
  if (!HaveGhostscript() || access(kCupsPdftops, X_OK) != 0)
    GTEST_SKIP() << "Ghostscript or cups-filters' pdftops is not installed";
  FilterJob job;
  job.usePpd();
  const std::string pdf = job.dir() + "/mixed.pdf";
  ASSERT_TRUE(Succeeded(system(("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile='" +
                                pdf + "' '" + kData + "mixed-sizes.ps'")
                                   .c_str())));
  for (const char *renderer : {"", "pdftops-renderer=pdftops"}) {
    SCOPED_TRACE(*renderer ? renderer : "ps2write");
    const std::string made = job.dir() + "/mixed.ps";
    const std::string command = "PPD='" VT_SOURCE_DIR "/packaging/ppd/Q610.ppd' " +
                                std::string(kCupsPdftops) + " 1 user mixed 1 '" + renderer + "' '" +
                                pdf + "' > '" + made + "' 2> /dev/null";
    ASSERT_TRUE(Succeeded(system(command.c_str())));
    const FilterResult r =
        job.print(ReadFile(made), "com.apple.print.PrintSettings.PMLayoutRows..n.=2 "
                                  "com.apple.print.PrintSettings.PMLayoutColumns..n.=2 "
                                  "BackCoverPage=True BackCoverOption=BlankPrinter");
    ASSERT_EQ(r.status, 0) << r.err;
    // The A4 page alone is fitted into its cell from its own size, found in
    // poppler's "pdfSetupPaper" call or in ps2write's page "/MediaBox";
    // drawn at the sheet's size, its top was cut.
    EXPECT_EQ(Count(r.out, " 595.00 842.00 ESPrc\n"), 1);
    const std::vector<Image> sides = imposetest::Rendered(job, r.out);
    ASSERT_EQ(sides.size(), 2u);
    EXPECT_EQ(Quarters(sides[0]), (std::vector<int>{1, 2, 3, 4}));
  }
}

// A poster of a document from either converter: four tiles of each page,
// each tile a quarter of it. Page k's bars stand at x = 66 + 80 i (i < k)
// over the middle of the page: the left tiles show the first three, the
// right tiles the rest; top and bottom tiles cut the same bars. Probed over
// the printable area: the tiles overlap in the sheet's 12-point margins.
TEST_P(ForeignConverterSheets, PosterTilesEveryPage) {
  const std::string &doc = Document(GetParam());
  if (doc.empty()) GTEST_SKIP() << "no " << GetParam() << " document could be made here";
  const FilterResult r = job_.print(doc, "Combination=2x2");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<Image> sides = imposetest::Rendered(job_, r.out);
  ASSERT_EQ(sides.size(), 24u);
  for (int k = 1; k <= 6; ++k) {
    const int left = std::min(k, 3), right = std::max(0, k - 3);
    const std::vector<int> expected = {left, right, left, right};
    for (int t = 0; t < 4; ++t)
      EXPECT_EQ(BarsIn(sides[4 * (k - 1) + t], 13 / 612.0, 13 / 792.0, 599 / 612.0, 779 / 792.0),
                expected[t])
          << "page " << k << " tile " << t + 1;
  }
}

INSTANTIATE_TEST_SUITE_P(LinuxCups, ForeignConverterSheets,
                         ::testing::Values("ps2write", "pdftops"),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                           return std::string(info.param);
                         });

class ForeignConverterStream : public ::testing::Test {
 protected:
  void SetUp() override {
    doc_ = ReadFile(std::string(kData) + "six-pages-pdftops.ps");
    ASSERT_FALSE(doc_.empty());
    job_.usePpd();
  }
  // The document with a line put right after its "%%BeginProlog" line.
  std::string WithPrologLine(const std::string &line) const {
    std::string doc = doc_;
    const size_t at = doc.find("%%BeginProlog\n");
    EXPECT_NE(at, std::string::npos);
    doc.insert(at + 14, line);
    return doc;
  }
  std::string doc_;
  FilterJob job_;
};

// CUPS's pstops defers showpage itself when it places pages (number-up) or
// draws page borders. A second deferral ahead of it would make its
// "showpage load" fetch the empty procedure and leave every sheet blank.
TEST_F(ForeignConverterStream, DocumentDeferringShowpageItselfGetsNoSecondDeferral) {
  const std::string doc =
      WithPrologLine("userdict/ESPshowpage/showpage load put\nuserdict/showpage{}put\n");
  const FilterResult r = job_.print(doc, "VTDuplex=BookletL");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(r.out, "userdict/showpage{}put"), 1);
  EXPECT_EQ(r.out.find("known not{userdict/ESPshowpage"), std::string::npos);
  if (!HaveGhostscript()) GTEST_SKIP() << "Ghostscript is not installed";
  const std::vector<Image> sides = imposetest::Rendered(job_, r.out);
  ASSERT_EQ(sides.size(), 4u);
  EXPECT_EQ(Halves(sides[2]), (std::vector<int>{6, 3}));
}

// A document naming pdftops as its creator is recognised, so a poster is
// tiled: one sheet side per tile.
TEST_F(ForeignConverterStream, PosterOfARecognisedConverterGivesOneSidePerTile) {
  std::string doc = doc_;
  doc.insert(doc.find('\n') + 1, "%%Creator: xpdf/pdftops 3.04\n");
  const FilterResult r = job_.print(doc, "Combination=2x2");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(r.out, "userdict/showpage{}put\n"), 1);
  EXPECT_EQ(Count(r.out, "ESPshowpage\n%%Page:"), 23);  // 24 tiles, the last before the trailer
  if (!HaveGhostscript()) GTEST_SKIP() << "Ghostscript is not installed";
  const std::vector<Image> sides = imposetest::Rendered(job_, r.out);
  EXPECT_EQ(sides.size(), 24u);
}

// The search for the document's showpage reads lines by their bytes: NUL
// bytes before the name do not hide it, and pass through unchanged. A
// document that never names showpage has nothing to defer and keeps the
// stream it had.
TEST_F(ForeignConverterStream, ShowpageIsDeferredOnlyWhereTheDocumentNamesIt) {
  const std::string nul("junk\0\0\0 pop showpage\n", 21);
  const std::string head =
      "%!PS-Adobe-3.0\n%%Pages: 2\n%%EndComments\n%%BeginProlog\n%%EndProlog\n"
      "%%BeginSetup\n%%EndSetup\n%%Page: 1 1\n";
  const struct {
    const char *name;
    std::string pages;
    int deferrals;
    std::string kept;  // a piece of the document the output keeps as it was
  } cases[] = {
      {"showpage after NUL bytes", nul + "%%Page: 2 2\nshowpage\n", 1, nul},
      {"no showpage", "erasepage\n%%Page: 2 2\nerasepage\n", 0, "%%BeginProlog\n%%EndProlog\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const FilterResult r = job_.print(head + c.pages + "%%Trailer\n%%EOF\n", kFourUp);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Count(r.out, "userdict/showpage{}put"), c.deferrals);
    EXPECT_NE(r.out.find(c.kept), std::string::npos);
  }
}

// After any imposition the PJL framing is whole, whatever the document
// lacks: nothing but PJL between "@PJL JOB" and "@PJL ENTER LANGUAGE", and
// the closing "@PJL EOJ" after the last sheet. A document without
// "%%Trailer" and "%%EOF" once had the EOJ copied into its last page, and
// one without "%%BeginProlog" the showpage deferral into the PJL header.
TEST_F(ForeignConverterStream, PjlFramingStaysWholeForEveryDocumentForm) {
  job_.setCustomization(ReadFile(VT_SOURCE_DIR "/examples/FilterCustomize.plist"));
  std::string noTrailer = doc_.substr(0, doc_.find("%%Trailer"));
  std::string noProlog = doc_;
  noProlog.erase(noProlog.find("%%BeginProlog\n"), 14);
  std::string neither = noTrailer;
  neither.erase(neither.find("%%BeginProlog\n"), 14);
  const char *const layouts[] = {
      "VTDuplex=BookletL", "Combination=2x2", kFourUpCoverInterleave,
      "BackCoverPage=True BackCoverOption=PrintedSingle BackCoverTray=Tray1"};
  for (const std::string *doc : {&doc_, &noTrailer, &noProlog, &neither}) {
    for (const char *layout : layouts) {
      SCOPED_TRACE(std::string(layout) + (doc == &noTrailer   ? ", no trailer"
                                          : doc == &noProlog  ? ", no prolog comment"
                                          : doc == &neither   ? ", neither"
                                                              : ""));
      const FilterResult r = job_.print(*doc, layout);
      ASSERT_EQ(r.status, 0) << r.err;
      const size_t job = r.out.find("\x1b%-12345X@PJL JOB\n");
      const size_t enter = r.out.find("@PJL ENTER LANGUAGE = POSTSCRIPT\n");
      ASSERT_EQ(job, 0u);
      ASSERT_NE(enter, std::string::npos);
      for (size_t at = r.out.find('\n') + 1; at < enter; at = r.out.find('\n', at) + 1)
        EXPECT_EQ(r.out.compare(at, 4, "@PJL"), 0) << r.out.substr(at, r.out.find('\n', at) - at);
      const std::string end = "ESPshowpage\n";
      const size_t eoj = r.out.find("\x1b%-12345X@PJL EOJ");
      ASSERT_NE(eoj, std::string::npos);
      EXPECT_EQ(r.out.find("@PJL EOJ", eoj + 10), std::string::npos);
      EXPECT_LT(r.out.rfind(end), eoj);
      EXPECT_EQ(r.out.substr(eoj), "\x1b%-12345X@PJL EOJ\n\x1b%-12345X\n");
    }
  }
}

// Covers on a document CUPS's pstops laid out two pages to a sheet: each of
// its sheets ends with its own ESPshowpage, which inside an imposed cell
// must not end the sheet too, or every sheet is followed by a blank side.
// Pages that set their page size themselves (as many applications' do in
// their page setup) must not erase the sheet pstops laid out either.
TEST_F(ForeignConverterStream, CoversOnSheetsPstopsLaidOutGiveNoBlankSides) {
  if (!HaveGhostscript()) GTEST_SKIP() << "Ghostscript is not installed";
  const std::string plain = ReadFile(std::string(kData) + "six-pages-pstops-nup2.ps");
  ASSERT_FALSE(plain.empty());
  std::string sizing = plain;
  for (size_t at = sizing.find("\npdfStartPage\n"); at != std::string::npos;
       at = sizing.find("\npdfStartPage\n", at + 40))
    sizing.insert(at + 1, "<</PageSize[612 792]>>setpagedevice\n");
  for (const std::string *laidOut : std::vector<const std::string *>{&plain, &sizing}) {
    SCOPED_TRACE(laidOut == &sizing ? "pages that set their size" : "plain pages");
    const FilterResult r = job_.print(
        *laidOut, "FrontCoverPage=True FrontCoverOption=PrintedSingle FrontCoverTray=Tray1 "
                  "BackCoverPage=True BackCoverOption=BlankPrinter BackCoverTray=Tray1");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<Image> sides = imposetest::Rendered(job_, r.out);
    ASSERT_EQ(sides.size(), 4u);
    // pstops turned its sheets: the first page of each stands at the bottom.
    EXPECT_EQ(Halves(sides[0]), (std::vector<int>{2, 1}));
    EXPECT_EQ(Halves(sides[1]), (std::vector<int>{4, 3}));
    EXPECT_EQ(Halves(sides[2]), (std::vector<int>{6, 5}));
    EXPECT_EQ(BarsIn(sides[3], 0, 0, 1, 1), 0);
  }
}

}  // namespace
