// The job ticket through the real filter: the PJL job the filter opens or
// completes around the document, the header from the customisation file,
// feature blocks replaced from it, and jobs without a usable file.
#include <string>

#include "FilterRunner.h"
#include "TicketTestSupport.h"

using namespace ticket;

namespace {

const std::string kUel = "\x1b%-12345X";
const std::string kDocument =
    "%!PS-Adobe-3.0\n"
    "%%Pages: 1\n"
    "%%EndComments\n"
    "%%Page: 1 1\n"
    "showpage\n"
    "%%EOF\n";

// A customisation file with a realistic header: user name, job name,
// collation, a stamp; and a PS item for the staple feature.
std::string CustomizationFile() {
  return OneSectionFile(
      {{"jp.vantora.printers.loginName",
        PjlItem(1, {Element("", "@PJL SET USERNAME=\"%1\"\\n", {"jp.vantora.printers.loginName"})})},
       {"com.apple.print.JobInfo.PMJobName",
        PjlItem(2, {Element("", "@PJL SET JOBNAME=\"%1\"\\n", {"com.apple.print.JobInfo.PMJobName"})})},
       {"VTCollate", PjlItem(10, {Element("true", "@PJL SET COLLATE=ON\\n"),
                                  Element("false", "@PJL SET COLLATE=OFF\\n")})},
       {"JimonTextSet", PjlItem(20, {Element("true", "@PJL SET STAMPTEXT=\"%1\"\\n", {"JimonCharacter"}),
                                     Element("false", "@PJL SET STAMP=OFF\\n")})},
       {"Staple", PsItem("StapleLocation", {Element("Left", "<</Staple 1>> setpagedevice\\n"),
                                            Element("None", "<</Staple 0>> setpagedevice\\n")})}});
}

const char *kOptions =
    "jp.vantora.printers.loginName=alice com.apple.print.JobInfo.PMJobName=Report "
    "VTCollate=True JimonTextSet=True JimonCharacter=CONFIDENTIAL";
const std::string kHeader =
    "@PJL SET USERNAME=\"alice\"\n"
    "@PJL SET JOBNAME=\"Report\"\n"
    "@PJL SET COLLATE=ON\n"
    "@PJL SET STAMPTEXT=\"CONFIDENTIAL\"\n";

class Program : public ::testing::Test {
 protected:
  void SetUp() override { job_.usePpd(); }
  FilterJob job_;
};

TEST_F(Program, FilterOpensAndClosesTheJobForPlainPostScript) {
  job_.setCustomization(CustomizationFile());
  FilterResult r = job_.print(kDocument, kOptions);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kUel + "@PJL JOB\n" + kHeader + "@PJL ENTER LANGUAGE = POSTSCRIPT\n" +
                       kDocument + kUel + "@PJL EOJ\n" + kUel + "\n");

  // Before 10.5 the job ends with an echo instead of a second UEL.
  job_.setSystemVersion("10.4.11");
  r = job_.print(kDocument, kOptions);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kUel + "@PJL JOB\n" + kHeader + "@PJL ENTER LANGUAGE = POSTSCRIPT\n" +
                       kDocument + kUel + "@PJL EOJ\n" + "@PJL ECHO EOJ\n");
}

TEST_F(Program, HeaderGoesBeforeTheDocumentsOwnEnterLanguage) {
  job_.setCustomization(CustomizationFile());
  const std::string document = kUel + "@PJL JOB NAME=\"from the application\"\n" +
                               "@PJL SET RESOLUTION=600\n" +
                               "@PJL ENTER LANGUAGE = POSTSCRIPT\n" + kDocument +
                               kUel + "@PJL EOJ\n" + kUel + "\n";
  FilterResult r = job_.print(document, kOptions);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kUel + "@PJL JOB\n" + "@PJL SET RESOLUTION=600\n" + kHeader +
                       "@PJL ENTER LANGUAGE = POSTSCRIPT\n" + kDocument + kUel + "@PJL EOJ\n" +
                       kUel + "\n");
}

TEST_F(Program, EachJobOfAStreamGetsItsHeader) {
  job_.setCustomization(CustomizationFile());
  auto pjlJob = [&](const std::string &name) {
    return kUel + "@PJL JOB NAME=\"" + name + "\"\n" + "@PJL ENTER LANGUAGE = POSTSCRIPT\n" +
           kDocument + kUel + "@PJL EOJ\n";
  };
  FilterResult r = job_.print(pjlJob("one") + pjlJob("two") + kUel + "\n", kOptions);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string expectedJob = kUel + "@PJL JOB\n" + kHeader +
                                  "@PJL ENTER LANGUAGE = POSTSCRIPT\n" + kDocument + kUel +
                                  "@PJL EOJ\n";
  EXPECT_EQ(r.out, expectedJob + expectedJob + kUel + "\n");
}

TEST_F(Program, FeatureBlocksReplacedKeptOrLeftAlone) {
  job_.setCustomization(CustomizationFile());
  auto block = [](const std::string &keyword) {
    return "%%BeginFeature: *" + keyword + " Left\n" + "old body 1\n" + "old body 2\n" +
           "%%EndFeature\n";
  };
  const std::string document = "%!PS-Adobe-3.0\n" + block("StapleLocation") +
                               block("StapleLocationX") + "showpage\n%%EOF\n";
  auto body = [](const FilterResult &r) {
    size_t start = r.out.find("%!PS-Adobe-3.0\n");
    size_t end = r.out.find("%%EOF\n");
    return start == std::string::npos || end == std::string::npos
               ? std::string()
               : r.out.substr(start, end + 6 - start);
  };

  FilterResult replaced = job_.print(document, "Staple=Left");
  ASSERT_EQ(replaced.status, 0) << replaced.err;
  EXPECT_EQ(body(replaced), "%!PS-Adobe-3.0\n"
                            "%%BeginFeature: *StapleLocation Left\n"
                            "<</Staple 1>> setpagedevice\n"
                            "%%EndFeature\n" +
                                block("StapleLocationX") + "showpage\n%%EOF\n");

  // The option selects no element: nothing written, the first body line kept.
  FilterResult noMatch = job_.print(document, "Staple=Right");
  ASSERT_EQ(noMatch.status, 0) << noMatch.err;
  EXPECT_EQ(body(noMatch), "%!PS-Adobe-3.0\n"
                           "%%BeginFeature: *StapleLocation Left\n"
                           "old body 1\n"
                           "%%EndFeature\n" +
                               block("StapleLocationX") + "showpage\n%%EOF\n");

  FilterResult unset = job_.print(document);
  ASSERT_EQ(unset.status, 0) << unset.err;
  EXPECT_EQ(body(unset), body(noMatch));
}

TEST_F(Program, WithoutAUsableFileNoPjlIsWritten) {
  // No file.
  FilterResult r = job_.print(kDocument, kOptions);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kDocument);
  // A broken file.
  job_.setCustomization(CustomizationFile().substr(0, 200));
  r = job_.print(kDocument, kOptions);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kDocument);
  // A file without "PDL_Compornents".
  job_.setCustomization(Plist(Dict({{"JobTicketEncodeType", StrArr({"X"})}})));
  r = job_.print(kDocument, kOptions);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kDocument);
}

TEST_F(Program, SectionListDecidesWhichItemsAreRead) {
  // Without "Reserve", only the built-in names count: "Custom" is not one.
  std::string builtIn = Plist(Dict({{"PDL_Compornents", Dict({{"Output", Dict({
      {"VTCollate", PjlItem(1, {Element("true", "@PJL SET COLLATE=ON\\n"),
                                Element("false", "@PJL SET COLLATE=OFF\\n")})},
      {"Custom", PjlItem(2, {Element("x", "@PJL SET CUSTOM=ON\\n")})}})}})}}));
  job_.setCustomization(builtIn);
  FilterResult r = job_.print(kDocument, "VTCollate=False Custom=x");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find("%!PS")),
            kUel + "@PJL JOB\n@PJL SET COLLATE=OFF\n@PJL ENTER LANGUAGE = POSTSCRIPT\n");

  // A "Reserve" list names its own sections and items.
  job_.setCustomization(Plist(Dict({
      {"PDL_Compornents", Dict({{"Mine", Dict({
          {"Custom", PjlItem(2, {Element("x", "@PJL SET CUSTOM=ON\\n")})},
          {"VTCollate", PjlItem(1, {Element("true", "@PJL SET COLLATE=ON\\n"),
                                    Element("false", "@PJL SET COLLATE=OFF\\n")})}})}})},
      {"Reserve", Dict({{"PDEName", StrArr({"Mine"})},
                        {"JobTicketName", Dict({{"Mine", StrArr({"Custom"})}})}})}})));
  r = job_.print(kDocument, "VTCollate=False Custom=x");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find("%!PS")),
            kUel + "@PJL JOB\n@PJL SET CUSTOM=ON\n@PJL ENTER LANGUAGE = POSTSCRIPT\n");

  // An empty "PDEName": a table without items still opens the job.
  job_.setCustomization(Plist(Dict({{"PDL_Compornents", Dict({})},
                                    {"Reserve", Dict({{"PDEName", Arr({})}})}})));
  r = job_.print(kDocument, "VTCollate=False");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kUel + "@PJL JOB\n@PJL ENTER LANGUAGE = POSTSCRIPT\n" + kDocument + kUel +
                       "@PJL EOJ\n" + kUel + "\n");
}

TEST_F(Program, DroppedLinesAreLoggedByOptionName) {
  job_.setCustomization(CustomizationFile());
  // The stamp text is missing and the job name too long to be a value.
  FilterResult r = job_.print(kDocument, std::string("VTCollate=True JimonTextSet=True "
                                                     "com.apple.print.JobInfo.PMJobName=") +
                                             std::string(1100, 'n'));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find("%!PS")),
            kUel + "@PJL JOB\n@PJL SET USERNAME=\"tester\"\n@PJL SET COLLATE=ON\n"
                   "@PJL ENTER LANGUAGE = POSTSCRIPT\n");
  EXPECT_NE(r.err.find("DEBUG: [Filter] - JimonTextSet: argument JimonCharacter is not set"),
            std::string::npos) << r.err;
  EXPECT_NE(r.err.find("DEBUG: [Filter] - com.apple.print.JobInfo.PMJobName: value too long"),
            std::string::npos) << r.err;
}

}  // namespace

namespace {

// The bundled sample customisation file with the demo's options.
TEST(BundledSample, WritesItsHeader) {
  FilterJob job;
  job.usePpd();
  job.setCustomization(ReadFile(std::string(VT_SOURCE_DIR) + "/examples/FilterCustomize.plist"));
  FilterResult r = job.print(kDocument,
                             "VTCollate=True OutputMethod=Normal jp.vantora.printers.loginName=demo "
                             "com.apple.print.JobInfo.PMJobName='Sample document' "
                             "JimonTextSet=True JimonCharacter=CONFIDENTIAL");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find("%!PS")),
            kUel + "@PJL JOB\n"
                   "@PJL SET USERNAME = \"demo\"\n"
                   "@PJL SET JOBNAME = \"Sample document\"\n"
                   "@PJL SET COLLATE = ON\n"
                   "@PJL SET HOLD = OFF\n"
                   "@PJL SET STAMP = ON\n"
                   "@PJL SET STAMPTEXT = \"CONFIDENTIAL\"\n"
                   "@PJL ENTER LANGUAGE = POSTSCRIPT\n");

  // Secure print: the PIN comes back as upper-case hexadecimal; the job
  // owner stands in for a missing login name only when the item is selected,
  // and keeps the CUPS job's user out; the job's title names the job.
  r = job.print(kDocument, "OutputMethod=Secure VTSecurePIN=0a1b2c "
                           "com.apple.print.JobInfo.PMJobOwner=alice");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find("%!PS")),
            kUel + "@PJL JOB\n"
                   "@PJL SET JOBNAME = \"title\"\n"
                   "@PJL SET HOLD = ON\n"
                   "@PJL SET HOLDKEY = \"0A1B2C\"\n"
                   "@PJL ENTER LANGUAGE = POSTSCRIPT\n");
}

}  // namespace

namespace {

// The header the bundled sample file writes for a job run with the given
// user, title and options; the error output when the job fails.
struct SampleRun {
  int status;
  std::string header;
  std::string err;
  std::string out;
};

// The PPD's custom options as CUPS reads them: the PIN and the stamp text.
const char *kCustomOptionsPpd =
    "*JCLOpenUI *VTSecurePIN/PIN: PickOne\n"
    "*OrderDependency: 10 JCLSetup *VTSecurePIN\n"
    "*DefaultVTSecurePIN: None\n"
    "*VTSecurePIN None/None: \"\"\n"
    "*JCLCloseUI: *VTSecurePIN\n"
    "*CustomVTSecurePIN True/PIN: \"\"\n"
    "*ParamCustomVTSecurePIN PIN/PIN: 1 password 4 8\n"
    "*JCLOpenUI *JimonCharacter/Stamp Text: PickOne\n"
    "*OrderDependency: 10 JCLSetup *JimonCharacter\n"
    "*DefaultJimonCharacter: DRAFT\n"
    "*JimonCharacter DRAFT/DRAFT: \"\"\n"
    "*JCLCloseUI: *JimonCharacter\n"
    "*CustomJimonCharacter True/Text: \"\"\n"
    "*ParamCustomJimonCharacter Text/Text: 1 string 1 16\n";

SampleRun RunSample(const std::string &user, const std::string &title, const std::string &options) {
  FilterJob job;
  job.usePpd(kCustomOptionsPpd);
  job.setCustomization(ReadFile(std::string(VT_SOURCE_DIR) + "/examples/FilterCustomize.plist"));
  FilterResult r = job.run({"1", user, title, "1", options}, kDocument);
  std::string header = r.out.substr(0, r.out.find("%!PS"));
  const std::string open = kUel + "@PJL JOB\n", close = "@PJL ENTER LANGUAGE = POSTSCRIPT\n";
  if (header.rfind(open, 0) == 0 && header.size() >= open.size() + close.size() &&
      header.compare(header.size() - close.size(), close.size(), close) == 0)
    header = header.substr(open.size(), header.size() - open.size() - close.size());
  return {r.status, header, r.err, r.out};
}

// The CUPS job's user and title name the job where no option does.
TEST(BundledSample, JobIdentityFromTheCupsJob) {
  const std::string login = "jp.vantora.printers.loginName", name = "com.apple.print.JobInfo.PMJobName";
  struct Case {
    const char *user, *title;
    std::string options, header;
  } cases[] = {
      {"bob", "Quarterly report", "",
       "@PJL SET USERNAME = \"bob\"\n@PJL SET JOBNAME = \"Quarterly report\"\n"},
      {"bob", "(stdin)", "", "@PJL SET USERNAME = \"bob\"\n"},
      {"bob", "Untitled", "", "@PJL SET USERNAME = \"bob\"\n"},
      {"bob", "", "", "@PJL SET USERNAME = \"bob\"\n"},
      {"", "Report", "", "@PJL SET JOBNAME = \"Report\"\n"},
      // Options given keep precedence, split or whole.
      {"bob", "Report", login + "=alice " + name + "=Mine",
       "@PJL SET USERNAME = \"alice\"\n@PJL SET JOBNAME = \"Mine\"\n"},
      {"bob", "Report", login + "#01=al " + name + "#01=Mi", ""},
      {"bob", "Report", "com.apple.print.JobInfo.PMJobOwner=carol", "@PJL SET JOBNAME = \"Report\"\n"},
      // A title in decomposed form is composed like the option.
      {"bob", "Cafe\xCC\x81", "", "@PJL SET USERNAME = \"bob\"\n@PJL SET JOBNAME = \"Caf\xC3\xA9\"\n"},
  };
  for (const Case &c : cases) {
    SampleRun run = RunSample(c.user, c.title, c.options);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.header, c.header) << c.user << " / " << c.title << " / " << c.options;
  }
}

// The PPD's custom values reach the table in the form it expects; a value
// that cannot be used stops the job before anything is written.
TEST(BundledSample, CustomValuesFromThePpd) {
  const std::string user = "", title = "";
  struct Case {
    std::string options, header;
  } printed[] = {
      {"OutputMethod=Secure VTSecurePIN=Custom.1234",
       "@PJL SET HOLD = ON\n@PJL SET HOLDKEY = \"31323334\"\n"},
      {"OutputMethod=Secure VTSecurePIN=custom.00429", "@PJL SET HOLD = ON\n@PJL SET HOLDKEY = \"3030343239\"\n"},
      {"OutputMethod=Secure VTSecurePIN={PIN=87654321}",
       "@PJL SET HOLD = ON\n@PJL SET HOLDKEY = \"3837363534333231\"\n"},
      // The hexadecimal form of the original dialog is used as it comes.
      {"OutputMethod=Secure VTSecurePIN=31323334", "@PJL SET HOLD = ON\n@PJL SET HOLDKEY = \"31323334\"\n"},
      {"OutputMethod=Normal VTSecurePIN=None", "@PJL SET HOLD = OFF\n"},
      {"JimonTextSet=True JimonCharacter='Custom.For review'",
       "@PJL SET STAMP = ON\n@PJL SET STAMPTEXT = \"For review\"\n"},
  };
  for (const Case &c : printed) {
    SampleRun run = RunSample(user, title, c.options);
    EXPECT_EQ(run.status, 0) << c.options << ": " << run.err;
    EXPECT_EQ(run.header, c.header) << c.options;
  }
  const std::pair<std::string, std::string> refused[] = {
      {"OutputMethod=Secure VTSecurePIN=Custom.123", "VTSecurePIN"},
      {"OutputMethod=Secure VTSecurePIN=Custom.123456789", "VTSecurePIN"},
      {"OutputMethod=Secure VTSecurePIN=Custom.12a4", "VTSecurePIN"},
      {"OutputMethod=Hold VTSecurePIN=Custom.", "VTSecurePIN"},
      {"OutputMethod=Secure VTSecurePIN={Other=1234}", "VTSecurePIN"},
      {"OutputMethod=Secure VTSecurePIN=None", "VTSecurePIN"},
      {"OutputMethod=Secure", "VTSecurePIN"},
      {"JimonTextSet=True JimonCharacter=Custom.12345678901234567", "JimonCharacter"},
  };
  for (const auto &[options, option] : refused) {
    SampleRun run = RunSample(user, title, options);
    EXPECT_EQ(run.status, 1) << options;
    EXPECT_EQ(run.out, "") << options;
    EXPECT_NE(run.err.find("ERROR: " + option + ": "), std::string::npos) << options << ": " << run.err;
    EXPECT_EQ(run.err.find("12a4"), std::string::npos) << "the PIN was logged: " << run.err;
  }
}

}  // namespace
