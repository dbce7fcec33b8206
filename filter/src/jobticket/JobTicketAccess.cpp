// Typed access to the job's CUPS options, each with the printer's default.
#include "jobticket/JobTicketAccess.h"

#include <cstring>
#include <strings.h>

#include "CommonUtil.h"

namespace {
const char *Option(const char *name, int num_options, cups_option_t *options) {
  return cupsGetOption(name, num_options, options);
}

// "true", "True" or "TRUE" at the start of the value.
bool IsTrue(const char *value) {
  return value && (!std::strncmp(value, "true", 4) || !std::strncmp(value, "True", 4) ||
                   !std::strncmp(value, "TRUE", 4));
}

bool BeginsWith(const char *value, const char *prefix) {
  return value && !std::strncmp(value, prefix, std::strlen(prefix));
}

int OptionBool(const char *name, int num_options, cups_option_t *options) {
  return IsTrue(Option(name, num_options, options)) ? 1 : 0;
}

// Front and back covers share their values.
int CoverPage(const char *flag, const char *choice, int num_options, cups_option_t *options) {
  if (!OptionBool(flag, num_options, options)) return 0;
  const char *value = Option(choice, num_options, options);
  if (BeginsWith(value, "Off")) return 0;
  if (BeginsWith(value, "BlankPrinter")) return 1;
  if (BeginsWith(value, "PrintedSingle")) return 2;
  if (BeginsWith(value, "PrintedDouble")) return 3;
  return 0;
}

// Digits after position start, up to the end, a "." or an "x".
int32_t DimensionAt(const char *start) {
  char digits[2048] = {};
  size_t n = 0;
  while (start[n] && start[n] != '.' && start[n] != 'x' && n < sizeof digits - 1) {
    digits[n] = start[n];
    ++n;
  }
  return str2num(digits);
}
}  // namespace

int bGetRotate180(int num_options, cups_option_t *options) {
  return OptionBool("Rotate180", num_options, options);
}

int bGetLayoutNup(int num_options, cups_option_t *options) {
  return OptionBool("com.apple.print.PrintSettings.PMLayoutNUp..b.", num_options, options);
}

int iGetNupOrder(int num_options, cups_option_t *options) {
  const char *value =
      Option("com.apple.print.PrintSettings.PMLayoutDirection..n.", num_options, options);
  if (!value) return 1;
  static const int kOrder[] = {1, 1, 3, 1, 5, 6};
  int32_t n = str2num(value);
  return (n >= 1 && n <= 6) ? kOrder[n - 1] : 1;
}

int iGetNupFaces(int num_options, cups_option_t *options) {
  const char *rows = Option("com.apple.print.PrintSettings.PMLayoutRows..n.", num_options, options);
  const char *columns =
      Option("com.apple.print.PrintSettings.PMLayoutColumns..n.", num_options, options);
  if (!rows || !columns) return 1;
  int64_t r = str2num(rows), c = str2num(columns);
  // No faces, or more than 32 bits hold, cannot be laid out: print 1-up.
  if (r < 1 || c < 1) return 1;
  int64_t faces = r * c;
  if (faces > INT32_MAX) return 1;
  return static_cast<int>(faces);
}

int iGetOrient(int num_options, cups_option_t *options) {
  bool older = SystemOlderThan105();
  const char *value = Option(older ? "VTDocumentOrientation"
                                   : "com.apple.print.subTicket.page_format_ticket..d.com.apple."
                                     "print.PageFormat.PMOrientation..n.",
                             num_options, options);
  int result = 1;
  if (value) {
    if (!strcasecmp(value, "2"))
      result = 2;
    else if (!strcasecmp(value, "4"))
      result = 4;
  } else if (const char *ipp = Option("orientation-requested", num_options, options)) {
    if (!strcmp(ipp, "4"))
      result = 2;
    else if (!strcmp(ipp, "5"))
      result = 4;
    else if (!strcmp(ipp, "6"))
      result = 3;
  }
  if (!older && iGetNupFaces(num_options, options) > 1) result = 1;
  return result;
}

int iGetBooklet(int num_options, cups_option_t *options) {
  const char *value = Option("VTDuplex", num_options, options);
  if (BeginsWith(value, "BookletL")) return 2;
  if (BeginsWith(value, "BookletR")) return 1;
  if (BeginsWith(value, "BookletU")) return 4;
  if (BeginsWith(value, "BookletD")) return 3;
  return 0;
}

int iGetPoster(int num_options, cups_option_t *options) {
  const char *value = Option("Combination", num_options, options);
  if (BeginsWith(value, "2x2")) return 2;
  if (BeginsWith(value, "3x3")) return 3;
  if (BeginsWith(value, "4x4")) return 4;
  if (BeginsWith(value, "1x2")) return 1;
  return 0;
}

int iGetFrontCoverPage(int num_options, cups_option_t *options) {
  return CoverPage("FrontCoverPage", "FrontCoverOption", num_options, options);
}

int iGetBackCoverPage(int num_options, cups_option_t *options) {
  return CoverPage("BackCoverPage", "BackCoverOption", num_options, options);
}

int iGetTransparencyInterleave(int num_options, cups_option_t *options) {
  if (!OptionBool("OHPInterleave", num_options, options)) return 0;
  const char *value = Option("OHPInterOption", num_options, options);
  if (BeginsWith(value, "Off")) return 0;
  if (BeginsWith(value, "BlankPrinter")) return 1;
  if (BeginsWith(value, "PrintedSingle")) return 2;
  return 0;
}

int iGetBeginPages(int num_options, cups_option_t *options) {
  const char *value =
      Option("com.apple.print.PrintSettings.PMTotalBeginPages..n.", num_options, options);
  return value ? str2num(value) : 0;
}

int iGetDuplex(int num_options, cups_option_t *options) {
  const char *duplex = Option("VTDuplex", num_options, options);
  const char *binding = Option("Binding", num_options, options);
  if (!duplex || !binding) return 1;
  if (BeginsWith(duplex, "Single")) return 1;
  return BeginsWith(binding, "Long") ? 2 : 3;
}

int iGetPMBorderLine(int num_options, cups_option_t *options) {
  if (!OptionBool("com.apple.print.PrintSettings.PMBorder..b.", num_options, options)) return 0;
  const char *value =
      Option("com.apple.print.PrintSettings.PMBorderType..n.", num_options, options);
  if (!value) return 0;
  int32_t type = str2num(value);
  return (type >= 0 && type <= 4) ? type : 0;
}

int bGetBorderLine(int num_options, cups_option_t *options) {
  return OptionBool("VTBorderLine", num_options, options);
}

int bGetWakeOnLan(int num_options, cups_option_t *options) {
  return OptionBool("WoLEnable", num_options, options);
}

int bGetCustomPaperSize(int num_options, cups_option_t *options) {
  const char *value = Option("media", num_options, options);
  return (value && std::strstr(value, "Custom.")) ? 1 : 0;
}

CustomPaperSize sGetCustomPaperSize(int num_options, cups_option_t *options) {
  CustomPaperSize size{0, 0};
  const char *value = Option("media", num_options, options);
  if (!value) return size;
  if (const char *custom = std::strstr(value, "Custom."))
    size.width = DimensionAt(custom + std::strlen("Custom."));
  if (const char *x = std::strchr(value, 'x')) size.height = DimensionAt(x + 1);
  return size;
}

int bSpoolSetting(int num_options, cups_option_t *options) {
  return (iGetBooklet(num_options, options) || iGetPoster(num_options, options) ||
          iGetFrontCoverPage(num_options, options) || iGetBackCoverPage(num_options, options) ||
          iGetTransparencyInterleave(num_options, options))
             ? 1
             : 0;
}

int bNeedToAddEmptyPageWithBackCoverPage(int num_options, cups_option_t *options) {
  int duplex = iGetDuplex(num_options, options);
  if (duplex != 2 && duplex != 3) return 0;
  int64_t pages = iGetBeginPages(num_options, options);
  int front = iGetFrontCoverPage(num_options, options);
  int back = iGetBackCoverPage(num_options, options);
  pages -= front == 2 ? 1 : front == 3 ? 2 : 0;
  pages -= back == 2 ? 1 : back == 3 ? 2 : 0;
  if (pages < 1) return 0;
  int64_t faces = iGetNupFaces(num_options, options);  // 1 or more
  int64_t sides = pages / faces + (pages % faces ? 1 : 0);
  return (sides % 2) ? 1 : 0;
}
