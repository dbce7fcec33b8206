// Wake-on-LAN before a job: the printer's wake settings and the magic packet.
#pragma once

#include <pappl/pappl.h>

#include <cstdint>
#include <string>

namespace vtpapp {

// The printer settings (vendor attributes whose -default PAPPL lets the web
// page and Set-Printer-Attributes change).
extern const char kWakeMacAttr[];      // "vantora-wake-mac": text, aa:bb:cc:dd:ee:ff
extern const char kWakeAddressAttr[];  // "vantora-wake-address": IPv4 broadcast address
extern const char kWakePortAttr[];     // "vantora-wake-port": UDP port, 9 unless set

struct WakeSettings {
  std::string mac;      // empty: no wake-up
  std::string address;  // empty: 255.255.255.255
  int port = 9;
};

// Six bytes from "aa:bb:cc:dd:ee:ff" or "aa-bb-cc-dd-ee-ff" (one or two hex
// digits a part); false for any other text.
bool ParseMac(const std::string &text, uint8_t mac[6]);

// The printer's settings as last set.
WakeSettings ReadWakeSettings(pappl_printer_t *printer);

// Sends the magic packet; "" when it was sent, else why not.
std::string SendWake(const WakeSettings &settings);

}  // namespace vtpapp
