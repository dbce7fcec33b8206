#include "ImposeTestUtil.h"

#include <cups/ppd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "job/JobRecord.h"

TempDir::TempDir() {
  const char *tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vt-impose-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string &name, const std::string &content) const {
  const std::string file = path_ + "/" + name;
  std::filesystem::create_directories(std::filesystem::path(file).parent_path());
  std::ofstream out(file, std::ios::binary);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) throw std::runtime_error("cannot write " + file);
  return file;
}

Capture::Capture() : file_(tmpfile()) {
  if (file_ == nullptr) throw std::runtime_error("tmpfile failed");
}

Capture::~Capture() { fclose(file_); }

std::string Capture::text() {
  fflush(file_);
  const long end = ftell(file_);
  std::string text(static_cast<size_t>(end), '\0');
  rewind(file_);
  const size_t got = fread(text.data(), 1, text.size(), file_);
  text.resize(got);
  return text;
}

Options::Options(std::initializer_list<std::pair<const char *, const char *>> pairs) {
  for (const auto &p : pairs) set(p.first, p.second);
}

Options::~Options() { cupsFreeOptions(count_, options_); }

Options &Options::set(const char *name, const char *value) {
  count_ = cupsAddOption(name, value, count_, &options_);
  return *this;
}

namespace {
ppd_file_t *gCurrentPpd = nullptr;
}  // namespace

ScopedPpd::ScopedPpd(const std::string &text) {
  const std::string path = dir_.write("job.ppd", text);
  ppd_ = ppdOpenFile(path.c_str());
  if (ppd_ == nullptr) throw std::runtime_error("test PPD does not open");
  ppdMarkDefaults(ppd_);
  previous_ = gCurrentPpd;
  gCurrentPpd = ppd_;
}

ScopedPpd::~ScopedPpd() {
  gCurrentPpd = previous_;
  ppdClose(ppd_);
}

ppd_file_t *ScopedPpd::current() { return gCurrentPpd; }

JobRecord RecordOf(const Options &options) {
  JobRecord job;
  vReadJobRecord(&job, nullptr, options.count(), options.array(), ScopedPpd::current(), nullptr);
  return job;
}

std::vector<size_t> FindAll(const std::string &haystack, const std::string &needle) {
  std::vector<size_t> found;
  for (size_t at = haystack.find(needle); at != std::string::npos;
       at = haystack.find(needle, at + 1))
    found.push_back(at);
  return found;
}
