// Test support: runs the real filter program (built with test locations) in
// a private folder of its own, so tests can run in parallel. Each FilterJob
// owns a fresh temporary folder holding the job's VT_ROOT ("root/"), its
// spool folder ("spool/") and whatever files the test writes.
#pragma once

#include <map>
#include <string>
#include <vector>

// Extra conditions for a run.
struct RunOptions {
  std::string stdoutPath;       // standard output goes here instead (e.g. "/dev/full")
  long long fileSizeLimit = -1; // RLIMIT_FSIZE in bytes for the filter (SIGXFSZ ignored)
  std::map<std::string, std::string> env;  // set in the filter's environment
};

struct FilterResult {
  int status = -1;      // exit status, or 128 + signal
  std::string out;      // standard output, byte for byte
  std::string err;      // standard error
  int pid = 0;          // process id the filter ran with (names its spool files)
  long maxRssKb = 0;    // the filter's peak resident memory (run() and runWith())
};

class FilterJob {
 public:
  FilterJob();
  ~FilterJob();
  FilterJob(const FilterJob &) = delete;
  FilterJob &operator=(const FilterJob &) = delete;

  const std::string &dir() const { return dir_; }
  std::string root() const { return dir_ + "/root"; }
  std::string spool() const { return dir_ + "/spool"; }

  // Writes a file under dir() (folders made as needed); returns its path.
  std::string writeFile(const std::string &relative, const std::string &content) const;
  // Writes a file under root(), at an absolute path of the system.
  std::string writeRootFile(const std::string &absolute, const std::string &content) const;
  // SystemVersion.plist under root() with the given ProductVersion.
  void setSystemVersion(const std::string &version) const;
  // The model's FilterCustomize.plist under root().
  void setCustomization(const std::string &plistText) const;
  // A PPD in dir(); the PPD variable of later runs names it. extraMain is
  // added to the main section (e.g. custom margins or UI options).
  std::string usePpd(const std::string &extraMain = std::string(),
                     const std::string &defaultPageSize = "Letter");
  // Uses an arbitrary PPD text, or none at all ("" leaves PPD unset).
  void usePpdText(const std::string &text);
  void unsetPpd() { ppdPath_.clear(); }

  // Runs the filter with argv[1..] = args. With stdinData set, it is fed on
  // standard input; otherwise standard input is empty.
  FilterResult run(const std::vector<std::string> &args,
                   const std::string &stdinData = std::string(),
                   const std::map<std::string, std::string> &extraEnv = {}) const;

  // Like run(), under the given conditions.
  FilterResult runWith(const std::vector<std::string> &args, const std::string &stdinData,
                       const RunOptions &conditions) const;

  // A filter started with standard input on a pipe, for tests that act while
  // it runs (e.g. cancel it). Standard output and error go to files.
  class Running {
   public:
    Running(Running &&other) noexcept;
    ~Running();
    int pid() const { return pid_; }
    // Writes to the filter's standard input; false when it no longer reads.
    bool feed(const std::string &data);
    void closeInput();
    void signal(int sig) const;
    // Waits for the filter to end and collects what it wrote.
    FilterResult wait();

   private:
    friend class FilterJob;
    Running() = default;
    int pid_ = -1;
    int inputFd_ = -1;
    std::string outPath_, errPath_;
  };
  Running start(const std::vector<std::string> &args) const;

  // Convenience: a 6-entry argv job reading the document from stdin.
  FilterResult print(const std::string &document, const std::string &options = "") const;
  // Convenience: a 7-entry argv job reading the document from a file.
  FilterResult printFile(const std::string &document, const std::string &options = "") const;

  // Names of files left in the spool folder.
  std::vector<std::string> spoolFiles() const;

 private:
  std::string dir_;
  std::string ppdPath_;
};

// A small valid PPD for the Q610 family: Letter (612 x 792) and A4, 12-point
// margins, default page size as given. extraMain is appended verbatim.
std::string MinimalPpd(const std::string &extraMain = std::string(),
                       const std::string &defaultPageSize = "Letter");

// Reads a whole file (empty string when it cannot be read).
std::string ReadFile(const std::string &path);

// How many times `what` occurs in text (overlapping occurrences counted).
inline size_t Occurrences(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}
