// orb-call: sends one request to the helper service and prints its reply.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "OrbRequests.h"
#include "OrbWire.h"

int main(int argc, char **argv) {
  if (argc != 5 || std::strcmp(argv[1], "--socket") != 0) {
    std::fprintf(stderr, "usage: orb-call --socket SOCKET-PATH SELECTOR REQUEST\n");
    return 2;
  }
  if (!OrbSelectorFromName(argv[3])) {
    std::fprintf(stderr, "orb-call: unknown selector %s\n", argv[3]);
    return 2;
  }
  const int fd = ConnectToService(argv[2]);
  if (fd < 0) {
    std::fprintf(stderr, "orb-call: cannot connect to %s: %s\n", argv[2], std::strerror(errno));
    return 1;
  }
  std::string reply;
  const bool answered = CallService(fd, argv[3], argv[4], reply);
  close(fd);
  if (!answered) {
    std::fprintf(stderr, "orb-call: the service closed the connection without a reply\n");
    return 1;
  }
  std::fwrite(reply.data(), 1, reply.size(), stdout);
  std::fputc('\n', stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
