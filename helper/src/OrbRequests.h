// The request strings of the helper service's protocol: selectors, frames and
// the marker-separated fields of each request. Everything here only reads its
// input, so the parsers can be fed any bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The six methods of the protocol, in its order.
enum class OrbSelector {
  kIsFilePathWritable,
  kWriteDictionaryToPlistFile,
  kSendMagicPacket,
  kSendEchoAndRecvReply,
  kPdeSnmpGet,
  kCancelFileWrite,
};
constexpr size_t kOrbSelectorCount = 6;
const char *OrbSelectorName(OrbSelector selector);
std::optional<OrbSelector> OrbSelectorFromName(std::string_view name);

// A frame is a 4-byte big-endian length and that many bytes; no frame may be
// longer than this.
constexpr size_t kMaxFrameLength = 1024 * 1024;

// A request frame's bytes: the selector, one zero byte, the request in UTF-8.
struct OrbRequestFrame {
  OrbSelector selector;
  std::string_view request;
};
// None for an unknown selector, a missing zero byte or a request that is not
// valid UTF-8 (no client can send such a string).
std::optional<OrbRequestFrame> DecodeRequestFrame(std::string_view body);
std::string EncodeRequestFrame(std::string_view selectorName, std::string_view request);
// The 4-byte big-endian length put in front of a frame's bytes.
std::string FrameLengthPrefix(size_t length);
uint32_t ReadFrameLengthPrefix(const unsigned char bytes[4]);

// Numbers in request fields are read the way the dialog's strings read them:
// leading white space, an optional sign, decimal digits up to the first other
// character; 0 when there are none; the nearest limit when out of range.
int32_t RequestIntValue(std::string_view text);
int64_t RequestLongLongValue(std::string_view text);

// Splits text at the markers, in order. A field is the text between the end of
// the previous marker (or the start) and its own marker; it is absent when its
// marker is missing. The split fails when a marker is found after a missing
// one, since its field would have nothing to be measured from.
struct MarkerSplit {
  std::vector<std::optional<std::string_view>> fields;
  std::string_view rest;  // the text after the last marker found
};
std::optional<MarkerSplit> SplitAtMarkers(std::string_view text,
                                          const std::vector<std::string_view> &markers);

// "NULL" stands for an absent field.
std::optional<std::string> FieldOrNone(const std::optional<std::string_view> &field);

// isFilePathWritable_XPC:reply: the request is the path. None when the path
// does not fit the 256-byte buffer it is converted into, or holds a zero byte.
std::optional<std::string> ParseWritablePathRequest(std::string_view request);

// writeDictionaryToPlistFile_XPC:reply: URL text, ":AddURL:END", contents.
struct PlistWriteRequest {
  std::string url;
  std::string_view contents;
};
std::optional<PlistWriteRequest> ParsePlistWriteRequest(std::string_view request);
// The local path of a file URL ("file:///a/b", "file://localhost/a/b",
// "file:/a/b", with %-escapes); none for any other URL.
std::optional<std::string> FileURLToPath(std::string_view url);

// sendMagicPacket_XPC:reply: broadcast, MAC and password fields, each "NULL"
// or absent for none.
struct MagicPacketRequest {
  std::optional<std::string> broadcast;
  std::optional<std::string> mac;
  std::optional<std::string> password;
};
std::optional<MagicPacketRequest> ParseMagicPacketRequest(std::string_view request);

// sendEchoAndRecvReply_XPC:reply: address, ":sIpAddr:END", timeout in ms.
struct EchoRequest {
  std::string address;
  int64_t timeoutMs = 0;
};
std::optional<EchoRequest> ParseEchoRequest(std::string_view request);

// pdeSnmpGet_XPC:reply: the fixed fields, then snmpget command-line words.
constexpr size_t kMaxSnmpWords = 511;
struct SnmpGetRequest {
  int32_t argCount = 0;                 // read, not used
  int32_t expectedType = 0;             // ASN.1 tag: 2, 4 or 6
  std::optional<int32_t> cancelFlag;    // none for "NULL"
  std::optional<std::string> cancelFile;
  std::optional<int64_t> timeout;       // present and above 0 only
  std::optional<int32_t> retries;       // present and above 0 only
  int32_t charFlag = 0;
  std::vector<std::string> words;       // program name, options, agent, OIDs
};
// On failure, the reply code: -50 for a missing marker, more than 511 words or
// a word holding a zero byte.
struct SnmpGetParse {
  std::optional<SnmpGetRequest> request;
  int error = 0;
};
SnmpGetParse ParseSnmpGetRequest(std::string_view request);

// cancelFileWrite_XPC:reply: the path before ":CancelFileName:".
std::optional<std::string> ParseCancelFileWriteRequest(std::string_view request);
