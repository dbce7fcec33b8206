// Helpers of the setup tests: job options, a PPD opened and marked as main
// does it, and a capture of what the writers send to standard output and to
// spool file A.
#pragma once

#include <cups/cups.h>
#include <cups/ppd.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include "job/JobRecord.h"
#include "FilterRunner.h"
#include "output/SpoolUtil.h"

// The job's CUPS option array, freed at the end of the test.
struct JobOptions {
  int num = 0;
  cups_option_t *options = nullptr;
  JobOptions() = default;
  explicit JobOptions(const std::string &text) { parse(text); }
  JobOptions(const JobOptions &) = delete;
  JobOptions &operator=(const JobOptions &) = delete;
  ~JobOptions() { clear(); }
  void parse(const std::string &text) {
    clear();
    num = cupsParseOptions(text.c_str(), 0, &options);
  }
  void clear() {
    if (options) cupsFreeOptions(num, options);
    num = 0;
    options = nullptr;
  }
};

// The job record of the options (and of the PPD, when given), as main makes it.
inline JobRecord RecordOf(const JobOptions &opts, ppd_file_t *ppd = nullptr) {
  JobRecord job;
  vReadJobRecord(&job, nullptr, opts.num, opts.options, ppd, nullptr);
  return job;
}

// The job's PPD, closed at the end of the test.
struct JobPpd {
  JobPpd() = default;
  JobPpd(const JobPpd &) = delete;
  JobPpd &operator=(const JobPpd &) = delete;
  ~JobPpd() { close(); }
  bool open(const FilterJob &job, const std::string &text, const JobOptions &opts,
            bool mark = true) {
    close();
    std::string path = job.writeFile("geometry.ppd", text);
    ppd = ppdOpenFile(path.c_str());
    if (!ppd) return false;
    if (mark) {
      ppdMarkDefaults(ppd);
      cupsMarkOptions(ppd, opts.num, opts.options);
    }
    return true;
  }
  void close() {
    if (ppd) ppdClose(ppd);
    ppd = nullptr;
  }
  ppd_file_t *ppd = nullptr;
};

// What one call of a writer produced on each destination.
struct Written {
  std::string out;    // standard output
  std::string spool;  // spool file A
};

// Runs fn with standard output and spool file A redirected to temporary
// files and returns what each received.
inline Written CaptureWrites(const std::function<void()> &fn) {
  Written result;
  std::fflush(stdout);
  FILE *outFile = std::tmpfile();
  FILE *spoolFile = std::tmpfile();
  if (!outFile || !spoolFile) {
    ADD_FAILURE() << "no temporary file";
    if (outFile) std::fclose(outFile);
    if (spoolFile) std::fclose(spoolFile);
    return result;
  }
  int savedOut = dup(1);
  dup2(fileno(outFile), 1);
  int savedSpool = giSpoolHandle;
  giSpoolHandle = fileno(spoolFile);

  fn();

  bFlushSpoolFile();
  std::fflush(stdout);
  dup2(savedOut, 1);
  close(savedOut);
  giSpoolHandle = savedSpool;

  for (auto [file, text] : {std::pair{outFile, &result.out}, std::pair{spoolFile, &result.spool}}) {
    std::fseek(file, 0, SEEK_SET);
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text->append(chunk, n);
    std::fclose(file);
  }
  return result;
}
