// Frames over the service's stream socket, both ways.
#include "OrbWire.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "OrbRequests.h"

namespace {

// Reads exactly n bytes. Returns n, 0 when the peer closed before the first
// byte, or -1 when the stream ended or failed part way.
ssize_t ReadFully(int fd, char *buffer, size_t n) {
  size_t got = 0;
  while (got < n) {
    const ssize_t r = read(fd, buffer + got, n - got);
    if (r > 0) {
      got += static_cast<size_t>(r);
    } else if (r == 0) {
      return got == 0 ? 0 : -1;
    } else if (errno != EINTR) {
      return -1;
    }
  }
  return static_cast<ssize_t>(got);
}

}  // namespace

FrameStatus ReadFrame(int fd, std::string &body) {
  unsigned char prefix[4];
  const ssize_t r = ReadFully(fd, reinterpret_cast<char *>(prefix), sizeof prefix);
  if (r == 0) return FrameStatus::kClosed;
  if (r < 0) return FrameStatus::kBroken;
  const uint32_t length = ReadFrameLengthPrefix(prefix);
  if (length > kMaxFrameLength) return FrameStatus::kTooLong;
  body.assign(length, '\0');
  if (length > 0 && ReadFully(fd, body.data(), length) != static_cast<ssize_t>(length)) {
    return FrameStatus::kBroken;
  }
  return FrameStatus::kOk;
}

bool WriteFrame(int fd, std::string_view body) {
  if (body.size() > kMaxFrameLength) return false;
  std::string frame = FrameLengthPrefix(body.size());
  frame += body;
  size_t sent = 0;
  while (sent < frame.size()) {
    const ssize_t w = send(fd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
    if (w > 0) {
      sent += static_cast<size_t>(w);
    } else if (w < 0 && errno == EINTR) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

int ConnectToService(const std::string &socketPath) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
    const int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

bool CallService(int fd, std::string_view selectorName, std::string_view request, std::string &reply) {
  if (!WriteFrame(fd, EncodeRequestFrame(selectorName, request))) return false;
  return ReadFrame(fd, reply) == FrameStatus::kOk;
}
