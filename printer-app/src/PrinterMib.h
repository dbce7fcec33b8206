// The printer's state and supplies from its Printer MIB (RFC 3805) and Host
// Resources MIB (RFC 2790), read over SNMP when the device is a network one.
#pragma once

#include <pappl/pappl.h>

#include <string>
#include <vector>

namespace vtpapp {

// One row of prtMarkerSuppliesTable.
struct MibSupply {
  std::string description;  // prtMarkerSuppliesDescription
  int supplyClass = 0;      // prtMarkerSuppliesClass: 3 consumed, 4 filled (waste)
  int type = 0;             // prtMarkerSuppliesType
  int maxCapacity = -2;     // prtMarkerSuppliesMaxCapacity (-1 other, -2 unknown)
  int level = -2;           // prtMarkerSuppliesLevel (-1 other, -2 unknown, -3 some left)
};

struct MibStatus {
  int deviceStatus = 0;    // hrDeviceStatus: 2 running, 3 warning, 4 testing, 5 down
  std::string errorState;  // hrPrinterDetectedErrorState, bit 0 the high bit of byte 0
  std::vector<MibSupply> supplies;
};

// What the printer application shows for it.
struct PrinterState {
  std::vector<pappl_supply_t> supplies;
  pappl_preason_t reasons = PAPPL_PREASON_NONE;
};

// The reasons the MIB decides; the others are left as they are.
constexpr pappl_preason_t kMibReasons = static_cast<pappl_preason_t>(
    PAPPL_PREASON_OTHER | PAPPL_PREASON_COVER_OPEN | PAPPL_PREASON_INPUT_TRAY_MISSING |
    PAPPL_PREASON_MARKER_SUPPLY_EMPTY | PAPPL_PREASON_MARKER_SUPPLY_LOW |
    PAPPL_PREASON_MARKER_WASTE_FULL | PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_MEDIA_JAM |
    PAPPL_PREASON_MEDIA_LOW | PAPPL_PREASON_OFFLINE | PAPPL_PREASON_TONER_EMPTY |
    PAPPL_PREASON_TONER_LOW);

PrinterState MapPrinterMib(const MibStatus &mib);

// Reads the MIB of the agent (net-snmp peer name, "udp:host:161") with
// SNMPv1 and the community; false with `error` set when the agent does not
// answer.
bool QueryPrinterMib(const std::string &agent, const std::string &community, int timeoutMs,
                     MibStatus &out, std::string &error);

// The SNMP agent of a device URI: "udp:HOST:PORT" for socket://HOST[:N],
// empty for any other. PORT is 161 unless `port` says otherwise.
std::string SnmpAgentFor(const char *deviceUri, int port = 161);

}  // namespace vtpapp
