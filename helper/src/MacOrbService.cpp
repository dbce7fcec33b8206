// The requests the print dialog hands to the helper service: file access
// outside its sandbox, Wake-on-LAN, the echo probe and SNMP GETs that the
// dialog can cancel through a cancel file.
#include "MacOrbService.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <pthread.h>
#include <utility>
#include <vector>

#include "PdeSnmp.h"
#include "WakeOnLan.h"

struct CancelWatch {
  // The request's own cancel flag: a cancel ends this request and no other
  // that runs at the same time.
  std::atomic<int32_t> flag{0};
  std::mutex mutex;
  std::condition_variable finishedChanged;
  bool finished = false;
};

namespace {

constexpr auto kCancelPollInterval = std::chrono::milliseconds(20);
constexpr mode_t kServiceFileMask = 002;

// The cancel files that running requests watch, by file identity (device,
// inode) so that any spelling of a path finds its file, with the number of
// requests watching each. A cancel is written only into a watched file: one
// that comes after its request has ended would otherwise wait in the file and
// cancel the next request that names it.
using FileIdentity = std::pair<dev_t, ino_t>;
std::mutex gWatchedFilesMutex;
std::map<FileIdentity, int> gWatchedFiles;

FileIdentity IdentityOf(const struct stat &attributes) {
  return FileIdentity{attributes.st_dev, attributes.st_ino};
}

// Registers the open cancel file fd as watched. The first watcher empties it:
// whatever it holds was written for a request that has ended.
FileIdentity WatchCancelFile(int fd) {
  struct stat attributes;
  if (fstat(fd, &attributes) != 0) return {};
  const FileIdentity identity = IdentityOf(attributes);
  std::lock_guard<std::mutex> lock(gWatchedFilesMutex);
  if (gWatchedFiles[identity]++ == 0 && attributes.st_size > 0) (void)!ftruncate(fd, 0);
  return identity;
}

// Ends a request's watch of its cancel file. When it was the last watcher, a
// cancel that arrived too late for it is removed with the file, so that it
// cannot cancel a later request.
void UnwatchCancelFile(const FileIdentity &identity, const std::string &path) {
  std::lock_guard<std::mutex> lock(gWatchedFilesMutex);
  const auto found = gWatchedFiles.find(identity);
  if (found == gWatchedFiles.end() || --found->second > 0) return;
  gWatchedFiles.erase(found);
  struct stat attributes;
  if (stat(path.c_str(), &attributes) == 0 && IdentityOf(attributes) == identity && attributes.st_size > 0) {
    unlink(path.c_str());
  }
}

// Marks the watched request finished when the request's scope ends.
class WatchFinisher {
 public:
  WatchFinisher(std::shared_ptr<CancelWatch> watch, FileIdentity identity, std::string path)
      : watch_(std::move(watch)), identity_(identity), path_(std::move(path)) {}
  ~WatchFinisher() {
    if (!watch_) return;
    {
      std::lock_guard<std::mutex> lock(watch_->mutex);
      watch_->finished = true;
    }
    watch_->finishedChanged.notify_all();
    UnwatchCancelFile(identity_, path_);
  }
  WatchFinisher(const WatchFinisher &) = delete;
  WatchFinisher &operator=(const WatchFinisher &) = delete;

 private:
  std::shared_ptr<CancelWatch> watch_;
  FileIdentity identity_;
  std::string path_;
};

// Writes all of data to fd; false on any failure.
bool WriteAll(int fd, std::string_view data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t w = write(fd, data.data() + done, data.size() - done);
    if (w > 0) {
      done += static_cast<size_t>(w);
    } else if (w < 0 && errno == EINTR) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

std::string SnmpReply(int result, uint8_t valueType, const SnmpResultArea &area) {
  char reply[64 + kSnmpResultSize];
  if (result != 0) {
    std::snprintf(reply, sizeof reply, "FALSE:rtn_ExitValue=%d", result);
  } else if (valueType == 2) {
    std::snprintf(reply, sizeof reply, "TRUE:uResult.integer=%d", area.integer);
  } else if (valueType == 4 || valueType == 6) {
    std::snprintf(reply, sizeof reply, "TRUE:uResult.string=%s", area.string);
  } else {
    return "FALSE";
  }
  return reply;
}

void *RunDetached(void *job) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()> *>(job));
  (*body)();
  return nullptr;
}

}  // namespace

bool StartDetachedThread(std::function<void()> body) {
  auto *job = new std::function<void()>(std::move(body));
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  const int started = pthread_create(&thread, &attributes, RunDetached, job);
  pthread_attr_destroy(&attributes);
  if (started != 0) delete job;
  return started == 0;
}

int isFilePathWritable_XPC(const std::string &path) {
  umask(kServiceFileMask);
  const int flags = O_RDWR | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  // Creating exclusively tells for certain whether this call made the file,
  // so a file that someone else creates meanwhile is never removed.
  int fd = open(path.c_str(), flags | O_CREAT | O_EXCL, 0664);
  if (fd >= 0) {
    close(fd);
    unlink(path.c_str());
    return 1;
  }
  if (errno != EEXIST) return 0;
  fd = open(path.c_str(), flags);
  if (fd < 0) return 0;
  close(fd);
  return 1;
}

std::string MacOrbServiceXPC::isFilePathWritable_XPC(std::string_view request) {
  const auto path = ParseWritablePathRequest(request);
  if (!path) return "FALSE";
  return ::isFilePathWritable_XPC(*path) ? "TRUE" : "FALSE";
}

std::string MacOrbServiceXPC::writeDictionaryToPlistFile_XPC(std::string_view request) {
  const auto parsed = ParsePlistWriteRequest(request);
  if (!parsed) return "FALSE";
  const auto path = FileURLToPath(parsed->url);
  if (!path) return "FALSE";
  umask(kServiceFileMask);
  const int fd = open(path->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) return "FALSE";
  const bool written = WriteAll(fd, parsed->contents);
  const bool closed = close(fd) == 0;
  return written && closed ? "TRUE" : "FALSE";
}

std::string MacOrbServiceXPC::sendMagicPacket_XPC(std::string_view request) {
  const auto parsed = ParseMagicPacketRequest(request);
  if (!parsed) return "FALSE";
  const auto text = [](const std::optional<std::string> &s) { return s ? s->c_str() : nullptr; };
  const int result = SendMagicPacket(text(parsed->broadcast), text(parsed->mac), text(parsed->password));
  return std::to_string(result);
}

std::string MacOrbServiceXPC::sendEchoAndRecvReply_XPC(std::string_view request) {
  const auto parsed = ParseEchoRequest(request);
  if (!parsed) return "FALSE";
  return sendEchoAndRecvReply(parsed->address.c_str(), parsed->timeoutMs) == 1 ? "TRUE" : "FALSE";
}

void MacOrbServiceXPC::cancelFileReadThread(std::string cancelFilePath,
                                            std::shared_ptr<CancelWatch> watch) {
  std::unique_lock<std::mutex> lock(watch->mutex);
  for (;;) {
    if (watch->finished) return;
    struct stat attributes;
    if (stat(cancelFilePath.c_str(), &attributes) == 0 && attributes.st_size > 0) {
      watch->flag.store(1);
      gCancelFlag.store(1);
      unlink(cancelFilePath.c_str());
      return;
    }
    watch->finishedChanged.wait_for(lock, kCancelPollInterval);
  }
}

std::string MacOrbServiceXPC::pdeSnmpGet_XPC(std::string_view request) {
  SnmpGetParse parse = ParseSnmpGetRequest(request);
  if (!parse.request) return SnmpReply(parse.error, 0, SnmpResultArea{});
  SnmpGetRequest &req = *parse.request;

  // The cancel file must exist (empty) before the dialog may write to it.
  if (!req.cancelFile) return "FALSE";
  umask(kServiceFileMask);
  const int fd = open(req.cancelFile->c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0664);
  if (fd < 0) return "FALSE";
  // Watched from here on: a cancel written from now is this request's.
  FileIdentity identity = req.cancelFlag ? WatchCancelFile(fd) : FileIdentity{};
  close(fd);

  // The flag is set before the watcher starts, so that a cancellation which
  // comes at once is not undone.
  std::shared_ptr<CancelWatch> watch;
  if (req.cancelFlag) {
    watch = std::make_shared<CancelWatch>();
    watch->flag.store(*req.cancelFlag);
    gCancelFlag.store(*req.cancelFlag);
    const std::string path = *req.cancelFile;
    // Without a thread to spare the request still runs; it just cannot be cancelled.
    if (!StartDetachedThread([path, watch] { cancelFileReadThread(path, watch); })) {
      UnwatchCancelFile(identity, path);
      identity = FileIdentity{};  // watched by nobody: nothing to end
    }
  }
  WatchFinisher finisher(watch, identity, req.cancelFile.value_or(""));

  if (req.timeout) gSnmpTimeout.store(*req.timeout);
  if (req.retries) gSnmpRetries.store(*req.retries);

  std::vector<char *> argv;
  argv.reserve(req.words.size() + 1);
  for (std::string &word : req.words) argv.push_back(word.data());
  argv.push_back(nullptr);

  SnmpResultArea area;
  std::memset(&area, 0, sizeof area);
  uint8_t valueType = 0;
  const int result = PdeSnmpGet(static_cast<int>(req.words.size()), argv.data(), &area,
                                req.expectedType, watch ? &watch->flag : nullptr,
                                req.charFlag, &valueType);
  return SnmpReply(result, valueType, area);
}

std::string MacOrbServiceXPC::cancelFileWrite_XPC(std::string_view request) {
  const std::string whole(request);
  syslog(LOG_ERR, "helper - cancelFileWrite - argString = %s\n", whole.c_str());
  const auto path = ParseCancelFileWriteRequest(request);
  if (!path) return "FALSE";
  syslog(LOG_ERR, "helper - cancelFileWrite - argcStr = %s\n", path->c_str());

  umask(kServiceFileMask);
  const int fd = open(path->c_str(), O_RDWR | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return "FALSE";
  struct stat attributes;
  std::lock_guard<std::mutex> lock(gWatchedFilesMutex);
  if (fstat(fd, &attributes) != 0 || gWatchedFiles.count(IdentityOf(attributes)) == 0) {
    // No running request watches this file: the request it was meant for has
    // ended. Nothing is cancelled, and the empty cancel file that request
    // left goes too; a file with anything else in it is no cancel file and
    // is left alone.
    close(fd);
    if (stat(path->c_str(), &attributes) == 0 && S_ISREG(attributes.st_mode) && attributes.st_size == 0 &&
        gWatchedFiles.count(IdentityOf(attributes)) == 0) {
      unlink(path->c_str());
    }
    return "FALSE";
  }
  const char one = 1;
  ssize_t written = write(fd, &one, 1);
  if (written != 1) written = write(fd, &one, 1);
  close(fd);
  return written == 1 ? "TRUE" : "FALSE";
}

std::string MacOrbServiceXPC::Perform(OrbSelector selector, std::string_view request) {
  switch (selector) {
    case OrbSelector::kIsFilePathWritable: return isFilePathWritable_XPC(request);
    case OrbSelector::kWriteDictionaryToPlistFile: return writeDictionaryToPlistFile_XPC(request);
    case OrbSelector::kSendMagicPacket: return sendMagicPacket_XPC(request);
    case OrbSelector::kSendEchoAndRecvReply: return sendEchoAndRecvReply_XPC(request);
    case OrbSelector::kPdeSnmpGet: return pdeSnmpGet_XPC(request);
    case OrbSelector::kCancelFileWrite: return cancelFileWrite_XPC(request);
  }
  return "FALSE";
}
