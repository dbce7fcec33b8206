// Output sinks of the line pass, the spool file names and spool file A.
#include "output/SpoolUtil.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "output/Filter_Debug.h"
#include "VtPaths.h"

char *cpSpoolFileAwithPID = nullptr;
char *cpSpoolFileBwithPID = nullptr;
int giSpoolHandle = -1;
int giJobFailed = 0;

namespace {
// Copies of the names the cancel handler can use without touching the heap.
char gCancelPathA[4096];
char gCancelPathB[4096];

char *HeapCopy(const std::string &text) {
  char *copy = static_cast<char *>(std::calloc(text.size() + 1, 1));
  if (copy) std::memcpy(copy, text.data(), text.size());
  return copy;
}

void KeepForCancel(char *slot, const char *path) {
  slot[0] = '\0';
  if (path && std::strlen(path) < sizeof gCancelPathA) std::strcpy(slot, path);
}

void FailJob(const char *what) {
  if (!giJobFailed) vErrorMessage("%s", what);
  giJobFailed = 1;
}

// Writes all bytes to a descriptor, resuming after partial writes and
// interrupted calls; false when the bytes could not all be written.
bool WriteAll(int fd, const char *data, size_t length) {
  while (length > 0) {
    ssize_t n = write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

// Spool file A is read only after the pass has closed it, so the pass
// collects its lines in a buffer and writes it in large blocks: one system
// call per line made spooled jobs many times slower than one-pass jobs.
constexpr size_t kSpoolBufferSize = 256 * 1024;
char gSpoolBuffer[kSpoolBufferSize];
size_t gSpoolBuffered = 0;
int gSpoolBufferFd = -1;  // the descriptor the buffered bytes belong to

bool FlushSpoolBuffer() {
  bool ok = true;
  if (gSpoolBuffered > 0) ok = gSpoolBufferFd >= 0 && WriteAll(gSpoolBufferFd, gSpoolBuffer, gSpoolBuffered);
  gSpoolBuffered = 0;
  return ok;
}

bool SpoolWrite(const char *data, size_t length) {
  if (giSpoolHandle < 0) return false;
  if (gSpoolBufferFd != giSpoolHandle) {
    if (!FlushSpoolBuffer()) return false;
    gSpoolBufferFd = giSpoolHandle;
  }
  if (gSpoolBuffered + length > kSpoolBufferSize) {
    if (!FlushSpoolBuffer()) return false;
    if (length >= kSpoolBufferSize) return WriteAll(giSpoolHandle, data, length);
  }
  std::memcpy(gSpoolBuffer + gSpoolBuffered, data, length);
  gSpoolBuffered += length;
  return true;
}

extern "C" void CancelJob(int) {
  // Only async-signal-safe calls here.
  if (gCancelPathA[0]) unlink(gCancelPathA);
  if (gCancelPathB[0]) unlink(gCancelPathB);
  _exit(1);
}
}  // namespace

void vCreateSpoolFileName() {
  std::string dir = VtSpoolDir();
  std::string pid = std::to_string(static_cast<int>(getpid()));
  std::free(cpSpoolFileAwithPID);
  std::free(cpSpoolFileBwithPID);
  cpSpoolFileAwithPID = HeapCopy(dir + "/pstoMacOrb2SpoolA.tmp." + pid);
  cpSpoolFileBwithPID = HeapCopy(dir + "/pstoMacOrb2SpoolB.tmp." + pid);
  KeepForCancel(gCancelPathA, cpSpoolFileAwithPID);
  KeepForCancel(gCancelPathB, cpSpoolFileBwithPID);
}

void vCreateSpoolFile() {
  vCreateSpoolFileName();
  if (!cpSpoolFileAwithPID || !cpSpoolFileBwithPID) {
    FailJob("unable to open print file.");
    return;
  }
  // A file left at this name by an earlier process with the same id is
  // stale; a link planted here must not redirect the job, so the new file is
  // created exclusively and a link at the name makes the open fail.
  unlink(cpSpoolFileAwithPID);
  giSpoolHandle = open(cpSpoolFileAwithPID,
                       O_RDWR | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0664);
  if (giSpoolHandle < 0) FailJob("unable to open print file.");
}

int bFlushSpoolFile() {
  if (FlushSpoolBuffer()) return 1;
  FailJob("unable to write print file.");
  return 0;
}

void vCloseSpoolFile() {
  if (giSpoolHandle >= 0) {
    if (!giJobFailed) bFlushSpoolFile();
    gSpoolBuffered = 0;
    gSpoolBufferFd = -1;
    if (close(giSpoolHandle) != 0) FailJob("unable to write print file.");
    giSpoolHandle = -1;
  }
}

void vWrappedFwrite(const void *data, size_t size, size_t count, FILE *stream, int spool) {
  if (giJobFailed || !data || size == 0 || count == 0) return;
  size_t total = size * count;
  if (total / size != count) {
    FailJob("print data too large.");
    return;
  }
  if (spool == 1) {
    if (!SpoolWrite(static_cast<const char *>(data), total))
      FailJob("unable to write print file.");
  } else if (fwrite_unlocked(data, size, count, stream) != count) {
    // The filter is single-threaded: no stream lock is needed per line.
    FailJob("unable to write print data.");
  }
}

void vWrappedFprintf(FILE *stream, const char *text, int spool) {
  if (!text) return;
  vWrappedFwrite(text, 1, std::strlen(text), stream, spool);
}

void vRemoveSpoolFiles() {
  if (cpSpoolFileAwithPID) {
    std::remove(cpSpoolFileAwithPID);
    std::free(cpSpoolFileAwithPID);
    cpSpoolFileAwithPID = nullptr;
  }
  if (cpSpoolFileBwithPID) {
    std::remove(cpSpoolFileBwithPID);
    std::free(cpSpoolFileBwithPID);
    cpSpoolFileBwithPID = nullptr;
  }
  gCancelPathA[0] = '\0';
  gCancelPathB[0] = '\0';
}

void vInstallCancelHandler() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = CancelJob;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
}
