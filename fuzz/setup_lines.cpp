// Fuzz target for the setup injection and the converter line handling:
// arbitrary lines through the pictwpstops and cgpdftops handlers (spooled and
// one pass) and the turned N-up placement writer, under arbitrary layouts and
// paper sizes. Input: eight bytes of layout (rows, columns, direction,
// orientation, flags, border, page count, creator), a custom paper size
// text up to the first newline, then the document's lines.
#include <cups/cups.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "job/JobRecord.h"
#include "output/Filter_Debug.h"
#include "linepass/PS_DSC.h"
#include "output/SpoolUtil.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  vSetDiagnosticsEnabled(false);
  // Everything the writers produce goes nowhere.
  if (!std::freopen("/dev/null", "w", stdout)) std::abort();
  giSpoolHandle = open("/dev/null", O_WRONLY);
  if (giSpoolHandle < 0) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 8) return 0;
  const int rows = static_cast<int8_t>(data[0]);
  const int columns = static_cast<int8_t>(data[1]);
  const int direction = data[2] % 8;
  const int orientation = data[3] % 6;
  const int flags = data[4];
  const int border = data[5] % 6;
  const int pageCount = data[6] | (flags & 0x80 ? 0x7fff0000 : 0);
  const int creator = data[7] % 8;
  data += 8;
  size -= 8;

  const uint8_t *nl = static_cast<const uint8_t *>(std::memchr(data, '\n', size));
  const size_t paperLength = nl ? static_cast<size_t>(nl - data) : size;
  std::string paper(reinterpret_cast<const char *>(data), paperLength);
  data += nl ? paperLength + 1 : paperLength;
  size -= nl ? paperLength + 1 : paperLength;
  for (char &c : paper)
    if (c == ' ' || c == '\0' || c == '\'' || c == '"' || c == '\\') c = '_';

  const int spool = flags & 1;
  const int rotate = (flags >> 1) & 1;
  const int layoutNup = (flags >> 2) & 1;
  std::string optionText =
      "com.apple.print.PrintSettings.PMLayoutRows..n.=" + std::to_string(rows) +
      " com.apple.print.PrintSettings.PMLayoutColumns..n.=" + std::to_string(columns) +
      " com.apple.print.PrintSettings.PMLayoutDirection..n.=" + std::to_string(direction) +
      " orientation-requested=" + std::to_string(orientation + 2) +
      " VTDocumentOrientation=" + std::to_string(orientation) + " media=Custom." + paper +
      (rotate ? " Rotate180=true" : "") + (spool ? " VTDuplex=BookletL" : "");
  cups_option_t *options = nullptr;
  const int num = cupsParseOptions(optionText.c_str(), 0, &options);
  const int faces = rows * columns;

  JobRecord job;
  vReadJobRecord(&job, nullptr, num, options, nullptr, nullptr);
  job.pageCount = pageCount;
  job.filterType = creator;
  job.spool = spool;
  job.rotate180 = rotate;
  job.layoutNup = layoutNup;
  job.nupFaces = faces;
  job.borderType = border;
  ScanState &state = job.scan;
  char line[4096];
  char work[4096];
  size_t at = 0;
  while (at < size) {
    size_t n = 0;
    while (at + n < size && n < sizeof line - 1) {
      const uint8_t c = data[at + n++];
      if (c == '\n') break;
    }
    std::memcpy(line, data + at, n);
    line[n] = '\0';
    at += n;

    state.bWriteLine = 1;
    vSupportedMainNupAndRotate180Pictwpstops(line, work, job);
    vSupportedMainNupAndRotate180Cgpdftops(line, job);
    WritePS_Nup_Rotate180_with_cgpdftops(line, job, stdout);
    if (std::strstr(line, "%%BeginPageSetup")) {
      WritePSOperator_After_BeginPageSetup(job, stdout);
      ++job.pageCount;
    }
    if (std::strstr(line, "%%BeginSetup")) WritePS_PclOrientation(job);
  }
  cupsFreeOptions(num, options);
  giJobFailed = 0;
  return 0;
}
