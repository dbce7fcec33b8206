// Listener of the helper service: accepts the print dialog's connections on a
// Unix socket and answers each on a thread of its own.
#include "OrbListener.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "MacOrbService.h"
#include "OrbRequests.h"
#include "OrbWire.h"

namespace {

constexpr int kActivatedFd = 3;

// Connections being served now, across all delegates.
std::atomic<int> gOpenConnections{0};

// A silent peer ends its connection after seconds: reads and writes then
// fail instead of waiting for ever.
void SetIdleTimeout(int fd, int seconds) {
  if (seconds <= 0) return;
  timeval limit{};
  limit.tv_sec = seconds;
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

bool FillAddress(const std::string &path, sockaddr_un &address, std::string &error) {
  address = sockaddr_un{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    error = "socket path is empty or too long: " + path;
    return false;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

int OpenListeningSocket(const std::string &path, std::string &error) {
  sockaddr_un address;
  if (!FillAddress(path, address, error)) return -1;

  struct stat existing;
  if (lstat(path.c_str(), &existing) == 0) {
    if (!S_ISSOCK(existing.st_mode)) {
      error = path + " exists and is not a socket";
      return -1;
    }
    const int probe = ConnectToService(path);
    if (probe >= 0) {
      close(probe);
      error = "another service already listens on " + path;
      return -1;
    }
    unlink(path.c_str());
  }

  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  // The socket file is made with mode 0600 from the start, not changed after.
  const mode_t oldMask = umask(077);
  const int bound = bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
  const int bindErrno = errno;
  umask(oldMask);
  if (bound != 0) {
    error = "bind " + path + ": " + std::strerror(bindErrno);
    close(fd);
    return -1;
  }
  if (chmod(path.c_str(), 0600) != 0 || listen(fd, SOMAXCONN) != 0) {
    error = "listen " + path + ": " + std::strerror(errno);
    close(fd);
    unlink(path.c_str());
    return -1;
  }
  return fd;
}

int ListeningSocketFromActivation(std::string &error) {
  const char *pidText = std::getenv("LISTEN_PID");
  const char *fdsText = std::getenv("LISTEN_FDS");
  if (pidText == nullptr || fdsText == nullptr) {
    error = "not started by socket activation";
    return -1;
  }
  const long pid = std::strtol(pidText, nullptr, 10);
  const long fds = std::strtol(fdsText, nullptr, 10);
  unsetenv("LISTEN_PID");
  unsetenv("LISTEN_FDS");
  unsetenv("LISTEN_FDNAMES");
  if (pid != static_cast<long>(getpid()) || fds < 1) {
    error = "the activation's sockets are meant for another process";
    return -1;
  }
  int listening = 0;
  socklen_t length = sizeof listening;
  int type = 0;
  socklen_t typeLength = sizeof type;
  if (getsockopt(kActivatedFd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) != 0 || !listening ||
      getsockopt(kActivatedFd, SOL_SOCKET, SO_TYPE, &type, &typeLength) != 0 || type != SOCK_STREAM) {
    error = "descriptor 3 is not a listening stream socket";
    return -1;
  }
  fcntl(kActivatedFd, F_SETFD, FD_CLOEXEC);
  return kActivatedFd;
}

bool PeerIsTrusted(int connectionFd) {
  ucred peer{};
  socklen_t length = sizeof peer;
  if (getsockopt(connectionFd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || length != sizeof peer) {
    return false;
  }
  return peer.uid == 0 || peer.uid == geteuid();
}

void ServeConnection(int connectionFd) {
  MacOrbServiceXPC service;
  std::string body;
  while (ReadFrame(connectionFd, body) == FrameStatus::kOk) {
    const auto frame = DecodeRequestFrame(body);
    if (!frame) break;
    if (!WriteFrame(connectionFd, service.Perform(frame->selector, frame->request))) break;
  }
  close(connectionFd);
}

void ServeForever(int listenFd, ConnectionLimits limits) {
  MacOrbXPCServiceDelegate5403614C_9BB3_4BD1_B25C_0731A6FA2F7C delegate(limits);
  for (;;) {
    const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors or a connection gone before it was accepted: wait
      // a moment rather than spin, and go on serving.
      if (errno != EINTR && errno != ECONNABORTED) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      continue;
    }
    delegate.shouldAcceptNewConnection(fd);
  }
}

bool MacOrbXPCServiceDelegate5403614C_9BB3_4BD1_B25C_0731A6FA2F7C::shouldAcceptNewConnection(int connectionFd) {
  if (!PeerIsTrusted(connectionFd)) {
    close(connectionFd);
    return false;
  }
  // Only this thread adds connections, so the count can only fall between
  // the check and the increment.
  if (limits_.maxConnections > 0 && gOpenConnections.load() >= limits_.maxConnections) {
    close(connectionFd);  // the client sees the connection end without a reply
    return false;
  }
  SetIdleTimeout(connectionFd, limits_.idleTimeoutSeconds);
  gOpenConnections.fetch_add(1);
  if (!StartDetachedThread([connectionFd] {
        ServeConnection(connectionFd);
        gOpenConnections.fetch_sub(1);
      })) {
    gOpenConnections.fetch_sub(1);
    close(connectionFd);
    return false;
  }
  return true;
}
