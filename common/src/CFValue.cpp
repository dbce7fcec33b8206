// The property-list value layer over libplist.
#include "CFValue.h"

#include <plist/plist.h>

#include <cstdlib>
#include <cstring>
#include <limits>

void CFReleaser::operator()(plist_t node) const {
  if (node) plist_free(node);
}

int CFGetTypeCode(CFTypeRef value) {
  if (!value) return kCFTypeOther;
  switch (plist_get_node_type(value)) {
    case PLIST_DICT: return kCFTypeDictionary;
    case PLIST_ARRAY: return kCFTypeArray;
    case PLIST_STRING: return kCFTypeString;
    case PLIST_UINT:
    case PLIST_REAL: return kCFTypeNumber;
    case PLIST_BOOLEAN: return kCFTypeBoolean;
    case PLIST_DATA: return kCFTypeData;
    default: return kCFTypeOther;
  }
}

CFOwned CFPropertyListCreateWithData(const void *bytes, size_t length) {
  if (!bytes || length == 0 || length > std::numeric_limits<uint32_t>::max())
    return CFOwned();
  plist_t root = nullptr;
  plist_from_memory(static_cast<const char *>(bytes),
                    static_cast<uint32_t>(length), &root);
  return CFOwned(root);
}

bool CFPropertyListCreateXMLData(CFTypeRef value, std::string &xmlOut) {
  if (!value) return false;
  char *xml = nullptr;
  uint32_t len = 0;
  plist_to_xml(value, &xml, &len);
  if (!xml) return false;
  xmlOut.assign(xml, len);
  std::free(xml);
  return true;
}

CFOwned CFDictionaryCreateMutable() { return CFOwned(plist_new_dict()); }
CFOwned CFArrayCreateMutable() { return CFOwned(plist_new_array()); }
CFOwned CFStringCreateWithUTF8(const char *text) {
  return text ? CFOwned(plist_new_string(text)) : CFOwned();
}
CFOwned CFNumberCreateInt64(int64_t number) {
  return CFOwned(plist_new_uint(static_cast<uint64_t>(number)));
}
CFOwned CFBooleanCreate(bool value) { return CFOwned(plist_new_bool(value ? 1 : 0)); }

bool CFDictionarySetValue(CFTypeRef dict, const char *key, CFOwned value) {
  if (CFGetTypeCode(dict) != kCFTypeDictionary || !key || !value) return false;
  plist_dict_set_item(dict, key, value.release());
  return true;
}

bool CFArrayAppendValue(CFTypeRef array, CFOwned value) {
  if (CFGetTypeCode(array) != kCFTypeArray || !value) return false;
  plist_array_append_item(array, value.release());
  return true;
}

size_t CFDictionaryGetCount(CFTypeRef dict) {
  if (CFGetTypeCode(dict) != kCFTypeDictionary) return 0;
  return plist_dict_get_size(dict);
}

CFTypeRef CFDictionaryGetValue(CFTypeRef dict, const char *key) {
  if (CFGetTypeCode(dict) != kCFTypeDictionary || !key) return nullptr;
  return plist_dict_get_item(dict, key);
}

void CFDictionaryForEach(
    CFTypeRef dict,
    const std::function<bool(const std::string &key, CFTypeRef value)> &visit) {
  if (CFGetTypeCode(dict) != kCFTypeDictionary) return;
  plist_dict_iter it = nullptr;
  plist_dict_new_iter(dict, &it);
  if (!it) return;
  for (;;) {
    char *key = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(dict, it, &key, &value);
    if (!key) break;
    std::string k(key);
    std::free(key);
    if (!visit(k, value)) break;
  }
  std::free(it);
}

size_t CFArrayGetCount(CFTypeRef array) {
  if (CFGetTypeCode(array) != kCFTypeArray) return 0;
  return plist_array_get_size(array);
}

CFTypeRef CFArrayGetValueAtIndex(CFTypeRef array, size_t index) {
  if (index >= CFArrayGetCount(array)) return nullptr;
  return plist_array_get_item(array, static_cast<uint32_t>(index));
}

bool CFStringGetUTF8(CFTypeRef string, std::string &out) {
  if (CFGetTypeCode(string) != kCFTypeString) return false;
  // By pointer and length: libplist's copying accessor aborts on a string
  // holding a zero byte, which a file can carry. Its XML reader keeps such a
  // text only up to the zero byte, so that is the text we hand on.
  uint64_t len = 0;
  const char *text = plist_get_string_ptr(string, &len);
  if (!text) return false;
  out.assign(text, strnlen(text, len));
  return true;
}

bool CFNumberGetInt64(CFTypeRef number, int64_t &out) {
  if (!number) return false;
  switch (plist_get_node_type(number)) {
    case PLIST_UINT: {
      uint64_t v = 0;
      plist_get_uint_val(number, &v);
      out = static_cast<int64_t>(v);
      return true;
    }
    case PLIST_REAL: {
      double d = 0;
      plist_get_real_val(number, &d);
      if (!(d > -9.2e18 && d < 9.2e18)) return false;
      out = static_cast<int64_t>(d);
      return true;
    }
    default: return false;
  }
}

bool CFNumberGetDouble(CFTypeRef number, double &out) {
  if (!number) return false;
  if (plist_get_node_type(number) == PLIST_REAL) {
    plist_get_real_val(number, &out);
    return true;
  }
  int64_t v = 0;
  if (!CFNumberGetInt64(number, v)) return false;
  out = static_cast<double>(v);
  return true;
}

bool CFBooleanGetValue(CFTypeRef boolean, bool &out) {
  if (CFGetTypeCode(boolean) != kCFTypeBoolean) return false;
  uint8_t v = 0;
  plist_get_bool_val(boolean, &v);
  out = v != 0;
  return true;
}

bool CFDataGetBytes(CFTypeRef data, std::string &out) {
  if (CFGetTypeCode(data) != kCFTypeData) return false;
  uint64_t len = 0;
  const char *bytes = plist_get_data_ptr(data, &len);
  out.assign(bytes ? bytes : "", bytes ? len : 0);
  return true;
}

CFOwned CFCopy(CFTypeRef value) { return value ? CFOwned(plist_copy(value)) : CFOwned(); }
