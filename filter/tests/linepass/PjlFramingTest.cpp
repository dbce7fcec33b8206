// The PJL job framing the filter adds around a document, and the feature
// blocks a customisation table replaces, with a small table of its own: one
// PJL item (collation) and one PostScript item (media type).
#include <gtest/gtest.h>

#include <string>

#include "FilterRunner.h"

namespace {
const std::string kUel = "\x1b%-12345X";

const char kTable[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
  <key>PDL_Compornents</key>
  <dict>
    <key>Output</key>
    <dict>
      <key>VTCollate</key>
      <dict>
        <key>PDL_Type</key><string>PJL</string>
        <key>Serial</key><integer>1</integer>
        <key>Syntax</key>
        <array>
          <dict>
            <key>Value</key><string>true</string>
            <key>Argument</key><array/>
            <key>String</key><string>@PJL SET COLLATE = ON\n</string>
          </dict>
        </array>
      </dict>
      <key>VTMedia</key>
      <dict>
        <key>PDL_Type</key><string>PS</string>
        <key>Serial</key><integer>2</integer>
        <key>PS_DSC</key><string>MediaType</string>
        <key>Syntax</key>
        <array>
          <dict>
            <key>Value</key><string>Plain</string>
            <key>Argument</key><array/>
            <key>String</key><string>(plain media) VTMediaSet\n</string>
          </dict>
        </array>
      </dict>
    </dict>
  </dict>
  <key>Reserve</key>
  <dict>
    <key>PDEName</key><array><string>Output</string></array>
    <key>JobTicketName</key>
    <dict>
      <key>Output</key><array><string>VTCollate</string><string>VTMedia</string></array>
    </dict>
  </dict>
</dict>
</plist>
)";

const char kBody[] = "%!PS-Adobe-3.0\n%%Pages: 1\n%%Page: 1 1\n(only page) pop\n%%EOF\n";


bool EndsWith(const std::string &text, const std::string &end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class PjlFramingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    job.usePpd();
    job.setCustomization(kTable);
  }
  FilterJob job;
};
}  // namespace

TEST_F(PjlFramingTest, DocumentWithoutPjlIsFramedByTheFilter) {
  // Also when the document starts with a line that holds no comment at all.
  for (const std::string &body : {std::string(kBody), "0 setgray\n1 setlinewidth\n" + std::string(kBody)}) {
    FilterResult r = job.print(body, "VTCollate=true");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind(kUel + "@PJL JOB\n", 0), 0u) << r.out;
    // The administrator's log learns why the filter opened the job; standard
    // output carries only the print stream.
    EXPECT_NE(r.err.find("DEBUG: [Filter] - Detect 1st line with Jaguar\n"), std::string::npos);
    size_t header = r.out.find("@PJL SET COLLATE = ON\n");
    size_t enter = r.out.find("@PJL ENTER LANGUAGE = POSTSCRIPT\n");
    ASSERT_NE(header, std::string::npos);
    ASSERT_NE(enter, std::string::npos);
    EXPECT_LT(header, enter);
    // The document follows the language switch unchanged, and the filter
    // closes the job it opened.
    EXPECT_TRUE(EndsWith(r.out, "@PJL ENTER LANGUAGE = POSTSCRIPT\n" + body + kUel +
                                    "@PJL EOJ\n" + kUel + "\n"))
        << r.out;
  }
}

TEST_F(PjlFramingTest, OlderSystemsCloseWithAnEcho) {
  job.setSystemVersion("10.4.11");
  FilterResult r = job.print(kBody, "VTCollate=true");
  EXPECT_TRUE(EndsWith(r.out, std::string(kBody) + kUel + "@PJL EOJ\n@PJL ECHO EOJ\n")) << r.out;
}

TEST_F(PjlFramingTest, ApplicationPjlGetsTheHeaderBeforeItsLanguageSwitch) {
  std::string doc = kUel + "@PJL JOB NAME=\"report\"\n@PJL ENTER LANGUAGE = POSTSCRIPT\n" + kBody +
                    kUel + "@PJL EOJ\n" + kUel;
  FilterResult r = job.print(doc, "VTCollate=true");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind(kUel + "@PJL JOB\n", 0), 0u);
  EXPECT_EQ(r.out.find("JOB NAME"), std::string::npos);
  size_t header = r.out.find("@PJL SET COLLATE = ON\n");
  size_t enter = r.out.find("@PJL ENTER LANGUAGE = POSTSCRIPT\n");
  EXPECT_LT(header, enter);
  // The application closes its own job; the filter adds nothing.
  EXPECT_TRUE(EndsWith(r.out, "@PJL ENTER LANGUAGE = POSTSCRIPT\n" + std::string(kBody) + kUel +
                                  "@PJL EOJ\n" + kUel))
      << r.out;
  EXPECT_EQ(Occurrences(r.out, "@PJL EOJ"), 1u);
}

TEST_F(PjlFramingTest, SecondJobInTheStreamGetsItsOwnHeader) {
  std::string one = kUel + "@PJL JOB NAME=\"a\"\n@PJL ENTER LANGUAGE = POSTSCRIPT\n" + kBody +
                    kUel + "@PJL EOJ\n";
  FilterResult r = job.print(one + one, "VTCollate=true");
  EXPECT_EQ(Occurrences(r.out, "@PJL SET COLLATE = ON\n"), 2u);
  EXPECT_EQ(Occurrences(r.out, kUel + "@PJL JOB\n"), 2u);
  // On older systems the stream stays one job.
  FilterJob older;
  older.usePpd();
  older.setCustomization(kTable);
  older.setSystemVersion("10.4.11");
  EXPECT_EQ(Occurrences(older.print(one + one, "VTCollate=true").out, "@PJL SET COLLATE = ON\n"), 1u);
}

TEST_F(PjlFramingTest, ListedFeatureBlockIsReplaced) {
  const std::string doc =
      "%!PS-Adobe-3.0\n%%BeginFeature: *MediaType Plain\nbody one\nbody two\n%%EndFeature\n"
      "(after) pop\n";
  FilterResult r = job.print(doc, "VTMedia=Plain");
  ASSERT_EQ(r.status, 0);
  size_t begin = r.out.find("%%BeginFeature: *MediaType Plain\n");
  size_t replacement = r.out.find("(plain media) VTMediaSet\n");
  size_t end = r.out.find("%%EndFeature\n(after) pop\n");
  ASSERT_NE(begin, std::string::npos) << r.out;
  ASSERT_NE(replacement, std::string::npos) << r.out;
  ASSERT_NE(end, std::string::npos) << r.out;
  EXPECT_LT(begin, replacement);
  EXPECT_LT(replacement, end);
  EXPECT_EQ(r.out.find("body one"), std::string::npos);
  EXPECT_EQ(r.out.find("body two"), std::string::npos);
}

TEST_F(PjlFramingTest, ListedFeatureWithoutItsOptionKeepsOnlyTheFirstBodyLine) {
  const std::string doc =
      "%!PS-Adobe-3.0\n%%BeginFeature: *MediaType Plain\nbody one\nbody two\n%%EndFeature\n"
      "(after) pop\n";
  FilterResult r = job.print(doc);
  EXPECT_NE(r.out.find("%%BeginFeature: *MediaType Plain\nbody one\n%%EndFeature\n(after) pop\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("body two"), std::string::npos);
}

TEST_F(PjlFramingTest, LongerKeywordIsNotTheListedOne) {
  const std::string block =
      "%%BeginFeature: *MediaTypeExtra Plain\nbody one\nbody two\n%%EndFeature\n";
  FilterResult r = job.print("%!PS-Adobe-3.0\n" + block, "VTMedia=Plain");
  EXPECT_NE(r.out.find(block), std::string::npos) << r.out;
}
