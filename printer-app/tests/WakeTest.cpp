#include "Wake.h"

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

// Nothing is sent for settings that do not make sense (the packet itself is
// checked byte for byte by printer_app_ipp.sh, on a loopback listener).
TEST(WakePacket, RefusesSettingsThatMakeNoSense) {
  for (auto bad : {vtpapp::WakeSettings{"00:1b:2c:3d:4e", "127.0.0.1", 9},
                   vtpapp::WakeSettings{"00:1b:2c:3d:4e:5f", "127.0.0.300", 9},
                   vtpapp::WakeSettings{"00:1b:2c:3d:4e:5f", "127.0.0.1", 0},
                   vtpapp::WakeSettings{"00:1b:2c:3d:4e:5f", "127.0.0.1", 70000}})
    EXPECT_NE(vtpapp::SendWake(bad), "") << bad.mac << " " << bad.address << " " << bad.port;
}

}  // namespace
