// The test runner itself: a job folder of its own, the filter found and run.
#include <gtest/gtest.h>

#include "FilterRunner.h"

TEST(FilterRunner, EachJobHasItsOwnFolders) {
  FilterJob a, b;
  EXPECT_NE(a.dir(), b.dir());
  EXPECT_TRUE(a.spoolFiles().empty());
  a.writeFile("x/y.txt", "data");
  EXPECT_EQ(ReadFile(a.dir() + "/x/y.txt"), "data");
}
