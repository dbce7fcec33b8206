// Test support: see FilterRunner.h.
#include "FilterRunner.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifndef VT_FILTER_EXE
#error VT_FILTER_EXE must name the filter built with test locations
#endif

namespace {
void MakeDirs(const std::string &path) {
  size_t pos = 0;
  while (pos != std::string::npos) {
    size_t next = path.find('/', pos + 1);
    std::string prefix = path.substr(0, next);
    if (!prefix.empty()) mkdir(prefix.c_str(), 0755);
    pos = next;
  }
}

void RemoveTree(const std::string &path) {
  DIR *d = opendir(path.c_str());
  if (d) {
    while (dirent *e = readdir(d)) {
      if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
      std::string child = path + "/" + e->d_name;
      struct stat st;
      if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        RemoveTree(child);
      else
        unlink(child.c_str());
    }
    closedir(d);
  }
  rmdir(path.c_str());
}
}  // namespace

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

FilterJob::FilterJob() {
  const char *tmp = std::getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/vt-filter-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  dir_ = buf.data();
  MakeDirs(root());
  MakeDirs(spool());
}

FilterJob::~FilterJob() {
  if (!std::getenv("VT_KEEP_TEST_FILES")) RemoveTree(dir_);
}

std::string FilterJob::writeFile(const std::string &relative, const std::string &content) const {
  std::string path = dir_ + "/" + relative;
  MakeDirs(path.substr(0, path.rfind('/')));
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

std::string FilterJob::writeRootFile(const std::string &absolute, const std::string &content) const {
  return writeFile("root" + absolute, content);
}

void FilterJob::setSystemVersion(const std::string &version) const {
  writeRootFile("/System/Library/CoreServices/SystemVersion.plist",
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                "<plist version=\"1.0\">\n<dict>\n"
                "\t<key>ProductName</key>\n\t<string>Mac OS X</string>\n"
                "\t<key>ProductVersion</key>\n\t<string>" + version + "</string>\n"
                "</dict>\n</plist>\n");
}

void FilterJob::setCustomization(const std::string &plistText) const {
  writeRootFile("/Library/Printers/VANTORA/Q610/Plist/FilterCustomize.plist", plistText);
}

std::string MinimalPpd(const std::string &extraMain, const std::string &defaultPageSize) {
  std::string ppd =
      "*PPD-Adobe: \"4.3\"\n"
      "*FormatVersion: \"4.3\"\n"
      "*FileVersion: \"1.0\"\n"
      "*LanguageVersion: English\n"
      "*LanguageEncoding: ISOLatin1\n"
      "*PCFileName: \"Q610.PPD\"\n"
      "*Manufacturer: \"VANTORA\"\n"
      "*Product: \"(Q610)\"\n"
      "*ModelName: \"VANTORA Q610\"\n"
      "*ShortNickName: \"VANTORA Q610\"\n"
      "*NickName: \"VANTORA Q610\"\n"
      "*PSVersion: \"(3010.000) 0\"\n"
      "*LanguageLevel: \"3\"\n"
      "*ColorDevice: True\n"
      "*DefaultColorSpace: RGB\n"
      "*FileSystem: False\n"
      "*Throughput: \"30\"\n"
      "*TTRasterizer: Type42\n"
      "*OpenUI *PageSize/Media Size: PickOne\n"
      "*OrderDependency: 10 AnySetup *PageSize\n"
      "*DefaultPageSize: " + defaultPageSize + "\n"
      "*PageSize Letter/US Letter: \"<</PageSize[612 792]/ImagingBBox null>>setpagedevice\"\n"
      "*PageSize A4/A4: \"<</PageSize[595.28 841.89]/ImagingBBox null>>setpagedevice\"\n"
      "*CloseUI: *PageSize\n"
      "*OpenUI *PageRegion: PickOne\n"
      "*OrderDependency: 10 AnySetup *PageRegion\n"
      "*DefaultPageRegion: " + defaultPageSize + "\n"
      "*PageRegion Letter/US Letter: \"<</PageSize[612 792]/ImagingBBox null>>setpagedevice\"\n"
      "*PageRegion A4/A4: \"<</PageSize[595.28 841.89]/ImagingBBox null>>setpagedevice\"\n"
      "*CloseUI: *PageRegion\n"
      "*DefaultImageableArea: " + defaultPageSize + "\n"
      "*ImageableArea Letter/US Letter: \"12 12 600 780\"\n"
      "*ImageableArea A4/A4: \"12.5 12.5 582.78 829.39\"\n"
      "*DefaultPaperDimension: " + defaultPageSize + "\n"
      "*PaperDimension Letter/US Letter: \"612 792\"\n"
      "*PaperDimension A4/A4: \"595.28 841.89\"\n";
  ppd += extraMain;
  ppd += "*DefaultFont: Courier\n*Font Courier: Standard \"(002.004S)\" Standard ROM\n";
  return ppd;
}

std::string FilterJob::usePpd(const std::string &extraMain, const std::string &defaultPageSize) {
  ppdPath_ = writeFile("Q610.ppd", MinimalPpd(extraMain, defaultPageSize));
  return ppdPath_;
}

void FilterJob::usePpdText(const std::string &text) {
  ppdPath_ = text.empty() ? std::string() : writeFile("job.ppd", text);
}

namespace {
// In the child: the job's environment, then the filter itself.
[[noreturn]] void ExecFilter(const FilterJob &job, const std::string &ppdPath,
                             const std::vector<std::string> &args,
                             const std::map<std::string, std::string> &extraEnv) {
  setenv("VT_TEST_ROOT", job.root().c_str(), 1);
  setenv("VT_TEST_SPOOL_DIR", job.spool().c_str(), 1);
  if (ppdPath.empty())
    unsetenv("PPD");
  else
    setenv("PPD", ppdPath.c_str(), 1);
  for (const auto &[k, v] : extraEnv) setenv(k.c_str(), v.c_str(), 1);
  std::vector<char *> argv;
  std::string exe = VT_FILTER_EXE;
  argv.push_back(const_cast<char *>(exe.c_str()));
  for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  execv(exe.c_str(), argv.data());
  _exit(127);
}

int ExitStatus(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
}  // namespace

FilterResult FilterJob::run(const std::vector<std::string> &args, const std::string &stdinData,
                            const std::map<std::string, std::string> &extraEnv) const {
  RunOptions conditions;
  conditions.env = extraEnv;
  return runWith(args, stdinData, conditions);
}

FilterResult FilterJob::runWith(const std::vector<std::string> &args, const std::string &stdinData,
                                const RunOptions &conditions) const {
  FilterResult result;
  std::string inPath = writeFile("stdin.bin", stdinData);
  std::string outPath = conditions.stdoutPath.empty() ? dir_ + "/stdout.bin" : conditions.stdoutPath;
  std::string errPath = dir_ + "/stderr.txt";
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int in = open(inPath.c_str(), O_RDONLY);
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (conditions.fileSizeLimit >= 0) {
      std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
      struct rlimit limit;
      limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(conditions.fileSizeLimit);
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    ExecFilter(*this, ppdPath_, args, conditions.env);
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  result.maxRssKb = usage.ru_maxrss;
  result.pid = pid;
  result.status = ExitStatus(status);
  if (conditions.stdoutPath.empty()) result.out = ReadFile(outPath);
  result.err = ReadFile(errPath);
  return result;
}

FilterJob::Running FilterJob::start(const std::vector<std::string> &args) const {
  Running running;
  running.outPath_ = dir_ + "/stdout.bin";
  running.errPath_ = dir_ + "/stderr.txt";
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int out = open(running.outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(running.errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0) _exit(127);
    dup2(fds[0], 0);
    dup2(out, 1);
    dup2(err, 2);
    close(fds[0]);
    close(fds[1]);
    ExecFilter(*this, ppdPath_, args, {});
  }
  close(fds[0]);
  running.pid_ = pid;
  running.inputFd_ = fds[1];
  return running;
}

FilterJob::Running::Running(Running &&other) noexcept
    : pid_(other.pid_), inputFd_(other.inputFd_), outPath_(std::move(other.outPath_)),
      errPath_(std::move(other.errPath_)) {
  other.pid_ = -1;
  other.inputFd_ = -1;
}

FilterJob::Running::~Running() {
  closeInput();
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool FilterJob::Running::feed(const std::string &data) {
  std::signal(SIGPIPE, SIG_IGN);
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(inputFd_, data.data() + done, data.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void FilterJob::Running::closeInput() {
  if (inputFd_ >= 0) close(inputFd_);
  inputFd_ = -1;
}

void FilterJob::Running::signal(int sig) const {
  if (pid_ > 0) kill(pid_, sig);
}

FilterResult FilterJob::Running::wait() {
  FilterResult result;
  closeInput();
  int status = 0;
  if (pid_ > 0) waitpid(pid_, &status, 0);
  result.pid = pid_;
  pid_ = -1;
  result.status = ExitStatus(status);
  result.out = ReadFile(outPath_);
  result.err = ReadFile(errPath_);
  return result;
}

FilterResult FilterJob::print(const std::string &document, const std::string &options) const {
  return run({"1", "tester", "title", "1", options}, document);
}

FilterResult FilterJob::printFile(const std::string &document, const std::string &options) const {
  std::string path = writeFile("document.ps", document);
  return run({"1", "tester", "title", "1", options, path});
}

std::vector<std::string> FilterJob::spoolFiles() const {
  std::vector<std::string> names;
  if (DIR *d = opendir(spool().c_str())) {
    while (dirent *e = readdir(d))
      if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}
