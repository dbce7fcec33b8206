// Waking a sleeping printer with a Wake-on-LAN magic packet, and checking
// whether it answers an ICMP echo request. The helper service performs both
// for the print dialog, which may not touch the network itself.
#pragma once

#include <cstddef>
#include <cstdint>

// The magic packet: 0xFF six times, the MAC address sixteen times, then a
// six-byte password field (zero-filled), always 108 bytes.
constexpr size_t kMagicPacketLength = 108;
// The echo request the probe sends: type 8, code 0, checksum, identifier 0,
// sequence 0 and 20 zero bytes.
constexpr size_t kEchoRequestLength = 28;

// Sends one magic packet to UDP port 9 of the broadcast address (a dotted
// IPv4 text; 255.255.255.255 when none or empty). Any argument may be null.
// Returns 0 when the packet was handed to the network, -1 otherwise.
int SendMagicPacket(const char *broadcastAddress, const char *macAddress, const char *password);

// Sends an ICMP echo request to the dotted IPv4 address and waits up to
// timeoutMs milliseconds for an echo reply. Returns 1 when one arrived, else 0.
// A failure to open the socket or to send still takes the whole timeout; an
// empty address returns 0 at once.
int sendEchoAndRecvReply(const char *address, int64_t timeoutMs);

// The 16-bit Internet checksum (RFC 1071), summed in native byte order so
// that storing the result as is gives the right bytes on the wire.
uint16_t icmpChecksum(const void *bytes, size_t length);

// The six MAC bytes of a text such as "00:1b:2c:3d:4e:5f": exactly six parts
// separated by ':', each read as hexadecimal (at most its first nine
// characters) keeping the low 8 bits; a part that does not parse gives 0.
// Any other form (or none) gives six zero bytes.
void ParseMagicPacketMac(const char *macAddress, uint8_t mac[6]);

// The whole 108-byte packet for a MAC text and a password text (either may be
// null). A password of 1 to 6 bytes is copied as it is; anything else leaves
// the field zero.
void BuildMagicPacket(const char *macAddress, const char *password,
                      uint8_t packet[kMagicPacketLength]);

// The 28-byte echo request with its checksum filled in.
void BuildEchoRequest(uint8_t request[kEchoRequestLength]);

// The ICMP type of a received datagram, or -1 when it holds none. BSD ICMP
// sockets deliver the IPv4 header in front of the ICMP message; Linux ICMP
// datagram sockets deliver the ICMP message alone. Both are recognised.
int ReceivedIcmpType(const uint8_t *datagram, size_t length);
