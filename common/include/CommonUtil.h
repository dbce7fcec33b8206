// Small helpers shared by the filter and the helper service: typed
// dictionary lookups, property-list files, the running system's version and
// its comparison, decimal and hexadecimal parsing of option values.
//
// Ownership: a function whose name holds "Create" returns a CFOwned the
// caller keeps; every other function returns a borrowed value.
#pragma once

#include <cstdint>

#include "CFValue.h"

// The value under key when it is of the type asked for (kCFType* codes 1 to
// 6); any other code accepts every type. None for a missing key, an empty or
// absent dictionary, or a value of another type.
CFTypeRef CFDictionaryGetValueWithType(CFTypeRef dict, const char *key, int typeCode);

// Stores the lookup's result (none included) in *value and says whether a
// value was found; false without storing when value is null.
bool CFDictionaryGetValueIfPresentWithType(CFTypeRef dict, const char *key, CFTypeRef *value,
                                           int typeCode);

// Reads and parses the property list (XML or binary) at a POSIX path; none
// when the file cannot be read or does not parse.
CFOwned CreateDictionaryFromPath(const char *path);

// "ProductVersion" of SystemVersion.plist, read once per process and kept;
// null when the file or the key is missing (also remembered: the version
// cannot change while a job runs).
const char *GetSystemVersionStr();

// Forgets the remembered version, so the next call reads the file again.
// Only tests need this.
void ResetSystemVersionCache();

// True when the remembered version is below 10.5.0 (a missing version counts
// as 10.5.0 or later). Decided once with the version and kept with it: the
// line pass asks on every line.
bool SystemOlderThan105();

// Compares the first three dot-separated components of two versions, digit
// runs numerically ("10" > "5", "05" == "5"); a missing component is "0".
// -1 when a is lower, 1 when higher, 0 when equal or either is null.
int CompareVersionStr(const char *a, const char *b);

// Decimal option value: optional leading "-", digits up to the first other
// character, 32-bit wrap-around; empty or non-numeric text gives 0.
int32_t str2num(const char *text);

// Decodes length hexadecimal characters (0-9, A-F) into length / 2 bytes at
// out, followed by a zero byte; returns the byte count. Returns 0 without
// writing for a null text or buffer or an odd length; a length of 0 or less
// writes just the zero byte. out must hold length / 2 + 1 bytes.
int VTCStringDecode(const char *text, unsigned char *out, int length);
