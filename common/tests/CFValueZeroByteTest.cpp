// Strings holding a zero byte: legal in a property list, and must neither
// abort the program nor lose the bytes after the zero.
#include <gtest/gtest.h>

#include <string>

#include "CFValue.h"

TEST(CFValueZeroByte, StringWithZeroByteIsReadWhole) {
  const std::string xml = std::string(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<plist version=\"1.0\"><dict><key>ProductVersion</key><string>10.4") +
      std::string(1, '\0') + "x</string></dict></plist>\n";
  CFOwned root = CFPropertyListCreateWithData(xml.data(), xml.size());
  ASSERT_TRUE(root);
  CFTypeRef value = CFDictionaryGetValue(root.get(), "ProductVersion");
  std::string text;
  if (value) {  // libplist keeps the raw byte: the text comes back whole
    ASSERT_TRUE(CFStringGetUTF8(value, text));
    EXPECT_EQ(text, std::string("10.4\0x", 6));
  }
}
