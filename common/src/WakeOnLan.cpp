// Wake-on-LAN magic packet and ICMP echo probe, for the helper service.
#include "WakeOnLan.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint16_t kWakeOnLanPort = 9;
constexpr size_t kMacPartMaxChars = 9;
constexpr size_t kPasswordFieldLength = 6;
constexpr size_t kReceiveLimit = 2000;
// Longest wait the probe accepts (about 24 days); longer ones are cut to it
// so that the clock arithmetic cannot overflow.
constexpr int64_t kLongestTimeoutMs = 0x7FFFFFFF;

// The probe's failures still take the caller's whole timeout.
void SleepMilliseconds(int64_t ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Reads a dotted IPv4 text. inet_addr() cannot tell a bad text from
// 255.255.255.255, which would turn a typo into a broadcast; inet_aton()
// accepts the same forms and says when the text is no address.
bool ParseIPv4(const char *text, in_addr &out) {
  return text != nullptr && inet_aton(text, &out) != 0;
}

// Waits until fd is readable or timeoutMs has passed; true when readable.
bool WaitReadable(int fd, int64_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    const int slice = left <= 0 ? 0 : (left > 1000000 ? 1000000 : static_cast<int>(left));
    pollfd pfd{fd, POLLIN, 0};
    const int n = poll(&pfd, 1, slice);
    if (n > 0) return (pfd.revents & POLLIN) != 0;
    if (n < 0 && errno != EINTR) return false;
    if (n == 0 && left <= 0) return false;
  }
}

}  // namespace

void ParseMagicPacketMac(const char *macAddress, uint8_t mac[6]) {
  std::memset(mac, 0, 6);
  if (macAddress == nullptr) return;
  std::vector<std::string> parts;
  std::string part;
  for (const char *p = macAddress;; ++p) {
    if (*p == ':' || *p == '\0') {
      parts.push_back(part);
      part.clear();
      if (*p == '\0') break;
    } else {
      part += *p;
    }
  }
  if (parts.size() != 6) return;
  for (size_t i = 0; i < 6; ++i) {
    // Same reading as sscanf("%x") of the part's first nine characters, but
    // defined for every value: only the low 8 bits are kept.
    const std::string digits = parts[i].substr(0, kMacPartMaxChars);
    char *end = nullptr;
    const unsigned long long value = std::strtoull(digits.c_str(), &end, 16);
    mac[i] = end == digits.c_str() ? 0 : static_cast<uint8_t>(value & 0xFF);
  }
}

void BuildMagicPacket(const char *macAddress, const char *password,
                      uint8_t packet[kMagicPacketLength]) {
  uint8_t mac[6];
  ParseMagicPacketMac(macAddress, mac);
  std::memset(packet, 0xFF, 6);
  for (size_t i = 0; i < 16; ++i) std::memcpy(packet + 6 + i * 6, mac, 6);
  uint8_t *field = packet + 6 + 16 * 6;
  std::memset(field, 0, kPasswordFieldLength);
  if (password != nullptr) {
    const size_t length = std::strlen(password);
    if (length >= 1 && length <= kPasswordFieldLength) std::memcpy(field, password, length);
  }
}

int SendMagicPacket(const char *broadcastAddress, const char *macAddress, const char *password) {
  in_addr destination{};
  if (broadcastAddress == nullptr || broadcastAddress[0] == '\0') {
    destination.s_addr = htonl(INADDR_BROADCAST);
  } else if (!ParseIPv4(broadcastAddress, destination)) {
    return -1;
  }

  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return -1;

  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(kWakeOnLanPort);
  to.sin_addr = destination;

  const int on = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
    close(fd);
    return -1;
  }

  uint8_t packet[kMagicPacketLength];
  BuildMagicPacket(macAddress, password, packet);
  const ssize_t sent = sendto(fd, packet, sizeof packet, 0,
                              reinterpret_cast<const sockaddr *>(&to), sizeof to);
  close(fd);
  // A packet the network refused (no route, for one) was not sent.
  return sent == static_cast<ssize_t>(sizeof packet) ? 0 : -1;
}

uint16_t icmpChecksum(const void *bytes, size_t length) {
  const uint8_t *data = static_cast<const uint8_t *>(bytes);
  uint64_t sum = 0;
  size_t i = 0;
  for (; i + 1 < length; i += 2) {
    uint16_t word;
    std::memcpy(&word, data + i, 2);
    sum += word;
  }
  if (i < length) sum += data[i];
  sum = (sum >> 16) + (sum & 0xFFFF);
  sum += sum >> 16;
  return static_cast<uint16_t>(~sum & 0xFFFF);
}

void BuildEchoRequest(uint8_t request[kEchoRequestLength]) {
  std::memset(request, 0, kEchoRequestLength);
  request[0] = 8;  // echo request
  const uint16_t sum = icmpChecksum(request, kEchoRequestLength);
  std::memcpy(request + 2, &sum, 2);
}

int ReceivedIcmpType(const uint8_t *datagram, size_t length) {
  if (datagram == nullptr || length == 0) return -1;
  // An IPv4 header starts with version 4 and a header length of at least 20
  // bytes; no ICMP type in use has 4 in its high nibble.
  if ((datagram[0] >> 4) == 4) {
    const size_t headerLength = static_cast<size_t>(datagram[0] & 0x0F) * 4;
    if (headerLength < 20 || headerLength >= length) return -1;
    return datagram[headerLength];
  }
  return datagram[0];
}

int sendEchoAndRecvReply(const char *address, int64_t timeoutMs) {
  if (address == nullptr || address[0] == '\0') return 0;
  if (timeoutMs < 0) timeoutMs = 0;
  if (timeoutMs > kLongestTimeoutMs) timeoutMs = kLongestTimeoutMs;

  const int fd = socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP);
  if (fd < 0) {
    SleepMilliseconds(timeoutMs);
    return 0;
  }

  uint8_t request[kEchoRequestLength];
  BuildEchoRequest(request);

  sockaddr_in to{};
  to.sin_family = AF_INET;
  if (!ParseIPv4(address, to.sin_addr)) {
    SleepMilliseconds(timeoutMs);
    close(fd);
    return 0;
  }
  const ssize_t sent = sendto(fd, request, sizeof request, 0,
                              reinterpret_cast<const sockaddr *>(&to), sizeof to);
  if (sent <= 0) {
    SleepMilliseconds(timeoutMs);
    close(fd);
    return 0;
  }

  int result = 0;
  if (WaitReadable(fd, timeoutMs)) {
    uint8_t reply[kReceiveLimit];
    const ssize_t got = recv(fd, reply, sizeof reply, 0);
    if (got > 0 && ReceivedIcmpType(reply, static_cast<size_t>(got)) == 0) result = 1;
  }
  close(fd);
  return result;
}
