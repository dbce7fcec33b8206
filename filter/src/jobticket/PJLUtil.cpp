// The PJL job header: for each PJL item of the customisation table, in the
// order of its serial, the job option named by the item selects a syntax
// element, whose template is filled with the values of further options and
// written. PS items use the same selection and filling when the scanner
// replaces a PPD feature block. Lines are composed in a fixed 2048-byte
// buffer; a line that would not fit is dropped, never cut.
#include "jobticket/PJLUtil.h"

#include <cstring>

#include "output/Filter_Debug.h"
#include "jobticket/JobTicketAccess.h"
#include "jobticket/JobTicketEncode.h"
#include "output/SpoolUtil.h"

namespace {

constexpr const char *kLoginNameOption = "jp.vantora.printers.loginName";
constexpr const char *kJobOwnerOption = "com.apple.print.JobInfo.PMJobOwner";
constexpr int kSerialLast = 999;

// The PJL item being written, for diagnostics; null for a feature block.
const char *gCurrentItem = nullptr;

const char *ItemLabel() { return gCurrentItem ? gCurrentItem : "feature replacement"; }

// The option value as the table compares it: "True" and "False" are written
// in lower case in the file; every other value is compared as it is.
const char *MapBooleanValue(const char *value) {
  if (std::strcmp(value, "True") == 0) return "true";
  if (std::strcmp(value, "False") == 0) return "false";
  return value;
}

// A fixed line buffer that refuses to grow past VT_PJL_LINE_MAX - 1 bytes.
struct LineBuffer {
  char bytes[VT_PJL_LINE_MAX] = {};
  size_t length = 0;
  bool overflow = false;

  void append(const char *data, size_t count) {
    if (overflow || count > VT_PJL_LINE_MAX - 1 - length) {
      overflow = true;
      return;
    }
    std::memcpy(bytes + length, data, count);
    length += count;
  }
};

// Fetches the arguments, fills the template and writes the line; 0 when the
// line was written, -1 when it was dropped.
int iComposeAndWrite(PsPjlTables *table, const char *templateText,
                     const char (*arguments)[VT_TEXT_SLOT], int argumentCount,
                     bool loginNameFallback, int num_options, cups_option_t *options, FILE *out) {
  if (argumentCount < 0 || !arguments) argumentCount = 0;
  if (argumentCount > VT_PJL_ARGUMENTS_MAX) argumentCount = VT_PJL_ARGUMENTS_MAX;

  EncodedOptionValue values[VT_PJL_ARGUMENTS_MAX];
  for (int i = 0; i < argumentCount; ++i) {
    if (bWrappedCupsGetOption(table, arguments[i], num_options, options, &values[i])) continue;
    if (loginNameFallback && std::strcmp(arguments[i], kLoginNameOption) == 0 &&
        bWrappedCupsGetOption(table, kJobOwnerOption, num_options, options, &values[i]))
      continue;
    vDebugMessage("[Filter] - %s: argument %s is not set, line dropped\n", ItemLabel(),
                  arguments[i]);
    return -1;
  }

  if (!templateText || !*templateText) return -1;
  size_t templateLength = std::strlen(templateText);
  if (templateLength > VT_TEMPLATE_MAX) return -1;  // the loader keeps none this long
  char converted[VT_TEMPLATE_MAX + 1];
  vSwapArgument(templateText, converted, static_cast<int>(templateLength));

  LineBuffer line;
  if (argumentCount > 0) {
    const char *rest = converted;
    bool insideQuotes = false;  // within a "..." field of the template's current line
    for (int i = 0; i < argumentCount; ++i) {
      const char *mark = rest;
      while ((mark = std::strstr(mark, "%s")) != nullptr && mark > converted && mark[-1] == '\\')
        ++mark;
      if (!mark) {
        vDebugMessage("[Filter] - %s: template has no place for argument %s, line dropped\n",
                      ItemLabel(), arguments[i]);
        return -1;
      }
      for (const char *p = rest; p < mark; ++p) {
        if (*p == '\n') insideQuotes = false;
        else if (*p == '"') insideQuotes = !insideQuotes;
      }
      if (!bSanitiseTicketValue(&values[i], insideQuotes)) {
        vDebugMessage("[Filter] - %s: value of %s holds PJL control bytes, line dropped\n",
                      ItemLabel(), arguments[i]);
        return -1;
      }
      line.append(rest, static_cast<size_t>(mark - rest));
      line.append(values[i].value, static_cast<size_t>(values[i].length));
      rest = mark + 2;
    }
    line.append(rest, std::strlen(rest));
  } else {
    // A template without arguments is text, not a format: "%%" is a
    // percent sign, everything else stands as written.
    for (const char *p = converted; *p; ++p) {
      line.append(p, 1);
      if (p[0] == '%' && p[1] == '%') ++p;
    }
  }
  if (line.overflow) {
    vDebugMessage("[Filter] - %s: line exceeds %d bytes, dropped\n", ItemLabel(),
                  VT_PJL_LINE_MAX - 1);
    return -1;
  }
  // Written by its length: a DES-type value may hold zero bytes.
  vWrappedFwrite(line.bytes, 1, line.length, out, bSpoolSetting(num_options, options));
  return 0;
}

}  // namespace

void vSwapArgument(const char *templateText, char *out, int templateLength) {
  if (!out) return;
  int o = 0;
  if (templateText) {
    for (int i = 0; i < templateLength;) {
      char c = templateText[i];
      auto isDigit = [&](int at) {
        return at < templateLength && templateText[at] >= '0' && templateText[at] <= '9';
      };
      if (c == '\\' && i + 1 < templateLength && templateText[i + 1] == 'n') {
        out[o++] = '\n';
        i += 2;
      } else if (c == '%' && (i == 0 || templateText[i - 1] != '%') && isDigit(i + 1)) {
        out[o++] = '%';
        out[o++] = 's';
        i += isDigit(i + 2) ? 3 : 2;
      } else {
        out[o++] = c;
        ++i;
      }
    }
  }
  out[o] = '\0';
}

int iCreatePjlGeneral(PsPjlTables *table, SyntaxElement *element, int num_options,
                      cups_option_t *options, FILE *out, int argumentCount) {
  if (!element) return -1;
  if (argumentCount > element->count) argumentCount = element->count;
  return iComposeAndWrite(table, element->templateText, element->arguments, argumentCount, true,
                          num_options, options, out);
}

int iCreateComplexPjlGeneral(PsPjlTables *table, ComplexItem *item, int num_options,
                             cups_option_t *options, FILE *out, int argumentCount) {
  if (!item) return -1;
  if (argumentCount > item->argumentCount) argumentCount = item->argumentCount;
  return iComposeAndWrite(table, item->templateText, item->arguments, argumentCount, false,
                          num_options, options, out);
}

int iCreatePjlDetail(PsPjlTables *table, int syntaxCount, const char *optionValue,
                     SyntaxElement *first, int num_options, cups_option_t *options, FILE *out) {
  if (syntaxCount < 1 || !first || !optionValue) return -1;
  // A single element is written whatever the option's value.
  if (syntaxCount == 1)
    return iCreatePjlGeneral(table, first, num_options, options, out, first->count);

  const char *value = MapBooleanValue(optionValue);
  int result = -1;
  int walked = 0;
  for (SyntaxElement *element = first; element && walked < syntaxCount;
       element = element->next, ++walked) {
    if (std::strcmp(element->value, value) != 0) continue;
    if (element->templateText) {
      result = iCreatePjlGeneral(table, element, num_options, options, out, element->count);
      continue;
    }
    // A complex element: the first complex item whose own option has its
    // value is written.
    for (int32_t i = 0; element->complexItems && i < element->count; ++i) {
      ComplexItem *item = &element->complexItems[i];
      const char *itemValue = cupsGetOption(item->item, num_options, options);
      if (!itemValue || std::strcmp(item->value, MapBooleanValue(itemValue)) != 0) continue;
      result = iCreateComplexPjlGeneral(table, item, num_options, options, out,
                                        item->argumentCount);
      break;
    }
  }
  return result;
}

void WritePJLHeader_TypeGeneral(char **, int num_options, cups_option_t *options, FILE *out,
                                PsPjlTables *table) {
  if (!table || !table->pjlItems) return;
  for (int serial = 0; serial <= kSerialLast; ++serial) {
    for (int32_t i = 0; i < table->pjlCount; ++i) {
      PdlEntry *entry = &table->pjlItems[i];
      if (entry->serial != serial) continue;
      const char *value = cupsGetOption(entry->name, num_options, options);
      if (!value) continue;
      gCurrentItem = entry->name;
      iCreatePjlDetail(table, entry->syntaxCount, value, entry->syntaxList, num_options, options,
                       out);
      gCurrentItem = nullptr;
    }
  }
}
