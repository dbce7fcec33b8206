// The output sinks and spool file A: names, a fresh file every job that no
// planted link can redirect, and failed writes that end the job.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "FilterRunner.h"
#include "output/SpoolUtil.h"

namespace {
// A spool folder of the test's own; the sinks' globals reset around each test.
class SinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("VT_TEST_SPOOL_DIR", job.spool().c_str(), 1);
    giJobFailed = 0;
  }
  void TearDown() override {
    vCloseSpoolFile();
    vRemoveSpoolFiles();
    unsetenv("VT_TEST_SPOOL_DIR");
    giJobFailed = 0;
  }
  std::string NameA() const {
    return job.spool() + "/pstoMacOrb2SpoolA.tmp." + std::to_string(getpid());
  }
  FilterJob job;  // only for its private folder
};
}  // namespace

TEST_F(SinkTest, NamesAreTheFixedPrefixesAndTheProcessId) {
  EXPECT_EQ(cpSpoolFileAwithPID, nullptr);
  vCreateSpoolFileName();
  ASSERT_NE(cpSpoolFileAwithPID, nullptr);
  ASSERT_NE(cpSpoolFileBwithPID, nullptr);
  EXPECT_EQ(std::string(cpSpoolFileAwithPID), NameA());
  EXPECT_EQ(std::string(cpSpoolFileBwithPID),
            job.spool() + "/pstoMacOrb2SpoolB.tmp." + std::to_string(getpid()));
  vRemoveSpoolFiles();
  EXPECT_EQ(cpSpoolFileAwithPID, nullptr);
  EXPECT_EQ(cpSpoolFileBwithPID, nullptr);
}

TEST_F(SinkTest, StaleFileIsReplacedByAnEmptyOne) {
  std::ofstream(NameA()) << "stale data from an earlier job\n";
  mode_t old = umask(0);
  vCreateSpoolFile();
  umask(old);
  ASSERT_GE(giSpoolHandle, 0);
  vWrappedFwrite("new\n", 1, 4, stdout, 1);
  vCloseSpoolFile();
  EXPECT_EQ(ReadFile(NameA()), "new\n");
  struct stat st;
  ASSERT_EQ(stat(NameA().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0664u);
  EXPECT_EQ(giJobFailed, 0);
}

TEST_F(SinkTest, PlantedLinkDoesNotRedirectTheJob) {
  std::string victim = job.dir() + "/victim.txt";
  std::ofstream(victim) << "keep me\n";
  ASSERT_EQ(symlink(victim.c_str(), NameA().c_str()), 0);
  vCreateSpoolFile();
  ASSERT_GE(giSpoolHandle, 0);
  vWrappedFprintf(stdout, "spooled\n", 1);
  vCloseSpoolFile();
  EXPECT_EQ(ReadFile(victim), "keep me\n");
  struct stat st;
  ASSERT_EQ(lstat(NameA().c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(ReadFile(NameA()), "spooled\n");
}

TEST_F(SinkTest, SpoolFileThatCannotBeCreatedFailsTheJob) {
  // A folder at the name cannot be removed or opened as the spool file.
  ASSERT_EQ(mkdir(NameA().c_str(), 0755), 0);
  testing::internal::CaptureStderr();
  vCreateSpoolFile();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(giSpoolHandle, -1);
  EXPECT_EQ(giJobFailed, 1);
  EXPECT_NE(err.find("ERROR: "), std::string::npos);
  rmdir(NameA().c_str());
}

TEST_F(SinkTest, FailedWritesFailTheJobOnceAndStopWriting) {
  int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  giSpoolHandle = full;
  testing::internal::CaptureStderr();
  vWrappedFwrite("abc", 1, 3, stdout, 1);
  vWrappedFprintf(stdout, "more", 1);
  EXPECT_EQ(bFlushSpoolFile(), 0);
  vWrappedFprintf(stdout, "after the failure", 1);
  EXPECT_EQ(bFlushSpoolFile(), 1);  // nothing more was taken
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(giJobFailed, 1);
  // One ERROR line, not one per write.
  EXPECT_EQ(err.find("ERROR: "), err.rfind("ERROR: "));
  EXPECT_NE(err.find("ERROR: "), std::string::npos);
  close(full);
  giSpoolHandle = -1;
}

TEST_F(SinkTest, TextIsWrittenAsItIsWithoutFormatting) {
  vCreateSpoolFile();
  ASSERT_GE(giSpoolHandle, 0);
  vWrappedFprintf(stdout, "100%d %s %%\n", 1);
  vWrappedFwrite(std::string("a\0b", 3).data(), 1, 3, stdout, 1);
  vWrappedFwrite("xy", 2, 1, stdout, 1);
  vCloseSpoolFile();
  EXPECT_EQ(ReadFile(NameA()), std::string("100%d %s %%\na\0bxy", 17));
}

TEST_F(SinkTest, OneStreamJobLeavesNoSpoolFileBehind) {
  job.usePpd();
  FilterResult r = job.print("%!PS\n(x) pop\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(job.spoolFiles().empty());
}
