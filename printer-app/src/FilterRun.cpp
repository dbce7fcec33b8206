#include "FilterRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char **environ;

namespace vtpapp {
namespace {

bool StartsWith(const std::string &s, const char *prefix) {
  return s.compare(0, std::strlen(prefix), prefix) == 0;
}

// Runs a program with its output to /dev/null and waits for it.
int RunQuiet(const std::vector<std::string> &argv) {
  std::vector<char *> args;
  for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  int rc = posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

void ParseFilterLine(const std::string &line, const FilterProgress &progress) {
  static const char kImpressions[] = "ATTR: job-impressions-completed=";
  if (StartsWith(line, kImpressions)) {
    char *end = nullptr;
    long n = std::strtol(line.c_str() + sizeof(kImpressions) - 1, &end, 10);
    if (end && end != line.c_str() + sizeof(kImpressions) - 1 && *end == '\0' && n >= 0 &&
        n < 1000000000) {
      if (progress.impressions) progress.impressions(static_cast<int>(n));
      return;
    }
  }
  if (StartsWith(line, "ERROR:")) {
    std::string msg = line.substr(6);
    while (!msg.empty() && msg.front() == ' ') msg.erase(0, 1);
    if (progress.error) progress.error(msg);
    return;
  }
  if (progress.log) progress.log(line);
}

std::string FirstExecutable(const std::vector<std::string> &candidates) {
  for (const auto &c : candidates)
    if (!c.empty() && access(c.c_str(), X_OK) == 0) {
      struct stat st;
      if (stat(c.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return c;
    }
  return {};
}

std::string FirstReadable(const std::vector<std::string> &candidates) {
  for (const auto &c : candidates)
    if (!c.empty() && access(c.c_str(), R_OK) == 0) return c;
  return {};
}

std::string ProgramDir() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return {};
  std::string p(buf, static_cast<size_t>(n));
  size_t slash = p.rfind('/');
  return slash == std::string::npos ? std::string() : p.substr(0, slash);
}

bool HasPageComments(const std::string &ps) {
  std::FILE *f = std::fopen(ps.c_str(), "rb");
  if (!f) return false;
  char line[256];
  bool found = false;
  bool atStart = true;
  while (!found && std::fgets(line, sizeof(line), f)) {
    if (atStart && !std::strncmp(line, "%%Page:", 7)) found = true;
    atStart = std::strchr(line, '\n') != nullptr;
  }
  std::fclose(f);
  return found;
}

bool NameCreator(const std::string &ps, const char *creator) {
  std::FILE *in = std::fopen(ps.c_str(), "rb");
  if (!in) return false;
  std::string tmp = ps + ".creator";
  std::FILE *out = std::fopen(tmp.c_str(), "wb");
  if (!out) {
    std::fclose(in);
    return false;
  }
  char buf[65536];
  bool ok = true, first = true;
  if (std::fgets(buf, sizeof(buf), in)) {
    ok = std::fputs(buf, out) >= 0 && std::fprintf(out, "%%%%Creator: %s\n", creator) > 0;
    first = false;
  }
  size_t n;
  while (ok && (n = std::fread(buf, 1, sizeof(buf), in)) > 0) ok = std::fwrite(buf, 1, n, out) == n;
  ok = ok && !std::ferror(in) && !first;
  std::fclose(in);
  if (std::fclose(out) != 0) ok = false;
  if (ok) ok = std::rename(tmp.c_str(), ps.c_str()) == 0;
  if (!ok) std::remove(tmp.c_str());
  return ok;
}

bool NormalizePostScript(const std::string &in, const std::string &out, bool fit, bool expand,
                         int paperWidthPoints, int paperHeightPoints, std::string &error) {
  std::string gs = FirstExecutable({"/usr/bin/gs", "/usr/local/bin/gs"});
  if (gs.empty()) {
    error = "Ghostscript is not installed";
    return false;
  }
  std::string pdf = out + ".pdf";
  bool ok = RunQuiet({gs, "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=pdfwrite",
                      "-sOutputFile=" + pdf, in}) == 0;
  if (!ok)
    error = "Ghostscript could not read the PostScript document";
  else
    ok = ConvertPdfToPs(pdf, out, fit, expand, paperWidthPoints, paperHeightPoints, error);
  std::remove(pdf.c_str());
  return ok;
}

bool ConvertPdfToPs(const std::string &pdf, const std::string &ps, bool fit, bool expand,
                    int paperWidthPoints, int paperHeightPoints, std::string &error) {
  std::string pdftops = FirstExecutable({"/usr/bin/pdftops", "/usr/local/bin/pdftops"});
  if (!pdftops.empty()) {
    std::vector<std::string> argv{pdftops, "-level3"};
    if (!fit) {
      argv.push_back("-origpagesizes");
    } else {
      if (paperWidthPoints > 0 && paperHeightPoints > 0) {
        argv.insert(argv.end(), {"-paperw", std::to_string(paperWidthPoints), "-paperh",
                                 std::to_string(paperHeightPoints)});
      }
      if (expand) argv.push_back("-expand");
    }
    argv.insert(argv.end(), {pdf, ps});
    // pdftops names itself only in a plain comment; the filter reads the
    // creator from the DSC header.
    if (RunQuiet(argv) == 0) {
      if (NameCreator(ps, "poppler pdftops")) return true;
      error = "cannot write the converted document";
      return false;
    }
    error = "pdftops could not convert the document";
  }
  std::string gs = FirstExecutable({"/usr/bin/gs", "/usr/local/bin/gs"});
  if (gs.empty()) {
    if (error.empty()) error = "neither pdftops nor gs is installed";
    return false;
  }
  std::vector<std::string> argv{gs, "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=ps2write"};
  if (fit && paperWidthPoints > 0 && paperHeightPoints > 0) {
    argv.insert(argv.end(), {"-dFIXEDMEDIA", "-dPDFFitPage",
                             "-dDEVICEWIDTHPOINTS=" + std::to_string(paperWidthPoints),
                             "-dDEVICEHEIGHTPOINTS=" + std::to_string(paperHeightPoints)});
  }
  argv.insert(argv.end(), {"-sOutputFile=" + ps, pdf});
  if (RunQuiet(argv) == 0) {
    error.clear();
    return true;
  }
  error = "Ghostscript could not convert the document";
  return false;
}

int RunFilter(const std::string &program, const std::vector<std::string> &args,
              const std::vector<std::string> &env,
              const std::function<bool(const char *, size_t)> &sink, const FilterProgress &progress,
              std::string &error) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    return -1;
  }
  if (pipe2(err, O_CLOEXEC) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    close(out[0]);
    close(out[1]);
    return -1;
  }

  std::vector<std::string> envStrings;
  for (char **e = environ; *e; ++e) {
    bool replaced = false;
    for (const auto &x : env) {
      size_t eq = x.find('=');
      if (eq != std::string::npos && std::strncmp(*e, x.c_str(), eq + 1) == 0) replaced = true;
    }
    if (!replaced) envStrings.emplace_back(*e);
  }
  envStrings.insert(envStrings.end(), env.begin(), env.end());
  std::vector<char *> envp, argv;
  for (auto &e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);
  argv.push_back(const_cast<char *>(program.c_str()));
  for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_adddup2(&fa, err[1], 2);
  // A process group of its own, so a stop reaches whatever the filter started.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);
  pid_t pid;
  int rc = posix_spawn(&pid, program.c_str(), &fa, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);
  close(out[1]);
  close(err[1]);
  if (rc != 0) {
    error = "cannot run " + program + ": " + std::strerror(rc);
    close(out[0]);
    close(err[0]);
    return -1;
  }

  bool stopped = false;
  std::string pending;
  char buf[65536];
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = 2;
  while (open > 0) {
    if (!stopped && progress.canceled && progress.canceled()) {
      stopped = true;
      kill(-pid, SIGTERM);
    }
    int n = poll(fds, 2, 500);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    for (auto &f : fds) {
      if (f.fd < 0 || !(f.revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t got = read(f.fd, buf, sizeof(buf));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        close(f.fd);
        f.fd = -1;
        --open;
        continue;
      }
      if (f.fd == out[0]) {
        if (!stopped && !sink(buf, static_cast<size_t>(got))) {
          stopped = true;
          error = "the device did not take the print stream";
          kill(-pid, SIGTERM);
        }
      } else {
        pending.append(buf, static_cast<size_t>(got));
        size_t nl;
        while ((nl = pending.find('\n')) != std::string::npos) {
          ParseFilterLine(pending.substr(0, nl), progress);
          pending.erase(0, nl + 1);
        }
        // A line that never ends is cut, not collected without bound.
        if (pending.size() > 65536) {
          ParseFilterLine(pending, progress);
          pending.clear();
        }
      }
    }
  }
  if (!pending.empty()) ParseFilterLine(pending, progress);
  for (auto &f : fds)
    if (f.fd >= 0) close(f.fd);

  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (stopped) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  error = "the filter was killed by signal " + std::to_string(WTERMSIG(status));
  return -1;
}

}  // namespace vtpapp
