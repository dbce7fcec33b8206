// Test support for the helper service: folders, processes, namespaces, snmpd.
#include "HelperTestSupport.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "OrbWire.h"

#ifndef VT_SERVICE_EXE
#define VT_SERVICE_EXE ""
#endif
#ifndef VT_SNMPD_EXE
#define VT_SNMPD_EXE ""
#endif
#ifndef VT_IP_EXE
#define VT_IP_EXE ""
#endif

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

// The IPv4 socket address of the given host order address and port.
sockaddr_in Ipv4(uint32_t host, uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(host);
  return address;
}

// A new socket of the given type bound to host:port (port 0: any free one);
// its port in *bound. -1, with errno of the failing call, on failure.
int BoundSocket(int type, uint32_t host, uint16_t port, uint16_t *bound = nullptr) {
  const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address = Ipv4(host, port);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  if (bound) *bound = ntohs(address.sin_port);
  return fd;
}

// In a child just forked: it dies with the test process, so that a test that
// aborts leaves no snmpd or service behind.
void DieWithParent(pid_t parent) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(1);
}

bool WriteProcFile(const char *path, const std::string &text) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return ok;
}

bool RunQuietly(const std::vector<std::string> &args) {
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    const int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      dup2(devnull, 1);
      dup2(devnull, 2);
    }
    std::vector<char *> argv;
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return WaitForExit(pid) == 0;
}

// Moves the calling (single-threaded) process into a network namespace of
// its own; as root directly, otherwise inside a user namespace of its own.
bool EnterOwnNetns(std::string &why) {
  const uid_t uid = geteuid();
  const gid_t gid = getegid();
  if (unshare(CLONE_NEWNET) != 0) {
    if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
      why = std::string("cannot make a network namespace of our own (unshare: ") +
            std::strerror(errno) + "); needs root or unprivileged user namespaces";
      return false;
    }
    WriteProcFile("/proc/self/setgroups", "deny");
    if (!WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
      why = "cannot map our user into the new user namespace";
      return false;
    }
  }
  const std::string ip = VT_IP_EXE;
  if (ip.empty()) {
    why = "the ip program (iproute2) is not installed";
    return false;
  }
  if (!RunQuietly({ip, "link", "set", "lo", "up"}) ||
      !RunQuietly({ip, "route", "add", "broadcast", "255.255.255.255", "dev", "lo", "table", "local"})) {
    why = "cannot bring up loopback or route 255.255.255.255 to it in the namespace";
    return false;
  }
  if (!WriteProcFile("/proc/sys/net/ipv4/ping_group_range", "0 2147483647")) {
    WriteProcFile("/proc/sys/net/ipv4/ping_group_range", "0 0");
  }
  const int icmp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (icmp < 0) {
    why = std::string("ICMP datagram sockets are not allowed in the namespace: ") + std::strerror(errno);
    return false;
  }
  close(icmp);
  return true;
}

void SendMessageWithFd(int channel, const std::string &text, int fd) {
  msghdr message{};
  iovec part{const_cast<char *>(text.data()), text.size()};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
  if (fd >= 0) {
    std::memset(control, 0, sizeof control);
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr *header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &fd, sizeof(int));
  }
  (void)!sendmsg(channel, &message, MSG_NOSIGNAL);
}

std::string ReceiveMessageWithFd(int channel, int &fd) {
  fd = -1;
  pollfd ready{channel, POLLIN, 0};
  if (poll(&ready, 1, 20000) <= 0) return "FAIL the namespace child did not report";
  char text[512];
  msghdr message{};
  iovec part{text, sizeof text - 1};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t n = recvmsg(channel, &message, MSG_CMSG_CLOEXEC);
  if (n <= 0) return "FAIL the namespace child ended without a report";
  for (cmsghdr *h = CMSG_FIRSTHDR(&message); h; h = CMSG_NXTHDR(&message, h)) {
    if (h->cmsg_level == SOL_SOCKET && h->cmsg_type == SCM_RIGHTS) std::memcpy(&fd, CMSG_DATA(h), sizeof(int));
  }
  return std::string(text, static_cast<size_t>(n));
}

// Becomes the service (in a child process); returns only if exec fails.
int ExecService(const std::string &socketPath, const std::string &errPath, const std::string &stateDir,
                const std::vector<std::string> &extraArgs, const std::string &resolvConf) {
  const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (err >= 0) dup2(err, 2);
  // Host names are then looked up in /etc/hosts and over DNS only, with the
  // name servers of resolvConf: no local resolver daemon answers instead.
  const std::string nsswitch = resolvConf + ".nsswitch";
  if (!resolvConf.empty() &&
      (unshare(CLONE_NEWNS) != 0 ||
       mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
       mount(resolvConf.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0 ||
       mount(nsswitch.c_str(), "/etc/nsswitch.conf", nullptr, MS_BIND, nullptr) != 0)) {
    std::fprintf(stderr, "cannot make a mount namespace with our own /etc/resolv.conf and /etc/nsswitch.conf: %s\n", std::strerror(errno));
    return 77;
  }
  setenv("SNMP_PERSISTENT_DIR", stateDir.c_str(), 1);
  setenv("SNMPCONFPATH", stateDir.c_str(), 1);
  setenv("MIBS", "", 1);
  std::vector<const char *> argv = {VT_SERVICE_EXE, "--listen", socketPath.c_str()};
  for (const auto &arg : extraArgs) argv.push_back(arg.c_str());
  argv.push_back(nullptr);
  execv(VT_SERVICE_EXE, const_cast<char *const *>(argv.data()));
  return 127;
}

}  // namespace

TempDir::TempDir() {
  char pattern[] = "/tmp/orbtest.XXXXXX";
  const char *made = mkdtemp(pattern);
  path_ = made ? made : "/tmp";
}

TempDir::~TempDir() {
  if (path_ == "/tmp") return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadWholeFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool WriteWholeFile(const std::string &path, const std::string &content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  return static_cast<bool>(out);
}

bool PathExists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

NetnsChild StartInOwnNetns(uint16_t udpPort, const std::function<int()> &body) {
  NetnsChild child;
  int channel[2];
  if (socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, channel) != 0) {
    child.whyNot = "socketpair failed";
    return child;
  }
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    close(channel[0]);
    close(channel[1]);
    child.whyNot = "fork failed";
    return child;
  }
  if (pid == 0) {
    DieWithParent(parent);
    close(channel[0]);
    std::string why;
    if (!EnterOwnNetns(why)) {
      SendMessageWithFd(channel[1], "SKIP " + why, -1);
      _exit(77);
    }
    int udp = -1;
    if (udpPort != 0) {
      udp = BoundSocket(SOCK_DGRAM, INADDR_ANY, udpPort);
      if (udp < 0) {
        SendMessageWithFd(channel[1], std::string("FAIL bind UDP port in namespace: ") + std::strerror(errno), -1);
        _exit(78);
      }
    }
    SendMessageWithFd(channel[1], "OK", udp);
    close(channel[1]);
    if (udp >= 0) close(udp);
    _exit(body());
  }
  close(channel[1]);
  int fd = -1;
  const std::string report = ReceiveMessageWithFd(channel[0], fd);
  close(channel[0]);
  if (report != "OK") {
    if (fd >= 0) close(fd);
    WaitForExit(pid);
    child.whyNot = report.rfind("SKIP ", 0) == 0 ? report.substr(5) : report;
    return child;
  }
  child.pid = pid;
  child.udpFd = fd;
  return child;
}

std::optional<std::string> ReceiveDatagram(int fd, int timeoutMs) {
  pollfd ready{fd, POLLIN, 0};
  if (poll(&ready, 1, timeoutMs) <= 0) return std::nullopt;
  char buffer[4096];
  const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
  if (n < 0) return std::nullopt;
  return std::string(buffer, static_cast<size_t>(n));
}

int CountThreads(pid_t pid) {
  const std::string path = "/proc/" + std::to_string(pid) + "/task";
  DIR *dir = opendir(path.c_str());
  if (!dir) return -1;
  int count = 0;
  while (dirent *entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count;
}

int WaitForExit(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

void StopProcess(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  const auto deadline = Clock::now() + std::chrono::seconds(3);
  int status = 0;
  while (Clock::now() < deadline) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno == ECHILD)) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
}

ServiceProcess::ServiceProcess(const TempDir &dir, bool inOwnNetns, uint16_t udpPort,
                               std::vector<std::string> extraArgs, std::string resolvConf)
    : socketPath_(dir / "orb.sock"),
      errPath_(dir / "service.err"),
      extraArgs_(std::move(extraArgs)),
      resolvConf_(std::move(resolvConf)) {
  const std::string stateDir = dir / "snmp-state";
  mkdir(stateDir.c_str(), 0700);
  if (!resolvConf_.empty()) WriteWholeFile(resolvConf_ + ".nsswitch", "hosts: files dns\n");
  const auto exec = [&] { return ExecService(socketPath_, errPath_, stateDir, extraArgs_, resolvConf_); };
  if (inOwnNetns) {
    NetnsChild child = StartInOwnNetns(udpPort, exec);
    if (!child.whyNot.empty()) {
      whyNot_ = child.whyNot;
      return;
    }
    pid_ = child.pid;
    udpFd_ = child.udpFd;
  } else {
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      DieWithParent(parent);
      _exit(exec());
    }
  }
  if (pid_ < 0) {
    whyNot_ = "fork failed";
    return;
  }
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline) {
    const int fd = ConnectToService(socketPath_);
    if (fd >= 0) {
      close(fd);
      return;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  whyNot_ = "the service did not start listening: " + standardError();
}

ServiceProcess::~ServiceProcess() {
  if (udpFd_ >= 0) close(udpFd_);
  StopProcess(pid_);
  // A sanitizer report of the service (in sanitizer builds) fails the test.
  const std::string err = standardError();
  if (err.find("Sanitizer") != std::string::npos || err.find("runtime error") != std::string::npos) {
    ADD_FAILURE() << "the service reported:\n" << err;
  }
}

int ServiceProcess::Connect() const { return ConnectToService(socketPath_); }

std::optional<std::string> ServiceProcess::Call(const std::string &selector, const std::string &request) const {
  const int fd = Connect();
  if (fd < 0) return std::nullopt;
  std::string reply;
  const bool answered = CallService(fd, selector, request, reply);
  close(fd);
  if (!answered) return std::nullopt;
  return reply;
}

SilentAgent::SilentAgent() { fd_ = BoundSocket(SOCK_DGRAM, INADDR_LOOPBACK, 0, &port_); }

SilentAgent::~SilentAgent() {
  if (fd_ >= 0) close(fd_);
}

namespace {

// Starts a non-blocking connect of a new socket to 127.0.0.1:port.
int StartLoopbackConnect(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in address = Ipv4(INADDR_LOOPBACK, port);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 &&
      errno != EINPROGRESS) {
    close(fd);
    return -1;
  }
  return fd;
}

// Whether the connect started on fd completes within waitMs.
bool ConnectCompletes(int fd, int waitMs) {
  pollfd entry{fd, POLLOUT, 0};
  return fd >= 0 && poll(&entry, 1, waitMs) == 1;
}

}  // namespace

UnansweredTcpAgent::UnansweredTcpAgent() {
  uint16_t port = 0;
  listener_ = BoundSocket(SOCK_STREAM, INADDR_LOOPBACK, 0, &port);
  // A backlog of 0 holds one connection: the filler's.
  if (listener_ < 0 || listen(listener_, 0) != 0) return;
  port_ = port;
  filler_ = StartLoopbackConnect(port_);
  if (!ConnectCompletes(filler_, 2000)) return;
  const int probe = StartLoopbackConnect(port_);
  ready_ = probe >= 0 && !ConnectCompletes(probe, 200);
  if (probe >= 0) close(probe);
}

UnansweredTcpAgent::~UnansweredTcpAgent() {
  if (filler_ >= 0) close(filler_);
  if (listener_ >= 0) close(listener_);
}

uint16_t FreeLoopbackUdpPort() {
  uint16_t port = 0;
  const int fd = BoundSocket(SOCK_DGRAM, INADDR_LOOPBACK, 0, &port);
  if (fd >= 0) close(fd);
  return port;
}

Snmpd::Snmpd(const TempDir &dir, const std::string &extraConfig) {
  const std::string exe = VT_SNMPD_EXE;
  if (exe.empty() || access(exe.c_str(), X_OK) != 0) {
    whyNot_ = "snmpd is not installed (Debian package snmpd)";
    return;
  }
  const std::string state = dir / "snmpd-state";
  mkdir(state.c_str(), 0700);
  const std::string conf = dir / "snmpd.conf";
  const std::string log = dir / "snmpd.log";
  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = FreeLoopbackUdpPort();
    const std::string port = std::to_string(port_);
    WriteWholeFile(conf, "agentaddress udp:127.0.0.1:" + port + ",tcp:127.0.0.1:" + port +
                             "\nrocommunity public 127.0.0.1\n" + extraConfig + "\n");
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      DieWithParent(parent);
      const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      if (out >= 0) {
        dup2(out, 1);
        dup2(out, 2);
      }
      setenv("SNMP_PERSISTENT_DIR", state.c_str(), 1);
      setenv("SNMPCONFPATH", state.c_str(), 1);
      setenv("MIBS", "", 1);
      const std::string pidFile = dir / "snmpd.pid";
      execl(exe.c_str(), exe.c_str(), "-f", "-Lo", "-C", "-c", conf.c_str(), "-p", pidFile.c_str(),
            static_cast<char *>(nullptr));
      _exit(127);
    }
    // Ready once the port is taken; gone if snmpd exited.
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
      int status;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      const int probe = BoundSocket(SOCK_DGRAM, INADDR_LOOPBACK, port_);
      const bool taken = probe < 0 && errno == EADDRINUSE;
      if (probe >= 0) close(probe);
      if (taken) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (pid_ > 0) StopProcess(pid_);
    pid_ = -1;
  }
  whyNot_ = "snmpd did not start: " + ReadWholeFile(log);
}

Snmpd::~Snmpd() { StopProcess(pid_); }
