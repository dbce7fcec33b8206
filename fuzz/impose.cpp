// Fuzz target for the page index and the N-up imposition: arbitrary spool
// file contents (page comments, nesting, labels, long lines, binary bytes)
// indexed and copied page by page, then imposed N-up under arbitrary
// layouts, reading orders, orientations, frames, covers, interleaves and
// page-count hints.
// Input: eight bytes of job (layout, order/orientation, covers, interleave
// and flags, border, creator, page hint, trays), then the spool file's bytes.
#include <cups/cups.h>
#include <cups/ppd.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "impose/DscIndex.h"
#include "job/JobRecord.h"
#include "output/Filter_Debug.h"
#include "impose/Impose.h"
#include "linepass/PSUtil.h"
#include "output/SpoolUtil.h"

namespace {
std::string gFolder;
ppd_file_t *gLetterPpd = nullptr;

const char kPpd[] =
    "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
    "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n*PCFileName: \"Q610.PPD\"\n"
    "*Manufacturer: \"VANTORA\"\n*Product: \"(Q610)\"\n*ModelName: \"VANTORA Q610\"\n"
    "*ShortNickName: \"VANTORA Q610\"\n*NickName: \"VANTORA Q610\"\n"
    "*OpenUI *PageSize/Media Size: PickOne\n*DefaultPageSize: Letter\n"
    "*PageSize Letter/US Letter: \"<</PageSize[612 792]>>setpagedevice\"\n"
    "*CloseUI: *PageSize\n*DefaultImageableArea: Letter\n"
    "*ImageableArea Letter/US Letter: \"12 12 600 780\"\n"
    "*DefaultPaperDimension: Letter\n*PaperDimension Letter/US Letter: \"612 792\"\n"
    "*OpenGroup: *Tray/Tray\n*OpenUI *MediaType/Media Type: PickOne\n*DefaultMediaType: Plain\n"
    "*MediaType Plain/Plain: \"<</MediaType (plain)>>setpagedevice\"\n"
    "*CloseUI: *MediaType\n*CloseGroup: *Tray\n";

int Add(const char *name, const std::string &value, int n, cups_option_t **options) {
  return cupsAddOption(name, value.c_str(), n, options);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  vSetDiagnosticsEnabled(false);
  if (!std::freopen("/dev/null", "w", stdout)) std::abort();
  char folder[] = "/tmp/vt-fuzz-nup-XXXXXX";
  if (!mkdtemp(folder)) std::abort();
  gFolder = folder;
  // The folder goes when the fuzzer ends.
  std::atexit([] {
    unlink(cpSpoolFileAwithPID);
    unlink((gFolder + "/q610.ppd").c_str());
    rmdir(gFolder.c_str());
  });
  cpSpoolFileAwithPID = strdup((gFolder + "/pstoMacOrb2SpoolA.tmp.1").c_str());
  if (!cpSpoolFileAwithPID) std::abort();
  const std::string ppdPath = gFolder + "/q610.ppd";
  FILE *ppd = std::fopen(ppdPath.c_str(), "w");
  if (!ppd) std::abort();
  std::fputs(kPpd, ppd);
  std::fclose(ppd);
  gLetterPpd = ppdOpenFile(ppdPath.c_str());
  if (!gLetterPpd) std::abort();
  ppdMarkDefaults(gLetterPpd);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 8) return 0;
  static const char *const kCover[] = {"Off", "BlankPrinter", "PrintedSingle", "PrintedDouble"};
  static const char *const kInterleave[] = {"Off", "BlankPrinter", "PrintedSingle", "Other"};
  static const char *const kTray[] = {"Tray1", "tray5", "Manual", "Other"};
  static const char *const kOrientation[] = {"3", "4", "5", "6"};

  const int layout = data[0];
  const int order = data[1];
  const int covers = data[2];
  const int flags = data[3];
  cups_option_t *options = nullptr;
  int n = 0;
  // Rows and columns -1 to 6: every table, none, and the invalid counts.
  n = Add("com.apple.print.PrintSettings.PMLayoutRows..n.", std::to_string(layout % 8 - 1), n, &options);
  n = Add("com.apple.print.PrintSettings.PMLayoutColumns..n.", std::to_string((layout >> 3) % 8 - 1), n,
          &options);
  n = Add("com.apple.print.PrintSettings.PMLayoutDirection..n.", std::to_string(order % 8), n, &options);
  n = Add("orientation-requested", kOrientation[(order >> 3) % 4], n, &options);
  n = Add("FrontCoverPage", (covers & 0x10) ? "True" : "False", n, &options);
  n = Add("FrontCoverOption", kCover[covers % 4], n, &options);
  n = Add("BackCoverPage", "True", n, &options);
  n = Add("BackCoverOption", kCover[(covers >> 2) % 4], n, &options);
  n = Add("OHPInterleave", (covers & 0x20) ? "True" : "False", n, &options);
  n = Add("OHPInterOption", kInterleave[(covers >> 6) % 4], n, &options);
  if (flags & 0x01) n = Add("Rotate180", "true", n, &options);
  n = Add("VTDuplex", (flags & 0x02) ? "Duplex" : "Single", n, &options);
  n = Add("Binding", (flags & 0x04) ? "LongEdge" : "ShortEdge", n, &options);
  if (flags & 0x08) n = Add("media", "Custom.595x842", n, &options);
  if (flags & 0x10) n = Add("MediaType", "Plain", n, &options);
  n = Add("com.apple.print.PrintSettings.PMBorder..b.", "true", n, &options);
  n = Add("com.apple.print.PrintSettings.PMBorderType..n.", std::to_string(data[4] % 7 - 1), n, &options);
  const int creator = data[5] % 8;
  n = Add("com.apple.print.PrintSettings.PMTotalBeginPages..n.",
          std::to_string(static_cast<int>(static_cast<int8_t>(data[6]))), n, &options);
  n = Add("FrontCoverTray", kTray[data[7] % 4], n, &options);
  n = Add("BackCoverTray", kTray[(data[7] >> 2) % 4], n, &options);
  n = Add("OHPOpTray", kTray[(data[7] >> 4) % 4], n, &options);
  n = Add("VTInputSlot", kTray[(data[7] >> 6) % 4], n, &options);

  FILE *spool = std::fopen(cpSpoolFileAwithPID, "wb");
  if (!spool) std::abort();
  std::fwrite(data + 8, 1, size - 8, spool);
  std::fclose(spool);

  // The index and every copy it drives.
  FILE *in = std::fopen(cpSpoolFileAwithPID, "rb");
  if (!in) std::abort();
  PageIndex index;
  if (bBuildPageIndex(in, &index, static_cast<int8_t>(data[6]))) {
    // Without nesting or trailer comments (nor a UEL, which ends the
    // PostScript) every line that starts with "%%Page:" is a page, at its
    // own position. Lines end at LF, CR or CR LF; a longer line than 4095
    // bytes comes in pieces of 4095 (the index's line limit).
    const std::string body(reinterpret_cast<const char *>(data + 8), size - 8);
    if (body.find("%%Begin") == std::string::npos && body.find("%%End") == std::string::npos &&
        body.find("%%Trailer") == std::string::npos && body.find("%%EOF") == std::string::npos &&
        body.find('\x1b') == std::string::npos) {
      int64_t at = 0;
      int page = 0;
      const size_t limit = kDscLineSize - 1;
      while (static_cast<size_t>(at) < body.size()) {
        size_t n = 0;
        while (static_cast<size_t>(at) + n < body.size() && n < limit) {
          const char c = body[at + n++];
          if (c == '\n') break;
          if (c == '\r') {
            if (static_cast<size_t>(at) + n < body.size() && body[at + n] == '\n' && n < limit) ++n;
            break;
          }
        }
        if (body.compare(at, 7, "%%Page:") == 0 && n >= 7) {
          if (page >= index.count || index.offsets[page] != at) std::abort();
          ++page;
        }
        at += static_cast<int64_t>(n);
      }
      if (page != index.count || index.offsets[page] != at) std::abort();
    }
    int ordinal = 0;
    vWriteHeader(index.count, in, stdout, index.pagesCommentPos, index.headerEnd);
    vWriteProlog(index.setupEnd, in, stdout);
    vWriteSetup(index.offsets, in, stdout);
    for (int i = index.count - 1; i >= 0; --i) vWritePage(i, in, stdout, index.offsets, &ordinal);
    vWriteTrailer(in, stdout, index.offsets, index.count);
    vFreePageIndex(&index);
  }
  std::fclose(in);

  giJobFailed = 0;
  JobRecord job;
  vReadJobRecord(&job, nullptr, n, options, (flags & 0x20) ? nullptr : gLetterPpd, nullptr);
  job.filterType = creator;
  vConvertInsertPage2ndPhase(job);
  std::fflush(stdout);
  cupsFreeOptions(n, options);
  return 0;
}
