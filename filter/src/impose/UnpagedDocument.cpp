// Giving a document without page structure its pages before it is imposed.
//
// Two forms reach the imposition without pages it can place:
//  - a document without any "%%Page:" comment (plain PostScript as an
//    application wrote it): Ghostscript reads everything between the job's
//    PJL lines and the end-of-job PJL, and its output takes that place; or,
//    when the document has a setup section, its output's prolog and pages
//    follow the document's header, prolog and setup, as below;
//  - plain PostScript that CUPS's pstops wrapped whole into one page
//    ("%%Page: 1 1", its page setup, then "%%BeginDocument: nondsc" up to
//    "%%EndDocument"), or into one page per copy when it made the copies
//    itself: Ghostscript reads only the wrapped documents, one after the
//    other. The job's header, prolog and setup (with the printer setup the
//    line pass wrote) stay; Ghostscript's prolog follows them, then its
//    pages, each with the first wrapping page's page setup, then its trailer
//    and the job's end.
// Ghostscript is fed through a pipe and writes to a file next to the spool
// file; the new document is written to another and renamed over the spool
// file only when everything succeeded, so a failure leaves the job as it was.
#include "impose/UnpagedDocument.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "VtPaths.h"
#include "impose/ImposeShowpage.h"
#include "setup/PSGeometry.h"

namespace {

constexpr char kUel[] = "\x1b%-12345X";

bool StartsWith(const char *line, size_t length, const char *prefix) {
  const size_t n = std::strlen(prefix);
  return length >= n && std::memcmp(line, prefix, n) == 0;
}

// One line at a time (LF ends a line; any length, NUL bytes kept), with the
// file position of its start.
class Lines {
 public:
  explicit Lines(FILE *in) : in_(in) {}
  ~Lines() { std::free(line_); }
  Lines(const Lines &) = delete;
  Lines &operator=(const Lines &) = delete;
  bool seek(int64_t position) {
    next_ = position;
    return fseeko(in_, position, SEEK_SET) == 0;
  }
  bool next() {
    start_ = next_;
    const ssize_t n = getline(&line_, &capacity_, in_);
    length_ = n > 0 ? static_cast<size_t>(n) : 0;
    next_ += static_cast<int64_t>(length_);
    return n > 0;
  }
  bool is(const char *prefix) const { return StartsWith(line_, length_, prefix); }
  bool contains(const char *what) const {
    return length_ > 0 && memmem(line_, length_, what, std::strlen(what)) != nullptr;
  }
  const char *text() const { return line_; }
  size_t length() const { return length_; }
  int64_t start() const { return start_; }  // of the line just read
  int64_t end() const { return next_; }     // of the line just read

 private:
  FILE *in_;
  char *line_ = nullptr;
  size_t capacity_ = 0;
  size_t length_ = 0;
  int64_t start_ = 0;
  int64_t next_ = 0;
};

// Copies [from, to) of `in` to `out`; to < 0 copies to the end of `in`.
bool CopyRange(FILE *in, int64_t from, int64_t to, FILE *out) {
  if (fseeko(in, from, SEEK_SET) != 0) return false;
  char block[1 << 16];
  while (to < 0 || from < to) {
    const size_t want =
        to < 0 ? sizeof block : static_cast<size_t>(std::min<int64_t>(sizeof block, to - from));
    const size_t n = std::fread(block, 1, want, in);
    if (n == 0) return to < 0 && !std::ferror(in);
    if (std::fwrite(block, 1, n, out) != n) return false;
    from += static_cast<int64_t>(n);
  }
  return true;
}

// Where the pieces of the spooled job lie.
struct Plan {
  bool wrapped = false;      // pstops wrap: the job's header, prolog and setup stay
  int64_t headEnd = 0;       // the job's lines before the document: [0, headEnd)
  int64_t docStart = 0;      // what Ghostscript reads: [docStart, docEnd)
  int64_t docEnd = 0;
  // Further pieces Ghostscript reads after it: the copies pstops wrapped.
  std::vector<std::pair<int64_t, int64_t>> moreDocs;
  int64_t afterStart = 0;    // the wrapping page's lines after the document
  int64_t tailStart = 0;     // the job's end: [tailStart, end of file)
  std::string pageSetup;     // the wrapping page's page setup lines
};

// A document without any page comment: Ghostscript reads everything from
// the end of the PJL lines in front to the end-of-job PJL (or the end of the
// file).
bool PlanWithoutPages(FILE *in, const PageIndex &index, Plan *plan) {
  Lines lines(in);
  if (!lines.seek(0)) return false;
  while (lines.next()) {
    const char first = lines.text()[0];
    if (first != '\x1b' && first != '@' && !(lines.length() <= 2 && (first == '\n' || first == '\r')))
      break;
  }
  plan->headEnd = plan->docStart = lines.start();
  plan->tailStart = -1;
  if (!lines.seek(std::max(index.offsets[0], plan->docStart))) return false;
  while (plan->tailStart < 0 && lines.next())
    if (lines.is(kUel)) plan->tailStart = lines.start();
  if (plan->tailStart < 0) plan->tailStart = lines.end();
  plan->docEnd = plan->tailStart;
  // A document with a setup section keeps its header, prolog and setup
  // (with the printer setup the line pass wrote there); Ghostscript's prolog
  // and pages follow them.
  if (index.setupEnd < index.offsets[0] && index.setupEnd >= plan->docStart) {
    if (!lines.seek(index.setupEnd) || !lines.next() || !lines.is("%%EndSetup")) return false;
    plan->wrapped = true;
    plan->headEnd = lines.end();
    plan->afterStart = plan->tailStart;
  }
  return plan->docEnd > plan->docStart;
}

// One page that wraps a whole document as CUPS's pstops writes it: the page
// comment, page comments and page setup, then "%%BeginDocument: nondsc"; the
// document runs to the last "%%EndDocument" of the page (which follows the
// document's last byte, on its own line or not). pstops wraps it again in a
// page of its own for each copy it makes; only comments may come between
// one such page's document and the next page.
bool PlanPstopsWrap(FILE *in, const PageIndex &index, Plan *plan, std::string *why) {
  *why = "its pages do not wrap a document the way CUPS's pstops does";
  Lines lines(in);
  for (int page = 0; page < index.count; ++page) {
    const int64_t pageEnd = index.offsets[page + 1];
    if (!lines.seek(index.offsets[page]) || !lines.next() || !lines.is("%%Page:")) return false;
    bool inPageSetup = false;
    for (;;) {
      if (!lines.next() || lines.start() >= pageEnd) return false;
      if (inPageSetup) {
        if (lines.is("%%EndPageSetup"))
          inPageSetup = false;
        else if (page == 0)
          plan->pageSetup.append(lines.text(), lines.length());
        continue;
      }
      if (lines.is("%%BeginDocument: nondsc")) break;
      if (!lines.is("%%")) return false;
      if (lines.is("%%BeginPageSetup")) inPageSetup = true;
    }
    const int64_t start = lines.end();
    int64_t end = -1;
    int64_t after = -1;
    bool codeAfter = false;  // code between the document and the next page
    while (lines.next() && lines.start() < pageEnd) {
      if (!lines.contains("%%EndDocument")) {
        if (end >= 0 && !lines.is("%") && lines.text()[0] != '\n' && lines.text()[0] != '\r')
          codeAfter = true;
        continue;
      }
      codeAfter = false;
      const char *at = static_cast<const char *>(
          memmem(lines.text(), lines.length(), "%%EndDocument", 13));
      // The last one on the line, should a line hold two.
      for (const char *again = at; again != nullptr;) {
        at = again;
        const size_t rest = lines.length() - static_cast<size_t>(at + 13 - lines.text());
        again = static_cast<const char *>(memmem(at + 13, rest, "%%EndDocument", 13));
      }
      end = lines.start() + (at - lines.text());
      after = lines.end();
    }
    if (end <= start) return false;
    if (page + 1 < index.count && codeAfter) {
      *why = "its copies are not wrapped the way CUPS's pstops does";
      return false;
    }
    if (page == 0) {
      plan->docStart = start;
      plan->docEnd = end;
    } else {
      plan->moreDocs.emplace_back(start, end);
    }
    plan->afterStart = after;
  }
  plan->wrapped = true;
  plan->headEnd = index.offsets[0];
  // The job's end starts at the trailer, the end of file comment or the
  // end-of-job PJL after the document, whichever comes first.
  plan->tailStart = -1;
  if (!lines.seek(plan->afterStart)) return false;
  while (plan->tailStart < 0 && lines.next())
    if (lines.is("%%Trailer") || lines.is("%%EOF") || lines.is(kUel)) plan->tailStart = lines.start();
  if (plan->tailStart < 0) plan->tailStart = lines.end();
  why->clear();
  return true;
}

// A file of the rewrite next to the spool file, made anew: a stale file or a
// link planted at the name goes first.
int OpenNew(const std::string &path) {
  unlink(path.c_str());
  return open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

bool WriteAll(int fd, const char *data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Runs Ghostscript's ps2write on [from, to) of `in`, fed through a pipe, its
// output into outFd. Returns an empty text on success, else what went wrong.
std::string RunPs2write(FILE *in, const std::vector<std::pair<int64_t, int64_t>> &pieces, int outFd,
                        const JobRecord &job) {
  const char *gs = VtGhostscript();
  std::vector<std::string> args{gs, "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=ps2write"};
  // Pages that set no size of their own get the job's paper.
  const PaperPair size = job.paperSize;
  if (size.a > 0 && size.b > 0) {
    args.push_back("-dDEVICEWIDTHPOINTS=" + std::to_string(size.a));
    args.push_back("-dDEVICEHEIGHTPOINTS=" + std::to_string(size.b));
  }
  // What the document prints goes with Ghostscript's messages; standard
  // output carries the rewritten document alone. The printer's own
  // procedure set, which the setup the line pass wrote calls, is a stand-in
  // that does nothing: that setup stays in the job for the printer.
  for (const char *arg :
       {"-sstdout=%stderr", "-sOutputFile=%stdout", "-c",
        "/VTOptions/ProcSet resourcestatus{pop pop}{/VTOptions<</setVToptions{pop}bind>>"
        "/ProcSet defineresource pop}ifelse",
        "-f", "-"})
    args.emplace_back(arg);
  std::vector<char *> argv;
  for (std::string &arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return std::string("no pipe: ") + std::strerror(errno);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[0], 0);
  posix_spawn_file_actions_adddup2(&actions, outFd, 1);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, gs, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[0]);
  if (spawned != 0) {
    close(pipeFds[1]);
    return std::string("Ghostscript (") + gs + ") could not be started: " + std::strerror(spawned);
  }

  // Ghostscript may stop reading early (a PostScript error): the write then
  // fails instead of ending the filter, and its exit status tells.
  struct sigaction ignore {};
  struct sigaction saved {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &saved);
  std::string readError;
  char block[1 << 16];
  bool writing = true;
  for (const auto &[from, to] : pieces) {
    if (!writing || !readError.empty()) break;
    if (fseeko(in, from, SEEK_SET) != 0) readError = "the spooled document could not be read";
    for (int64_t left = to - from; left > 0 && readError.empty();) {
      const size_t n =
          std::fread(block, 1, static_cast<size_t>(std::min<int64_t>(left, sizeof block)), in);
      if (n == 0) {
        readError = "the spooled document could not be read";
        break;
      }
      if (!WriteAll(pipeFds[1], block, n)) {
        writing = false;
        break;
      }
      left -= static_cast<int64_t>(n);
    }
    // A copy's document starts on a line of its own.
    if (writing && readError.empty() && !WriteAll(pipeFds[1], "\n", 1)) writing = false;
  }
  close(pipeFds[1]);
  sigaction(SIGPIPE, &saved, nullptr);

  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return std::string("Ghostscript could not be waited for: ") + std::strerror(errno);
  }
  if (WIFSIGNALED(status))
    return "Ghostscript was ended by signal " + std::to_string(WTERMSIG(status));
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return "Ghostscript failed with exit status " + std::to_string(WEXITSTATUS(status));
  return readError;
}

// Ghostscript's document in place of the job's: the job's PJL lines in
// front, its end-of-job lines after.
bool WriteWhole(FILE *job, const Plan &plan, FILE *gs, FILE *out) {
  return CopyRange(job, 0, plan.headEnd, out) && CopyRange(gs, 0, -1, out) &&
         CopyRange(job, plan.tailStart, -1, out);
}

// The pstops job with Ghostscript's pages in place of its one page.
bool WriteWrapped(FILE *job, const Plan &plan, FILE *gs, const PageIndex &g, FILE *out) {
  // The job's header, prolog and setup, then Ghostscript's prolog and setup
  // without its header comments and "%%BeginProlog" line: the job's header
  // stays the document's.
  if (!CopyRange(job, 0, plan.headEnd, out) || !CopyRange(gs, g.headerEnd, g.offsets[0], out))
    return false;
  // Each page gets the wrapping page's page setup (the page setup the line
  // pass wrote among it) after its own "%%BeginPageSetup", or after its
  // page comments when it has none.
  Lines lines(gs);
  for (int i = 0; i < g.count; ++i) {
    if (!lines.seek(g.offsets[i]) || !lines.next()) return false;
    int64_t insertAt = g.offsets[i + 1];
    while (lines.next() && lines.start() < g.offsets[i + 1]) {
      if (lines.is("%%BeginPageSetup")) {
        insertAt = lines.end();
        break;
      }
      if (!lines.is("%%")) {
        insertAt = lines.start();
        break;
      }
    }
    insertAt = std::min(insertAt, g.offsets[i + 1]);
    if (!CopyRange(gs, g.offsets[i], insertAt, out) ||
        std::fwrite(plan.pageSetup.data(), 1, plan.pageSetup.size(), out) != plan.pageSetup.size() ||
        !CopyRange(gs, insertAt, g.offsets[i + 1], out))
      return false;
  }
  // What the wrapping page had after the document ends the last page.
  if (!CopyRange(job, plan.afterStart, plan.tailStart, out)) return false;
  // Ghostscript's trailer closes what its prolog opened; the job's trailer
  // lines follow it, then one "%%EOF" before the end-of-job PJL.
  if (!lines.seek(g.offsets[g.count])) return false;
  while (lines.next())
    if (!lines.is("%%EOF") && std::fwrite(lines.text(), 1, lines.length(), out) != lines.length())
      return false;
  if (std::ferror(gs)) return false;
  Lines tail(job);
  if (!tail.seek(plan.tailStart)) return false;
  while (tail.next() && !tail.is(kUel)) {
    if (!tail.is("%%Trailer") && !tail.is("%%EOF") &&
        std::fwrite(tail.text(), 1, tail.length(), out) != tail.length())
      return false;
  }
  if (std::ferror(job) || std::fputs("%%EOF\n", out) < 0) return false;
  return tail.length() == 0 || CopyRange(job, tail.start(), -1, out);
}

}  // namespace

int bPageUnpagedDocument(FILE *in, PageIndex *index, int capacityHint, const char *spoolPath,
                         const JobRecord &job, std::string *why, JobRecord *pagedJob) {
  why->clear();
  if (index->offsets == nullptr || (index->count > 0 && !index->wrapsNonDsc)) return 0;
  if (spoolPath == nullptr) {
    *why = "the spool file has no name";
    return 0;
  }
  Plan plan;
  if (index->count == 0) {
    if (!PlanWithoutPages(in, *index, &plan)) {
      *why = "the document is empty or could not be read";
      return 0;
    }
  } else if (!PlanPstopsWrap(in, *index, &plan, why)) {
    return 0;
  }

  const std::string gsPath = std::string(spoolPath) + ".ps2write";
  const std::string newPath = std::string(spoolPath) + ".paged";
  const int gsFd = OpenNew(gsPath);
  if (gsFd < 0) {
    *why = "no file for Ghostscript's output: " + std::string(std::strerror(errno));
    return 0;
  }
  std::vector<std::pair<int64_t, int64_t>> pieces{{plan.docStart, plan.docEnd}};
  pieces.insert(pieces.end(), plan.moreDocs.begin(), plan.moreDocs.end());
  *why = RunPs2write(in, pieces, gsFd, job);
  FILE *gs = why->empty() ? fdopen(gsFd, "rb") : nullptr;
  if (gs == nullptr) {
    if (why->empty()) *why = "Ghostscript's output could not be read";
    close(gsFd);
    unlink(gsPath.c_str());
    return 0;
  }
  PageIndex g;
  FILE *out = nullptr;
  int readFd = -1;
  bool written = false;
  if (!bBuildPageIndex(gs, &g, capacityHint)) {
    *why = "Ghostscript's output could not be indexed";
  } else if (g.count < 1 || g.wrapsNonDsc) {
    *why = "Ghostscript's rewrite has no pages either";
  } else {
    const int outFd = OpenNew(newPath);
    out = outFd >= 0 ? fdopen(outFd, "wb") : nullptr;
    if (out == nullptr && outFd >= 0) close(outFd);
    written = out != nullptr &&
              (plan.wrapped ? WriteWrapped(in, plan, gs, g, out) : WriteWhole(in, plan, gs, out)) &&
              std::fflush(out) == 0 && !std::ferror(out);
    // Opened before the rename: `in` goes over to this very file.
    if (written) readFd = open(newPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (out != nullptr && std::fclose(out) != 0) written = false;
    if (!written || readFd < 0) *why = "the paged document could not be written";
  }
  vFreePageIndex(&g);
  std::fclose(gs);
  unlink(gsPath.c_str());
  if (!why->empty() || rename(newPath.c_str(), spoolPath) != 0) {
    if (why->empty()) *why = "the paged document could not take the spool file's place";
    if (readFd >= 0) close(readFd);
    unlink(newPath.c_str());
    return 0;
  }
  // `in` reads the paged document from here on; the spool file's name is
  // already its.
  const bool moved = dup2(readFd, fileno(in)) >= 0;
  close(readFd);
  std::clearerr(in);
  if (!moved || fseeko(in, 0, SEEK_SET) != 0) {
    *why = "the paged document could not be opened";
    return 0;
  }
  PageIndex paged;
  const int indexed = bBuildPageIndex(in, &paged, capacityHint);
  vFreePageIndex(index);
  *index = paged;
  if (pagedJob != nullptr) pagedJob->filterType = kFilterUnknown;
  return indexed;
}
