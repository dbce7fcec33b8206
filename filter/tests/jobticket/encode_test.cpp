// Fetching template arguments: split options joined, the page-number list,
// the composed job name, and hexadecimal job-ticket values decoded as the
// encoding lists say. Values are stored whole or refused.
#include <string>

#include "jobticket/JobTicketEncode.h"
#include "TicketTestSupport.h"

using namespace ticket;

namespace {

class Encode : public TicketTest {
 protected:
  void SetUp() override {
    TicketTest::SetUp();
    ASSERT_EQ(Load(OneSectionFile(
                  {{"J", PjlItem(1, {Element("v", "x")})}},
                  {{"JobTicketEncodeType", StrArr({"Des", "Aes", "Hex", "PageNumber", "Both"})},
                   {"JobTicketDesType", StrArr({"Des", "DesOnly", "Both"})},
                   {"JobTicketAesType", StrArr({"Aes", "AesOnly", "Both"})}})),
              0);
  }
  // Fetches an option; the record's text, or "<none>" when not found.
  std::string Fetch(const char *name, const Options &o) {
    record_ = EncodedOptionValue{};
    if (!bWrappedCupsGetOption(&table_, name, o.count(), o.options(), &record_)) return "<none>";
    return std::string(record_.value, static_cast<size_t>(record_.length));
  }
  EncodedOptionValue record_{};
};

TEST_F(Encode, ListsMatchExactNames) {
  EXPECT_EQ(bEncodeType(&table_, "Des"), 1);
  EXPECT_EQ(bEncodeType(&table_, "des"), 0);
  EXPECT_EQ(bEncodeType(&table_, "De"), 0);
  EXPECT_EQ(bEncodeType(&table_, "Dess"), 0);
  EXPECT_EQ(bEncodeType(&table_, ""), 0);
  EXPECT_EQ(bEncodeDesType(&table_, "DesOnly"), 1);
  EXPECT_EQ(bEncodeAesType(&table_, "Aes"), 1);
  EXPECT_EQ(bEncodeAesType(&table_, "Des"), 0);
  PsPjlTables empty{};
  EXPECT_EQ(bEncodeType(&empty, "Des"), 0);
  EXPECT_EQ(bEncodeType(nullptr, "Des"), 0);
}

TEST_F(Encode, PlainValues) {
  EXPECT_EQ(Fetch("Memo", Options("Memo=hello")), "hello");
  EXPECT_EQ(record_.encodingType, kEncodedPlain);
  EXPECT_EQ(Fetch("Memo", Options().set("Memo", "")), "");
  EXPECT_EQ(record_.length, 0);
  EXPECT_EQ(Fetch("Memo", Options("Other=1")), "<none>");
  // In the DES or AES list but not the encode list: plain text.
  EXPECT_EQ(Fetch("DesOnly", Options("DesOnly=00FF")), "00FF");
  EXPECT_EQ(record_.encodingType, kEncodedPlain);
  EXPECT_EQ(Fetch("AesOnly", Options("AesOnly=0a")), "0a");
  // The longest value a record holds, and one byte more.
  EXPECT_EQ(Fetch("Memo", Options().set("Memo", std::string(1027, 'm'))), std::string(1027, 'm'));
  EXPECT_EQ(Fetch("Memo", Options().set("Memo", std::string(1028, 'm'))), "<none>");
}

TEST_F(Encode, SplitOptionsAreJoined) {
  EXPECT_EQ(Fetch("Memo", Options("Memo#01=ABC Memo#02=DEF")), "ABCDEF");
  EXPECT_EQ(Fetch("Memo", Options("Memo#01=ABC Memo#03=DEF")), "ABC");
  EXPECT_EQ(Fetch("Memo", Options("Memo=whole Memo#01=ABC Memo#02=DEF")), "whole");
  EXPECT_EQ(Fetch("Memo", Options().set("Memo#01", "ABC").set("Memo#02", "").set("Memo#03", "X")),
            "ABC");
  EXPECT_EQ(Fetch("Memo", Options().set("Memo#01", "").set("Memo#02", "X")), "<none>");
  EXPECT_EQ(Fetch("Memo", Options("Memo#1=ABC")), "<none>");
  // Past 99 the number simply grows: #100 follows #99.
  Options many;
  std::string expected;
  for (int n = 1; n <= 100; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "Memo#%02d", n);
    many.set(name, "x");
    expected += "x";
  }
  EXPECT_EQ(Fetch("Memo", many), expected);
  // A joined value too long for the record is refused, not cut.
  Options longSplit;
  longSplit.set("Memo#01", std::string(1000, 'a')).set("Memo#02", std::string(27, 'b'));
  EXPECT_EQ(Fetch("Memo", longSplit), std::string(1000, 'a') + std::string(27, 'b'));
  longSplit.set("Memo#03", "c");
  EXPECT_EQ(Fetch("Memo", longSplit), "<none>");
  // And one past the joining limit stops early.
  Options huge;
  for (int n = 1; n <= 5; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "Memo#%02d", n);
    huge.set(name, std::string(1000, 'h'));
  }
  EXPECT_EQ(Fetch("Memo", huge), "<none>");
}

TEST_F(Encode, PageNumberList) {
  Options o("PageNumberCount=3 PageNumber_1=1 PageNumber_2=4 PageNumber_3=9");
  EXPECT_EQ(Fetch("PageNumber", o), "1,4,9");
  // Listed in the encode list, but a page list is never decoded.
  EXPECT_EQ(record_.encodingType, kEncodedPlain);
  EXPECT_EQ(Fetch("PageNumber", Options("PageNumberCount=3 PageNumber_1=1 PageNumber_3=9")),
            "<none>");
  EXPECT_EQ(Fetch("PageNumber", Options("PageNumberCount=0 PageNumber_1=1")), "<none>");
  EXPECT_EQ(Fetch("PageNumber", Options("PageNumberCount=-2 PageNumber_1=1")), "<none>");
  EXPECT_EQ(Fetch("PageNumber", Options("PageNumber_1=1")), "<none>");
  // The count is read as a 16-bit number: 65537 is 1.
  EXPECT_EQ(Fetch("PageNumber", Options("PageNumberCount=65537 PageNumber_1=7 PageNumber_2=8")),
            "7");
  EXPECT_EQ(Fetch("PageNumber", Options("PageNumberCount=2 PageNumber_1=7").set("PageNumber_2", "")),
            "7,");
  // Only the name "PageNumber" has a list form.
  EXPECT_EQ(Fetch("PageNumbers", Options("PageNumberCount=1 PageNumber_1=7")), "<none>");
  // A list longer than a record holds is refused.
  Options longList("PageNumberCount=2");
  longList.set("PageNumber_1", std::string(600, '1')).set("PageNumber_2", std::string(600, '2'));
  EXPECT_EQ(Fetch("PageNumber", longList), "<none>");
}

TEST_F(Encode, JobNameIsComposed) {
  const std::string decomposed = "Re\xCC\x81sume\xCC\x81";  // e + U+0301, twice
  const std::string composed = "R\xC3\xA9sum\xC3\xA9";      // U+00E9, twice
  EXPECT_EQ(Fetch("com.apple.print.JobInfo.PMJobName",
                  Options().set("com.apple.print.JobInfo.PMJobName", decomposed)),
            composed);
  EXPECT_EQ(record_.length, 8);
  // Split job names are joined first, then composed.
  EXPECT_EQ(Fetch("com.apple.print.JobInfo.PMJobName",
                  Options().set("com.apple.print.JobInfo.PMJobName#01", "Re")
                      .set("com.apple.print.JobInfo.PMJobName#02", "\xCC\x81sume\xCC\x81")),
            composed);
  // Other options keep their form; invalid UTF-8 is kept as it came.
  EXPECT_EQ(Fetch("Memo", Options().set("Memo", decomposed)), decomposed);
  EXPECT_EQ(Fetch("com.apple.print.JobInfo.PMJobName",
                  Options().set("com.apple.print.JobInfo.PMJobName", "bad\xC3")),
            "bad\xC3");
}

TEST_F(Encode, DesTypeValuesAreBytes) {
  EXPECT_EQ(Fetch("Des", Options("Des=00FF41")), std::string("\0\xff" "A", 3));
  EXPECT_EQ(record_.encodingType, kEncodedDes);
  EXPECT_EQ(record_.length, 3);
  EXPECT_EQ(Fetch("Des", Options().set("Des", "")), "");
  EXPECT_EQ(record_.encodingType, kEncodedDes);
  // 1027 decoded bytes fit the record; 1028 do not.
  EXPECT_EQ(Fetch("Des", Options().set("Des", std::string(2054, 'F'))).size(), 1027u);
  EXPECT_EQ(Fetch("Des", Options().set("Des", std::string(2056, 'F'))), "<none>");
  // In all three lists: DES wins.
  EXPECT_EQ(Fetch("Both", Options("Both=4142")), "AB");
  EXPECT_EQ(record_.encodingType, kEncodedDes);
}

TEST_F(Encode, HexTypeValuesAreTextUpToZeroByte) {
  EXPECT_EQ(Fetch("Hex", Options("Hex=414243")), "ABC");
  EXPECT_EQ(record_.encodingType, kEncodedHex);
  EXPECT_EQ(Fetch("Hex", Options("Hex=00FF41")), "");
  EXPECT_EQ(record_.encodingType, kEncodedHex);
  EXPECT_EQ(Fetch("Hex", Options("Hex=410042")), "A");
}

TEST_F(Encode, AesTypeValuesAreUpperCaseHex) {
  EXPECT_EQ(Fetch("Aes", Options("Aes=0A1B")), "0A1B");
  EXPECT_EQ(record_.encodingType, kEncodedAes);
  EXPECT_EQ(record_.length, 4);
  EXPECT_EQ(Fetch("Aes", Options("Aes=00ff")), "00FF");
  // The longest value that fits the record, and two characters more.
  EXPECT_EQ(Fetch("Aes", Options().set("Aes", std::string(1026, 'a'))), std::string(1026, 'A'));
  EXPECT_EQ(Fetch("Aes", Options().set("Aes", std::string(1028, 'a'))), "<none>");
}

TEST_F(Encode, LowerCaseHexDecodesLikeUpperCase) {
  EXPECT_EQ(Fetch("Aes", Options("Aes=0a1B")), "0A1B");
  EXPECT_EQ(Fetch("Des", Options("Des=0a")), "\x0a");
  EXPECT_EQ(Fetch("Hex", Options("Hex=6162")), "ab");
  EXPECT_EQ(Fetch("Hex", Options("Hex=4a4B")), "JK");
}

TEST_F(Encode, MalformedHexIsRefused) {
  for (const char *name : {"Des", "Aes", "Hex"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Fetch(name, Options().set(name, "00F")), "<none>");   // odd length
    EXPECT_EQ(Fetch(name, Options().set(name, "0G")), "<none>");    // not a digit
    EXPECT_EQ(Fetch(name, Options().set(name, "0 1 ")), "<none>");
  }
}

}  // namespace
