// Option values as the PJL header wants them: the one accessor through which
// every template argument is fetched. It joins values split over numbered
// options (Name#01, Name#02, ...), composes the job name (Unicode NFC), joins
// the page-number list, and turns the hexadecimal job-ticket values the print
// dialog sends back into bytes or normalised hexadecimal, as the
// customisation table's encoding lists say.
#pragma once

#include <cups/cups.h>

#include <cstdint>

#include "plistAccess.h"

#define VT_ENCODED_VALUE_MAX 1027  // value bytes a record holds, NUL not counted

// Encoding types of a fetched value.
enum EncodedOptionType : int32_t {
  kEncodedPlain = 0,   // the option's text as given
  kEncodedHex = 1,     // decoded from hexadecimal, a text up to its first zero byte
  kEncodedDes = 2,     // decoded from hexadecimal, binary (zero bytes count)
  kEncodedAes = 3,     // hexadecimal re-emitted in upper case
};

// One fetched template argument. Zero-filled by the caller before use.
struct EncodedOptionValue {
  int32_t encodingType;
  int32_t length;  // bytes of value the template filling copies
  char value[VT_ENCODED_VALUE_MAX + 1];
};

// True when a value for the option was found and stored in *record. A value
// that cannot be stored whole (too long, or malformed hexadecimal for an
// encoded option) counts as not found and is logged with the option's name.
int bWrappedCupsGetOption(PsPjlTables *table, const char *optionName, int num_options,
                          cups_option_t *options, EncodedOptionValue *record);

// 1 when the option is listed in the table's encode-type, DES-type or
// AES-type list (exact, case-sensitive), else 0.
int bEncodeType(const PsPjlTables *table, const char *optionName);
int bEncodeDesType(const PsPjlTables *table, const char *optionName);
int bEncodeAesType(const PsPjlTables *table, const char *optionName);

// Writes the record's length / 2 bytes from `bytes` as upper-case hexadecimal
// digit pairs into its value, then a zero byte. The record's length must be
// at most VT_ENCODED_VALUE_MAX.
void vHex2Ascii(EncodedOptionValue *record, const unsigned char *bytes);
