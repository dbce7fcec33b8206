// Wake-on-LAN and the echo probe through the running service, and
// Q610Helper, each inside a network namespace of the test's own: nothing is
// ever sent beyond that namespace's loopback.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <string>

#include "HelperTestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char *kMagic = "sendMagicPacket_XPC:reply:";
constexpr const char *kEcho = "sendEchoAndRecvReply_XPC:reply:";
constexpr uint16_t kWakeOnLanPort = 9;

std::string Expected(const std::string &mac6, const std::string &password6) {
  std::string packet(6, '\xFF');
  for (int i = 0; i < 16; ++i) packet += mac6;
  return packet + password6;
}

std::string MagicRequest(const std::string &broadcast, const std::string &mac, const std::string &password) {
  return broadcast + ":ARGipAddressStr:" + mac + ":ARGmacAddressStr:" + password + ":ARGpasswordStr:";
}

class ServiceInNetns : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!service_.running()) GTEST_SKIP() << "skipped: " << service_.whyNot();
  }
  std::string Call(const char *selector, const std::string &request) {
    const auto reply = service_.Call(selector, request);
    return reply ? *reply : "(no reply)";
  }
  std::optional<std::string> Packet() { return ReceiveDatagram(service_.udpFd(), 2000); }

  TempDir dir_;
  ServiceProcess service_{dir_, /*inOwnNetns=*/true, kWakeOnLanPort};
};

}  // namespace

TEST_F(ServiceInNetns, MagicPacketToTheLimitedBroadcast) {
  // No broadcast address: 255.255.255.255, routed to loopback in the namespace.
  EXPECT_EQ(Call(kMagic, MagicRequest("NULL", "0a:0A:1FF:00:10:ff", "abcd")), "0");
  const auto packet = Packet();
  ASSERT_TRUE(packet) << "no packet on UDP port 9";
  EXPECT_EQ(packet->size(), 108u);
  EXPECT_EQ(*packet, Expected(std::string("\x0a\x0a\xff\x00\x10\xff", 6), std::string("abcd\0\0", 6)));
}

TEST_F(ServiceInNetns, MagicPacketNullAndMalformedMacsGiveZeros) {
  const std::string zeros(6, '\0');
  for (const std::string &request :
       {MagicRequest("127.0.0.1", "NULL", "NULL"), MagicRequest("127.0.0.1", "01:02:03:04:05", "NULL"),
        MagicRequest("127.0.0.1", "01:02:03:04:05:06:07", "sevench"),
        std::string("127.0.0.1:ARGipAddressStr:"), std::string("")}) {
    EXPECT_EQ(Call(kMagic, request), "0") << request;
    const auto packet = Packet();
    ASSERT_TRUE(packet) << request;
    EXPECT_EQ(*packet, Expected(zeros, zeros)) << request;
  }
}

TEST_F(ServiceInNetns, MagicPacketRefusals) {
  // A broadcast text that is no address is not turned into 255.255.255.255.
  EXPECT_EQ(Call(kMagic, MagicRequest("printer", "01:02:03:04:05:06", "NULL")), "-1");
  // A MAC field with nothing to be measured from.
  EXPECT_EQ(Call(kMagic, "01:02:03:04:05:06:ARGmacAddressStr:"), "FALSE");
  EXPECT_FALSE(ReceiveDatagram(service_.udpFd(), 300)) << "a refused request sent a packet";
}

TEST_F(ServiceInNetns, EchoProbeAnsweredOnLoopback) {
  const auto start = Clock::now();
  EXPECT_EQ(Call(kEcho, "127.0.0.1:sIpAddr:END3000"), "TRUE");
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2000));
}

TEST_F(ServiceInNetns, EchoProbeFailures) {
  auto start = Clock::now();
  EXPECT_EQ(Call(kEcho, ":sIpAddr:END5000"), "FALSE");
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500)) << "an empty address must not wait";
  // An address that cannot be sent to still takes the whole timeout.
  start = Clock::now();
  EXPECT_EQ(Call(kEcho, "not-an-address:sIpAddr:END300"), "FALSE");
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(290));
  EXPECT_EQ(Call(kEcho, "127.0.0.1"), "FALSE");  // no marker
}

TEST(Q610Helper, SendsTheMagicPacketForTheFilter) {
  NetnsChild child = StartInOwnNetns(kWakeOnLanPort, [] {
    execl(VT_Q610HELPER_EXE, VT_Q610HELPER_EXE, "SendMagicPacket_XPC", "NULL", "00:1b:2c:3d:4e:5f", "NULL", "OFF",
          static_cast<char *>(nullptr));
    return 127;
  });
  if (!child.whyNot.empty()) GTEST_SKIP() << "skipped: " << child.whyNot;
  const auto packet = ReceiveDatagram(child.udpFd, 5000);
  close(child.udpFd);
  EXPECT_EQ(WaitForExit(child.pid), 0);
  ASSERT_TRUE(packet);
  EXPECT_EQ(*packet, Expected(std::string("\x00\x1b\x2c\x3d\x4e\x5f", 6), std::string(6, '\0')));
}

TEST(Q610Helper, AnythingElseIsAUsageError) {
  const std::string exe = VT_Q610HELPER_EXE;
  for (const std::string &args : {std::string(""), std::string(" SendMagicPacket_XPC"),
                                  std::string(" Other NULL 00:11:22:33:44:55 NULL OFF"),
                                  std::string(" SendMagicPacket_XPC NULL 00:11:22:33:44:55 NULL OFF extra")}) {
    const int status = system((exe + args + " 2>/dev/null").c_str());
    EXPECT_EQ(WEXITSTATUS(status), 2) << args;
  }
}
