// MacOrbServiceXPC: the helper service of the print dialog. Serves the
// dialog's requests on a Unix socket, either one it binds itself
// (--listen PATH) or the one socket activation hands it.
#include <csignal>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "OrbListener.h"
#include "PdeSnmp.h"

namespace {

// A whole decimal number from 1 to 1000000, or 0.
int PositiveNumber(const char *text) {
  char *end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < 1 || value > 1000000) return 0;
  return static_cast<int>(value);
}

}  // namespace

int main(int argc, char **argv) {
  std::string error;
  const char *listenPath = nullptr;
  ConnectionLimits limits;
  bool usable = true;
  for (int i = 1; i < argc && usable; i += 2) {
    if (i + 1 >= argc) {
      usable = false;
    } else if (std::strcmp(argv[i], "--listen") == 0) {
      listenPath = argv[i + 1];
    } else if (std::strcmp(argv[i], "--max-connections") == 0) {
      limits.maxConnections = PositiveNumber(argv[i + 1]);
      usable = limits.maxConnections > 0;
    } else if (std::strcmp(argv[i], "--idle-timeout") == 0) {
      limits.idleTimeoutSeconds = PositiveNumber(argv[i + 1]);
      usable = limits.idleTimeoutSeconds > 0;
    } else {
      usable = false;
    }
  }
  if (!usable) {
    std::fprintf(stderr,
                 "usage: MacOrbServiceXPC [--listen SOCKET-PATH] [--max-connections N] [--idle-timeout SECONDS]\n");
    return 2;
  }
  const int listenFd = listenPath ? OpenListeningSocket(listenPath, error) : ListeningSocketFromActivation(error);
  if (listenFd < 0) {
    std::fprintf(stderr, "MacOrbServiceXPC: %s\n", error.c_str());
    return 1;
  }
  // A client that goes away mid-reply must not end the service.
  std::signal(SIGPIPE, SIG_IGN);
  umask(002);
  PdeSnmpInit();
  ServeForever(listenFd, limits);
}
