#include "Wake.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "WakeOnLan.h"

namespace vtpapp {

const char kWakeMacAttr[] = "vantora-wake-mac";
const char kWakeAddressAttr[] = "vantora-wake-address";
const char kWakePortAttr[] = "vantora-wake-port";

bool ParseMac(const std::string &text, uint8_t mac[6]) {
  size_t pos = 0;
  for (int i = 0; i < 6; ++i) {
    if (i > 0) {
      if (pos >= text.size() || (text[pos] != ':' && text[pos] != '-')) return false;
      ++pos;
    }
    size_t digits = 0;
    unsigned value = 0;
    while (pos < text.size() && digits < 2 && std::isxdigit(static_cast<unsigned char>(text[pos]))) {
      char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[pos])));
      value = value * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : c - 'a' + 10);
      ++pos;
      ++digits;
    }
    if (digits == 0) return false;
    mac[i] = static_cast<uint8_t>(value);
  }
  return pos == text.size();
}

WakeSettings ReadWakeSettings(pappl_printer_t *printer) {
  WakeSettings s;
  ipp_t *attrs = papplPrinterGetDriverAttributes(printer);
  if (!attrs) return s;
  auto text = [&](const char *name) {
    std::string def = std::string(name) + "-default";
    ipp_attribute_t *a = ippFindAttribute(attrs, def.c_str(), IPP_TAG_ZERO);
    const char *v = a ? ippGetString(a, 0, nullptr) : nullptr;
    return std::string(v ? v : "");
  };
  s.mac = text(kWakeMacAttr);
  s.address = text(kWakeAddressAttr);
  std::string portDef = std::string(kWakePortAttr) + "-default";
  if (ipp_attribute_t *a = ippFindAttribute(attrs, portDef.c_str(), IPP_TAG_INTEGER))
    s.port = ippGetInteger(a, 0);
  ippDelete(attrs);
  return s;
}

std::string SendWake(const WakeSettings &settings) {
  uint8_t mac[6];
  if (!ParseMac(settings.mac, mac)) return "the wake-up MAC address '" + settings.mac + "' is not valid";
  if (settings.port < 1 || settings.port > 65535) return "the wake-up port is not valid";
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(settings.port));
  if (settings.address.empty())
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
  else if (inet_aton(settings.address.c_str(), &to.sin_addr) == 0)
    return "the wake-up address '" + settings.address + "' is not an IPv4 address";

  // The packet as the helper service builds it, from the canonical MAC text.
  char canonical[18];
  std::snprintf(canonical, sizeof(canonical), "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1],
                mac[2], mac[3], mac[4], mac[5]);
  uint8_t packet[kMagicPacketLength];
  BuildMagicPacket(canonical, nullptr, packet);

  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return std::string("no UDP socket: ") + std::strerror(errno);
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on));
  ssize_t sent = sendto(fd, packet, sizeof(packet), 0, reinterpret_cast<const sockaddr *>(&to),
                        sizeof(to));
  int err = errno;
  close(fd);
  if (sent != static_cast<ssize_t>(sizeof(packet)))
    return std::string("the magic packet was not sent: ") + std::strerror(err);
  return "";
}

}  // namespace vtpapp
