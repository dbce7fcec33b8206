// Feeds arbitrary bytes to every parser of the helper service's requests, as
// a whole frame and as the request string of each of the six methods.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "OrbRequests.h"
#include "WakeOnLan.h"

namespace {

// Touches every byte of a parsed text so that a view past its buffer shows.
size_t Touch(std::string_view text) {
  size_t sum = 0;
  for (const char c : text) sum += static_cast<unsigned char>(c);
  return sum;
}

void ParseAsEveryRequest(std::string_view request) {
  volatile size_t sink = 0;
  if (const auto path = ParseWritablePathRequest(request)) {
    if (path->size() >= 256 || path->find('\0') != std::string::npos) __builtin_trap();
    sink = sink + Touch(*path);
  }
  if (const auto plist = ParsePlistWriteRequest(request)) {
    sink = sink + Touch(plist->url) + Touch(plist->contents);
    if (const auto path = FileURLToPath(plist->url)) {
      if (path->find('\0') != std::string::npos) __builtin_trap();
      sink = sink + Touch(*path);
    }
  }
  if (const auto magic = ParseMagicPacketRequest(request)) {
    uint8_t packet[kMagicPacketLength];
    BuildMagicPacket(magic->mac ? magic->mac->c_str() : nullptr,
                     magic->password ? magic->password->c_str() : nullptr, packet);
    sink = sink + packet[101] + (magic->broadcast ? Touch(*magic->broadcast) : 0);
  }
  if (const auto echo = ParseEchoRequest(request)) {
    sink = sink + Touch(echo->address) + static_cast<size_t>(echo->timeoutMs);
  }
  const SnmpGetParse snmp = ParseSnmpGetRequest(request);
  if (snmp.request) {
    if (snmp.request->words.size() > kMaxSnmpWords) __builtin_trap();
    for (const auto &word : snmp.request->words) sink = sink + Touch(word);
    if (snmp.request->cancelFile) sink = sink + Touch(*snmp.request->cancelFile);
  } else if (snmp.error != -50) {
    __builtin_trap();
  }
  if (const auto cancel = ParseCancelFileWriteRequest(request)) sink = sink + Touch(*cancel);
  sink = sink + static_cast<size_t>(RequestIntValue(request)) + static_cast<size_t>(RequestLongLongValue(request));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char *>(data), size);
  // As a frame's bytes: a selector, a zero byte, a UTF-8 request.
  if (const auto frame = DecodeRequestFrame(bytes)) {
    if (std::strlen(OrbSelectorName(frame->selector)) + 1 + frame->request.size() != size) __builtin_trap();
    ParseAsEveryRequest(frame->request);
  }
  // As a request string of each method, whatever its encoding.
  ParseAsEveryRequest(bytes);
  return 0;
}
