// The magic packet and the echo request as they go on the wire, built
// without touching the network.
#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cstring>
#include <string>

#include "WakeOnLan.h"

namespace {

std::string Packet(const char *mac, const char *password) {
  uint8_t packet[kMagicPacketLength];
  std::memset(packet, 0xAA, sizeof packet);
  BuildMagicPacket(mac, password, packet);
  return std::string(reinterpret_cast<char *>(packet), sizeof packet);
}

std::string Repeat16(const std::string &mac) {
  std::string out;
  for (int i = 0; i < 16; ++i) out += mac;
  return out;
}

const std::string kSync(6, '\xFF');
const std::string kNoMac(6, '\0');
const std::string kNoPassword(6, '\0');

}  // namespace

TEST(MagicPacket, SyncMacSixteenTimesAndPasswordField) {
  const std::string mac("\x00\x1b\x2c\x3d\x4e\x5f", 6);
  EXPECT_EQ(Packet("00:1b:2c:3d:4e:5f", nullptr), kSync + Repeat16(mac) + kNoPassword);
}

TEST(MagicPacket, HexPartsOfAnyCaseKeepTheirLowEightBits) {
  // 0a and 0A are the same byte; 1FF keeps only 0xFF; "0x1b" reads as hex too.
  const std::string mac("\x0a\x0a\xff\x00\x1b\x05", 6);
  EXPECT_EQ(Packet("0a:0A:1FF:0:0x1b:5", nullptr).substr(6, 96), Repeat16(mac));
}

TEST(MagicPacket, PartsThatDoNotParseGiveZero) {
  const std::string mac("\x00\x01\x00\x02\x00\x03", 6);
  EXPECT_EQ(Packet("zz:1::2:g:3", nullptr).substr(6, 96), Repeat16(mac));
  // Only the first nine characters of a part are read: "000000000" is 0.
  EXPECT_EQ(Packet("00000000001:1:2:3:4:5", nullptr).substr(6, 6), std::string("\x00\x01\x02\x03\x04\x05", 6));
}

TEST(MagicPacket, AnythingButSixPartsGivesAnAllZeroMac) {
  for (const char *mac : {"01:02:03:04:05", "01:02:03:04:05:06:07", "", "010203040506",
                          "01:02:03:04:05:06:", static_cast<const char *>(nullptr)}) {
    const std::string packet = Packet(mac, nullptr);
    ASSERT_EQ(packet.size(), 108u);
    EXPECT_EQ(packet.substr(0, 6), kSync) << (mac ? mac : "(none)");
    EXPECT_EQ(packet.substr(6, 96), Repeat16(kNoMac)) << (mac ? mac : "(none)");
  }
}

TEST(MagicPacket, PasswordOfOneToSixBytesIsCopiedAsText) {
  EXPECT_EQ(Packet(nullptr, "abcd").substr(102), std::string("abcd\0\0", 6));
  EXPECT_EQ(Packet(nullptr, "secret").substr(102), "secret");
  EXPECT_EQ(Packet(nullptr, "a").substr(102), std::string("a\0\0\0\0\0", 6));
  // Seven characters, or none, leave the field zero.
  EXPECT_EQ(Packet(nullptr, "sevench").substr(102), kNoPassword);
  EXPECT_EQ(Packet(nullptr, "").substr(102), kNoPassword);
  // Three characters of two bytes each fill the field exactly; four would not fit.
  EXPECT_EQ(Packet(nullptr, "\xc3\xa9\xc3\xa9\xc3\xa9").substr(102), "\xc3\xa9\xc3\xa9\xc3\xa9");
  EXPECT_EQ(Packet(nullptr, "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9").substr(102), kNoPassword);
}

TEST(MagicPacket, BadBroadcastAddressIsRefusedNotBroadcast) {
  // inet_addr() would read these as 255.255.255.255; nothing is sent.
  EXPECT_EQ(SendMagicPacket("printer.local", "01:02:03:04:05:06", nullptr), -1);
  EXPECT_EQ(SendMagicPacket("300.1.1.1", "01:02:03:04:05:06", nullptr), -1);
}

TEST(IcmpChecksum, EchoRequestOfTheProbe) {
  uint8_t request[kEchoRequestLength];
  BuildEchoRequest(request);
  EXPECT_EQ(request[0], 8);
  EXPECT_EQ(request[1], 0);
  for (size_t i = 4; i < kEchoRequestLength; ++i) EXPECT_EQ(request[i], 0) << i;
  if constexpr (std::endian::native == std::endian::little) {
    uint8_t zeroed[kEchoRequestLength] = {8};
    EXPECT_EQ(icmpChecksum(zeroed, sizeof zeroed), 0xFFF7);
  }
  // Stored as computed, it reads 0xF7FF on the wire.
  EXPECT_EQ(request[2], 0xF7);
  EXPECT_EQ(request[3], 0xFF);
  // A message carrying its own checksum sums to zero.
  EXPECT_EQ(icmpChecksum(request, sizeof request), 0);
}

TEST(IcmpChecksum, WorkedExampleOfRfc1071AndOddLengths) {
  // RFC 1071 section 3: the sum of 00 01 f2 03 f4 f5 f6 f7 is 0xddf2, so the
  // checksum on the wire is 0x220d.
  const uint8_t data[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
  const uint16_t sum = icmpChecksum(data, sizeof data);
  uint8_t wire[2];
  std::memcpy(wire, &sum, 2);
  EXPECT_EQ(wire[0], 0x22);
  EXPECT_EQ(wire[1], 0x0d);

  // Carries are folded back in: four 0xFF bytes sum to 0xFFFF.
  const uint8_t ones[] = {0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(icmpChecksum(ones, sizeof ones), 0);

  if constexpr (std::endian::native == std::endian::little) {
    // An odd last byte counts as the first byte of a zero-padded word.
    const uint8_t odd[] = {0x01};
    const uint16_t oddSum = icmpChecksum(odd, 1);
    std::memcpy(wire, &oddSum, 2);
    EXPECT_EQ(wire[0], 0xFE);
    EXPECT_EQ(wire[1], 0xFF);
  }
  EXPECT_EQ(icmpChecksum(nullptr, 0), 0xFFFF);
}

TEST(EchoReply, RecognisedWithOrWithoutTheIPv4Header) {
  // Linux ICMP datagram sockets hand over the ICMP message alone.
  const uint8_t bare[] = {0, 0, 0xF7, 0xFF, 0, 1, 0, 0};
  EXPECT_EQ(ReceivedIcmpType(bare, sizeof bare), 0);
  // BSD sockets put the IPv4 header (here 24 bytes, IHL 6) in front.
  uint8_t withHeader[32] = {0x46};
  withHeader[24] = 0;
  EXPECT_EQ(ReceivedIcmpType(withHeader, sizeof withHeader), 0);
  withHeader[24] = 3;  // destination unreachable is no reply
  EXPECT_EQ(ReceivedIcmpType(withHeader, sizeof withHeader), 3);
  // A header that claims more bytes than arrived holds no type.
  EXPECT_EQ(ReceivedIcmpType(withHeader, 24), -1);
  EXPECT_EQ(ReceivedIcmpType(bare, 0), -1);
}

TEST(EchoProbe, EmptyAddressAnswersAtOnce) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(sendEchoAndRecvReply("", 3000), 0);
  EXPECT_EQ(sendEchoAndRecvReply(nullptr, 3000), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}
