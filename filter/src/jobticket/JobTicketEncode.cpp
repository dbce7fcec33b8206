// Option value encoding for the PJL header: every template argument is
// fetched here, joined, composed or decoded, and handed to the header writer
// in an EncodedOptionValue. A value is stored whole or refused: nothing is
// cut, and a refused value drops its PJL line like a missing option.
#include "jobticket/JobTicketEncode.h"

#include <utf8proc.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "CommonUtil.h"
#include "output/Filter_Debug.h"

namespace {

constexpr size_t kSplitValueMax = 4095;   // a value joined from Name#01, Name#02, ...
constexpr size_t kPageListMax = 2047;     // the joined PageNumber_1, PageNumber_2, ... list
constexpr size_t kJobNameMax = 1024;      // the composed job name
constexpr size_t kAesScratch = 1025;      // decoded bytes of an AES-type value, NUL included
constexpr const char *kJobNameOption = "com.apple.print.JobInfo.PMJobName";

// True when the option name is one of count 1025-byte slots.
int bListed(const char (*names)[VT_TEXT_SLOT], int32_t count, const char *optionName) {
  if (!names || !optionName || count < 1) return 0;
  size_t length = std::strlen(optionName);
  for (int32_t i = 0; i < count; ++i) {
    if (std::strlen(names[i]) == length && std::memcmp(names[i], optionName, length) == 0)
      return 1;
  }
  return 0;
}

// The option's value, or the values of its split form Name#01, Name#02, ...
// joined up to the first missing or empty one. False when neither is there
// or the joined value is too long to be used whole.
bool bGetJoinedOption(const char *optionName, int num_options, cups_option_t *options,
                      std::string &value) {
  if (const char *whole = cupsGetOption(optionName, num_options, options)) {
    value = whole;
    return true;
  }
  std::string joined;
  char number[16];
  for (int n = 1; n <= num_options; ++n) {
    std::snprintf(number, sizeof number, "#%02d", n);
    std::string splitName = std::string(optionName) + number;
    const char *part = cupsGetOption(splitName.c_str(), num_options, options);
    if (!part || !*part) break;
    joined += part;
    if (joined.size() > kSplitValueMax) {
      vDebugMessage("[Filter] - %s: joined value exceeds %zu bytes, not used\n", optionName,
                    kSplitValueMax);
      return false;
    }
  }
  if (joined.empty()) return false;
  value = std::move(joined);
  return true;
}

// The job name in Unicode normalisation form C. The value stays as it is
// when it is not valid UTF-8 or the composed text would not fit.
void vComposeJobName(std::string &value) {
  utf8proc_uint8_t *composed =
      utf8proc_NFC(reinterpret_cast<const utf8proc_uint8_t *>(value.c_str()));
  if (!composed) return;
  size_t length = std::strlen(reinterpret_cast<char *>(composed));
  if (length <= kJobNameMax) value.assign(reinterpret_cast<char *>(composed), length);
  std::free(composed);
}

// The page-number list "PageNumber_1,PageNumber_2,..." for PageNumberCount
// entries. False when the count is missing or below 1, an entry is missing,
// or the list would be too long.
bool bGetPageNumberList(int num_options, cups_option_t *options, std::string &list) {
  const char *countText = cupsGetOption("PageNumberCount", num_options, options);
  if (!countText) return false;
  int16_t count = static_cast<int16_t>(str2num(countText) & 0xFFFF);
  if (count < 1) return false;
  list.clear();
  char name[32];
  for (int i = 1; i <= count; ++i) {
    std::snprintf(name, sizeof name, "PageNumber_%d", i);
    const char *entry = cupsGetOption(name, num_options, options);
    if (!entry) return false;
    if (i > 1) list += ',';
    list += entry;
    if (list.size() > kPageListMax) {
      vDebugMessage("[Filter] - PageNumber: page list exceeds %zu bytes, not used\n", kPageListMax);
      return false;
    }
  }
  return true;
}

// Upper-cases hexadecimal text; false when it has an odd length or a
// character that is not a hexadecimal digit.
bool bNormaliseHex(const std::string &text, std::string &upper) {
  if (text.size() % 2 != 0) return false;
  upper.resize(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    upper[i] = c;
  }
  return true;
}

bool bRefuse(const char *optionName, const char *why, size_t length) {
  vDebugMessage("[Filter] - %s: %s (%zu bytes), line dropped\n", optionName, why, length);
  return false;
}

// Decodes the hexadecimal value of an option in the encode-type list into
// the record, as DES-type bytes, AES-type hexadecimal or a plain text.
bool bStoreEncoded(const PsPjlTables *table, const char *optionName, const std::string &text,
                   EncodedOptionValue *record) {
  std::string hex;
  if (!bNormaliseHex(text, hex)) return bRefuse(optionName, "value is not hexadecimal", text.size());
  const int hexLength = static_cast<int>(hex.size());
  auto *out = reinterpret_cast<unsigned char *>(record->value);
  if (bEncodeDesType(table, optionName)) {
    if (hex.size() / 2 > VT_ENCODED_VALUE_MAX) return bRefuse(optionName, "value too long", hex.size());
    VTCStringDecode(hex.data(), out, hexLength);
    record->encodingType = kEncodedDes;
    record->length = hexLength / 2;
    return true;
  }
  if (bEncodeAesType(table, optionName)) {
    if (hex.size() / 2 + 1 > kAesScratch || hex.size() > VT_ENCODED_VALUE_MAX)
      return bRefuse(optionName, "value too long", hex.size());
    unsigned char scratch[kAesScratch] = {};
    VTCStringDecode(hex.data(), scratch, hexLength);
    record->encodingType = kEncodedAes;
    record->length = hexLength;
    vHex2Ascii(record, scratch);
    return true;
  }
  if (hex.size() / 2 > VT_ENCODED_VALUE_MAX) return bRefuse(optionName, "value too long", hex.size());
  int decoded = VTCStringDecode(hex.data(), out, hexLength);
  record->encodingType = kEncodedHex;
  record->length = static_cast<int32_t>(strnlen(record->value, static_cast<size_t>(decoded)));
  return true;
}

constexpr char kUel[] = "\x1b%-12345X";

bool bHolds(const char *bytes, size_t length, const char *needle, size_t needleLength) {
  if (needleLength == 0 || length < needleLength) return false;
  for (size_t i = 0; i + needleLength <= length; ++i)
    if (std::memcmp(bytes + i, needle, needleLength) == 0) return true;
  return false;
}

// True when a decoded binary value could end the PJL line or the PJL job:
// it holds the universal exit language or a line feed (alone or after a
// carriage return; the printer ends a PJL command at either, so such a
// value could never reach it whole anyway).
bool bBinaryBreaksPjl(const char *bytes, size_t length) {
  return bHolds(bytes, length, kUel, sizeof kUel - 1) || std::memchr(bytes, '\n', length);
}

}  // namespace

bool bSanitiseTicketValue(EncodedOptionValue *record, bool insideQuotes) {
  if (!record) return false;
  int32_t length = record->length;
  if (length < 0) length = 0;
  if (length > VT_ENCODED_VALUE_MAX) length = VT_ENCODED_VALUE_MAX;
  if (record->encodingType == kEncodedDes)
    return !bBinaryBreaksPjl(record->value, static_cast<size_t>(length));
  for (int32_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(record->value[i]);
    if (c < 0x20 || c == 0x7F) record->value[i] = ' ';
    else if (insideQuotes && c == '"') record->value[i] = '\'';
  }
  return true;
}

bool bJobTicketValuesUsable(const PsPjlTables *table, int num_options, cups_option_t *options) {
  if (!table) return true;
  const struct {
    const char (*names)[VT_TEXT_SLOT];
    int32_t count;
  } lists[] = {{table->encodeTypeNames, table->encodeTypeCount},
               {table->desTypeNames, table->desTypeCount},
               {table->aesTypeNames, table->aesTypeCount}};
  for (const auto &list : lists) {
    for (int32_t i = 0; list.names && i < list.count; ++i) {
      const char *name = list.names[i];
      if (!*name) continue;
      std::string value;
      if (!bGetJoinedOption(name, num_options, options, value)) continue;
      std::string hex;
      if (!bNormaliseHex(value, hex)) {
        vErrorMessage("job ticket option %s is not even-length hexadecimal.", name);
        return false;
      }
      // The longest text a record takes: as bytes (two digits each), as
      // upper-case digits (AES), or as plain text when not listed as encoded.
      const bool encoded = bEncodeType(table, name) != 0;
      const bool des = encoded && bEncodeDesType(table, name);
      const size_t longest = encoded && !des && bEncodeAesType(table, name) ? VT_ENCODED_VALUE_MAX
                             : encoded ? 2 * VT_ENCODED_VALUE_MAX
                                       : VT_ENCODED_VALUE_MAX;
      if (hex.size() > longest) {
        vErrorMessage("job ticket option %s is too long (%zu characters).", name, hex.size());
        return false;
      }
      if (des) {
        unsigned char bytes[VT_ENCODED_VALUE_MAX + 1] = {};
        VTCStringDecode(hex.data(), bytes, static_cast<int>(hex.size()));
        if (bBinaryBreaksPjl(reinterpret_cast<const char *>(bytes), hex.size() / 2)) {
          vErrorMessage("job ticket option %s holds PJL control bytes.", name);
          return false;
        }
      }
    }
  }
  return true;
}

int bEncodeType(const PsPjlTables *table, const char *optionName) {
  return table ? bListed(table->encodeTypeNames, table->encodeTypeCount, optionName) : 0;
}

int bEncodeDesType(const PsPjlTables *table, const char *optionName) {
  return table ? bListed(table->desTypeNames, table->desTypeCount, optionName) : 0;
}

int bEncodeAesType(const PsPjlTables *table, const char *optionName) {
  return table ? bListed(table->aesTypeNames, table->aesTypeCount, optionName) : 0;
}

void vHex2Ascii(EncodedOptionValue *record, const unsigned char *bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  if (!record || !bytes) return;
  int32_t length = record->length;
  if (length < 0) length = 0;
  if (length > VT_ENCODED_VALUE_MAX) length = VT_ENCODED_VALUE_MAX;
  int32_t pairs = length / 2;
  for (int32_t i = 0; i < pairs; ++i) {
    record->value[2 * i] = kDigits[bytes[i] >> 4];
    record->value[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  record->value[2 * pairs] = '\0';
}

int bWrappedCupsGetOption(PsPjlTables *table, const char *optionName, int num_options,
                          cups_option_t *options, EncodedOptionValue *record) {
  if (!optionName || !record) return 0;
  std::memset(record, 0, sizeof *record);

  std::string value;
  bool found = bGetJoinedOption(optionName, num_options, options, value);
  if (found && std::strcmp(optionName, kJobNameOption) == 0) vComposeJobName(value);

  bool pageList = false;
  if (!found) {
    if (std::strcmp(optionName, "PageNumber") != 0) return 0;
    if (!bGetPageNumberList(num_options, options, value)) return 0;
    pageList = true;
  }

  if (!pageList && bEncodeType(table, optionName))
    return bStoreEncoded(table, optionName, value, record) ? 1 : 0;

  if (value.size() > VT_ENCODED_VALUE_MAX) return bRefuse(optionName, "value too long", value.size());
  std::memcpy(record->value, value.data(), value.size());
  record->value[value.size()] = '\0';
  record->encodingType = kEncodedPlain;
  record->length = static_cast<int32_t>(value.size());
  return 1;
}
