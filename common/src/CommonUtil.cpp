// Shared helpers of the filter and the helper service; see CommonUtil.h.
#include "CommonUtil.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "VtPaths.h"

CFTypeRef CFDictionaryGetValueWithType(CFTypeRef dict, const char *key, int typeCode) {
  if (!dict || !key || CFGetTypeCode(dict) != kCFTypeDictionary) return nullptr;
  if (CFDictionaryGetCount(dict) == 0) return nullptr;
  CFTypeRef value = CFDictionaryGetValue(dict, key);
  if (!value) return nullptr;
  if (typeCode >= kCFTypeDictionary && typeCode <= kCFTypeBoolean &&
      CFGetTypeCode(value) != typeCode)
    return nullptr;
  return value;
}

bool CFDictionaryGetValueIfPresentWithType(CFTypeRef dict, const char *key, CFTypeRef *value,
                                           int typeCode) {
  if (!value) return false;
  *value = CFDictionaryGetValueWithType(dict, key, typeCode);
  return *value != nullptr;
}

CFOwned CreateDictionaryFromPath(const char *path) {
  if (!path || !*path) return CFOwned();
  FILE *f = std::fopen(path, "rb");
  if (!f) return CFOwned();
  std::vector<char> data;
  char chunk[8192];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + n);
  bool readFailed = std::ferror(f) != 0;
  std::fclose(f);
  if (readFailed || data.empty()) return CFOwned();
  return CFPropertyListCreateWithData(data.data(), data.size());
}

namespace {
// The product version, looked up once per process (the filter asks for it
// on every line).
struct VersionCache {
  bool looked = false;
  bool found = false;
  std::string version;
  int olderThan105 = -1;  // -1 until first asked
};
VersionCache gVersionCache;
}  // namespace

const char *GetSystemVersionStr() {
  VersionCache &cache = gVersionCache;
  if (!cache.looked) {
    cache.looked = true;
    std::string path = VtSystemVersionFile();
    CFOwned plist = CreateDictionaryFromPath(path.c_str());
    CFTypeRef value =
        CFDictionaryGetValueWithType(plist.get(), "ProductVersion", kCFTypeString);
    cache.found = value && CFStringGetUTF8(value, cache.version);
  }
  return cache.found ? cache.version.c_str() : nullptr;
}

void ResetSystemVersionCache() { gVersionCache = VersionCache(); }

bool SystemOlderThan105() {
  VersionCache &cache = gVersionCache;
  if (cache.olderThan105 < 0)
    cache.olderThan105 = CompareVersionStr(GetSystemVersionStr(), "10.5.0") == -1 ? 1 : 0;
  return cache.olderThan105 == 1;
}

namespace {
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// One component of a version: a slice of the caller's text.
struct Component {
  const char *text = "0";
  size_t length = 1;
};

// Compares two version components, runs of digits by their value.
int CompareNumerically(const Component &a, const Component &b) {
  size_t i = 0, j = 0;
  while (i < a.length && j < b.length) {
    if (IsDigit(a.text[i]) && IsDigit(b.text[j])) {
      size_t ei = i, ej = j;
      while (ei < a.length && IsDigit(a.text[ei])) ++ei;
      while (ej < b.length && IsDigit(b.text[ej])) ++ej;
      size_t si = i, sj = j;
      while (si + 1 < ei && a.text[si] == '0') ++si;
      while (sj + 1 < ej && b.text[sj] == '0') ++sj;
      size_t li = ei - si, lj = ej - sj;
      if (li != lj) return li < lj ? -1 : 1;
      int c = std::memcmp(a.text + si, b.text + sj, li);
      if (c != 0) return c < 0 ? -1 : 1;
      i = ei;
      j = ej;
      continue;
    }
    unsigned char ca = static_cast<unsigned char>(a.text[i]);
    unsigned char cb = static_cast<unsigned char>(b.text[j]);
    if (ca != cb) return ca < cb ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.length) return 1;
  if (j < b.length) return -1;
  return 0;
}

// The first three components; missing ones stay "0".
void SplitVersion(const char *text, Component parts[3]) {
  const char *start = text;
  for (int k = 0; k < 3; ++k) {
    const char *end = std::strchr(start, '.');
    size_t length = end ? static_cast<size_t>(end - start) : std::strlen(start);
    parts[k].text = start;
    parts[k].length = length;
    if (!end) break;
    start = end + 1;
  }
}
}  // namespace

int CompareVersionStr(const char *a, const char *b) {
  if (!a || !b) return 0;
  Component pa[3], pb[3];
  SplitVersion(a, pa);
  SplitVersion(b, pb);
  for (int k = 0; k < 3; ++k) {
    int c = CompareNumerically(pa[k], pb[k]);
    if (c != 0) return c;
  }
  return 0;
}

int32_t str2num(const char *text) {
  if (!text || !*text) return 0;
  // 32-bit arithmetic that wraps, as the printer's option values expect;
  // unsigned so that the wrap is defined.
  uint32_t value = 0;
  bool negative = false;
  for (const char *p = text; *p; ++p) {
    if (*p == '-') {
      if (p != text) break;
      negative = true;
    } else if (IsDigit(*p)) {
      if (static_cast<int32_t>(value) > 0) value *= 10u;
      value += static_cast<uint32_t>(*p - '0');
    } else {
      break;
    }
  }
  if (negative && value != 0) value = 0u - value;
  return static_cast<int32_t>(value);
}

int VTCStringDecode(const char *text, unsigned char *out, int length) {
  if (!text || !out || (length % 2) != 0) return 0;
  if (length <= 0) {
    out[0] = 0;
    return 0;
  }
  auto nibble = [](unsigned char c) -> unsigned {
    return c < 0x41 ? static_cast<unsigned>(c) - 48u : static_cast<unsigned>(c) - 55u;
  };
  int count = length / 2;
  for (int k = 0; k < count; ++k) {
    unsigned hi = nibble(static_cast<unsigned char>(text[2 * k]));
    unsigned lo = nibble(static_cast<unsigned char>(text[2 * k + 1]));
    out[k] = static_cast<unsigned char>((hi * 16u + lo) & 0xFFu);
  }
  out[count] = 0;
  return count;
}
