// The service's listener: a Unix stream socket standing in for the XPC
// listener. Each accepted connection gets its own service object and thread.
#pragma once

#include <string>

// Binds and listens on a Unix socket at path, mode 0600. A stale socket left
// by an earlier run is replaced; a live one is not. -1 with error set.
int OpenListeningSocket(const std::string &path, std::string &error);

// The listening socket handed over by socket activation (LISTEN_PID and
// LISTEN_FDS naming this process; the socket is descriptor 3), or -1.
int ListeningSocketFromActivation(std::string &error);

// Only the service's own user, and root, may talk to it.
bool PeerIsTrusted(int connectionFd);

// How many connections are served at once, and how long a connection may
// stay silent (between requests, or not reading a reply) before it is closed.
struct ConnectionLimits {
  int maxConnections = 64;
  int idleTimeoutSeconds = 120;
};

// The listener's delegate: accepts a connection from a trusted peer and
// serves it with a service object and a thread of its own; refuses (closes)
// any other, and any beyond the limit while that many are served. True when
// the connection was accepted.
class MacOrbXPCServiceDelegate5403614C_9BB3_4BD1_B25C_0731A6FA2F7C {
 public:
  explicit MacOrbXPCServiceDelegate5403614C_9BB3_4BD1_B25C_0731A6FA2F7C(ConnectionLimits limits = {})
      : limits_(limits) {}
  bool shouldAcceptNewConnection(int connectionFd);

 private:
  ConnectionLimits limits_;
};

// Answers the requests of one connection in order until the peer closes it,
// sends something that is not a request or stays silent too long; then
// closes it.
void ServeConnection(int connectionFd);

// Accepts connections for ever, each served on a thread of its own.
[[noreturn]] void ServeForever(int listenFd, ConnectionLimits limits = {});
