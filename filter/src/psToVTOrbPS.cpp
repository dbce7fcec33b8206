// psToVTOrbPS: the CUPS filter of the VANTORA Q610 family. Reads the job's
// PostScript and writes the stream the printer receives: the PJL job
// framing and header, the document with the printer's setup injected, and,
// for booklet, poster, cover and interleave jobs, the re-imposed sheets.
//
//   psToVTOrbPS job-id user title copies options [file]
//
// Exit status 0 when the job printed, 1 when it did not.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "job/CupsJobOptions.h"
#include "job/JobRecord.h"
#include "output/Filter_Debug.h"
#include "impose/Impose.h"
#include "jobticket/JobTicketAccess.h"
#include "jobticket/JobTicketEncode.h"
#include "linepass/PSUtil.h"
#include "linepass/Scanner.h"
#include "output/SpoolUtil.h"
#include "VtPaths.h"
#include "jobticket/plistAccess.h"

namespace {
// Has the printer woken over the network by the driver's helper application
// and waits for it, so printing starts only once it has finished. Returns
// false when the helper could not be started at all (fork failed).
bool WakePrinter(const char *macAddress) {
  std::string helper = VtHelperProgram();
  std::fflush(stdout);
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    char *args[] = {const_cast<char *>(helper.c_str()), const_cast<char *>("SendMagicPacket_XPC"),
                    const_cast<char *>("NULL"), const_cast<char *>(macAddress),
                    const_cast<char *>("NULL"), const_cast<char *>("OFF"), nullptr};
    execvp(helper.c_str(), args);
    _exit(255);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return true;
}

// Copies spool file A to standard output unchanged (CUPS banner pages).
void PassSpoolFileThrough() {
  FILE *spoolFile = cpSpoolFileAwithPID ? std::fopen(cpSpoolFileAwithPID, "rb") : nullptr;
  if (!spoolFile) {
    vErrorMessage("unable to open print file.");
    giJobFailed = 1;
    return;
  }
  char block[65536];
  size_t n;
  while ((n = std::fread(block, 1, sizeof block, spoolFile)) > 0) {
    if (std::fwrite(block, 1, n, stdout) != n) {
      vErrorMessage("unable to write print data.");
      giJobFailed = 1;
      break;
    }
  }
  if (!giJobFailed && std::ferror(spoolFile)) {
    vErrorMessage("unable to read print file.");
    giJobFailed = 1;
  }
  std::fclose(spoolFile);
}
}  // namespace

int main(int argc, char *argv[]) {
  if (argc != 6 && argc != 7) {
    vDebugMessage("[Filter] - ERROR: psToVTOrbPS job-id user title copies options [file]\n");
    vErrorMessage("psToVTOrbPS job-id user title copies options [file]");
    return 1;
  }
  vInstallCancelHandler();
  // CUPS reads standard output through a pipe: write it in large blocks.
  static char outputBuffer[1 << 16];
  std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);

  FILE *input = stdin;
  if (argc == 7) {
    input = std::fopen(argv[6], "rb");
    if (!input) {
      vErrorMessage("unable to open print file.");
      return 1;
    }
  }

  // The job record, handed to every stage; filled once the PPD is open and
  // the options have their final form.
  JobRecord job;
  PsPjlTables tables{};

  cups_option_t *options = nullptr;
  int num_options = cupsParseOptions(argv[5], 0, &options);
  // The job's user and title name the job at the printer when the print
  // dialog sent no login or job name of its own.
  vAddJobIdentityOptions(argv[2], argv[3], &num_options, &options);

  int status = 0;
  int tablesLoaded = 0;
  const char *ppdPath = std::getenv("PPD");
  ppd_file_t *ppd = ppdPath ? ppdOpenFile(ppdPath) : nullptr;
  if (!ppd) {
    // Without its PPD the job cannot be printed as the printer expects;
    // CUPS must not report it printed.
    vDebugMessage("[Filter] - ERROR: ppeOpenFile()\n ");
    const bool named = ppdPath && *ppdPath;
    vErrorMessage("unable to open the PPD file%s%s.", named ? " " : "", named ? ppdPath : "");
    status = 1;
  } else {
    ppdMarkDefaults(ppd);
    cupsMarkOptions(ppd, num_options, options);
    tablesLoaded = ossFilterCreatePsPjlTables(&tables, "Q610") == 0;
    // A job whose PIN or other custom value cannot be used prints nothing;
    // custom values are turned into the table's form first, then every
    // secret or encoded ticket value the printer cannot take fails the job
    // before anything of it is written.
    if (!bResolveCustomOptions(ppd, tablesLoaded ? &tables : nullptr, &num_options, &options))
      giJobFailed = 1;
    if (!giJobFailed && tablesLoaded && !bJobTicketValuesUsable(&tables, num_options, options))
      giJobFailed = 1;

    const char *mac = cupsGetOption("DestMacAddr", num_options, options);
    if (!giJobFailed && bGetWakeOnLan(num_options, options) && mac) {
      if (!WakePrinter(mac)) {
        vDebugMessage("[Filter] - ERROR: pid < 0\n ");
        vErrorMessage("unable to start the wake-on-LAN helper.");
        std::exit(1);
      }
    }

    vReadJobRecord(&job, argv, num_options, options, ppd, tablesLoaded ? &tables : nullptr);

    if (job.spool) vCreateSpoolFile();
    if (!giJobFailed) vRunLinePass(input, job);

    // The filter opened the PJL job, so it closes it.
    if (!giJobFailed && job.scan.bFilterOpenedJob) {
      char work[4096] = {};
      std::snprintf(work, sizeof work, "%s\n", UEL "@PJL EOJ");
      vWrappedFprintf(stdout, work, job.spool);
      std::snprintf(work, sizeof work, "%s\n", job.older ? "@PJL ECHO EOJ" : UEL);
      vWrappedFprintf(stdout, work, job.spool);
    }

    if (job.spool) {
      vCloseSpoolFile();
      if (giJobFailed) {
        // Nothing more to print.
      } else if (job.cupsBanner) {
        PassSpoolFileThrough();
      } else if (job.bookletKind != 0) {
        vConvertBooklet1stPhase(job);
        if (!giJobFailed) vConvertBooklet2ndPhase(job);
      } else if (job.posterKind != 0) {
        vConvertPoster(job);
      } else {
        vConvertInsertPage2ndPhase(job);
      }
    }
    if (std::fflush(stdout) != 0 && !giJobFailed) {
      vErrorMessage("unable to write print data.");
      giJobFailed = 1;
    }
    if (giJobFailed) status = 1;
  }

  if (tablesLoaded) ossFilterFreePsPjlTables(&tables);
  vRemoveSpoolFiles();
  if (input != stdin) std::fclose(input);
  cupsFreeOptions(num_options, options);
  if (ppd) ppdClose(ppd);
  return status;
}
