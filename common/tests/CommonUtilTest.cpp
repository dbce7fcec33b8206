// The shared helpers: typed dictionary lookups, property-list files, the
// system version and its comparison, decimal and hexadecimal parsing.
#include <gtest/gtest.h>
#include <plist/plist.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "CommonUtil.h"

namespace {
// A folder of the test's own, removed at the end.
class TempDir {
 public:
  TempDir() {
    char templ[] = "/tmp/vt-common-XXXXXX";
    path_ = mkdtemp(templ);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string write(const std::string &name, const std::string &content) const {
    std::string p = path_ + "/" + name;
    std::string dir = p.substr(0, p.rfind('/'));
    std::filesystem::create_directories(dir);
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

std::string VersionPlist(const std::string &version) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
         "<key>ProductName</key><string>Mac OS X</string>\n"
         "<key>ProductVersion</key><string>" + version + "</string>\n</dict>\n</plist>\n";
}

CFOwned SampleDictionary() {
  static const char xml[] =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
      "<key>d</key><dict><key>x</key><string>y</string></dict>"
      "<key>a</key><array><string>1</string></array>"
      "<key>s</key><string>text</string>"
      "<key>n</key><integer>42</integer>"
      "<key>r</key><real>2.5</real>"
      "<key>b</key><true/>"
      "</dict></plist>";
  return CFPropertyListCreateWithData(xml, sizeof xml - 1);
}
}  // namespace

// --- Typed lookups: a value of the wrong type is never handed out. ---------

TEST(DictionaryLookup, EachTypeCodeAcceptsOnlyItsType) {
  CFOwned dict = SampleDictionary();
  ASSERT_TRUE(dict);
  const struct {
    const char *key;
    int code;
  } matches[] = {{"d", 1}, {"a", 2}, {"s", 3}, {"n", 5}, {"r", 5}, {"b", 6}};
  for (const auto &m : matches) {
    for (int code = 1; code <= 6; ++code) {
      CFTypeRef v = CFDictionaryGetValueWithType(dict.get(), m.key, code);
      if (code == m.code)
        EXPECT_NE(v, nullptr) << m.key << " code " << code;
      else
        EXPECT_EQ(v, nullptr) << m.key << " code " << code;
    }
  }
}

TEST(DictionaryLookup, StringAskedAsBooleanIsNoneButAnyCodeFindsIt) {
  CFOwned dict = SampleDictionary();
  EXPECT_EQ(CFDictionaryGetValueWithType(dict.get(), "s", 6), nullptr);
  std::string text;
  ASSERT_TRUE(CFStringGetUTF8(CFDictionaryGetValueWithType(dict.get(), "s", 0), text));
  EXPECT_EQ(text, "text");
  ASSERT_TRUE(CFStringGetUTF8(CFDictionaryGetValueWithType(dict.get(), "s", 9), text));
  EXPECT_EQ(text, "text");
  EXPECT_NE(CFDictionaryGetValueWithType(dict.get(), "s", -1), nullptr);
}

TEST(DictionaryLookup, NoneForEmptyMissingOrNonDictionary) {
  CFOwned empty = CFDictionaryCreateMutable();
  EXPECT_EQ(CFDictionaryGetValueWithType(empty.get(), "s", 0), nullptr);
  CFOwned dict = SampleDictionary();
  EXPECT_EQ(CFDictionaryGetValueWithType(dict.get(), "missing", 0), nullptr);
  EXPECT_EQ(CFDictionaryGetValueWithType(dict.get(), nullptr, 0), nullptr);
  EXPECT_EQ(CFDictionaryGetValueWithType(nullptr, "s", 0), nullptr);
  CFTypeRef array = CFDictionaryGetValue(dict.get(), "a");
  EXPECT_EQ(CFDictionaryGetValueWithType(array, "s", 0), nullptr);
  // No value read from a property list is a URL.
  EXPECT_EQ(CFDictionaryGetValueWithType(dict.get(), "s", 4), nullptr);
}

TEST(DictionaryLookup, IfPresentStoresTheResultEvenWhenNone) {
  CFOwned dict = SampleDictionary();
  CFTypeRef value = dict.get();  // anything not null
  EXPECT_FALSE(CFDictionaryGetValueIfPresentWithType(dict.get(), "missing", &value, 0));
  EXPECT_EQ(value, nullptr);
  EXPECT_TRUE(CFDictionaryGetValueIfPresentWithType(dict.get(), "n", &value, 5));
  int64_t n = 0;
  ASSERT_TRUE(CFNumberGetInt64(value, n));
  EXPECT_EQ(n, 42);
  value = dict.get();
  EXPECT_FALSE(CFDictionaryGetValueIfPresentWithType(dict.get(), "n", &value, 3));
  EXPECT_EQ(value, nullptr);
  EXPECT_FALSE(CFDictionaryGetValueIfPresentWithType(dict.get(), "n", nullptr, 5));
}

// --- Property-list files. ---------------------------------------------------

TEST(PropertyListFile, ReadsXmlAndBinaryLists) {
  TempDir dir;
  std::string xmlPath = dir.write("v.plist", VersionPlist("10.6.8"));
  CFOwned fromXml = CreateDictionaryFromPath(xmlPath.c_str());
  std::string version;
  ASSERT_TRUE(CFStringGetUTF8(CFDictionaryGetValueWithType(fromXml.get(), "ProductVersion", 3),
                              version));
  EXPECT_EQ(version, "10.6.8");

  char *bin = nullptr;
  uint32_t binLength = 0;
  plist_to_bin(fromXml.get(), &bin, &binLength);
  ASSERT_NE(bin, nullptr);
  std::string binPath = dir.write("v.bplist", std::string(bin, binLength));
  std::free(bin);
  CFOwned fromBin = CreateDictionaryFromPath(binPath.c_str());
  version.clear();
  ASSERT_TRUE(CFStringGetUTF8(CFDictionaryGetValueWithType(fromBin.get(), "ProductVersion", 3),
                              version));
  EXPECT_EQ(version, "10.6.8");
}

TEST(PropertyListFile, NoneForMissingEmptyOrGarbledFiles) {
  TempDir dir;
  EXPECT_FALSE(CreateDictionaryFromPath((dir.path() + "/absent.plist").c_str()));
  EXPECT_FALSE(CreateDictionaryFromPath(dir.write("empty.plist", "").c_str()));
  EXPECT_FALSE(CreateDictionaryFromPath(dir.write("bad.plist", "<plist><dict><key>").c_str()));
  EXPECT_FALSE(CreateDictionaryFromPath(dir.path().c_str()));  // a folder
  EXPECT_FALSE(CreateDictionaryFromPath(nullptr));
  EXPECT_FALSE(CreateDictionaryFromPath(""));
}

// --- The system version: read once, kept, also when missing. --------------

TEST(SystemVersion, ReadFromTheRootAndKeptForTheProcess) {
  TempDir dir;
  std::string path =
      dir.write("System/Library/CoreServices/SystemVersion.plist", VersionPlist("10.4.11"));
  setenv("VT_TEST_ROOT", dir.path().c_str(), 1);
  ResetSystemVersionCache();
  ASSERT_NE(GetSystemVersionStr(), nullptr);
  EXPECT_STREQ(GetSystemVersionStr(), "10.4.11");
  EXPECT_TRUE(SystemOlderThan105());
  // The version cannot change during a job: the file is not read again.
  dir.write("System/Library/CoreServices/SystemVersion.plist", VersionPlist("10.9"));
  EXPECT_STREQ(GetSystemVersionStr(), "10.4.11");
  EXPECT_TRUE(SystemOlderThan105());
  ResetSystemVersionCache();
  EXPECT_STREQ(GetSystemVersionStr(), "10.9");
  EXPECT_FALSE(SystemOlderThan105());
  unsetenv("VT_TEST_ROOT");
  ResetSystemVersionCache();
}

TEST(SystemVersion, MissingFileOrKeyIsNoneAndRemembered) {
  TempDir dir;
  setenv("VT_TEST_ROOT", dir.path().c_str(), 1);
  ResetSystemVersionCache();
  EXPECT_EQ(GetSystemVersionStr(), nullptr);
  // Missing counts as 10.5.0 or later.
  EXPECT_EQ(CompareVersionStr(GetSystemVersionStr(), "10.5.0"), 0);
  EXPECT_FALSE(SystemOlderThan105());
  // A file that appears later is not looked for again in this process.
  dir.write("System/Library/CoreServices/SystemVersion.plist", VersionPlist("10.4"));
  EXPECT_EQ(GetSystemVersionStr(), nullptr);

  dir.write("System/Library/CoreServices/SystemVersion.plist",
            "<plist version=\"1.0\"><dict><key>ProductName</key><string>x</string></dict></plist>");
  ResetSystemVersionCache();
  EXPECT_EQ(GetSystemVersionStr(), nullptr);
  unsetenv("VT_TEST_ROOT");
  ResetSystemVersionCache();
}

// --- Version comparison. ----------------------------------------------------

TEST(CompareVersion, ThreeComponentsNumerically) {
  EXPECT_EQ(CompareVersionStr("10.10.5", "10.5.0"), 1);
  EXPECT_EQ(CompareVersionStr("10.5.0", "10.10.5"), -1);
  EXPECT_EQ(CompareVersionStr("10.6", "10.6.0"), 0);
  EXPECT_EQ(CompareVersionStr("10.6.8.1", "10.6.8"), 0);
  EXPECT_EQ(CompareVersionStr("10.4.11", "10.5.0"), -1);
  EXPECT_EQ(CompareVersionStr("10.05", "10.5"), 0);
  EXPECT_EQ(CompareVersionStr("10.5.0", "10.5.0"), 0);
  EXPECT_EQ(CompareVersionStr("11", "10.15.7"), 1);
  EXPECT_EQ(CompareVersionStr("10", "10.0.1"), -1);
}

TEST(CompareVersion, NoneComparesEqual) {
  EXPECT_EQ(CompareVersionStr(nullptr, "10.5.0"), 0);
  EXPECT_EQ(CompareVersionStr("10.4", nullptr), 0);
  EXPECT_EQ(CompareVersionStr(nullptr, nullptr), 0);
}

// --- Decimal option values. -------------------------------------------------

TEST(Str2Num, DigitsUpToTheFirstOtherCharacter) {
  EXPECT_EQ(str2num(""), 0);
  EXPECT_EQ(str2num(nullptr), 0);
  EXPECT_EQ(str2num("007"), 7);
  EXPECT_EQ(str2num("12abc"), 12);
  EXPECT_EQ(str2num("595.28"), 595);
  EXPECT_EQ(str2num("abc"), 0);
}

TEST(Str2Num, SignOnlyAtTheStartAndNoBlanks) {
  EXPECT_EQ(str2num("-5"), -5);
  EXPECT_EQ(str2num("-0"), 0);
  EXPECT_EQ(str2num("--5"), 0);
  EXPECT_EQ(str2num("5-3"), 5);
  EXPECT_EQ(str2num(" 7"), 0);
  EXPECT_EQ(str2num("+7"), 0);
  EXPECT_EQ(str2num("-"), 0);
}

TEST(Str2Num, LongNumbersWrapIn32Bits) {
  EXPECT_EQ(str2num("2147483647"), 2147483647);
  EXPECT_EQ(str2num("2147483648"), INT32_MIN);
  EXPECT_EQ(str2num("-2147483648"), INT32_MIN);
  // 999999999 * 10 + 9 wraps to 1410065407, which is still positive, so it
  // is multiplied once more: 1215752191.
  EXPECT_EQ(str2num("99999999999"), 1215752191);
  // A thousand digits neither crash nor read past the text; the value is
  // the same wrap carried on (worked out with a 32-bit model of the rule
  // above in Python, not by this code).
  std::string many(1000, '9');
  EXPECT_EQ(str2num(many.c_str()), -727371077);
}

// --- Hexadecimal job-ticket values. ----------------------------------------

TEST(HexDecode, PairsBecomeBytesFollowedByAZero) {
  unsigned char out[8];
  std::memset(out, 0xAA, sizeof out);
  EXPECT_EQ(VTCStringDecode("4142", out, 4), 2);
  EXPECT_EQ(out[0], 0x41);
  EXPECT_EQ(out[1], 0x42);
  EXPECT_EQ(out[2], 0x00);
  EXPECT_EQ(out[3], 0xAA);  // nothing beyond length / 2 + 1 bytes

  std::memset(out, 0xAA, sizeof out);
  EXPECT_EQ(VTCStringDecode("00FF7F", out, 6), 3);
  EXPECT_EQ(out[0], 0x00);
  EXPECT_EQ(out[1], 0xFF);
  EXPECT_EQ(out[2], 0x7F);
  EXPECT_EQ(out[3], 0x00);
}

TEST(HexDecode, OddEmptyAndMissingInputs) {
  unsigned char out[4];
  std::memset(out, 0xAA, sizeof out);
  EXPECT_EQ(VTCStringDecode("414", out, 3), 0);
  EXPECT_EQ(out[0], 0xAA);
  EXPECT_EQ(VTCStringDecode("", out, 0), 0);
  EXPECT_EQ(out[0], 0x00);
  EXPECT_EQ(out[1], 0xAA);
  out[0] = 0xAA;
  EXPECT_EQ(VTCStringDecode("41", out, -2), 0);
  EXPECT_EQ(out[0], 0x00);
  EXPECT_EQ(VTCStringDecode(nullptr, out, 2), 0);
  EXPECT_EQ(VTCStringDecode("41", nullptr, 2), 0);
}

TEST(HexDecode, DecodesOnlyTheGivenLength) {
  unsigned char out[3];
  // The text goes on, but only two characters are asked for.
  EXPECT_EQ(VTCStringDecode("7E41424344", out, 2), 1);
  EXPECT_EQ(out[0], 0x7E);
  EXPECT_EQ(out[1], 0x00);
}
