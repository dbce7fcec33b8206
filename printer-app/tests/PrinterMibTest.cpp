#include "PrinterMib.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using vtpapp::MapPrinterMib;
using vtpapp::MibStatus;
using vtpapp::MibSupply;

TEST(PrinterMib, SupplyLevelsAreSharesOfTheirCapacity) {
  MibStatus mib;
  mib.supplies = {
      {"Cyan Toner", 3, 3, 100, 40},        // 40 %
      {"Black Toner Cartridge", 3, 21, 200, 50},  // 25 %
      {"Waste Toner Box", 4, 4, 100, -3},   // some left: unknown
      {"Magenta Toner", 3, 3, -2, 70},      // capacity unknown
      {"Yellow Toner", 3, 3, 100, 130},     // above capacity: full
      {"Drum", 3, 9, 0, 0},                 // no capacity
  };
  auto st = MapPrinterMib(mib);
  ASSERT_EQ(st.supplies.size(), 6u);
  const struct {
    int level;
    pappl_supply_color_t color;
    pappl_supply_type_t type;
    bool consumed;
  } want[] = {
      {40, PAPPL_SUPPLY_COLOR_CYAN, PAPPL_SUPPLY_TYPE_TONER, true},
      {25, PAPPL_SUPPLY_COLOR_BLACK, PAPPL_SUPPLY_TYPE_TONER_CARTRIDGE, true},
      {-1, PAPPL_SUPPLY_COLOR_NO_COLOR, PAPPL_SUPPLY_TYPE_WASTE_TONER, false},
      {-1, PAPPL_SUPPLY_COLOR_MAGENTA, PAPPL_SUPPLY_TYPE_TONER, true},
      {100, PAPPL_SUPPLY_COLOR_YELLOW, PAPPL_SUPPLY_TYPE_TONER, true},
      {-1, PAPPL_SUPPLY_COLOR_NO_COLOR, PAPPL_SUPPLY_TYPE_OPC, true},
  };
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(st.supplies[i].level, want[i].level) << i;
    EXPECT_EQ(st.supplies[i].color, want[i].color) << i;
    EXPECT_EQ(st.supplies[i].type, want[i].type) << i;
    EXPECT_EQ(st.supplies[i].is_consumed, want[i].consumed) << i;
    EXPECT_EQ(std::string(st.supplies[i].description), mib.supplies[i].description) << i;
  }
  EXPECT_EQ(st.reasons, PAPPL_PREASON_NONE);
}

// hrPrinterDetectedErrorState: bit 0 is the high bit of the first byte.
TEST(PrinterMib, ErrorStateBitsAndDeviceStatusGiveReasons) {
  const struct {
    std::string bits;
    int deviceStatus;
    int reasons;
  } cases[] = {
      {"", 2, PAPPL_PREASON_NONE},
      {"\x80", 2, PAPPL_PREASON_MEDIA_LOW},
      {"\x40", 3, PAPPL_PREASON_MEDIA_EMPTY},
      {"\x28", 3, PAPPL_PREASON_TONER_LOW | PAPPL_PREASON_COVER_OPEN},
      {"\x14", 3, PAPPL_PREASON_TONER_EMPTY | PAPPL_PREASON_MEDIA_JAM},
      {"\x02", 2, PAPPL_PREASON_OFFLINE},
      {"\x01", 2, PAPPL_PREASON_OTHER},
      {std::string("\x00\x80", 2), 3, PAPPL_PREASON_INPUT_TRAY_MISSING},
      {std::string("\x00\x04", 2), 3, PAPPL_PREASON_MEDIA_EMPTY},
      {"", 5, PAPPL_PREASON_OFFLINE},
  };
  for (const auto &c : cases) {
    MibStatus mib;
    mib.errorState = c.bits;
    mib.deviceStatus = c.deviceStatus;
    EXPECT_EQ(static_cast<int>(MapPrinterMib(mib).reasons), c.reasons)
        << static_cast<int>(c.bits.empty() ? 0 : static_cast<unsigned char>(c.bits[0]));
  }
  MibStatus full;
  full.supplies = {{"Waste Toner Box", 4, 4, 100, 100}};
  EXPECT_EQ(MapPrinterMib(full).reasons, PAPPL_PREASON_MARKER_WASTE_FULL);
}

TEST(PrinterMib, AgentOfTheDeviceUri) {
  EXPECT_EQ(vtpapp::SnmpAgentFor("socket://q610.example.com:9100"), "udp:q610.example.com:161");
  EXPECT_EQ(vtpapp::SnmpAgentFor("socket://10.0.0.5", 16161), "udp:10.0.0.5:16161");
  EXPECT_EQ(vtpapp::SnmpAgentFor("socket://[fe80::1]:9100"), "udp6:[fe80::1]:161");
  EXPECT_EQ(vtpapp::SnmpAgentFor("file:///tmp/out"), "");
  EXPECT_EQ(vtpapp::SnmpAgentFor("socket://"), "");
  EXPECT_EQ(vtpapp::SnmpAgentFor(nullptr), "");
}

}  // namespace
