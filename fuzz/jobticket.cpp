// Fuzz target for the job ticket: arbitrary bytes as the customisation file
// (XML or binary property list) and arbitrary job options, through the table
// loader, the PJL header writer, the feature replacement and the option value
// encoding. Input: two bytes giving the length of the option text (little
// endian), the option text, then the property-list bytes.
#include <cups/cups.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "TicketFuzzRoot.h"
#include "output/Filter_Debug.h"
#include "jobticket/JobTicketEncode.h"
#include "jobticket/PJLUtil.h"
#include "jobticket/plistAccess.h"

namespace {
FILE *gSink = nullptr;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  vSetDiagnosticsEnabled(false);
  ticketfuzz::MakeRoot("ticket");
  gSink = std::fopen("/dev/null", "w");
  if (!gSink) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  size_t optionLength = data[0] | (static_cast<size_t>(data[1]) << 8);
  data += 2;
  size -= 2;
  if (optionLength > size) optionLength = size;
  std::string optionText(reinterpret_cast<const char *>(data), optionLength);
  data += optionLength;
  size -= optionLength;

  ticketfuzz::WriteFile(data, size);

  cups_option_t *options = nullptr;
  int count = cupsParseOptions(optionText.c_str(), 0, &options);

  PsPjlTables table{};
  if (ossFilterCreatePsPjlTables(&table, "Q610") == 0) {
    WritePJLHeader_TypeGeneral(nullptr, count, options, gSink, &table);
    for (int32_t i = 0; i < table.psCount; ++i) {
      const PdlEntry &item = table.psItems[i];
      const char *value = cupsGetOption(item.name, count, options);
      if (value)
        iCreatePjlDetail(&table, item.syntaxCount, value, item.syntaxList, count, options, gSink);
    }
    // Every option through the encoding, as a template argument would be.
    EncodedOptionValue record;
    for (int i = 0; i < count; ++i)
      bWrappedCupsGetOption(&table, options[i].name, count, options, &record);
    bWrappedCupsGetOption(&table, "PageNumber", count, options, &record);
  }
  ossFilterFreePsPjlTables(&table);
  cupsFreeOptions(count, options);
  return 0;
}
