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
            kUel + "@PJL JOB\n@PJL SET COLLATE=ON\n@PJL ENTER LANGUAGE = POSTSCRIPT\n");
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
  // owner stands in for a missing login name only when the item is selected.
  r = job.print(kDocument, "OutputMethod=Secure VTSecurePIN=0a1b2c "
                           "com.apple.print.JobInfo.PMJobOwner=alice");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find("%!PS")),
            kUel + "@PJL JOB\n"
                   "@PJL SET HOLD = ON\n"
                   "@PJL SET HOLDKEY = \"0A1B2C\"\n"
                   "@PJL ENTER LANGUAGE = POSTSCRIPT\n");
}

}  // namespace
