// Request strings of the helper service: frames, selectors, marker fields.
#include "OrbRequests.h"

#include <utf8proc.h>

#include <array>
#include <limits>

namespace {

constexpr std::array<const char *, kOrbSelectorCount> kSelectorNames = {
    "isFilePathWritable_XPC:reply:",
    "writeDictionaryToPlistFile_XPC:reply:",
    "sendMagicPacket_XPC:reply:",
    "sendEchoAndRecvReply_XPC:reply:",
    "pdeSnmpGet_XPC:reply:",
    "cancelFileWrite_XPC:reply:",
};

// Paths are converted into a 256-byte buffer, terminator included.
constexpr size_t kPathBufferSize = 256;

bool IsValidUTF8(std::string_view text) {
  auto bytes = reinterpret_cast<const utf8proc_uint8_t *>(text.data());
  utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(text.size());
  while (left > 0) {
    utf8proc_int32_t codepoint;
    const utf8proc_ssize_t used = utf8proc_iterate(bytes, left, &codepoint);
    if (used <= 0) return false;
    bytes += used;
    left -= used;
  }
  return true;
}

bool HasZeroByte(std::string_view text) { return text.find('\0') != std::string_view::npos; }

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Reads a decimal number, saturating at [lowest, highest].
int64_t ReadDecimal(std::string_view text, int64_t lowest, int64_t highest) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Accumulate as a negative number, whose range is the larger one.
  int64_t value = 0;
  const int64_t floor = negative ? lowest : -highest;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int digit = text[i] - '0';
    if (value < (floor + digit) / 10) return negative ? lowest : highest;
    value = value * 10 - digit;
    if (value < floor) return negative ? lowest : highest;
  }
  return negative ? value : -value;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

}  // namespace

const char *OrbSelectorName(OrbSelector selector) {
  return kSelectorNames[static_cast<size_t>(selector)];
}

std::optional<OrbSelector> OrbSelectorFromName(std::string_view name) {
  for (size_t i = 0; i < kSelectorNames.size(); ++i) {
    if (name == kSelectorNames[i]) return static_cast<OrbSelector>(i);
  }
  return std::nullopt;
}

std::optional<OrbRequestFrame> DecodeRequestFrame(std::string_view body) {
  const size_t zero = body.find('\0');
  if (zero == std::string_view::npos) return std::nullopt;
  const auto selector = OrbSelectorFromName(body.substr(0, zero));
  if (!selector) return std::nullopt;
  const std::string_view request = body.substr(zero + 1);
  if (!IsValidUTF8(request)) return std::nullopt;
  return OrbRequestFrame{*selector, request};
}

std::string EncodeRequestFrame(std::string_view selectorName, std::string_view request) {
  std::string body(selectorName);
  body += '\0';
  body += request;
  return body;
}

std::string FrameLengthPrefix(size_t length) {
  const uint32_t n = static_cast<uint32_t>(length);
  return std::string{static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                     static_cast<char>(n >> 8), static_cast<char>(n)};
}

uint32_t ReadFrameLengthPrefix(const unsigned char bytes[4]) {
  return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
         uint32_t{bytes[3]};
}

int32_t RequestIntValue(std::string_view text) {
  return static_cast<int32_t>(ReadDecimal(text, std::numeric_limits<int32_t>::min(),
                                          std::numeric_limits<int32_t>::max()));
}

int64_t RequestLongLongValue(std::string_view text) {
  return ReadDecimal(text, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
}

std::optional<MarkerSplit> SplitAtMarkers(std::string_view text,
                                          const std::vector<std::string_view> &markers) {
  MarkerSplit split;
  size_t pos = 0;
  bool lostOne = false;
  for (const std::string_view marker : markers) {
    const size_t found = text.find(marker, pos);
    if (found == std::string_view::npos) {
      lostOne = true;
      split.fields.emplace_back(std::nullopt);
      continue;
    }
    if (lostOne) return std::nullopt;
    split.fields.emplace_back(text.substr(pos, found - pos));
    pos = found + marker.size();
  }
  split.rest = text.substr(pos);
  return split;
}

std::optional<std::string> FieldOrNone(const std::optional<std::string_view> &field) {
  if (!field || *field == "NULL") return std::nullopt;
  return std::string(*field);
}

std::optional<std::string> ParseWritablePathRequest(std::string_view request) {
  if (request.size() >= kPathBufferSize || HasZeroByte(request)) return std::nullopt;
  return std::string(request);
}

std::optional<PlistWriteRequest> ParsePlistWriteRequest(std::string_view request) {
  constexpr std::string_view kMarker = ":AddURL:END";
  const size_t found = request.find(kMarker);
  if (found == std::string_view::npos) return std::nullopt;
  return PlistWriteRequest{std::string(request.substr(0, found)),
                           request.substr(found + kMarker.size())};
}

std::optional<std::string> FileURLToPath(std::string_view url) {
  if (!StartsWithNoCase(url, "file:")) return std::nullopt;
  std::string_view rest = url.substr(5);
  if (rest.substr(0, 2) == "//") {
    rest.remove_prefix(2);
    const size_t slash = rest.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    // Only this machine's files: no host, or "localhost".
    const std::string_view host = rest.substr(0, slash);
    const bool isLocalhost = host.size() == 9 && StartsWithNoCase(host, "localhost");
    if (!host.empty() && !isLocalhost) return std::nullopt;
    rest.remove_prefix(slash);
  }
  if (rest.empty() || rest[0] != '/') return std::nullopt;
  // A query or fragment is no part of a file's path.
  const size_t end = rest.find_first_of("?#");
  if (end != std::string_view::npos) rest = rest.substr(0, end);
  std::string path;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] != '%') {
      path += rest[i];
      continue;
    }
    if (i + 2 >= rest.size()) return std::nullopt;
    const int high = HexDigit(rest[i + 1]);
    const int low = HexDigit(rest[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    path += static_cast<char>(high * 16 + low);
    i += 2;
  }
  if (HasZeroByte(path)) return std::nullopt;
  return path;
}

std::optional<MagicPacketRequest> ParseMagicPacketRequest(std::string_view request) {
  const auto split =
      SplitAtMarkers(request, {":ARGipAddressStr:", ":ARGmacAddressStr:", ":ARGpasswordStr:"});
  if (!split) return std::nullopt;
  MagicPacketRequest parsed{FieldOrNone(split->fields[0]), FieldOrNone(split->fields[1]),
                            FieldOrNone(split->fields[2])};
  // A zero byte would cut the text short when it is handed on as a C string.
  for (const auto *field : {&parsed.broadcast, &parsed.mac, &parsed.password}) {
    if (*field && HasZeroByte(**field)) return std::nullopt;
  }
  return parsed;
}

std::optional<EchoRequest> ParseEchoRequest(std::string_view request) {
  constexpr std::string_view kMarker = ":sIpAddr:END";
  const size_t found = request.find(kMarker);
  if (found == std::string_view::npos) return std::nullopt;
  EchoRequest parsed;
  parsed.address = std::string(request.substr(0, found));
  if (HasZeroByte(parsed.address)) return std::nullopt;
  parsed.timeoutMs = RequestLongLongValue(request.substr(found + kMarker.size()));
  return parsed;
}

SnmpGetParse ParseSnmpGetRequest(std::string_view request) {
  constexpr int kUsageError = -50;
  const auto split = SplitAtMarkers(
      request, {":argCount:", ":iType:", ":cancelFlag:", ":CancelFileName:", ":gSnmpTimeout:",
                ":gSnmpRetries:", ":rtnCharFlag:"});
  if (!split) return {std::nullopt, kUsageError};
  // The command-line words follow the last marker: without it there are none
  // and nothing to ask for.
  for (const auto &field : split->fields) {
    if (!field) return {std::nullopt, kUsageError};
  }
  const auto &f = split->fields;
  SnmpGetRequest parsed;
  parsed.argCount = RequestIntValue(*f[0]);
  parsed.expectedType = RequestIntValue(*f[1]);
  if (*f[2] != "NULL") parsed.cancelFlag = RequestIntValue(*f[2]);
  parsed.cancelFile = FieldOrNone(f[3]);
  if (parsed.cancelFile && (parsed.cancelFile->empty() || HasZeroByte(*parsed.cancelFile))) {
    parsed.cancelFile.reset();
  }
  if (const int64_t timeout = RequestLongLongValue(*f[4]); timeout > 0) parsed.timeout = timeout;
  if (const int32_t retries = RequestIntValue(*f[5]); retries > 0) parsed.retries = retries;
  parsed.charFlag = RequestIntValue(*f[6]);

  // Every piece followed by ":arg:" is a word; what follows the last one is not.
  constexpr std::string_view kArg = ":arg:";
  std::string_view words = split->rest;
  for (size_t found; (found = words.find(kArg)) != std::string_view::npos;) {
    if (parsed.words.size() == kMaxSnmpWords) return {std::nullopt, kUsageError};
    const std::string_view word = words.substr(0, found);
    if (HasZeroByte(word)) return {std::nullopt, kUsageError};
    parsed.words.emplace_back(word);
    words.remove_prefix(found + kArg.size());
  }
  return {std::move(parsed), 0};
}

std::optional<std::string> ParseCancelFileWriteRequest(std::string_view request) {
  constexpr std::string_view kMarker = ":CancelFileName:";
  const size_t found = request.find(kMarker);
  if (found == std::string_view::npos) return std::nullopt;
  std::string path(request.substr(0, found));
  if (path.empty() || HasZeroByte(path)) return std::nullopt;
  return path;
}
