// Job options as CUPS hands them to the filter, brought into the form the
// job ticket reads.
//
// A print dialog on Linux offers the job ticket through the PPD: the
// secure-print PIN and the stamp text are PPD custom options, which CUPS
// passes on as "Custom.TEXT" or "{Param=TEXT}" (the forms libcups's
// ppdMarkOption reads). The customisation table, written for the original
// platform's dialog, expects the bare text, and for the options it lists as
// encoded the text as hexadecimal. The job's user and title stand in for the
// login and job name that only the original dialog sends as options.
#include "job/CupsJobOptions.h"

#include <strings.h>

#include <cstring>
#include <string>

#include "output/Filter_Debug.h"
#include "jobticket/JobTicketEncode.h"

namespace {

constexpr const char *kLoginNameOption = "jp.vantora.printers.loginName";
constexpr const char *kJobOwnerOption = "com.apple.print.JobInfo.PMJobOwner";
constexpr const char *kJobNameOption = "com.apple.print.JobInfo.PMJobName";
constexpr const char *kOutputMethodOption = "OutputMethod";
constexpr const char *kSecureMethod = "Secure";
constexpr const char *kSecurePinOption = "VTSecurePIN";
// The printer's panel takes a PIN of 4 to 8 digits.
constexpr size_t kSecurePinMin = 4;
constexpr size_t kSecurePinMax = 8;

// The option, or its split form Name#01, ... that the job ticket joins.
bool bHasOption(const char *name, int num_options, cups_option_t *options) {
  if (cupsGetOption(name, num_options, options)) return true;
  std::string first = std::string(name) + "#01";
  const char *part = cupsGetOption(first.c_str(), num_options, options);
  return part && *part;
}

// Titles CUPS and its clients give a job that has none of its own.
bool bIsPlaceholderTitle(const char *title) {
  static const char *const kPlaceholders[] = {"(stdin)", "Untitled"};
  if (!title || !*title) return true;
  for (const char *placeholder : kPlaceholders)
    if (std::strcmp(title, placeholder) == 0) return true;
  return false;
}

bool bAllDigits(const std::string &text) {
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

std::string UpperHex(const std::string &text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(text.size() * 2);
  for (unsigned char c : text) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 0x0F];
  }
  return hex;
}

// The parameter text of a custom value in either form CUPS passes on; false
// when the value names no parameter of the option. Options with several
// parameters are not offered by the family's PPD: the first one counts.
bool bCustomText(ppd_coption_t *coption, const char *value, ppd_cparam_t **param,
                 std::string &text) {
  *param = static_cast<ppd_cparam_t *>(cupsArrayFirst(coption->params));
  if (!*param) return false;
  if (!strncasecmp(value, "Custom.", 7)) {
    text = value + 7;
    return true;
  }
  cups_option_t *values = nullptr;
  int count = cupsParseOptions(value, 0, &values);
  const char *found = cupsGetOption((*param)->name, count, values);
  if (found) text = found;
  cupsFreeOptions(count, values);
  return found != nullptr;
}

// Whether the text is one the PPD's parameter allows (the length limits of
// text parameters, digits for a passcode) and, for the secure-print PIN, 4
// to 8 digits whatever the PPD says.
bool bAllowed(const char *option, const ppd_cparam_t *param, const std::string &text) {
  switch (param->type) {
    case PPD_CUSTOM_PASSCODE:
      if (!bAllDigits(text)) return false;
      [[fallthrough]];
    case PPD_CUSTOM_PASSWORD:
    case PPD_CUSTOM_STRING:
      if (text.size() < static_cast<size_t>(param->minimum.custom_string) ||
          text.size() > static_cast<size_t>(param->maximum.custom_string))
        return false;
      break;
    default:
      break;
  }
  if (std::strcmp(option, kSecurePinOption) == 0)
    return text.size() >= kSecurePinMin && text.size() <= kSecurePinMax && bAllDigits(text);
  return true;
}

}  // namespace

void vAddJobIdentityOptions(const char *user, const char *title, int *num_options,
                            cups_option_t **options) {
  if (!num_options || !options) return;
  // The job owner option already stands in for a missing login name.
  if (user && *user && !bHasOption(kLoginNameOption, *num_options, *options) &&
      !bHasOption(kJobOwnerOption, *num_options, *options))
    *num_options = cupsAddOption(kLoginNameOption, user, *num_options, options);
  if (!bIsPlaceholderTitle(title) && !bHasOption(kJobNameOption, *num_options, *options))
    *num_options = cupsAddOption(kJobNameOption, title, *num_options, options);
}

bool bResolveCustomOptions(ppd_file_t *ppd, const PsPjlTables *table, int *num_options,
                           cups_option_t **options) {
  if (!num_options || !options) return false;
  for (int i = 0; ppd && i < *num_options; ++i) {
    // Copies: replacing or removing the option frees its strings.
    const std::string name = (*options)[i].name;
    const std::string value = (*options)[i].value;
    ppd_coption_t *coption = ppdFindCustomOption(ppd, name.c_str());
    if (!coption || !strcasecmp(name.c_str(), "PageSize")) continue;
    if (!strcasecmp(value.c_str(), "None")) {
      *num_options = cupsRemoveOption(name.c_str(), *num_options, options);
      --i;
      continue;
    }
    if (strncasecmp(value.c_str(), "Custom.", 7) != 0 && value[0] != '{') continue;

    ppd_cparam_t *param = nullptr;
    std::string text;
    if (!bCustomText(coption, value.c_str(), &param, text)) {
      vErrorMessage("%s: the custom value names no parameter of the option.", name.c_str());
      return false;
    }
    // The value itself is never logged: it may be a PIN.
    if (!bAllowed(name.c_str(), param, text)) {
      if (name == kSecurePinOption)
        vErrorMessage("%s: the secure-print PIN must be %zu to %zu digits.", name.c_str(),
                      kSecurePinMin, kSecurePinMax);
      else
        vErrorMessage("%s: the custom value is not one the printer's PPD allows.", name.c_str());
      return false;
    }
    if (table && bEncodeType(table, name.c_str())) text = UpperHex(text);
    *num_options = cupsAddOption(name.c_str(), text.c_str(), *num_options, options);
  }

  // A secure job without its PIN would print at once for anyone to take.
  const char *method = cupsGetOption(kOutputMethodOption, *num_options, *options);
  if (method && std::strcmp(method, kSecureMethod) == 0 &&
      !bHasOption(kSecurePinOption, *num_options, *options)) {
    vErrorMessage("%s: %s=%s needs a PIN; the job is not printed.", kSecurePinOption,
                  kOutputMethodOption, kSecureMethod);
    return false;
  }
  return true;
}
