// PdeSnmpGet called directly (in this process, so that leak and address
// checks of sanitizer builds see every request): the session defaults taken
// from the service's values and the cancel flag's hold on the wait.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "HelperTestSupport.h"
#include "PdeSnmp.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
const std::string kOid = ".1.3.6.1.4.1.8072.9999.1.0";

struct Words {
  explicit Words(std::vector<std::string> w) : words(std::move(w)) {
    for (auto &s : words) argv.push_back(s.data());
    argv.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(words.size()); }
  std::vector<std::string> words;
  std::vector<char *> argv;
};

class PdeSnmp : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("MIBS", "", 1);
    PdeSnmpInit();
  }
  void SetUp() override {
    if (!snmpd_.running()) GTEST_SKIP() << "skipped: " << snmpd_.whyNot();
    silent_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(silent_, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(getsockname(silent_, reinterpret_cast<sockaddr *>(&address), &length), 0);
    silentAgent_ = "udp:127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    gSnmpTimeout = 500000;
    gSnmpRetries = 1;
  }
  void TearDown() override {
    if (silent_ >= 0) close(silent_);
  }

  TempDir dir_;
  Snmpd snmpd_{dir_, "override " + kOid + " integer 7\n"};
  int silent_ = -1;
  std::string silentAgent_;
};

}  // namespace

TEST_F(PdeSnmp, IntegerValueAndItsType) {
  Words w({"snmpget", "-v2c", "-c", "public", snmpd_.agent(), kOid});
  SnmpResultArea area;
  std::memset(&area, 0, sizeof area);
  uint8_t type = 99;
  EXPECT_EQ(PdeSnmpGet(w.argc(), w.argv.data(), &area, 2, nullptr, 0, &type), 0);
  EXPECT_EQ(type, 2);
  EXPECT_EQ(gtype.load(), 2);
  EXPECT_EQ(area.integer, 7);
}

TEST_F(PdeSnmp, VersionOptionEndsWithoutAValue) {
  Words w({"snmpget", "-V"});
  SnmpResultArea area{};
  uint8_t type = 99;
  EXPECT_EQ(PdeSnmpGet(w.argc(), w.argv.data(), &area, 2, nullptr, 0, &type), 0);
  EXPECT_EQ(type, 0) << "nothing was fetched, so the reply must not claim a value";
}

TEST_F(PdeSnmp, SessionDefaultsComeFromTheServiceValues) {
  // No -t or -r: 400 ms x (2 + 1) from the service's values.
  gSnmpTimeout = 400000;
  gSnmpRetries = 2;
  Words w({"snmpget", "-v2c", "-c", "public", silentAgent_, kOid});
  SnmpResultArea area{};
  auto start = Clock::now();
  EXPECT_EQ(PdeSnmpGet(w.argc(), w.argv.data(), &area, 2, nullptr, 0), kSnmpTimeoutError);
  auto took = Clock::now() - start;
  EXPECT_GE(took, milliseconds(1180));
  EXPECT_LT(took, milliseconds(4000));
  // The command line's own -t and -r win over them.
  Words own({"snmpget", "-v2c", "-c", "public", "-t", "0.05", "-r", "0", silentAgent_, kOid});
  start = Clock::now();
  EXPECT_EQ(PdeSnmpGet(own.argc(), own.argv.data(), &area, 2, nullptr, 0), kSnmpTimeoutError);
  took = Clock::now() - start;
  EXPECT_GE(took, milliseconds(45));
  EXPECT_LT(took, milliseconds(1000));
}

TEST_F(PdeSnmp, RaisedCancelFlagEndsTheWaitOnlyWhenHandedOver) {
  gSnmpTimeout = 1500000;
  gSnmpRetries = 0;
  Words w({"snmpget", "-v2c", "-c", "public", silentAgent_, kOid});
  SnmpResultArea area{};
  std::atomic<int32_t> flag{1};
  auto start = Clock::now();
  EXPECT_EQ(PdeSnmpGet(w.argc(), w.argv.data(), &area, 2, &flag, 0), kSnmpOtherError);
  EXPECT_LT(Clock::now() - start, milliseconds(1000));
  // A flag of 0 lets the wait run to its timeout.
  flag = 0;
  start = Clock::now();
  EXPECT_EQ(PdeSnmpGet(w.argc(), w.argv.data(), &area, 2, &flag, 0), kSnmpTimeoutError);
  EXPECT_GE(Clock::now() - start, milliseconds(1450));
}

TEST_F(PdeSnmp, AgentRefusingTheConnectionOpensNoSession) {
  Words w({"snmpget", "-v2c", "-c", "public", "tcp:127.0.0.1:1", kOid});
  SnmpResultArea area{};
  EXPECT_EQ(PdeSnmpGet(w.argc(), w.argv.data(), &area, 2, nullptr, 0), kSnmpTimeoutError);
}

TEST_F(PdeSnmp, CommandLinesWithoutIdentifiersAreUsageErrors) {
  SnmpResultArea area{};
  for (const std::vector<std::string> &words :
       {std::vector<std::string>{"snmpget", "-v2c", "-c", "public", snmpd_.agent()},
        std::vector<std::string>{"snmpget", "-v2c", "-c", "public"},
        std::vector<std::string>{"snmpget", "-c", "public", "-j", snmpd_.agent(), kOid},
        std::vector<std::string>{"snmpget"}}) {
    Words w(words);
    EXPECT_EQ(PdeSnmpGet(w.argc(), w.argv.data(), &area, 2, nullptr, 0), kSnmpUsageError) << words.size();
  }
  EXPECT_EQ(PdeSnmpGet(0, nullptr, &area, 2, nullptr, 0), kSnmpUsageError);
}
