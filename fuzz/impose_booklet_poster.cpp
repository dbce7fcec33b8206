// Fuzz target for the booklet and poster imposition: arbitrary spool file
// contents (page comments, nesting, labels, binary bytes) imposed as a
// booklet (both phases, through spool file B) or as a poster, under
// arbitrary covers, interleaves, orientations, borders and layouts.
// Input: seven bytes of job (kind, covers, flags, border, creator, layout,
// page hint), then the spool file's bytes.
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
#include "impose/Impose.h"
#include "output/SpoolUtil.h"

namespace {
std::string gFolder;

int AddOption(const char *name, const std::string &value, int n, cups_option_t **options) {
  return cupsAddOption(name, value.c_str(), n, options);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  vSetDiagnosticsEnabled(false);
  if (!std::freopen("/dev/null", "w", stdout)) std::abort();
  char folder[] = "/tmp/vt-fuzz-impose-XXXXXX";
  if (!mkdtemp(folder)) std::abort();
  gFolder = folder;
  cpSpoolFileAwithPID = strdup((gFolder + "/pstoMacOrb2SpoolA.tmp.1").c_str());
  cpSpoolFileBwithPID = strdup((gFolder + "/pstoMacOrb2SpoolB.tmp.1").c_str());
  if (!cpSpoolFileAwithPID || !cpSpoolFileBwithPID) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 7) return 0;
  static const char *const kBooklet[] = {"BookletL", "BookletR", "BookletU", "BookletD"};
  static const char *const kPoster[] = {"1x2", "2x2", "3x3", "4x4"};
  static const char *const kCover[] = {"Off", "BlankPrinter", "PrintedSingle", "PrintedDouble"};
  static const char *const kTray[] = {"Tray1", "Tray2", "Manual", "Other"};
  static const char *const kOrientation[] = {"3", "4", "5", "6"};

  const int kind = data[0] % 8;
  const int covers = data[1];
  const int flags = data[2];
  cups_option_t *options = nullptr;
  int n = 0;
  if (kind < 4)
    n = AddOption("VTDuplex", kBooklet[kind], n, &options);
  else
    n = AddOption("Combination", kPoster[kind - 4], n, &options);
  n = AddOption("FrontCoverPage", "True", n, &options);
  n = AddOption("FrontCoverOption", kCover[covers % 4], n, &options);
  n = AddOption("FrontCoverTray", kTray[(covers >> 6) % 4], n, &options);
  n = AddOption("BackCoverPage", "True", n, &options);
  n = AddOption("BackCoverOption", kCover[(covers >> 2) % 4], n, &options);
  n = AddOption("OHPInterleave", (covers & 0x10) ? "True" : "False", n, &options);
  n = AddOption("OHPInterOption", (covers & 0x20) ? "PrintedSingle" : "BlankPrinter", n, &options);
  n = AddOption("orientation-requested", kOrientation[flags % 4], n, &options);
  if (flags & 0x04) n = AddOption("Rotate180", "true", n, &options);
  if (flags & 0x08) n = AddOption("VTBorderLine", "True", n, &options);
  if (!(kind < 4) && (flags & 0x10)) n = AddOption("VTDuplex", "Duplex", n, &options);
  n = AddOption("Binding", (flags & 0x20) ? "LongEdge" : "ShortEdge", n, &options);
  if (flags & 0x40) n = AddOption("media", "Custom.612x792", n, &options);
  n = AddOption("com.apple.print.PrintSettings.PMBorder..b.", "true", n, &options);
  n = AddOption("com.apple.print.PrintSettings.PMBorderType..n.", std::to_string(data[3] % 6), n,
                &options);
  const int creator = data[4] % 8;
  n = AddOption("com.apple.print.PrintSettings.PMLayoutRows..n.",
                std::to_string(static_cast<int>(data[5] % 8) - 1), n, &options);
  n = AddOption("com.apple.print.PrintSettings.PMLayoutColumns..n.",
                std::to_string(static_cast<int>((data[5] >> 3) % 8) - 1), n, &options);
  n = AddOption("com.apple.print.PrintSettings.PMTotalBeginPages..n.",
                std::to_string(static_cast<int>(static_cast<int8_t>(data[6]))), n, &options);

  FILE *spool = std::fopen(cpSpoolFileAwithPID, "wb");
  if (!spool) std::abort();
  std::fwrite(data + 7, 1, size - 7, spool);
  std::fclose(spool);

  giJobFailed = 0;
  JobRecord job;
  vReadJobRecord(&job, nullptr, n, options, nullptr, nullptr);
  job.filterType = creator;
  if (kind < 4) {
    vConvertBooklet1stPhase(job);
    vConvertBooklet2ndPhase(job);
  } else {
    vConvertPoster(job);
  }
  std::fflush(stdout);
  cupsFreeOptions(n, options);
  unlink(cpSpoolFileBwithPID);
  return 0;
}
