// The property-list value layer: parsing, typing, ownership and traversal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CFValue.h"

TEST(CFValue, BuiltValuesRoundTripThroughXml) {
  CFOwned dict = CFDictionaryCreateMutable();
  ASSERT_TRUE(CFDictionarySetValue(dict.get(), "name", CFStringCreateWithUTF8("Q610 \xC3\xA9")));
  ASSERT_TRUE(CFDictionarySetValue(dict.get(), "count", CFNumberCreateInt64(7)));
  ASSERT_TRUE(CFDictionarySetValue(dict.get(), "on", CFBooleanCreate(true)));
  CFOwned array = CFArrayCreateMutable();
  ASSERT_TRUE(CFArrayAppendValue(array.get(), CFStringCreateWithUTF8("a")));
  ASSERT_TRUE(CFDictionarySetValue(dict.get(), "list", std::move(array)));

  std::string xml;
  ASSERT_TRUE(CFPropertyListCreateXMLData(dict.get(), xml));
  CFOwned back = CFPropertyListCreateWithData(xml.data(), xml.size());
  ASSERT_TRUE(back);
  std::string name;
  ASSERT_TRUE(CFStringGetUTF8(CFDictionaryGetValue(back.get(), "name"), name));
  EXPECT_EQ(name, "Q610 \xC3\xA9");
  int64_t count = 0;
  ASSERT_TRUE(CFNumberGetInt64(CFDictionaryGetValue(back.get(), "count"), count));
  EXPECT_EQ(count, 7);
  bool on = false;
  ASSERT_TRUE(CFBooleanGetValue(CFDictionaryGetValue(back.get(), "on"), on));
  EXPECT_TRUE(on);
  CFTypeRef list = CFDictionaryGetValue(back.get(), "list");
  EXPECT_EQ(CFArrayGetCount(list), 1u);
  EXPECT_EQ(CFArrayGetValueAtIndex(list, 1), nullptr);
}

TEST(CFValue, AccessorsRefuseOtherTypes) {
  CFOwned s = CFStringCreateWithUTF8("12");
  int64_t n = 99;
  EXPECT_FALSE(CFNumberGetInt64(s.get(), n));
  EXPECT_EQ(n, 99);
  bool b = true;
  EXPECT_FALSE(CFBooleanGetValue(s.get(), b));
  EXPECT_TRUE(b);
  EXPECT_EQ(CFDictionaryGetCount(s.get()), 0u);
  EXPECT_EQ(CFArrayGetCount(s.get()), 0u);
  EXPECT_EQ(CFDictionaryGetValue(s.get(), "x"), nullptr);
  std::string out = "kept";
  CFOwned num = CFNumberCreateInt64(3);
  EXPECT_FALSE(CFStringGetUTF8(num.get(), out));
  EXPECT_EQ(out, "kept");
  EXPECT_FALSE(CFDictionarySetValue(s.get(), "k", CFBooleanCreate(false)));
  EXPECT_EQ(CFGetTypeCode(nullptr), kCFTypeOther);
}

TEST(CFValue, RealsTruncateAndHugeRealsAreRefused) {
  static const char xml[] =
      "<plist version=\"1.0\"><dict><key>r</key><real>-2.75</real>"
      "<key>big</key><real>1e300</real></dict></plist>";
  CFOwned dict = CFPropertyListCreateWithData(xml, sizeof xml - 1);
  int64_t n = 0;
  ASSERT_TRUE(CFNumberGetInt64(CFDictionaryGetValue(dict.get(), "r"), n));
  EXPECT_EQ(n, -2);
  double d = 0;
  ASSERT_TRUE(CFNumberGetDouble(CFDictionaryGetValue(dict.get(), "r"), d));
  EXPECT_DOUBLE_EQ(d, -2.75);
  EXPECT_FALSE(CFNumberGetInt64(CFDictionaryGetValue(dict.get(), "big"), n));
}

TEST(CFValue, DictionaryEntriesVisitedUntilTheCallbackStops) {
  static const char xml[] =
      "<plist version=\"1.0\"><dict><key>one</key><integer>1</integer>"
      "<key>two</key><integer>2</integer><key>three</key><integer>3</integer></dict></plist>";
  CFOwned dict = CFPropertyListCreateWithData(xml, sizeof xml - 1);
  std::vector<std::string> all;
  CFDictionaryForEach(dict.get(), [&](const std::string &k, CFTypeRef) {
    all.push_back(k);
    return true;
  });
  EXPECT_EQ(all.size(), 3u);
  std::vector<std::string> first;
  CFDictionaryForEach(dict.get(), [&](const std::string &k, CFTypeRef) {
    first.push_back(k);
    return false;
  });
  EXPECT_EQ(first.size(), 1u);
}

TEST(CFValue, GarbageDoesNotParse) {
  EXPECT_FALSE(CFPropertyListCreateWithData("", 0));
  EXPECT_FALSE(CFPropertyListCreateWithData(nullptr, 10));
  static const char junk[] = "\x00\x01bplist00garbage";
  EXPECT_FALSE(CFPropertyListCreateWithData(junk, sizeof junk - 1));
}

TEST(CFValue, CopyIsIndependentOfTheOriginal) {
  CFOwned dict = CFDictionaryCreateMutable();
  CFDictionarySetValue(dict.get(), "k", CFStringCreateWithUTF8("v"));
  CFOwned copy = CFCopy(dict.get());
  dict.reset();
  std::string v;
  ASSERT_TRUE(CFStringGetUTF8(CFDictionaryGetValue(copy.get(), "k"), v));
  EXPECT_EQ(v, "v");
  EXPECT_FALSE(CFCopy(nullptr));
}
