#include "Wake.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

TEST(WakeMac, AcceptsTheUsualFormsOnly) {
  const struct {
    const char *text;
    bool ok;
    uint8_t first, last;
  } cases[] = {
      {"00:1b:2C:3d:4e:5F", true, 0x00, 0x5f},
      {"0-1b-2c-3d-4e-f", true, 0x00, 0x0f},
      {"", false, 0, 0},
      {"00:1b:2c:3d:4e", false, 0, 0},
      {"00:1b:2c:3d:4e:5f:66", false, 0, 0},
      {"001:1b:2c:3d:4e:5f", false, 0, 0},
      {"00:1b:2c:3d:4e:5g", false, 0, 0},
      {"00::2c:3d:4e:5f", false, 0, 0},
      {"00:1b:2c:3d:4e:5f ", false, 0, 0},
  };
  for (const auto &c : cases) {
    uint8_t mac[6] = {};
    EXPECT_EQ(vtpapp::ParseMac(c.text, mac), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(mac[0], c.first) << c.text;
      EXPECT_EQ(mac[5], c.last) << c.text;
    }
  }
}

// The packet reaches a listener on the configured address and port: six
// 0xff bytes, then the MAC sixteen times.
TEST(WakePacket, ReachesTheConfiguredAddressAndPort) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)), 0);
  socklen_t len = sizeof(addr);
  ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len), 0);

  vtpapp::WakeSettings s;
  s.mac = "00:1B:2c:3d:4e:5f";
  s.address = "127.0.0.1";
  s.port = ntohs(addr.sin_port);
  EXPECT_EQ(vtpapp::SendWake(s), "");

  pollfd p{fd, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 5000), 1);
  uint8_t buf[200];
  ssize_t n = recv(fd, buf, sizeof(buf), 0);
  close(fd);
  ASSERT_EQ(n, 108);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(buf[i], 0xff);
  const uint8_t mac[6] = {0x00, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f};
  for (int copy = 0; copy < 16; ++copy)
    for (int i = 0; i < 6; ++i) EXPECT_EQ(buf[6 + copy * 6 + i], mac[i]) << copy;

  // Nothing is sent for settings that do not make sense.
  for (auto bad : {vtpapp::WakeSettings{"00:1b:2c:3d:4e", "127.0.0.1", 9},
                   vtpapp::WakeSettings{"00:1b:2c:3d:4e:5f", "127.0.0.300", 9},
                   vtpapp::WakeSettings{"00:1b:2c:3d:4e:5f", "127.0.0.1", 0},
                   vtpapp::WakeSettings{"00:1b:2c:3d:4e:5f", "127.0.0.1", 70000}})
    EXPECT_NE(vtpapp::SendWake(bad), "") << bad.mac << " " << bad.address << " " << bad.port;
}

}  // namespace
