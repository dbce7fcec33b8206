// A string holding a zero byte, which a damaged or hostile file can carry:
// reading it must not abort the program (libplist's own accessor does).
#include <gtest/gtest.h>

#include <string>

#include "CFValue.h"

TEST(CFValueZeroByte, StringWithZeroByteIsReadUpToTheZero) {
  const std::string xml = std::string(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<plist version=\"1.0\"><dict><key>ProductVersion</key><string>10.4") +
      std::string(1, '\0') + "x</string></dict></plist>\n";
  CFOwned root = CFPropertyListCreateWithData(xml.data(), xml.size());
  ASSERT_TRUE(root);
  std::string text;
  ASSERT_TRUE(CFStringGetUTF8(CFDictionaryGetValue(root.get(), "ProductVersion"), text));
  EXPECT_EQ(text, "10.4");
}
