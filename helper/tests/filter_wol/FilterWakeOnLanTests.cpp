// The filter wakes the printer before a job: for a job with "WoLEnable" true
// and a "DestMacAddr" it starts Q610Helper at its fixed path, and the magic
// packet arrives. The filter runs inside a network namespace of the test's
// own, where 255.255.255.255 is routed to loopback: nothing leaves it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "FilterRunner.h"
#include "HelperTestSupport.h"

namespace {

constexpr uint16_t kWakeOnLanPort = 9;
constexpr const char *kHelperPath =
    "/Library/Application Support/VANTORA/Q610/Helpers/Q610Helper.app/Contents/MacOS/Q610Helper";
const std::string kDocument = "%!PS-Adobe-3.0\n%%Pages: 1\n%%EndComments\n%%Page: 1 1\nshowpage\n%%EOF\n";

// Puts the built Q610Helper where the filter looks for it under the job's root.
void InstallHelper(const FilterJob &job) {
  const std::filesystem::path target = job.root() + kHelperPath;
  std::filesystem::create_directories(target.parent_path());
  std::filesystem::create_symlink(VT_Q610HELPER_EXE, target);
}

struct WakeRun {
  std::string whyNot;
  int filterStatus = -1;
  std::optional<std::string> packet;
};

WakeRun PrintInOwnNetns(const FilterJob &job, const std::string &options) {
  WakeRun run;
  NetnsChild child = StartInOwnNetns(kWakeOnLanPort, [&] { return job.print(kDocument, options).status; });
  if (!child.whyNot.empty()) {
    run.whyNot = child.whyNot;
    return run;
  }
  // The filter waits for the helper before it prints, and loopback delivers
  // at once: when the filter has ended, any packet is already waiting.
  run.filterStatus = WaitForExit(child.pid);
  run.packet = ReceiveDatagram(child.udpFd, 100);
  close(child.udpFd);
  return run;
}

}  // namespace

TEST(FilterWakeOnLan, HelperSendsTheMagicPacketBeforeTheJob) {
  FilterJob job;
  job.usePpd();
  InstallHelper(job);
  const WakeRun run = PrintInOwnNetns(job, "WoLEnable=true DestMacAddr=00:1B:2c:3d:4e:5f");
  if (!run.whyNot.empty()) GTEST_SKIP() << "skipped: " << run.whyNot;
  EXPECT_EQ(run.filterStatus, 0);
  ASSERT_TRUE(run.packet) << "no magic packet arrived on UDP port 9";
  std::string expected(6, '\xFF');
  for (int i = 0; i < 16; ++i) expected += std::string("\x00\x1b\x2c\x3d\x4e\x5f", 6);
  expected += std::string(6, '\0');
  EXPECT_EQ(*run.packet, expected);
}

TEST(FilterWakeOnLan, NoPacketWithoutBothOptions) {
  FilterJob job;
  job.usePpd();
  InstallHelper(job);
  for (const std::string &options :
       {std::string("WoLEnable=true"), std::string("WoLEnable=false DestMacAddr=00:1b:2c:3d:4e:5f"),
        std::string("DestMacAddr=00:1b:2c:3d:4e:5f")}) {
    const WakeRun run = PrintInOwnNetns(job, options);
    if (!run.whyNot.empty()) GTEST_SKIP() << "skipped: " << run.whyNot;
    EXPECT_EQ(run.filterStatus, 0) << options;
    EXPECT_FALSE(run.packet) << options;
  }
}

TEST(FilterWakeOnLan, MissingHelperDoesNotStopTheJob) {
  FilterJob job;
  job.usePpd();
  const WakeRun run = PrintInOwnNetns(job, "WoLEnable=true DestMacAddr=00:1b:2c:3d:4e:5f");
  if (!run.whyNot.empty()) GTEST_SKIP() << "skipped: " << run.whyNot;
  EXPECT_EQ(run.filterStatus, 0);
  EXPECT_FALSE(run.packet);
}
