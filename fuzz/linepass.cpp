// Fuzz target for the line pass: arbitrary bytes as the job's PostScript and
// arbitrary job options, through the line reader, the scanner and everything
// it calls, writing to standard output (sent to /dev/null) or spool file A.
// Every file it touches lives in a private temporary folder.
//
// Input: one byte of switches (bit 0: a system older than 10.5.0; bit 1: the
// customisation table loaded, when the sample one exists), two bytes giving
// the length of the option text (little endian), the option text, then the
// document.
#include <cups/cups.h>
#include <cups/ppd.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "CommonUtil.h"
#include "job/JobRecord.h"
#include "output/Filter_Debug.h"
#include "jobticket/JobTicketAccess.h"
#include "linepass/Scanner.h"
#include "output/SpoolUtil.h"
#include "jobticket/plistAccess.h"

namespace {
std::string gTop;         // private folder
std::string gRootOld;     // root with SystemVersion.plist 10.4.11
std::string gRootNew;     // root with no version file: 10.5.0 or later
bool gHaveTable = false;  // gRootNew/gRootOld hold a customisation file
ppd_file_t *gPpd = nullptr;  // the sample PPD, marked anew for each input

void MakeDirs(const std::string &path) {
  for (size_t pos = 1; pos != std::string::npos;) {
    pos = path.find('/', pos + 1);
    mkdir(path.substr(0, pos).c_str(), 0755);
  }
}

void WriteFile(const std::string &path, const std::string &content) {
  MakeDirs(path.substr(0, path.rfind('/')));
  std::ofstream(path, std::ios::binary) << content;
}

std::string ReadSource(const char *path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void RemoveTop() {
  std::string command = "rm -rf '" + gTop + "'";
  if (std::system(command.c_str()) != 0) {
  }
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  vSetDiagnosticsEnabled(false);
  char top[] = "/tmp/vt-fuzz-linepass-XXXXXX";
  if (!mkdtemp(top)) abort();
  gTop = top;
  atexit(RemoveTop);
  gRootOld = gTop + "/root-old";
  gRootNew = gTop + "/root-new";
  MakeDirs(gRootNew);
  WriteFile(gRootOld + "/System/Library/CoreServices/SystemVersion.plist",
            "<plist version=\"1.0\"><dict><key>ProductVersion</key><string>10.4.11</string>"
            "</dict></plist>");
  std::string table = ReadSource(VT_SAMPLE_CUSTOMIZE);
  if (!table.empty()) {
    for (const std::string &root : {gRootOld, gRootNew})
      WriteFile(root + "/Library/Printers/VANTORA/Q610/Plist/FilterCustomize.plist", table);
    gHaveTable = true;
  }
  std::string spool = gTop + "/spool";
  MakeDirs(spool);
  setenv("VT_TEST_SPOOL_DIR", spool.c_str(), 1);

  gPpd = ppdOpenFile(VT_SAMPLE_PPD);
  if (!gPpd) abort();

  // The print stream goes nowhere; standard error stays the fuzzer's.
  int devnull = open("/dev/null", O_WRONLY);
  if (devnull < 0 || dup2(devnull, 1) < 0) abort();
  close(devnull);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3) return 0;
  const uint8_t switches = data[0];
  size_t optionLength = data[1] | (static_cast<size_t>(data[2]) << 8);
  data += 3;
  size -= 3;
  if (optionLength > size) optionLength = size;
  std::string optionText(reinterpret_cast<const char *>(data), optionLength);
  std::string document(reinterpret_cast<const char *>(data) + optionLength, size - optionLength);

  setenv("VT_TEST_ROOT", (switches & 1) ? gRootOld.c_str() : gRootNew.c_str(), 1);
  ResetSystemVersionCache();

  cups_option_t *options = nullptr;
  int num_options = cupsParseOptions(optionText.c_str(), 0, &options);
  ppdMarkDefaults(gPpd);
  cupsMarkOptions(gPpd, num_options, options);

  PsPjlTables tables{};
  int tablesLoaded = 0;
  if ((switches & 2) && gHaveTable)
    tablesLoaded = ossFilterCreatePsPjlTables(&tables, "Q610") == 0;

  giJobFailed = 0;

  const char *argv[] = {"psToVTOrbPS", "1", "fuzzer", "title", "1", optionText.c_str(), nullptr};
  JobRecord job;
  vReadJobRecord(&job, const_cast<char **>(argv), num_options, options, gPpd,
                 tablesLoaded ? &tables : nullptr);

  FILE *input = document.empty() ? std::fopen("/dev/null", "rb")
                                 : fmemopen(document.data(), document.size(), "rb");
  if (!input) abort();
  if (job.spool) vCreateSpoolFile();
  if (!giJobFailed) vRunLinePass(input, job);
  std::fclose(input);
  if (job.spool) vCloseSpoolFile();
  std::fflush(stdout);

  vRemoveSpoolFiles();
  if (tablesLoaded) ossFilterFreePsPjlTables(&tables);
  cupsFreeOptions(num_options, options);
  return 0;
}
