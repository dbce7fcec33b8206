// N-up jobs with covers and transparency interleave, through the real
// filter program: the sheets it writes, in order, for documents whose every
// page carries a marker of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "FilterRunner.h"

namespace {

const std::string kNup4 =
    "com.apple.print.PrintSettings.PMLayoutRows..n.=2 "
    "com.apple.print.PrintSettings.PMLayoutColumns..n.=2 ";

std::string Total(int pages) {
  return "com.apple.print.PrintSettings.PMTotalBeginPages..n.=" + std::to_string(pages) + " ";
}

// A DSC document whose page i (from 1) has the label i and the body line
// "(body i) pop".
std::string Document(int pages) {
  std::string doc =
      "%!PS-Adobe-3.0\n%%Creator: imposition test\n%%Pages: " + std::to_string(pages) +
      "\n%%EndComments\n%%BeginProlog\n/mark-page { pop } def\n%%EndProlog\n"
      "%%BeginSetup\n%%EndSetup\n";
  for (int i = 1; i <= pages; ++i) {
    doc += "%%Page: " + std::to_string(i) + " " + std::to_string(i) + "\n";
    doc += "(body " + std::to_string(i) + ") pop\nshowpage\n";
  }
  return doc + "%%Trailer\n%%EOF\n";
}

// Plain string matching rather than std::regex: GCC warns inside <regex>
// (-Wmaybe-uninitialized) in the sanitizer build.

// Whether text is prefix + middle + suffix, with middle not empty.
bool Between(std::string_view text, std::string_view prefix, std::string_view suffix, std::string_view &middle) {
  if (text.size() <= prefix.size() + suffix.size() || text.substr(0, prefix.size()) != prefix ||
      text.substr(text.size() - suffix.size()) != suffix) {
    return false;
  }
  middle = text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
  return true;
}

// Whether text is not empty and made only of characters in set.
bool MadeOf(std::string_view text, std::string_view set) {
  return !text.empty() && text.find_first_not_of(set) == std::string_view::npos;
}

constexpr std::string_view kDigits = "0123456789";
constexpr std::string_view kNumber = "-0123456789.";
constexpr std::string_view kUnsigned = "0123456789.";
constexpr std::string_view kWord = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_";

// Fields of text separated by single spaces.
std::vector<std::string_view> Fields(std::string_view text) {
  std::vector<std::string_view> fields;
  for (size_t at; (at = text.find(' ')) != std::string_view::npos; text.remove_prefix(at + 1))
    fields.push_back(text.substr(0, at));
  fields.push_back(text);
  return fields;
}

// The token of one line of the imposed part (see Sheets), or "" for none.
std::string Token(const std::string &line) {
  const std::string_view text = line;
  std::string_view part;
  // "%%Page: LABEL N": the label may hold spaces, the ordinal follows the last.
  const size_t lastSpace = text.rfind(' ');
  if (text.substr(0, 8) == "%%Page: " && lastSpace >= 8 && MadeOf(text.substr(lastSpace + 1), kDigits)) {
    return "[" + line.substr(8, lastSpace - 8) + "#" + line.substr(lastSpace + 1) + "]";
  }
  if (Between(text, "(body ", ") pop", part) && MadeOf(part, kDigits)) return "body " + std::string(part);
  if (line == "ESPshowpage") return "|";
  if (line == "BLANK") return "BLANK";
  const size_t indent = std::min(text.find_first_not_of(" \t\n\v\f\r"), text.size());
  if (Between(text.substr(indent), "/MediaPosition ", ">>setpagedevice", part) && MadeOf(part, kDigits)) {
    return "tray " + std::string(part);
  }
  if (line == "<</ManualFeed false /TraySwitch true /MediaPosition null>>setpagedevice") return "tray null";
  if (line == "<</ManualFeed true /MediaPosition 3>>setpagedevice") return "tray manual";
  if (line == "<</MediaType (plain)>>setpagedevice") return "plain";
  if (line.rfind("<</MediaType (", 0) == 0 && line.size() > 30 &&
      line.compare(line.size() - 16, 16, ")>>setpagedevice") == 0) {
    return "media " + line.substr(14, line.size() - 30);
  }
  if (Between(text, "<</", ">>setpagedevice", part)) {
    const std::vector<std::string_view> setting = Fields(part);
    if (setting.size() == 2 && (setting[0] == "Duplex" || setting[0] == "Tumble") && MadeOf(setting[1], kWord)) {
      return (setting[0] == "Duplex" ? "duplex " : "tumble ") + std::string(setting[1]);
    }
  }
  // "X Y translate S S scale"
  const std::vector<std::string_view> f = Fields(text);
  if (f.size() == 6 && MadeOf(f[0], kNumber) && MadeOf(f[1], kNumber) && f[2] == "translate" &&
      MadeOf(f[3], kUnsigned) && MadeOf(f[4], kUnsigned) && f[5] == "scale") {
    return "@" + std::string(f[0]) + "," + std::string(f[1]);
  }
  return "";
}

const std::string kBlankPage =
    "userdict/ESPsave save put\nshowpage\nuserdict /ESPsave get restore\n"
    "gsave\ngrestore\nESPshowpage\n";

// The imposed part of the output (from the first page comment or sheet
// switch on) as a sequence of tokens: "[label#n]" page comments, "body i",
// "|" sheet ends, "BLANK" blank pages, "tray x", "plain", "duplex x",
// "tumble x", "@tx,ty" placements.
std::string Sheets(const std::string &out) {
  std::string text = out;
  for (size_t at; (at = text.find(kBlankPage)) != std::string::npos;)
    text.replace(at, kBlankPage.size(), "BLANK\n");
  std::istringstream lines(text);
  std::string line;
  std::vector<std::string> tokens;
  bool inSetup = true;
  while (std::getline(lines, line)) {
    if (line == "%%EndSetup") {
      inSetup = false;
      continue;
    }
    if (inSetup || line == "%%Trailer") continue;
    if (std::string token = Token(line); !token.empty()) tokens.push_back(std::move(token));
  }
  std::string joined;
  for (const auto &t : tokens) joined += (joined.empty() ? "" : " ") + t;
  return joined;
}

int Count(const std::string &text, const std::string &needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

class NupJob : public ::testing::Test {
 protected:
  // The jobs run on the PPD the printer ships with: its tray group holds
  // the media types whose code is put back after a cover.
  FilterResult Print(int pages, const std::string &options) {
    job_.usePpdText(ReadFile(VT_SOURCE_DIR "/packaging/ppd/Q610.ppd"));
    FilterResult r = job_.print(Document(pages), options);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(job_.spoolFiles().empty()) << "spool files left behind";
    return r;
  }
  FilterJob job_;
};

// 4-up Letter cells: 0.48 of 612 x 792 is 293.76 x 380.16.
const std::string kCell1 = "@0.0,380.2", kCell2 = "@293.8,380.2", kCell3 = "@0.0,0.0",
                  kCell4 = "@293.8,0.0";

// One N-up job: the document of `pages` pages printed with `options`, and
// its sheets as Sheets() writes them.
struct NupCase {
  const char *name;
  int pages;
  std::string options;
  std::string sheets;
  const char *alsoHas = nullptr;  // a piece of the output, or null
};

const NupCase kNupCases[] = {
    {"four-up with a blank interleave sheet after every sheet", 6,
     kNup4 + Total(6) + "OHPInterleave=True OHPInterOption=BlankPrinter OHPOpTray=Tray2",
     "[1#1] " + kCell1 + " body 1 [2#2] " + kCell2 + " body 2 [3#3] " + kCell3 + " body 3 [4#4] " +
         kCell4 + " body 4 | tray 0 plain BLANK tray null [5#5] " + kCell1 + " body 5 [6#6] " +
         kCell2 + " body 6 | tray 0 plain BLANK tray null",
     // Every sheet side counts, the interleave sheets too.
     "%%Pages: 4 0\n"},
    {"interleave reprints each sheet with the same page numbers", 5,
     kNup4 + Total(5) + "OHPInterleave=true OHPInterOption=PrintedSingle OHPOpTray=Tray5",
     "[1#1] " + kCell1 + " body 1 [2#2] " + kCell2 + " body 2 [3#3] " + kCell3 + " body 3 [4#4] " +
         kCell4 + " body 4 | tray 38 plain [1#1] " + kCell1 + " body 1 [2#2] " + kCell2 +
         " body 2 [3#3] " + kCell3 + " body 3 [4#4] " + kCell4 + " body 4 | tray null [5#5] " +
         kCell1 + " body 5 | tray 38 plain [5#5] " + kCell1 + " body 5 | tray null"},
    // The cover takes two pages, so the body fits one sheet although the
    // document's pages would fill two: the second pass writes no sheet, and
    // no interleave follows it.
    {"no interleave sheet without a body sheet before it", 6,
     kNup4 + Total(6) +
         "FrontCoverPage=True FrontCoverOption=PrintedDouble FrontCoverTray=Tray2 "
         "OHPInterleave=True OHPInterOption=BlankPrinter OHPOpTray=Tray1",
     "tray 0 plain duplex true tumble false [1#1] body 1 | [2#2] body 2 | "
     "tray null duplex false tumble false [3#3] " + kCell1 + " body 3 [4#4] " + kCell2 +
         " body 4 [5#5] " + kCell3 + " body 5 [6#6] " + kCell4 + " body 6 | tray 3 plain BLANK tray null"},
    // The first two pages one per side, whole, from the cover tray; the body
    // then starts in the first cell of a fresh sheet.
    {"front cover printed on both sides with long-edge duplex", 6,
     kNup4 + Total(6) +
         "VTDuplex=Duplex Binding=LongEdge FrontCoverPage=True "
         "FrontCoverOption=PrintedDouble FrontCoverTray=Tray3 VTInputSlot=Tray1",
     "tray 1 plain duplex true tumble false [1#1] body 1 | [2#2] body 2 | "
     "tray 3 duplex true tumble false [3#3] " + kCell1 + " body 3 [4#4] " + kCell2 +
         " body 4 [5#5] " + kCell3 + " body 5 [6#6] " + kCell4 + " body 6 |",
     // A cover page is unscaled: nothing between its save and its body.
     "%%Page: 1 1\nuserdict/ESPsave save put\n(body 1) pop\n"},
    // After a cover from its own tray on plain paper, the body's tray and
    // media (the queue's choices, the media as the PPD's code for it) come
    // back.
    {"body tray and media come back after the cover", 5,
     kNup4 + Total(5) +
         "FrontCoverPage=True FrontCoverOption=PrintedSingle "
         "FrontCoverTray=Tray1 VTInputSlot=Tray3 MediaType=Recycled",
     "tray 3 plain duplex false tumble false [1#1] body 1 | tray 1 media recycled duplex false "
     "tumble false [2#2] " + kCell1 + " body 2 [3#3] " + kCell2 + " body 3 [4#4] " + kCell3 +
         " body 4 [5#5] " + kCell4 + " body 5 |"},
    // Duplex, 5 pages, the last one the back cover: the body is one sheet
    // side, so a blank side comes first.
    {"printed back cover after a blank page so it starts a sheet", 5,
     kNup4 + Total(5) +
         "VTDuplex=Duplex Binding=LongEdge BackCoverPage=True "
         "BackCoverOption=PrintedSingle BackCoverTray=Tray4",
     "[1#1] " + kCell1 + " body 1 [2#2] " + kCell2 + " body 2 [3#3] " + kCell3 + " body 3 [4#4] " +
         kCell4 + " body 4 | BLANK tray 2 plain duplex false tumble false "
         "[5#5] body 5 | tray null duplex true tumble false"},
    {"printed back cover without blank when the body sides are even", 3,
     Total(3) +
         "VTDuplex=Duplex Binding=ShortEdge BackCoverPage=True "
         "BackCoverOption=PrintedSingle BackCoverTray=Tray1",
     "[1#1] body 1 | [2#2] body 2 | tray 3 plain duplex false tumble false [3#3] body 3 | "
     "tray null duplex true tumble true"},
    // Both sides of the cover sheet blank; no duplex switch for a blank cover.
    {"blank front cover from the manual feed", 2,
     kNup4 + Total(2) +
         "VTDuplex=Duplex Binding=LongEdge FrontCoverPage=True "
         "FrontCoverOption=BlankPrinter FrontCoverTray=Manual",
     "tray manual plain BLANK BLANK tray null [1#1] " + kCell1 + " body 1 [2#2] " + kCell2 +
         " body 2 |"},
    {"blank covers simplex take one blank page each", 1,
     Total(1) +
         "FrontCoverPage=True FrontCoverOption=BlankPrinter "
         "BackCoverPage=True BackCoverOption=BlankPrinter BackCoverTray=Tray2",
     "tray null plain BLANK tray null [1#1] body 1 | tray 0 plain BLANK tray null"},
    {"rotated four-up starts bottom right", 4,
     kNup4 + Total(4) + "Rotate180=True BackCoverPage=True BackCoverOption=BlankPrinter",
     "[1#1] " + kCell4 + " body 1 [2#2] " + kCell3 + " body 2 [3#3] " + kCell2 + " body 3 [4#4] " +
         kCell1 + " body 4 | tray null plain BLANK tray null"},
    // One body side and the blank back cover.
    {"last partial sheet ends and has no empty cells", 3,
     kNup4 + Total(3) + "BackCoverPage=True BackCoverOption=BlankPrinter",
     "[1#1] " + kCell1 + " body 1 [2#2] " + kCell2 + " body 2 [3#3] " + kCell3 +
         " body 3 | tray null plain BLANK tray null",
     "%%Pages: 2 0\n"},
    // The total-pages option says 6; the spool file holds 3 pages: the sheet
    // is filled with cells that carry a page comment with an empty label and
    // no body. The empty cell takes the slot after the last page written.
    {"more total pages than the document has give empty cells", 3,
     kNup4 + Total(6) + "BackCoverPage=True BackCoverOption=BlankPrinter",
     "[1#1] " + kCell1 + " body 1 [2#2] " + kCell2 + " body 2 [3#3] " + kCell3 + " body 3 [#4] " +
         kCell4 + " | tray null plain BLANK tray null",
     "%%Page:  4\n"},
    {"without the total-pages option the document's own pages print", 2,
     kNup4 + "BackCoverPage=True BackCoverOption=PrintedSingle",
     "[1#1] " + kCell1 + " body 1 | tray null plain duplex false tumble false "
     "[2#2] body 2 | tray null duplex false tumble false"},
};

// Every case: its sheets, and one progress report per sheet side printed
// (blank and interleave sides too).
TEST_F(NupJob, Layouts) {
  for (const NupCase &c : kNupCases) {
    SCOPED_TRACE(c.name);
    FilterResult r = Print(c.pages, c.options);
    EXPECT_EQ(Sheets(r.out), c.sheets);
    if (c.alsoHas) {
      EXPECT_NE(r.out.find(c.alsoHas), std::string::npos) << r.out;
    }
    const int sides = Count(r.out, "ESPshowpage\n");
    EXPECT_EQ(Count(r.err, "PAGE: "), sides) << r.err;
    EXPECT_NE(r.err.find("ATTR: job-impressions-completed=" + std::to_string(sides)),
              std::string::npos);
  }
}

TEST_F(NupJob, FramesAreDrawnInEveryCell) {
  FilterResult r = Print(2, kNup4 + Total(2) +
                                "com.apple.print.PrintSettings.PMBorder..b.=true "
                                "com.apple.print.PrintSettings.PMBorderType..n.=1 "
                                "BackCoverPage=True BackCoverOption=BlankPrinter");
  EXPECT_EQ(Count(r.out, "4.70 4.70 602.60 782.60 ESPrs\n"), 2);
}

TEST_F(NupJob, ALayoutThatWastesMostOfTheSheetIsReportedButPrinted) {
  const std::string cover = "BackCoverPage=True BackCoverOption=BlankPrinter ";
  const std::string message = "can't find acceptable layout for Nup";
  // Seven pages in a row fit no arrangement of Letter without waste.
  FilterResult seven = Print(7, Total(7) + cover +
                                    "com.apple.print.PrintSettings.PMLayoutRows..n.=1 "
                                    "com.apple.print.PrintSettings.PMLayoutColumns..n.=7");
  EXPECT_NE(seven.err.find(message), std::string::npos) << seven.err;
  EXPECT_EQ(Count(seven.out, "%%Page:"), 7);
  FilterResult four = Print(4, kNup4 + Total(4) + cover);
  EXPECT_EQ(four.err.find(message), std::string::npos) << four.err;
}

TEST_F(NupJob, AWriteErrorOnStandardOutputFailsTheJob) {
  job_.usePpd();
  RunOptions full;
  full.stdoutPath = "/dev/full";
  FilterResult r = job_.runWith({"1", "user", "title", "1",
                                 kNup4 + Total(4) + "BackCoverPage=True BackCoverOption=BlankPrinter"},
                                Document(4), full);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ERROR:"), std::string::npos) << r.err;
  EXPECT_TRUE(job_.spoolFiles().empty());
}

}  // namespace
