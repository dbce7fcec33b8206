// A small property-list value layer standing in for the CoreFoundation types
// the driver uses (dictionaries, arrays, strings, numbers, booleans, URLs),
// built over libplist. Values are nodes of a libplist tree.
//
// Ownership follows the CoreFoundation rule: a function whose name holds
// "Create" returns a CFOwned the caller keeps (RAII: released when it goes
// out of scope); every other function returns a borrowed CFTypeRef that lives
// as long as the tree it belongs to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

typedef void *plist_t;

using CFTypeRef = plist_t;  // borrowed node, or nullptr for "none"

struct CFReleaser {
  void operator()(plist_t node) const;
};
using CFOwned = std::unique_ptr<void, CFReleaser>;

// Type codes of the typed dictionary lookups.
enum CFTypeCode : int {
  kCFTypeAny = 0,
  kCFTypeDictionary = 1,
  kCFTypeArray = 2,
  kCFTypeString = 3,
  kCFTypeURL = 4,
  kCFTypeNumber = 5,
  kCFTypeBoolean = 6,
  kCFTypeData = 7,   // not a lookup code: reported by CFGetTypeCode only
  kCFTypeOther = 8,  // dates and anything else
};

// The type code of a node (kCFTypeOther for none). A property list has no URL
// type, so no node read from a file is a URL: a lookup asking for code 4
// finds nothing, as CoreFoundation's would for a parsed list.
int CFGetTypeCode(CFTypeRef value);

// Parses XML or binary property-list bytes; none when they do not parse.
CFOwned CFPropertyListCreateWithData(const void *bytes, size_t length);
// Serialises a value as an XML property list; false when it cannot.
bool CFPropertyListCreateXMLData(CFTypeRef value, std::string &xmlOut);

// Value constructors (owned), mostly for callers that build lists.
CFOwned CFDictionaryCreateMutable();
CFOwned CFArrayCreateMutable();
CFOwned CFStringCreateWithUTF8(const char *text);
CFOwned CFNumberCreateInt64(int64_t number);
CFOwned CFBooleanCreate(bool value);
// Inserts (takes ownership of) value under key; false if dict is no dictionary.
bool CFDictionarySetValue(CFTypeRef dict, const char *key, CFOwned value);
bool CFArrayAppendValue(CFTypeRef array, CFOwned value);

// Dictionaries.
size_t CFDictionaryGetCount(CFTypeRef dict);
CFTypeRef CFDictionaryGetValue(CFTypeRef dict, const char *key);
// Visits the entries in the order the file gave them. The callback returns
// false to stop.
void CFDictionaryForEach(
    CFTypeRef dict,
    const std::function<bool(const std::string &key, CFTypeRef value)> &visit);

// Arrays.
size_t CFArrayGetCount(CFTypeRef array);
CFTypeRef CFArrayGetValueAtIndex(CFTypeRef array, size_t index);

// Scalars. Each returns false (and leaves the out-value alone) when the node
// is not of the type asked for.
bool CFStringGetUTF8(CFTypeRef string, std::string &out);
bool CFNumberGetInt64(CFTypeRef number, int64_t &out);     // reals truncate
bool CFNumberGetDouble(CFTypeRef number, double &out);
bool CFBooleanGetValue(CFTypeRef boolean, bool &out);
bool CFDataGetBytes(CFTypeRef data, std::string &out);

// Deep copy (retain in CoreFoundation terms: the copy belongs to the caller).
CFOwned CFCopy(CFTypeRef value);

