// The family PPD as CUPS reads it, checked against the filter itself: every
// choice a person can pick in the print dialog must mean to psToVTOrbPS what
// its UI text says (a misspelt choice keyword would silently print a plain
// job), every default must be what the filter does when the option is not
// given, and the tray and media codes the PPD sends must agree with the ones
// the filter writes when it puts the body's tray and media back after a
// cover.
#include <cups/cups.h>
#include <cups/ppd.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "impose/CoverPages.h"
#include "job/CupsJobOptions.h"
#include "job/JobRecord.h"
#include "jobticket/JobTicketAccess.h"
#include "jobticket/PJLUtil.h"
#include "jobticket/plistAccess.h"

namespace {

class PpdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ppd_ = ppdOpenFile(VT_PPD_PATH);
    ASSERT_NE(ppd_, nullptr) << "cannot open " << VT_PPD_PATH;
  }
  void TearDown() override {
    if (ppd_) ppdClose(ppd_);
  }
  ppd_option_t *Option(const char *keyword) { return ppdFindOption(ppd_, keyword); }

  ppd_file_t *ppd_ = nullptr;
};

// Runs an accessor on the options parsed from a CUPS option string.
int WithOptions(const std::string &text, const std::function<int(int, cups_option_t *)> &accessor) {
  cups_option_t *options = nullptr;
  int num = cupsParseOptions(text.c_str(), 0, &options);
  int result = accessor(num, options);
  cupsFreeOptions(num, options);
  return result;
}

// What a writer of the filter puts on a stream.
std::string Captured(const std::function<void(FILE *)> &writer) {
  char *data = nullptr;
  size_t size = 0;
  FILE *out = open_memstream(&data, &size);
  if (!out) return "<open_memstream failed>";
  writer(out);
  fclose(out);
  std::string text(data ? data : "", size);
  free(data);
  return text;
}

std::set<std::string> ChoiceNames(ppd_option_t *option) {
  std::set<std::string> names;
  for (int i = 0; i < option->num_choices; i++) names.insert(option->choices[i].choice);
  return names;
}

// Every choice of an option, mapped to the accessor's result, must be listed
// here and give that result; the default must give what no option gives.
void ExpectChoices(ppd_option_t *option, const std::string &prefix,
                   const std::map<std::string, int> &expected,
                   const std::function<int(int, cups_option_t *)> &accessor,
                   bool defaultMeansAbsent = true) {
  ASSERT_NE(option, nullptr);
  std::set<std::string> listed;
  for (const auto &entry : expected) listed.insert(entry.first);
  EXPECT_EQ(ChoiceNames(option), listed) << option->keyword << ": choices differ from the filter's values";
  for (const auto &[choice, value] : expected) {
    std::string text = prefix + " " + option->keyword + "=" + choice;
    EXPECT_EQ(WithOptions(text, accessor), value) << text;
  }
  if (!defaultMeansAbsent) return;
  std::string byDefault = prefix + " " + option->keyword + "=" + option->defchoice;
  EXPECT_EQ(WithOptions(byDefault, accessor), WithOptions(prefix, accessor))
      << option->keyword << ": the default " << option->defchoice
      << " does not mean what an absent option means";
}

TEST_F(PpdTest, NamesTheFilterForCupsPostScript) {
  ppd_attr_t *filter = ppdFindAttr(ppd_, "cupsFilter2", nullptr);
  ASSERT_NE(filter, nullptr);
  EXPECT_STREQ(filter->value, "application/vnd.cups-postscript application/vnd.cups-postscript 0 psToVTOrbPS");
  EXPECT_EQ(ppdFindNextAttr(ppd_, "cupsFilter2", nullptr), nullptr) << "one filter only";
}

TEST_F(PpdTest, MediaTypeLivesInTheTrayGroupTheFilterSearches) {
  ppd_group_t *tray = nullptr;
  for (int i = 0; i < ppd_->num_groups; i++)
    if (std::string(ppd_->groups[i].name) == "*Tray") tray = &ppd_->groups[i];
  ASSERT_NE(tray, nullptr) << "no group named *Tray";
  std::set<std::string> keywords;
  for (int i = 0; i < tray->num_options; i++) keywords.insert(tray->options[i].keyword);
  EXPECT_TRUE(keywords.count("MediaType"));
  EXPECT_TRUE(keywords.count("VTInputSlot"));
}

TEST_F(PpdTest, PageSizesMatchTheirDimensionsWithTwelvePointMargins) {
  ASSERT_GT(ppd_->num_sizes, 5);
  ppd_option_t *pageSize = Option("PageSize");
  ASSERT_NE(pageSize, nullptr);
  for (int i = 0; i < ppd_->num_sizes; i++) {
    const ppd_size_t &size = ppd_->sizes[i];
    if (std::string(size.name) == "Custom") continue;
    SCOPED_TRACE(size.name);
    EXPECT_FLOAT_EQ(size.left, 12.0f);
    EXPECT_FLOAT_EQ(size.bottom, 12.0f);
    EXPECT_FLOAT_EQ(size.width - size.right, 12.0f);
    EXPECT_FLOAT_EQ(size.length - size.top, 12.0f);
    ppd_choice_t *choice = ppdFindChoice(pageSize, size.name);
    ASSERT_NE(choice, nullptr);
    char code[128];
    snprintf(code, sizeof code, "<</PageSize[%d %d]/ImagingBBox null>>setpagedevice",
             static_cast<int>(size.width), static_cast<int>(size.length));
    EXPECT_STREQ(choice->code, code);
  }
  EXPECT_STREQ(pageSize->defchoice, "Letter");
  // Custom sizes take their margins from *HWMargins.
  EXPECT_TRUE(ppd_->variable_sizes);
  for (int i = 0; i < 4; i++) EXPECT_FLOAT_EQ(ppd_->custom_margins[i], 12.0f);
}

TEST_F(PpdTest, DuplexAndBookletChoicesMeanWhatTheySay) {
  ExpectChoices(Option("VTDuplex"), "",
                {{"Single", 0}, {"Duplex", 0}, {"BookletL", 2}, {"BookletR", 1},
                 {"BookletU", 4}, {"BookletD", 3}},
                iGetBooklet);
  // Simplex, long-edge (2) and short-edge (3) duplex need the binding too.
  ExpectChoices(Option("VTDuplex"), "Binding=LongEdge",
                {{"Single", 1}, {"Duplex", 2}, {"BookletL", 2}, {"BookletR", 2},
                 {"BookletU", 2}, {"BookletD", 2}},
                iGetDuplex);
  // A two-sided job without "Binding" counts as one-sided to the filter, which
  // no binding choice can mean; the PPD defaults to the common long edge and
  // the queue should carry it as a default option (lpadmin -o Binding=...).
  ExpectChoices(Option("Binding"), "VTDuplex=Duplex", {{"LongEdge", 2}, {"ShortEdge", 3}}, iGetDuplex,
                false);
  EXPECT_STREQ(Option("Binding")->defchoice, "LongEdge");
}

TEST_F(PpdTest, PosterChoicesGiveTheirTileCounts) {
  ExpectChoices(Option("Combination"), "",
                {{"Off", 0}, {"1x2", 1}, {"2x2", 2}, {"3x3", 3}, {"4x4", 4}}, iGetPoster);
}

TEST_F(PpdTest, CoverAndInterleaveKindsMeanWhatTheySay) {
  const std::map<std::string, int> kinds = {
      {"Off", 0}, {"BlankPrinter", 1}, {"PrintedSingle", 2}, {"PrintedDouble", 3}};
  ExpectChoices(Option("FrontCoverOption"), "FrontCoverPage=True", kinds, iGetFrontCoverPage);
  ExpectChoices(Option("BackCoverOption"), "BackCoverPage=True", kinds, iGetBackCoverPage);
  ExpectChoices(Option("OHPInterOption"), "OHPInterleave=True",
                {{"Off", 0}, {"BlankPrinter", 1}, {"PrintedSingle", 2}}, iGetTransparencyInterleave);
  // The switches themselves.
  ExpectChoices(Option("FrontCoverPage"), "FrontCoverOption=PrintedSingle", {{"True", 2}, {"False", 0}},
                iGetFrontCoverPage);
  ExpectChoices(Option("BackCoverPage"), "BackCoverOption=BlankPrinter", {{"True", 1}, {"False", 0}},
                iGetBackCoverPage);
  ExpectChoices(Option("OHPInterleave"), "OHPInterOption=BlankPrinter", {{"True", 1}, {"False", 0}},
                iGetTransparencyInterleave);
  // Any of them makes the job spool for imposition; their defaults do not.
  EXPECT_EQ(WithOptions("FrontCoverPage=True FrontCoverOption=BlankPrinter", bSpoolSetting), 1);
  EXPECT_EQ(WithOptions("OHPInterleave=True OHPInterOption=PrintedSingle", bSpoolSetting), 1);
  EXPECT_EQ(WithOptions("FrontCoverPage=False FrontCoverOption=Off BackCoverPage=False "
                        "BackCoverOption=Off OHPInterleave=False OHPInterOption=Off "
                        "VTDuplex=Single Combination=Off",
                        bSpoolSetting),
            0);
}

TEST_F(PpdTest, BooleanSwitchesReachTheFilterAsBooleans) {
  ExpectChoices(Option("Rotate180"), "", {{"True", 1}, {"False", 0}}, bGetRotate180);
  ExpectChoices(Option("VTBorderLine"), "", {{"True", 1}, {"False", 0}}, bGetBorderLine);
  ExpectChoices(Option("WoLEnable"), "", {{"True", 1}, {"False", 0}}, bGetWakeOnLan);
}

// The tray a choice selects, as the filter writes it for a sheet of the kind.
std::string TrayLine(const char *trayOption, const char *choice, const char *enable, int kind) {
  std::string text = std::string(trayOption) + "=" + choice + (enable ? std::string(" ") + enable + "=True" : "");
  cups_option_t *options = nullptr;
  int num = cupsParseOptions(text.c_str(), 0, &options);
  JobRecord job;
  vReadJobRecord(&job, nullptr, num, options, nullptr, nullptr);
  std::string written = Captured([&](FILE *out) { WritePS_MediaPosition_BottomHalf(out, job, kind); });
  cupsFreeOptions(num, options);
  return written;
}

TEST_F(PpdTest, TrayChoicesSelectTheTraysTheFilterKnows) {
  const std::map<std::string, std::string> position = {
      {"Tray1", "/MediaPosition 3"}, {"Tray2", "/MediaPosition 0"}, {"Tray3", "/MediaPosition 1"},
      {"Tray4", "/MediaPosition 2"}, {"Tray5", "/MediaPosition 38"}, {"Manual", "/ManualFeed true /MediaPosition 3"},
      {"Auto", "/MediaPosition null"}};
  struct Tray {
    const char *option;
    const char *enable;
    int kind;
  };
  for (const Tray &tray : {Tray{"VTInputSlot", nullptr, kMediaKindRestore},
                           Tray{"FrontCoverTray", "FrontCoverPage", kMediaKindFrontCover},
                           Tray{"BackCoverTray", "BackCoverPage", kMediaKindBackCover},
                           Tray{"OHPOpTray", "OHPInterleave", kMediaKindInterleave}}) {
    SCOPED_TRACE(tray.option);
    ppd_option_t *option = Option(tray.option);
    ASSERT_NE(option, nullptr);
    std::set<std::string> listed;
    for (const auto &entry : position) listed.insert(entry.first);
    EXPECT_EQ(ChoiceNames(option), listed);
    EXPECT_STREQ(option->defchoice, "Auto");
    for (const auto &[choice, expected] : position) {
      std::string written = TrayLine(tray.option, choice.c_str(), tray.enable, tray.kind);
      EXPECT_NE(written.find(expected), std::string::npos) << choice << " wrote: " << written;
      if (tray.kind == kMediaKindRestore) {
        // The job's own start selects the same tray the filter restores.
        ppd_choice_t *c = ppdFindChoice(option, choice.c_str());
        ASSERT_NE(c, nullptr);
        EXPECT_NE(std::string(c->code).find(expected), std::string::npos) << choice << ": " << c->code;
      }
    }
  }
}

TEST_F(PpdTest, MediaTypeCodesAreWhatTheFilterWritesForTheBody) {
  ppd_option_t *mediaType = Option("MediaType");
  ASSERT_NE(mediaType, nullptr);
  ASSERT_GE(mediaType->num_choices, 2);
  for (int i = 0; i < mediaType->num_choices; i++) {
    const ppd_choice_t &choice = mediaType->choices[i];
    EXPECT_EQ(Captured([&](FILE *out) { WritePS_MediaType_BottomHalf(out, ppd_, choice.choice); }),
              std::string(choice.code) + "\n")
        << choice.choice;
  }
  // Covers and interleaves are fed as plain paper; the PPD's plain media is
  // the same text.
  EXPECT_STREQ(mediaType->defchoice, "Plain");
  EXPECT_STREQ(ppdFindChoice(mediaType, "Plain")->code, "<</MediaType (plain)>>setpagedevice");
  EXPECT_EQ(Captured([&](FILE *out) { WritePS_MediaType_BottomHalf(out, ppd_, "NoSuchMedia"); }),
            "");
}

// The job-ticket options, through the sample customisation file: every
// choice writes the PJL line its UI text promises, the custom PIN and stamp
// text reach the header in the form the file expects, and none of them puts
// code (or the PIN) into the PostScript.
class JobTicketPpdTest : public PpdTest {
 protected:
  void SetUp() override {
    PpdTest::SetUp();
    char dir[] = "/tmp/vt-ppd-ticket-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    root_ = dir;
    std::string plist = root_ + "/Library/Printers/VANTORA/Q610/Plist";
    ASSERT_EQ(std::system(("mkdir -p '" + plist + "' && cp '" VT_SAMPLE_CUSTOMIZE "' '" + plist +
                           "/FilterCustomize.plist'").c_str()), 0);
    setenv("VT_TEST_ROOT", root_.c_str(), 1);
    ASSERT_EQ(ossFilterCreatePsPjlTables(&table_, "Q610"), 0);
  }
  void TearDown() override {
    ossFilterFreePsPjlTables(&table_);
    unsetenv("VT_TEST_ROOT");
    if (std::system(("rm -rf '" + root_ + "'").c_str()) != 0) ADD_FAILURE() << root_;
    PpdTest::TearDown();
  }
  // The header for the options after the filter resolved the custom values;
  // "<refused>" when it refused them.
  std::string Header(const std::string &text) {
    cups_option_t *options = nullptr;
    int num = cupsParseOptions(text.c_str(), 0, &options);
    std::string header = "<refused>";
    if (bResolveCustomOptions(ppd_, &table_, &num, &options))
      header = Captured([&](FILE *out) { WritePJLHeader_TypeGeneral(nullptr, num, options, out, &table_); });
    cupsFreeOptions(num, options);
    return header;
  }
  // The option's choices but the "Custom" one libcups adds for a custom option.
  std::set<std::string> Choices(const char *keyword) {
    std::set<std::string> names = ChoiceNames(Option(keyword));
    names.erase("Custom");
    return names;
  }
  void ExpectLines(const char *keyword, const std::string &prefix,
                   const std::map<std::string, std::string> &expected) {
    ppd_option_t *option = Option(keyword);
    ASSERT_NE(option, nullptr) << keyword;
    std::set<std::string> listed;
    for (const auto &entry : expected) listed.insert(entry.first);
    EXPECT_EQ(Choices(keyword), listed) << keyword;
    for (const auto &[choice, line] : expected) {
      std::string text = prefix + " " + keyword + "=" + choice;
      EXPECT_NE(Header(text).find(line + "\n"), std::string::npos) << text << ": " << Header(text);
    }
  }

  std::string root_;
  PsPjlTables table_{};
};

TEST_F(JobTicketPpdTest, ChoicesWriteTheirLines) {
  ExpectLines("OutputMethod", "VTSecurePIN=Custom.1234",
              {{"Normal", "@PJL SET HOLD = OFF"}, {"Hold", "@PJL SET HOLD = STORE"},
               {"Secure", "@PJL SET HOLD = ON\n@PJL SET HOLDKEY = \"31323334\""}});
  ExpectLines("VTCollate", "", {{"True", "@PJL SET COLLATE = ON"}, {"False", "@PJL SET COLLATE = OFF"}});
  ExpectLines("JimonTextSet", "JimonCharacter=DRAFT",
              {{"True", "@PJL SET STAMP = ON\n@PJL SET STAMPTEXT = \"DRAFT\""}, {"False", "@PJL SET STAMP = OFF"}});
  std::map<std::string, std::string> texts;
  for (const std::string &choice : Choices("JimonCharacter"))
    texts[choice] = "@PJL SET STAMPTEXT = \"" + choice + "\"";
  ExpectLines("JimonCharacter", "JimonTextSet=True", texts);
  EXPECT_EQ(std::string(Option("JimonCharacter")->defchoice), "CONFIDENTIAL");
  // "None", the PIN's only choice, is no PIN.
  EXPECT_EQ(Choices("VTSecurePIN"), std::set<std::string>{"None"});
  EXPECT_EQ(Header("OutputMethod=Secure VTSecurePIN=None"), "<refused>");
}

TEST_F(JobTicketPpdTest, CustomValuesWithinThePpdsLimits) {
  ppd_coption_t *pin = ppdFindCustomOption(ppd_, "VTSecurePIN");
  ASSERT_NE(pin, nullptr);
  auto *param = static_cast<ppd_cparam_t *>(cupsArrayFirst(pin->params));
  ASSERT_NE(param, nullptr);
  EXPECT_EQ(param->type, PPD_CUSTOM_PASSWORD);
  EXPECT_EQ(param->minimum.custom_string, 4);
  EXPECT_EQ(param->maximum.custom_string, 8);
  EXPECT_NE(Header("OutputMethod=Secure VTSecurePIN=Custom.12345678").find("\"3132333435363738\""),
            std::string::npos);
  EXPECT_EQ(Header("OutputMethod=Secure VTSecurePIN=Custom.123456789"), "<refused>");
  EXPECT_EQ(Header("JimonTextSet=True JimonCharacter=Custom." + std::string(65, 'x')), "<refused>");

  // Job-level settings: CUPS writes no code of theirs into the document.
  cups_option_t *options = nullptr;
  int num = cupsParseOptions("OutputMethod=Secure VTSecurePIN=Custom.98765 VTCollate=False "
                             "JimonTextSet=True JimonCharacter=Custom.Stamp", 0, &options);
  ppdMarkDefaults(ppd_);
  cupsMarkOptions(ppd_, num, options);
  cupsFreeOptions(num, options);
  for (ppd_section_t section : {PPD_ORDER_ANY, PPD_ORDER_DOCUMENT, PPD_ORDER_EXIT, PPD_ORDER_PAGE,
                                PPD_ORDER_PROLOG, PPD_ORDER_JCL}) {
    char *code = ppdEmitString(ppd_, section, 0.0f);
    std::string text = code ? code : "";
    free(code);
    EXPECT_EQ(text.find("98765"), std::string::npos) << section << ": " << text;
    EXPECT_EQ(text.find("Stamp"), std::string::npos) << section << ": " << text;
  }
  EXPECT_EQ(Captured([&](FILE *out) { ppdEmitJCL(ppd_, out, 1, "user", "title"); }), "");
}

}  // namespace
