// MacOrbServiceXPC: the helper service of the print dialog. Serves the
// dialog's requests on a Unix socket, either one it binds itself
// (--listen PATH) or the one socket activation hands it.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "OrbListener.h"
#include "PdeSnmp.h"

int main(int argc, char **argv) {
  std::string error;
  int listenFd = -1;
  if (argc == 3 && std::strcmp(argv[1], "--listen") == 0) {
    listenFd = OpenListeningSocket(argv[2], error);
  } else if (argc == 1) {
    listenFd = ListeningSocketFromActivation(error);
  } else {
    std::fprintf(stderr, "usage: MacOrbServiceXPC [--listen SOCKET-PATH]\n");
    return 2;
  }
  if (listenFd < 0) {
    std::fprintf(stderr, "MacOrbServiceXPC: %s\n", error.c_str());
    return 1;
  }
  // A client that goes away mid-reply must not end the service.
  std::signal(SIGPIPE, SIG_IGN);
  umask(002);
  PdeSnmpInit();
  ServeForever(listenFd);
}
