// The filter's diagnostic sink: CUPS's message lines on standard error.
#include "output/Filter_Debug.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {
bool gDiagnosticsEnabled = true;

// Formats the message, drops the line ends and trailing blanks the call
// sites carry, and writes it as one prefixed line in a single write, so
// lines stay whole.
void WriteLine(const char *prefix, const char *format, va_list args) {
  if (!gDiagnosticsEnabled || !format) return;
  char text[2048];
  int n = std::vsnprintf(text, sizeof text, format, args);
  if (n < 0) return;
  size_t len = std::strlen(text);
  while (len > 0 && (text[len - 1] == '\n' || text[len - 1] == '\r' || text[len - 1] == ' '))
    text[--len] = '\0';
  // Embedded line ends would start lines CUPS cannot attribute.
  for (size_t i = 0; i < len; ++i)
    if (text[i] == '\n' || text[i] == '\r') text[i] = ' ';
  std::fprintf(stderr, "%s%s\n", prefix, text);
  std::fflush(stderr);
}
}  // namespace

void vDebugMessage(const char *format, ...) {
  va_list args;
  va_start(args, format);
  WriteLine("DEBUG: ", format, args);
  va_end(args);
}

void vErrorMessage(const char *format, ...) {
  va_list args;
  va_start(args, format);
  WriteLine("ERROR: ", format, args);
  va_end(args);
}

void vProgressPage(int pageNumber) {
  if (!gDiagnosticsEnabled) return;
  std::fprintf(stderr, "PAGE: %d 1\nATTR: job-impressions-completed=%d\n", pageNumber,
               pageNumber);
  std::fflush(stderr);
}

void vSetDiagnosticsEnabled(bool enabled) { gDiagnosticsEnabled = enabled; }
