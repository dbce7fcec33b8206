// Option values as the PJL header wants them: the one accessor through which
// every template argument is fetched. It joins values split over numbered
// options (Name#01, Name#02, ...), composes the job name (Unicode NFC), joins
// the page-number list, and turns the hexadecimal job-ticket values the print
// dialog sends back into bytes or normalised hexadecimal, as the
// customisation table's encoding lists say.
#pragma once

#include <cups/cups.h>

#include <cstdint>

#include "jobticket/plistAccess.h"

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

// Makes a fetched value safe to place into a line of the job ticket; every
// value, whatever its source, passes through here before it is placed. Text
// values (every type but kEncodedDes) keep printable characters only: line
// ends, every other control character and the escape that starts the
// universal exit language become spaces, and inside a quoted field ("...")
// a double quote becomes a single one, so no value can end its line, its
// field or the PJL job. A binary (kEncodedDes) value is not changed; false
// when it holds the universal exit language or a line feed (a CR LF pair or
// a lone one) and so must not be written at all.
bool bSanitiseTicketValue(EncodedOptionValue *record, bool insideQuotes);

// Checks, before anything of the job is written, every value the printer
// would take as a secret or an encoded ticket field: a value of an option in
// the encode-type, DES-type or AES-type list must be even-length
// hexadecimal that fits a record, and a DES-type value must not decode to
// bytes holding the universal exit language or a line feed. False, with an ERROR line
// naming the option, when one is not: the job must then not print (a
// confidential job without its hold would print at once).
bool bJobTicketValuesUsable(const PsPjlTables *table, int num_options, cups_option_t *options);

// Writes the record's length / 2 bytes from `bytes` as upper-case hexadecimal
// digit pairs into its value, then a zero byte. The record's length must be
// at most VT_ENCODED_VALUE_MAX.
void vHex2Ascii(EncodedOptionValue *record, const unsigned char *bytes);
