// Helpers shared by the imposition tests: spool files in a private temp
// folder, output captured from a stream, option arrays.
#pragma once

#include <cups/cups.h>
#include <cups/ppd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "job/JobRecord.h"

// A file in a fresh temporary folder, removed with the folder.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string write(const std::string &name, const std::string &content) const;

 private:
  std::string path_;
};

// A stream whose bytes the test reads back afterwards.
class Capture {
 public:
  Capture();
  ~Capture();
  FILE *stream() const { return file_; }
  std::string text();

 private:
  FILE *file_;
};

// A CUPS option array built from name/value pairs.
class Options {
 public:
  Options() = default;
  Options(std::initializer_list<std::pair<const char *, const char *>> pairs);
  ~Options();
  Options(const Options &) = delete;
  Options &operator=(const Options &) = delete;
  Options &set(const char *name, const char *value);
  int count() const { return count_; }
  cups_option_t *array() const { return options_; }

 private:
  int count_ = 0;
  cups_option_t *options_ = nullptr;
};

// Opens a PPD from text (marked with its defaults) for the life of the
// object; while it lives it is the PPD of the records RecordOf makes.
class ScopedPpd {
 public:
  explicit ScopedPpd(const std::string &text);
  ~ScopedPpd();
  ScopedPpd(const ScopedPpd &) = delete;
  ScopedPpd &operator=(const ScopedPpd &) = delete;
  ppd_file_t *get() const { return ppd_; }
  // The PPD opened last of those still open, or null.
  static ppd_file_t *current();

 private:
  TempDir dir_;
  ppd_file_t *ppd_ = nullptr;
  ppd_file_t *previous_ = nullptr;
};

// The job record of the options with the current PPD, as main makes it.
JobRecord RecordOf(const Options &options);

// All occurrences of needle in haystack, in order.
std::vector<size_t> FindAll(const std::string &haystack, const std::string &needle);
