// Test support for the helper service: a private folder per test, the real
// service program started on a socket of its own (optionally inside a network
// namespace of its own), and a real snmpd on a loopback port.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// A fresh folder under /tmp, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadWholeFile(const std::string &path);
bool WriteWholeFile(const std::string &path, const std::string &content);
bool PathExists(const std::string &path);

// A child process inside a network namespace of its own: loopback up,
// 255.255.255.255 routed to loopback, ICMP datagram sockets allowed, and a
// UDP socket bound there to 0.0.0.0:udpPort handed back to the test (when
// udpPort is not 0). The child then runs body and exits with its result.
struct NetnsChild {
  pid_t pid = -1;
  int udpFd = -1;
  std::string whyNot;  // set when no namespace could be made: the test skips
};
NetnsChild StartInOwnNetns(uint16_t udpPort, const std::function<int()> &body);

// Waits for a datagram on fd; none after timeoutMs.
std::optional<std::string> ReceiveDatagram(int fd, int timeoutMs);

// Number of threads of a process (entries of /proc/<pid>/task).
int CountThreads(pid_t pid);

// Waits for a process to end; its exit status, or 128 + signal.
int WaitForExit(pid_t pid);
// Ends a process this test started: SIGTERM, then SIGKILL after a while.
void StopProcess(pid_t pid);

// The service program serving a socket in dir.
class ServiceProcess {
 public:
  // Starts the service; with inOwnNetns it runs inside a network namespace
  // of its own, with the UDP socket of port udpPort bound there (udpFd()).
  // extraArgs follow "--listen PATH" on its command line. With resolvConf
  // the service runs in a mount namespace of its own too, where that file
  // is /etc/resolv.conf (whyNot() says "mount namespace" when none can be made).
  ServiceProcess(const TempDir &dir, bool inOwnNetns = false, uint16_t udpPort = 0,
                 std::vector<std::string> extraArgs = {}, std::string resolvConf = "");
  ~ServiceProcess();
  ServiceProcess(const ServiceProcess &) = delete;
  ServiceProcess &operator=(const ServiceProcess &) = delete;

  bool running() const { return whyNot_.empty(); }
  const std::string &whyNot() const { return whyNot_; }
  pid_t pid() const { return pid_; }
  int udpFd() const { return udpFd_; }
  const std::string &socketPath() const { return socketPath_; }
  std::string standardError() const { return ReadWholeFile(errPath_); }

  // A new connection (-1 on failure).
  int Connect() const;
  // One request on a connection of its own; none when the service closed the
  // connection without a reply.
  std::optional<std::string> Call(const std::string &selector, const std::string &request) const;

 private:
  std::string socketPath_;
  std::string errPath_;
  std::vector<std::string> extraArgs_;
  std::string resolvConf_;
  pid_t pid_ = -1;
  int udpFd_ = -1;
  std::string whyNot_;
};

// snmpd on 127.0.0.1 at a free high port, over UDP and TCP, with the given
// extra configuration lines (override lines for fixed values, users).
class Snmpd {
 public:
  Snmpd(const TempDir &dir, const std::string &extraConfig);
  ~Snmpd();
  Snmpd(const Snmpd &) = delete;
  Snmpd &operator=(const Snmpd &) = delete;

  bool running() const { return whyNot_.empty(); }
  const std::string &whyNot() const { return whyNot_; }
  uint16_t port() const { return port_; }
  std::string agent() const { return "udp:127.0.0.1:" + std::to_string(port_); }
  std::string tcpAgent() const { return "tcp:127.0.0.1:" + std::to_string(port_); }

 private:
  pid_t pid_ = -1;
  uint16_t port_ = 0;
  std::string whyNot_;
};

// A UDP socket on 127.0.0.1 that never answers: an SNMP agent that is off.
class SilentAgent {
 public:
  SilentAgent();
  ~SilentAgent();
  SilentAgent(const SilentAgent &) = delete;
  SilentAgent &operator=(const SilentAgent &) = delete;
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string agent() const { return "udp:" + host(); }
  bool HeardAnything(int waitMs) const { return ReceiveDatagram(fd_, waitMs).has_value(); }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// A TCP listener on 127.0.0.1 that accepts nothing and whose queue is full
// already: the kernel drops every further connection attempt, so a connect to
// it neither completes nor fails for about two minutes.
class UnansweredTcpAgent {
 public:
  UnansweredTcpAgent();
  ~UnansweredTcpAgent();
  UnansweredTcpAgent(const UnansweredTcpAgent &) = delete;
  UnansweredTcpAgent &operator=(const UnansweredTcpAgent &) = delete;
  // Whether a connect really hangs (checked once, for 200 ms).
  bool ready() const { return ready_; }
  std::string agent() const { return "tcp:127.0.0.1:" + std::to_string(port_); }

 private:
  int listener_ = -1;
  int filler_ = -1;
  uint16_t port_ = 0;
  bool ready_ = false;
};

// A free UDP port on 127.0.0.1 (bound by nobody when this returns).
uint16_t FreeLoopbackUdpPort();
