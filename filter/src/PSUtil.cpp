// The line reader of the line pass and the matching of PPD feature blocks
// that the customisation table replaces.
#include "PSUtil.h"

#include <cups/cups.h>

#include <cstring>

#include "PJLUtil.h"
#include "plistAccess.h"

char *psgets(char *buffer, int *length, FILE *stream) {
  if (!length) return nullptr;
  int capacity = *length;
  if (!buffer || !stream || capacity - 1 <= 0) {
    if (buffer && capacity > 0) buffer[0] = '\0';
    *length = 0;
    return nullptr;
  }
  const int room = capacity - 1;
  int stored = 0;
  int terminator = EOF;  // LF or CR that ended the line, stored below
  bool atEnd = false;
  while (stored < room) {
    int c = getc_unlocked(stream);
    if (c == EOF) {
      atEnd = true;
      break;
    }
    if (c == '\n') {
      terminator = '\n';
      break;
    }
    if (c == '\r') {
      int next = getc_unlocked(stream);
      if (next != '\n' && next != EOF) {
        ungetc(next, stream);
        terminator = '\r';
        break;
      }
      buffer[stored++] = '\r';
      if (next == '\n')
        terminator = '\n';
      else
        atEnd = true;
      break;
    }
    buffer[stored++] = static_cast<char>(c);
  }
  if (terminator != EOF) {
    if (stored < room)
      buffer[stored++] = static_cast<char>(terminator);
    else
      ungetc(terminator, stream);  // starts the next line
  }
  buffer[stored] = '\0';
  *length = stored;
  if (atEnd && stored == 0) return nullptr;
  return buffer;
}

int bJudgementPsDscEntries(const char *line, char *featureKeywordBuffer,
                           const PsPjlTables *table) {
  if (!line || !featureKeywordBuffer || !table || !table->psItems) return 0;
  for (int i = 0; i < table->psCount; ++i) {
    const PdlEntry &item = table->psItems[i];
    // The trailing blank keeps *PageSize from matching *PageSizeExtra.
    char pattern[VT_TEXT_SLOT + 2] = {};
    std::snprintf(pattern, sizeof pattern, "*%.1024s ", item.dscText);
    if (std::strstr(line, pattern)) {
      size_t n = strnlen(item.dscText, VT_TEXT_SLOT - 1);
      std::memcpy(featureKeywordBuffer, item.dscText, n);
      featureKeywordBuffer[n] = '\0';
      return 1;
    }
  }
  return 0;
}

int iWritePS_DscEntry(int num_options, cups_option_s *options, FILE *out,
                      const char *featureKeywordBuffer, PsPjlTables *table) {
  int result = -1;
  if (!featureKeywordBuffer || !table || !table->psItems) return result;
  for (int i = 0; i < table->psCount; ++i) {
    PdlEntry &item = table->psItems[i];
    if (std::strncmp(item.dscText, featureKeywordBuffer, VT_TEXT_SLOT) != 0) continue;
    const char *value = cupsGetOption(item.name, num_options, options);
    if (!value) return result;
    result = iCreatePjlDetail(table, item.syntaxCount, value, item.syntaxList, num_options,
                              options, out);
  }
  return result;
}
