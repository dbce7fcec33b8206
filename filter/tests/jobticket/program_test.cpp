// The job ticket through the real filter: the PJL job the filter opens or
// completes around the document, the header from the customisation file,
// feature blocks replaced from it, and jobs without a usable file.
#include <cstdint>
#include <string>
#include <vector>

#include "FilterRunner.h"
#include "TicketTestSupport.h"

using namespace ticket;

#if defined(__SANITIZE_ADDRESS__)
#define VT_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VT_UNDER_ASAN 1
#endif
#endif
#ifndef VT_UNDER_ASAN
#define VT_UNDER_ASAN 0
#endif

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

// The lines the filter wrote between opening the job and entering PostScript;
// the whole text before the document, marked, where the job was not opened so.
std::string OpenedHeader(const std::string &out) {
  std::string header = out.substr(0, out.find("%!PS"));
  const std::string open = kUel + "@PJL JOB\n", close = "@PJL ENTER LANGUAGE = POSTSCRIPT\n";
  if (header.rfind(open, 0) == 0 && header.size() >= open.size() + close.size() &&
      header.compare(header.size() - close.size(), close.size(), close) == 0)
    return header.substr(open.size(), header.size() - open.size() - close.size());
  return "not opened: " + header;
}

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

  // An option selecting no element writes nothing and keeps the first body
  // line; the look-alike keyword is left alone.
  const std::pair<const char *, const char *> cases[] = {
      {"Staple=Left", "<</Staple 1>> setpagedevice\n"},
      {"Staple=Right", "old body 1\n"},
      {"", "old body 1\n"}};
  for (const auto &[options, firstBody] : cases) {
    FilterResult r = job_.print(document, options);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(body(r), std::string("%!PS-Adobe-3.0\n%%BeginFeature: *StapleLocation Left\n") +
                           firstBody + "%%EndFeature\n" + block("StapleLocationX") +
                           "showpage\n%%EOF\n")
        << options;
  }
}

TEST_F(Program, WithoutAUsableFileNoPjlIsWritten) {
  // No file, a broken file, a file without "PDL_Compornents".
  for (const std::string &file :
       {std::string(), CustomizationFile().substr(0, 200),
        Plist(Dict({{"JobTicketEncodeType", StrArr({"X"})}}))}) {
    if (!file.empty()) job_.setCustomization(file);
    FilterResult r = job_.print(kDocument, kOptions);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kDocument) << file.substr(0, 80);
  }
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
  EXPECT_EQ(OpenedHeader(r.out), "@PJL SET COLLATE=OFF\n");

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
  EXPECT_EQ(OpenedHeader(r.out), "@PJL SET CUSTOM=ON\n");

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
  EXPECT_EQ(OpenedHeader(r.out), "@PJL SET USERNAME=\"tester\"\n@PJL SET COLLATE=ON\n");
  EXPECT_NE(r.err.find("DEBUG: [Filter] - JimonTextSet: argument JimonCharacter is not set"),
            std::string::npos) << r.err;
  EXPECT_NE(r.err.find("DEBUG: [Filter] - com.apple.print.JobInfo.PMJobName: value too long"),
            std::string::npos) << r.err;
}

// ---- Hostile option values ------------------------------------------------

// An option value quoted for the filter's option string.
std::string Quoted(const std::string &value) {
  std::string out = "'";
  for (char c : value) {
    if (c == '\'' || c == '\\') out += '\\';
    out += c;
  }
  return out + "'";
}

std::string Hex(const std::string &bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

// A file whose every item writes exactly one kind of line, with text,
// hexadecimal-text, upper-case-hexadecimal and binary values, and a PS item
// filled from an option.
std::string HostileFile() {
  return OneSectionFile(
      {{"jp.vantora.printers.loginName",
        PjlItem(1, {Element("", "@PJL SET USERNAME=\"%1\"\\n", {"jp.vantora.printers.loginName"})})},
       {"com.apple.print.JobInfo.PMJobName",
        PjlItem(2, {Element("", "@PJL SET JOBNAME=\"%1\"\\n", {"com.apple.print.JobInfo.PMJobName"})})},
       {"JimonTextSet", PjlItem(3, {Element("true", "@PJL SET STAMPTEXT=\"%1\"\\n", {"JimonCharacter"})})},
       {"Memo", PjlItem(4, {Element("true", "@PJL COMMENT %1\\n", {"MemoText"})})},
       {"OutputMethod", PjlItem(5, {Element("Secure", "@PJL SET HOLD=ON\\n@PJL SET HOLDKEY=\"%1\"\\n",
                                            {"VTSecurePIN"})})},
       {"Note", PjlItem(6, {Element("true", "@PJL SET NOTE=\"%1\"\\n", {"VTNote"})})},
       {"DesKey", PjlItem(7, {Element("true", "@PJL SET DESKEY=%1\\n", {"VTDesKey"})})},
       {"Banner", PsItem("BannerText", {Element("On", "(%1) show\\n", {"BannerText"})})}},
      {{"JobTicketEncodeType", StrArr({"VTSecurePIN", "VTNote", "VTDesKey"})},
       {"JobTicketDesType", StrArr({"VTDesKey"})},
       {"JobTicketAesType", StrArr({"VTSecurePIN"})}});
}

// The lines the file can write: the text before the value and after it,
// and whether the value stands between double quotes.
struct LineShape {
  std::string before, after;
  bool quoted;
  bool binary = false;  // any bytes but a line feed
};
const LineShape kShapes[] = {{"@PJL SET USERNAME=\"", "\"", true},
                             {"@PJL SET JOBNAME=\"", "\"", true},
                             {"@PJL SET STAMPTEXT=\"", "\"", true},
                             {"@PJL COMMENT ", "", false},
                             {"@PJL SET HOLD=ON", "", false},
                             {"@PJL SET HOLDKEY=\"", "\"", true},
                             {"@PJL SET NOTE=\"", "\"", true},
                             {"@PJL SET DESKEY=", "", false, true},
                             {"@PJL SET RESOLUTION=600", "", false}};

bool IsTableLine(const std::string &line) {
  for (const LineShape &shape : kShapes) {
    if (line.size() < shape.before.size() + shape.after.size()) continue;
    if (line.compare(0, shape.before.size(), shape.before) != 0) continue;
    if (line.compare(line.size() - shape.after.size(), shape.after.size(), shape.after) != 0)
      continue;
    std::string value =
        line.substr(shape.before.size(), line.size() - shape.before.size() - shape.after.size());
    bool clean = true;
    for (unsigned char c : value)
      if (shape.binary ? c == '\n' : (c < 0x20 || c == 0x7F || (shape.quoted && c == '"')))
        clean = false;
    if (clean) return true;
  }
  return false;
}

// Checks a job the filter opened: one "@PJL JOB", then only lines of the
// table, "@PJL ENTER LANGUAGE" last, then the document whole. Returns the
// header lines.
std::vector<std::string> CheckedHeader(const FilterResult &r, const std::string &document) {
  std::vector<std::string> lines;
  const std::string enter = "@PJL ENTER LANGUAGE = POSTSCRIPT\n";
  size_t end = r.out.find(enter);
  EXPECT_NE(end, std::string::npos) << r.out;
  if (end == std::string::npos) return lines;
  EXPECT_EQ(r.out.substr(end + enter.size()), document + kUel + "@PJL EOJ\n" + kUel + "\n");
  const std::string head = r.out.substr(0, end);
  EXPECT_EQ(head.compare(0, kUel.size(), kUel), 0) << head;
  size_t at = kUel.size();
  while (at < head.size()) {
    size_t nl = head.find('\n', at);
    EXPECT_NE(nl, std::string::npos) << "header line without its end: " << head.substr(at);
    if (nl == std::string::npos) break;
    lines.push_back(head.substr(at, nl - at));
    at = nl + 1;
  }
  EXPECT_FALSE(lines.empty());
  if (lines.empty()) return lines;
  EXPECT_EQ(lines[0], "@PJL JOB");
  for (size_t i = 1; i < lines.size(); ++i)
    EXPECT_TRUE(IsTableLine(lines[i])) << "not a line of the table: " << Quoted(lines[i]);
  return lines;
}

const std::string kInjection =
    "Report\n@PJL SET HOLD = OFF\n" + kUel + "@PJL FSDELETE NAME = \"0:\\x\"\n";

TEST_F(Program, TextValuesCannotWriteCommandsOfTheirOwn) {
  job_.setCustomization(HostileFile());
  std::string fourKb;
  while (fourKb.size() < 4096) fourKb += "\r\n\x1b\"" + kUel + "@PJL RESET\n";
  const std::vector<std::string> payloads = {
      kInjection, "a\rb", "a\nb", "a\r\nb", "a\x1b" "b", kUel, "say \"hi\"", "tab\there\x7f",
      std::string(1000, '\n'), fourKb};
  const char *const fields[] = {"jp.vantora.printers.loginName",
                                "com.apple.print.JobInfo.PMJobName", "JimonCharacter",
                                "MemoText", "com.apple.print.JobInfo.PMJobOwner"};
  for (const char *field : fields) {
    for (const std::string &payload : payloads) {
      SCOPED_TRACE(std::string(field) + " = " + Quoted(payload.substr(0, 40)));
      std::string options = "JimonTextSet=True Memo=true " + std::string(field) + "=" +
                            Quoted(payload);
      FilterResult r = job_.print(kDocument, options);
      ASSERT_EQ(r.status, 0) << r.err;
      CheckedHeader(r, kDocument);
      // A document bringing its own PJL job: still one job and the table's lines.
      FilterResult own = job_.print(kUel + "@PJL JOB NAME=\"app\"\n@PJL SET RESOLUTION=600\n" +
                                        "@PJL ENTER LANGUAGE = POSTSCRIPT\n" + kDocument + kUel +
                                        "@PJL EOJ\n" + kUel + "\n",
                                    options);
      ASSERT_EQ(own.status, 0) << own.err;
      CheckedHeader(own, kDocument);
    }
  }

  // What the text values turn into: spaces for control characters, single
  // quotes for double quotes between quotes only; plain values unchanged.
  FilterResult r = job_.print(
      kDocument, "com.apple.print.JobInfo.PMJobName=" + Quoted(kInjection) +
                     " jp.vantora.printers.loginName=" + Quoted("al\"ice\x1b") +
                     " Memo=true MemoText=" + Quoted("say \"hi\"\r\n") +
                     " JimonTextSet=True JimonCharacter=" + Quoted("Top secret: 100% <ok>"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(CheckedHeader(r, kDocument),
            (std::vector<std::string>{
                "@PJL JOB", "@PJL SET USERNAME=\"al'ice \"",
                "@PJL SET JOBNAME=\"Report @PJL SET HOLD = OFF  %-12345X@PJL FSDELETE NAME = '0:\\x' \"",
                "@PJL SET STAMPTEXT=\"Top secret: 100% <ok>\"", "@PJL COMMENT say \"hi\"  "}));
}

TEST_F(Program, EncodedValuesCannotWriteCommandsOfTheirOwn) {
  job_.setCustomization(HostileFile());
  // Decoded to text: sanitised like any text. Upper-case hexadecimal: as given.
  FilterResult r = job_.print(
      kDocument, "Note=true VTNote=" + Hex("a\nb" + kUel + "c\"d") +
                     " OutputMethod=Secure VTSecurePIN=" + Hex(kUel + "\r\n") +
                     " DesKey=true VTDesKey=" + Hex(std::string("A\0B\rC", 5)));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(CheckedHeader(r, kDocument),
            (std::vector<std::string>{"@PJL JOB", "@PJL SET USERNAME=\"tester\"",
                                      "@PJL SET JOBNAME=\"title\"", "@PJL SET HOLD=ON",
                                      "@PJL SET HOLDKEY=\"" + Hex(kUel + "\r\n") + "\"",
                                      "@PJL SET NOTE=\"a b %-12345Xc'd\"",
                                      std::string("@PJL SET DESKEY=A\0B\rC", 21)}));
  // A text value ends at its first zero byte.
  r = job_.print(kDocument, "Note=true VTNote=" + Hex(std::string("A\0\n", 3)));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(CheckedHeader(r, kDocument),
            (std::vector<std::string>{"@PJL JOB", "@PJL SET USERNAME=\"tester\"",
                                      "@PJL SET JOBNAME=\"title\"", "@PJL SET NOTE=\"A\""}));

  // Binary values holding the UEL or a line feed end the job before anything
  // is written, whether the item using them is selected or not.
  for (const std::string &bytes :
       {kUel, std::string("12\r\n34"), std::string("12\n"), "x" + kUel + "y"}) {
    for (const char *select : {"DesKey=true ", ""}) {
      SCOPED_TRACE(Quoted(bytes) + " " + select);
      r = job_.print(kDocument, std::string(select) + "VTDesKey=" + Hex(bytes));
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.out, "");
      EXPECT_NE(r.err.find("ERROR: job ticket option VTDesKey"), std::string::npos) << r.err;
    }
  }
}

TEST_F(Program, FeatureReplacementsTakeSanitisedValues) {
  job_.setCustomization(HostileFile());
  const std::string document = "%!PS-Adobe-3.0\n%%BeginFeature: *BannerText On\nold\n"
                               "%%EndFeature\nshowpage\n%%EOF\n";
  FilterResult r = job_.print(document, "Banner=On BannerText=" + Quoted("x\n%%EOF\n" + kUel));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("%%BeginFeature: *BannerText On\n(x %%EOF  %-12345X) show\n%%EndFeature\n"),
            std::string::npos) << r.out;
}

// Secure print fails closed: a PIN the printer could not take ends the job
// with nothing written, so a confidential job never prints unheld.
TEST(SecurePrint, MalformedPinEndsTheJob) {
  FilterJob job;
  job.usePpd();
  job.setCustomization(ReadFile(std::string(VT_SOURCE_DIR) + "/examples/FilterCustomize.plist"));
  for (const std::string &pin : {std::string("313G"), std::string("123"), std::string("12 34"),
                                 std::string("31\n32"), std::string(1028, '3'),
                                 std::string(4096, '3')}) {
    SCOPED_TRACE(pin.substr(0, 20));
    FilterResult r = job.print(kDocument, "OutputMethod=Secure VTSecurePIN=" + Quoted(pin));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("ERROR: job ticket option VTSecurePIN"), std::string::npos) << r.err;
  }
  FilterResult r = job.print(kDocument, "OutputMethod=Secure VTSecurePIN=31323334");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("@PJL SET HOLD = ON\n@PJL SET HOLDKEY = \"31323334\"\n"), std::string::npos);
}

// ---- Hostile customisation files ------------------------------------------

// A binary property list from its objects (object references of two bytes,
// offsets of four); the last object is the root.
std::string BinaryPlist(const std::vector<std::string> &objects) {
  std::string out = "bplist00";
  std::vector<uint32_t> offsets;
  for (const std::string &o : objects) {
    offsets.push_back(static_cast<uint32_t>(out.size()));
    out += o;
  }
  uint64_t table = out.size();
  for (uint32_t off : offsets)
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((off >> shift) & 0xFF);
  std::string trailer(6, '\0');
  trailer += '\x04';
  trailer += '\x02';
  auto be64 = [&](uint64_t v) {
    for (int shift = 56; shift >= 0; shift -= 8) trailer += static_cast<char>((v >> shift) & 0xFF);
  };
  be64(objects.size());
  be64(objects.size() - 1);
  be64(table);
  return out + trailer;
}
std::string Ref(size_t index) {
  return std::string(1, static_cast<char>(index >> 8)) + static_cast<char>(index & 0xFF);
}
std::string Marker(int kind, size_t count) {
  if (count < 15) return std::string(1, static_cast<char>((kind << 4) | static_cast<int>(count)));
  return std::string(1, static_cast<char>((kind << 4) | 0xF)) + "\x11" + Ref(count);
}
std::string BString(const std::string &ascii) { return Marker(0x5, ascii.size()) + ascii; }
// Arrays 1..levels, each holding `width` references to the one before it.
std::vector<std::string> SharedArrays(int levels, int width) {
  std::vector<std::string> objects = {BString("x")};
  for (int level = 1; level <= levels; ++level) {
    std::string array = Marker(0xA, static_cast<size_t>(width));
    for (int i = 0; i < width; ++i) array += Ref(static_cast<size_t>(level - 1));
    objects.push_back(array);
  }
  return objects;
}
// Adds a root dictionary {"PDL_Compornents": last object}.
std::string WithRoot(std::vector<std::string> objects) {
  size_t value = objects.size() - 1;
  objects.push_back(BString("PDL_Compornents"));
  objects.push_back(Marker(0xD, 1) + Ref(objects.size() - 1) + Ref(value));
  return BinaryPlist(objects);
}

TEST_F(Program, FilesBeyondTheLimitsAreUnreadable) {
  auto arrays = [](int depth) {
    std::string open, close;
    for (int i = 0; i < depth; ++i) {
      open += "<array>";
      close += "</array>";
    }
    return open + close;
  };
  std::string manyNames;
  // Not "n" + std::to_string(i): GCC's -Wrestrict misjudges it in optimised builds.
  for (int i = 0; i < 9000; ++i) manyNames += Str(std::string("n").append(std::to_string(i)));
  const struct {
    const char *name;
    std::string file;
    const char *limit;
  } cases[] = {
      {"deep XML", OneSectionFile({{"VTCollate", PjlItem(1, {Element("true", "@PJL X\\n")})}},
                                  {{"Extra", arrays(40)}}),
       "nesting deeper than 32 levels"},
      {"very deep XML", Plist(Dict({{"PDL_Compornents", arrays(160000)}})),
       "file larger than 1048576 bytes"},
      {"large XML", OneSectionFile({{"VTCollate", PjlItem(1, {Element("true", "@PJL X\\n")})}},
                                   {{"Padding", Str(std::string(1100000, 'p'))}}),
       "file larger than 1048576 bytes"},
      {"deep binary", WithRoot(SharedArrays(40, 1)), "nesting deeper than 32 levels"},
      {"shared binary", WithRoot(SharedArrays(8, 14)), "more than 200000 values"},
      {"self-referencing binary",
       BinaryPlist({BString("PDL_Compornents"), Marker(0xA, 1) + Ref(2),
                    Marker(0xA, 1) + Ref(1), Marker(0xD, 1) + Ref(0) + Ref(1)}),
       "an object that contains itself"},
      {"large table",
       Plist(Dict({{"PDL_Compornents", Dict({{"Output", Dict({})}})},
                   {"Reserve", Dict({{"PDEName", StrArr({"Output"})},
                                     {"JobTicketName", Dict({{"Output", "<array>" + manyNames +
                                                                            "</array>"}})}})}})),
       "table larger than 8388608 bytes"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    job_.setCustomization(c.file);
    FilterResult r = job_.print(kDocument, "VTCollate=True");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kDocument);
    EXPECT_NE(r.err.find(std::string("DEBUG: [Filter] - FilterCustomize: ") + c.limit),
              std::string::npos) << r.err.substr(0, 2000);
#if !VT_UNDER_ASAN
    EXPECT_LT(r.maxRssKb, 64 * 1024);  // shadow memory makes sanitised runs larger
#endif
  }

  // Within the limits: the sample nests 9 levels deep; an element naming
  // thousands of arguments keeps the 30 a line can place.
  std::string args, places;
  for (int i = 0; i < 9000; ++i) args += Str("copies");
  for (int i = 0; i < 30; ++i) places += "%1";
  job_.setCustomization(OneSectionFile({{"VTCollate", PjlItem(1, {Dict({
      {"Value", Str("true")}, {"Argument", "<array>" + args + "</array>"},
      {"String", Str("@PJL SET QTY=" + places + "\\n")}})})}}));
  FilterResult r = job_.print(kDocument, "VTCollate=True copies=2");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(OpenedHeader(r.out), "@PJL SET QTY=" + std::string(30, '2') + "\n");
}

TEST_F(Program, TemplateLimitLoginFallbackAndPpdMessage) {
  // A template of 2048 bytes is kept; one byte more is not.
  const std::string text2046 = "@PJL COMMENT " + std::string(2046 - 13, 'c');
  job_.setCustomization(OneSectionFile(
      {{"A", PjlItem(1, {Element("x", text2046 + "\\n")})},
       {"B", PjlItem(2, {Element("x", text2046 + "b\\n")})},
       {"U", PjlItem(3, {Element("x", "@PJL SET USER=\"%1\"\\n", {"jp.vantora.printers"})})}}));
  FilterResult r = job_.print(kDocument, "A=x B=x U=x com.apple.print.JobInfo.PMJobOwner=alice");
  ASSERT_EQ(r.status, 0) << r.err;
  // The job owner stands in for the login name only, not for a name it begins.
  EXPECT_EQ(OpenedHeader(r.out), text2046 + "\n");

  r = job_.run({"1", "tester", "title", "1", ""}, kDocument, {{"PPD", ""}});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ERROR: unable to open the PPD file.\n"), std::string::npos) << r.err;
}


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
  EXPECT_EQ(OpenedHeader(r.out),
            "@PJL SET USERNAME = \"demo\"\n"
            "@PJL SET JOBNAME = \"Sample document\"\n"
            "@PJL SET COLLATE = ON\n"
            "@PJL SET HOLD = OFF\n"
            "@PJL SET STAMP = ON\n"
            "@PJL SET STAMPTEXT = \"CONFIDENTIAL\"\n");

  // Secure print: the PIN comes back as upper-case hexadecimal; the job
  // owner stands in for a missing login name only when the item is selected,
  // and keeps the CUPS job's user out; the job's title names the job.
  r = job.print(kDocument, "OutputMethod=Secure VTSecurePIN=0a1b2c "
                           "com.apple.print.JobInfo.PMJobOwner=alice");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(OpenedHeader(r.out),
            "@PJL SET JOBNAME = \"title\"\n@PJL SET HOLD = ON\n@PJL SET HOLDKEY = \"0A1B2C\"\n");
}

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
  return {r.status, OpenedHeader(r.out), r.err, r.out};
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
