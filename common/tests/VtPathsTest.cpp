// Where the programs look for the system's files: the build's configured
// paths as shipped, and, in the test build, the default layout under the
// test's own root whatever the configured layout is.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "VtPaths.h"

TEST(VtPaths, TestRootKeepsTheDefaultLayoutForEveryPath) {
  setenv("VT_TEST_ROOT", "/tmp/vt-root", 1);
  EXPECT_EQ(VtCustomizeFile("Q610"),
            "/tmp/vt-root/Library/Printers/VANTORA/Q610/Plist/FilterCustomize.plist");
  EXPECT_EQ(VtCustomizeFile("Q710"),
            "/tmp/vt-root/Library/Printers/VANTORA/Q710/Plist/FilterCustomize.plist");
  EXPECT_EQ(VtHelperProgram(),
            "/tmp/vt-root/Library/Application Support/VANTORA/Q610/Helpers/Q610Helper.app/"
            "Contents/MacOS/Q610Helper");
  EXPECT_EQ(VtSystemVersionFile(), "/tmp/vt-root/System/Library/CoreServices/SystemVersion.plist");
  unsetenv("VT_TEST_ROOT");
}

TEST(VtPaths, WithoutTestRootTheConfiguredPathsUnderVtRoot) {
  unsetenv("VT_TEST_ROOT");
  const std::string root = VT_ROOT_STR;
  std::string customize = VtCustomizeFile("Q610");
  EXPECT_EQ(customize.rfind(root + "/", 0), 0u) << customize;
  EXPECT_NE(customize.find("/Q610"), std::string::npos) << customize;
  EXPECT_EQ(customize.find("{model}"), std::string::npos) << customize;
  EXPECT_EQ(VtHelperProgram(), root + VT_HELPER_PATH_STR);
  EXPECT_EQ(VtSystemVersionFile(), root + VT_SYSTEM_VERSION_FILE_STR);
}
