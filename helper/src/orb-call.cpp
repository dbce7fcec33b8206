// orb-call: asks the helper service, from a shell, what the print dialog asks
// it: a printer's state over SNMP, one SNMP value, a Wake-on-LAN packet, an
// echo probe; or sends one request in the service's own wire form.
//
// Exit status: 0 the printer (or the service) answered, 1 it did not answer
// or timed out, or no service listens, 2 the request was wrong, 130 the user
// interrupted it.
#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "OrbRequests.h"
#include "OrbWire.h"

namespace {

constexpr int kAnswered = 0;
constexpr int kNoAnswer = 1;
constexpr int kBadRequest = 2;
constexpr int kInterrupted = 130;

// Name of the socket the systemd user unit makes under $XDG_RUNTIME_DIR.
constexpr const char *kSocketName = "MacOrbServiceXPC.sock";
// How long a cancelled request may take to end before orb-call stops waiting.
constexpr int kCancelGraceMs = 2000;

// The service's SNMP results (see the service's replies).
constexpr int kSnmpUsageError = -50;
constexpr int kSnmpTimeoutError = -9780;
constexpr int kSnmpBadObjectError = -30887;
constexpr int kSnmpNoSuchNameError = -30896;
constexpr int kSnmpOtherError = -30870;

constexpr const char *kUsage =
    "usage: orb-call [--socket PATH] [--json] COMMAND ARGUMENTS\n"
    "\n"
    "Asks the printer helper service MacOrbServiceXPC.\n"
    "\n"
    "Commands:\n"
    "  status HOST [SNMP OPTIONS]      the printer's state, uptime and description\n"
    "      orb-call status printer.example.com\n"
    "  get HOST OID [SNMP OPTIONS]     one SNMP value\n"
    "      orb-call get printer.example.com 1.3.6.1.2.1.1.5.0\n"
    "  wake MAC [--broadcast ADDR] [--password PW]\n"
    "                                  sends a Wake-on-LAN magic packet\n"
    "      orb-call wake 00:1b:2c:3d:4e:5f --broadcast 192.168.1.255\n"
    "  ping HOST [--timeout MS]        whether HOST answers an ICMP echo request\n"
    "      orb-call ping printer.example.com\n"
    "  raw SELECTOR REQUEST            one request in the service's wire form\n"
    "      orb-call raw sendEchoAndRecvReply_XPC:reply: '127.0.0.1:sIpAddr:END1000'\n"
    "\n"
    "SNMP options: --community C (public), --version 1|2c (2c),\n"
    "              --timeout MS (1000), --retries N (1)\n"
    "\n"
    "Options:\n"
    "  --socket PATH   the service's socket (default: $XDG_RUNTIME_DIR/MacOrbServiceXPC.sock)\n"
    "  --json          one JSON object on standard output instead of text\n"
    "  --help          this text\n"
    "\n"
    "Exit status: 0 answered, 1 no answer or timeout, 2 wrong request, 130 interrupted.\n"
    "Ctrl-C during status or get cancels the request in the service.\n";

volatile sig_atomic_t gInterrupted = 0;
int gWakePipe[2] = {-1, -1};

void OnInterrupt(int) {
  gInterrupted = 1;
  const int saved = errno;
  (void)!write(gWakePipe[1], "!", 1);
  errno = saved;
}

std::string JsonText(std::string_view text) {
  std::string out = "\"";
  for (const unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// One command line, split into the command, its words and its options.
struct CommandLine {
  std::string socketPath;
  bool json = false;
  std::vector<std::string> words;  // the command and its positional arguments
  std::vector<std::pair<std::string, std::string>> options;
};

class Client {
 public:
  Client(std::string socketPath, bool json) : socketPath_(std::move(socketPath)), json_(json) {}

  // Reports a failure and returns its exit status.
  int Fail(int status, const std::string &message, const std::string &hint = "") const {
    std::fprintf(stderr, "orb-call: %s\n", message.c_str());
    if (!hint.empty()) std::fprintf(stderr, "%s\n", hint.c_str());
    if (json_) std::printf("{\"error\":%s,\"status\":%d}\n", JsonText(message).c_str(), status);
    return status;
  }

  // Connects once; on failure reports why and returns the exit status.
  std::optional<int> Open() {
    fd_ = ConnectToService(socketPath_);
    if (fd_ >= 0) return std::nullopt;
    const int error = errno;
    if (error == ENOENT || error == ECONNREFUSED) {
      return Fail(kNoAnswer, "no service listens on " + socketPath_,
                  "Start it with:  systemctl --user start MacOrbServiceXPC.socket\n"
                  "or run it:      MacOrbServiceXPC --listen " + socketPath_);
    }
    if (error == EACCES || error == EPERM) {
      return Fail(kNoAnswer, "no permission to connect to " + socketPath_ +
                                 " (the service serves only its own user and root)");
    }
    return Fail(kNoAnswer, "cannot connect to " + socketPath_ + ": " + std::strerror(error));
  }

  ~Client() {
    if (fd_ >= 0) close(fd_);
  }

  // The cancel file the service makes for this process's SNMP requests: next
  // to the socket, where the service may write.
  std::string CancelFile() const {
    const size_t slash = socketPath_.rfind('/');
    std::string dir = slash == std::string::npos ? "" : socketPath_.substr(0, slash);
    if (socketPath_[0] != '/') {
      // The service has a working folder of its own: the path must be whole.
      char here[4096];
      if (getcwd(here, sizeof here) != nullptr) dir = std::string(here) + (dir.empty() ? "" : "/" + dir);
    }
    return dir + "/orb-call-" + std::to_string(getpid()) + ".cancel";
  }

  // Sends a request and waits for its reply. On Ctrl-C, cancels through the
  // cancel file when one is given, and waits a little for the request to end.
  // None when no reply came.
  std::optional<std::string> Call(const char *selector, const std::string &request,
                                  const std::string &cancelFile = "") {
    if (!WriteFrame(fd_, EncodeRequestFrame(selector, request))) return std::nullopt;
    auto deadline = std::chrono::steady_clock::time_point::max();
    bool cancelSent = false;
    for (;;) {
      if (gInterrupted && !cancelSent) {
        cancelSent = true;
        if (cancelFile.empty()) return std::nullopt;
        std::string cancelReply;
        const int cancelFd = ConnectToService(socketPath_);
        const bool cancelled = cancelFd >= 0 &&
                               CallService(cancelFd, "cancelFileWrite_XPC:reply:", cancelFile + ":CancelFileName:",
                                           cancelReply) &&
                               cancelReply == "TRUE";
        if (cancelFd >= 0) close(cancelFd);
        std::fprintf(stderr, cancelled ? "orb-call: interrupted: cancelling the request in the service\n"
                                       : "orb-call: interrupted\n");
        deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kCancelGraceMs);
      }
      int waitMs = -1;
      if (cancelSent) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        waitMs = static_cast<int>(left.count());
      }
      pollfd ready[2] = {{fd_, POLLIN, 0}, {gWakePipe[0], POLLIN, 0}};
      const int count = poll(ready, 2, waitMs);
      if (count < 0 && errno != EINTR) return std::nullopt;
      if (count > 0 && (ready[1].revents & POLLIN)) {
        char drained[16];
        (void)!read(gWakePipe[0], drained, sizeof drained);
      }
      if (count > 0 && (ready[0].revents & (POLLIN | POLLHUP | POLLERR))) {
        std::string reply;
        if (ReadFrame(fd_, reply) != FrameStatus::kOk) return std::nullopt;
        return reply;
      }
    }
  }

  int NoReply() const {
    if (gInterrupted) return Interrupted();
    return Fail(kNoAnswer, "the service closed the connection without a reply "
                           "(it may be serving as many connections as it allows; try again)");
  }

  int Interrupted() const {
    std::fprintf(stderr, "orb-call: cancelled\n");
    if (json_) std::printf("{\"error\":\"cancelled\",\"status\":%d}\n", kInterrupted);
    return kInterrupted;
  }

  bool json() const { return json_; }

 private:
  std::string socketPath_;
  bool json_;
  int fd_ = -1;
};

// The SNMP settings of status and get.
struct SnmpSettings {
  std::string community = "public";
  std::string version = "2c";
  long timeoutMs = 1000;
  long retries = 1;
};

std::optional<long> WholeNumber(const std::string &text, long low, long high) {
  if (text.empty()) return std::nullopt;
  char *end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < low || value > high) return std::nullopt;
  return value;
}

// A reply of the service's SNMP GET.
struct SnmpAnswer {
  bool ok = false;
  int code = 0;        // the service's result when not ok
  bool integer = false;
  long number = 0;
  std::string text;
};

SnmpAnswer ReadSnmpReply(const std::string &reply) {
  SnmpAnswer answer;
  if (reply.rfind("TRUE:uResult.integer=", 0) == 0) {
    answer.ok = true;
    answer.integer = true;
    answer.number = std::strtol(reply.c_str() + 21, nullptr, 10);
  } else if (reply.rfind("TRUE:uResult.string=", 0) == 0) {
    answer.ok = true;
    answer.text = reply.substr(20);
  } else if (reply.rfind("FALSE:rtn_ExitValue=", 0) == 0) {
    answer.code = static_cast<int>(std::strtol(reply.c_str() + 20, nullptr, 10));
  } else {
    answer.code = 1;  // "FALSE": the service could not make the cancel file
  }
  return answer;
}

class SnmpClient {
 public:
  SnmpClient(Client &client, std::string host, SnmpSettings settings)
      : client_(client), host_(std::move(host)), settings_(std::move(settings)), cancelFile_(client.CancelFile()) {}
  ~SnmpClient() { unlink(cancelFile_.c_str()); }

  // One GET of oid as the ASN.1 type given (2, 4 or 6); none when the
  // service gave no reply.
  std::optional<SnmpAnswer> Get(const std::string &oid, int type) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", static_cast<double>(settings_.timeoutMs) / 1000.0);
    const std::vector<std::string> words = {"snmpget", "-v", settings_.version, "-c", settings_.community,
                                            "-t", seconds, "-r", std::to_string(settings_.retries), host_, oid};
    // The service's own timeout and retries stay as they are: this request
    // carries its own on the command line.
    std::string request = std::to_string(words.size()) + ":argCount:" + std::to_string(type) +
                          ":iType:0:cancelFlag:" + cancelFile_ + ":CancelFileName:0:gSnmpTimeout:0:gSnmpRetries:0:rtnCharFlag:";
    for (const auto &word : words) request += word + ":arg:";
    const auto reply = client_.Call("pdeSnmpGet_XPC:reply:", request, cancelFile_);
    if (!reply) return std::nullopt;
    return ReadSnmpReply(*reply);
  }

  // Why a failed GET failed, as a message and an exit status.
  std::pair<int, std::string> Explain(const SnmpAnswer &answer, const std::string &oid) const {
    switch (answer.code) {
      case kSnmpTimeoutError:
        if (UnknownHost()) return {kBadRequest, "unknown host " + host_};
        return {kNoAnswer, "no answer from " + host_ + " (SNMP timeout after " + std::to_string(settings_.timeoutMs) +
                               " ms, " + std::to_string(settings_.retries) + " retries; wrong community?)"};
      case kSnmpNoSuchNameError:
        return {kBadRequest, "unknown OID " + oid + ": " + host_ + " has no such object"};
      case kSnmpBadObjectError:
        return {kBadRequest, "unknown OID " + oid + " (not an object identifier, or " + host_ + " refused it)"};
      case kSnmpUsageError:
        return {kBadRequest, "unknown OID " + oid + ": " + host_ +
                                 " has no such object, or its value is not an INTEGER, OCTET STRING or OBJECT IDENTIFIER"};
      case kSnmpOtherError:
        return {kNoAnswer, "the SNMP request to " + host_ + " failed"};
      default:
        return {kNoAnswer, "the service could not make its cancel file " + cancelFile_};
    }
  }

  const std::string &host() const { return host_; }

 private:
  // Whether the host is a name no name server knows (asked only after a
  // failure, to tell a typing error from a printer that is off).
  bool UnknownHost() const {
    if (host_.find(':') != std::string::npos) return false;
    addrinfo hints{};
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *found = nullptr;
    const int status = getaddrinfo(host_.c_str(), nullptr, &hints, &found);
    if (found) freeaddrinfo(found);
    return status == EAI_NONAME;
  }

  Client &client_;
  std::string host_;
  SnmpSettings settings_;
  std::string cancelFile_;
};

// Reads the SNMP options; an error message, or empty.
std::string ReadSnmpSettings(const CommandLine &line, SnmpSettings &settings) {
  for (const auto &[name, value] : line.options) {
    if (name == "--community") {
      if (value.empty()) return "--community needs a text";
      settings.community = value;
    } else if (name == "--version") {
      if (value != "1" && value != "2c") return "--version is 1 or 2c, not " + value;
      settings.version = value;
    } else if (name == "--timeout") {
      const auto ms = WholeNumber(value, 1, 3600000);
      if (!ms) return "--timeout takes milliseconds from 1 to 3600000, not " + value;
      settings.timeoutMs = *ms;
    } else if (name == "--retries") {
      const auto n = WholeNumber(value, 0, 100);
      if (!n) return "--retries takes a number from 0 to 100, not " + value;
      settings.retries = *n;
    } else {
      return "unknown option " + name;
    }
  }
  return "";
}

// A text that would end a field of the request early cannot be sent.
bool HoldsMarker(const std::string &text) {
  return text.find(":arg") != std::string::npos || text.find(":ARG") != std::string::npos;
}

int RunGet(Client &client, const CommandLine &line) {
  if (line.words.size() != 3) return client.Fail(kBadRequest, "usage: orb-call get HOST OID [SNMP OPTIONS]");
  SnmpSettings settings;
  const std::string problem = ReadSnmpSettings(line, settings);
  if (!problem.empty()) return client.Fail(kBadRequest, problem);
  const std::string &host = line.words[1], &oid = line.words[2];
  if (HoldsMarker(host) || HoldsMarker(oid) || HoldsMarker(settings.community)) {
    return client.Fail(kBadRequest, "host, OID and community may not hold \":arg\"");
  }
  if (const auto failed = client.Open()) return *failed;
  SnmpClient snmp(client, host, settings);
  // The service reads one type at a time: text first, then number, then
  // identifier; a value of another type is refused with -50.
  SnmpAnswer answer;
  int type = 0;
  for (const int tried : {4, 2, 6}) {
    const auto got = snmp.Get(oid, tried);
    if (!got) return client.NoReply();
    if (gInterrupted) return client.Interrupted();
    answer = *got;
    type = tried;
    if (answer.ok || answer.code != kSnmpUsageError) break;
  }
  if (!answer.ok) {
    const auto [status, message] = snmp.Explain(answer, oid);
    return client.Fail(status, message);
  }
  const char *typeName = type == 2 ? "integer" : type == 4 ? "string" : "oid";
  const std::string value = answer.integer ? std::to_string(answer.number) : answer.text;
  if (client.json()) {
    std::printf("{\"host\":%s,\"oid\":%s,\"type\":\"%s\",\"value\":%s}\n", JsonText(host).c_str(),
                JsonText(oid).c_str(), typeName, answer.integer ? value.c_str() : JsonText(value).c_str());
  } else {
    std::printf("%s: %s = %s (%s)\n", host.c_str(), oid.c_str(), value.c_str(), typeName);
  }
  return kAnswered;
}

const char *PrinterStatusName(long value) {
  static const char *const names[] = {"other", "status unknown", "idle", "printing", "warming up"};
  return value >= 1 && value <= 5 ? names[value - 1] : "status unknown";
}

const char *DeviceStatusName(long value) {
  static const char *const names[] = {"unknown", "running", "warning", "testing", "down"};
  return value >= 1 && value <= 5 ? names[value - 1] : "unknown";
}

std::string Plural(long n, const char *unit) { return std::to_string(n) + " " + unit + (n == 1 ? "" : "s"); }

std::string Uptime(long seconds) {
  const long days = seconds / 86400, hours = seconds % 86400 / 3600, minutes = seconds % 3600 / 60;
  if (days > 0) return Plural(days, "day") + (hours > 0 ? ", " + Plural(hours, "hour") : "");
  if (hours > 0) return Plural(hours, "hour") + (minutes > 0 ? ", " + Plural(minutes, "minute") : "");
  if (minutes > 0) return Plural(minutes, "minute");
  return Plural(seconds, "second");
}

int RunStatus(Client &client, const CommandLine &line) {
  if (line.words.size() != 2) return client.Fail(kBadRequest, "usage: orb-call status HOST [SNMP OPTIONS]");
  SnmpSettings settings;
  const std::string problem = ReadSnmpSettings(line, settings);
  if (!problem.empty()) return client.Fail(kBadRequest, problem);
  const std::string &host = line.words[1];
  if (HoldsMarker(host) || HoldsMarker(settings.community)) {
    return client.Fail(kBadRequest, "host and community may not hold \":arg\"");
  }
  if (const auto failed = client.Open()) return *failed;
  SnmpClient snmp(client, host, settings);

  // sysDescr, hrPrinterStatus and hrDeviceStatus of the first device, and
  // the SNMP engine's time (seconds since the agent started; the service
  // cannot read the TimeTicks of sysUpTime).
  const struct {
    const char *oid;
    int type;
  } asked[] = {{".1.3.6.1.2.1.1.1.0", 4},
               {".1.3.6.1.2.1.25.3.5.1.1.1", 2},
               {".1.3.6.1.2.1.25.3.2.1.5.1", 2},
               {".1.3.6.1.6.3.10.2.1.3.0", 2}};
  SnmpAnswer answers[4];
  for (size_t i = 0; i < 4; ++i) {
    const auto got = snmp.Get(asked[i].oid, asked[i].type);
    if (!got) return client.NoReply();
    if (gInterrupted) return client.Interrupted();
    answers[i] = *got;
    // Without an answer to the first, the printer is not there.
    if (i == 0 && !got->ok && got->code != kSnmpUsageError && got->code != kSnmpNoSuchNameError) {
      const auto [status, message] = snmp.Explain(*got, asked[i].oid);
      return client.Fail(status, message);
    }
  }
  const SnmpAnswer &description = answers[0], &printer = answers[1], &device = answers[2], &uptime = answers[3];
  if (client.json()) {
    std::printf("{\"host\":%s,\"description\":%s,\"printerStatus\":%s,\"deviceStatus\":%s,\"uptimeSeconds\":%s}\n",
                JsonText(host).c_str(), description.ok ? JsonText(description.text).c_str() : "null",
                printer.ok ? JsonText(PrinterStatusName(printer.number)).c_str() : "null",
                device.ok ? JsonText(DeviceStatusName(device.number)).c_str() : "null",
                uptime.ok ? std::to_string(uptime.number).c_str() : "null");
    return kAnswered;
  }
  std::printf("%s: %s%s\n", host.c_str(), printer.ok ? PrinterStatusName(printer.number) : "status unknown",
              uptime.ok ? (", up " + Uptime(uptime.number)).c_str() : "");
  if (description.ok) std::printf("  description: %s\n", description.text.c_str());
  if (device.ok) std::printf("  device: %s\n", DeviceStatusName(device.number));
  return kAnswered;
}

// "00:1b:2c:3d:4e:5f" or "00-1B-2C-3D-4E-5F" in the service's form, or none.
std::optional<std::string> MacText(const std::string &text) {
  std::string out;
  size_t at = 0;
  for (int part = 0; part < 6; ++part) {
    size_t digits = 0;
    while (at + digits < text.size() && digits < 3 && std::isxdigit(static_cast<unsigned char>(text[at + digits]))) {
      ++digits;
    }
    if (digits < 1 || digits > 2) return std::nullopt;
    if (digits == 1) out += '0';
    out += text.substr(at, digits);
    at += digits;
    if (part < 5) {
      if (at >= text.size() || (text[at] != ':' && text[at] != '-')) return std::nullopt;
      out += ':';
      ++at;
    }
  }
  if (at != text.size()) return std::nullopt;
  return out;
}

int RunWake(Client &client, const CommandLine &line) {
  if (line.words.size() != 2) {
    return client.Fail(kBadRequest, "usage: orb-call wake MAC [--broadcast ADDR] [--password PW]");
  }
  const auto mac = MacText(line.words[1]);
  if (!mac) return client.Fail(kBadRequest, "not a MAC address: " + line.words[1] + " (six hex pairs, as 00:1b:2c:3d:4e:5f)");
  std::string broadcast = "NULL", password = "NULL";
  for (const auto &[name, value] : line.options) {
    in_addr unused;
    if (name == "--broadcast") {
      if (inet_pton(AF_INET, value.c_str(), &unused) != 1) {
        return client.Fail(kBadRequest, "--broadcast takes an IPv4 address, not " + value);
      }
      broadcast = value;
    } else if (name == "--password") {
      if (value.empty() || value.size() > 6 || HoldsMarker(value) || value == "NULL") {
        return client.Fail(kBadRequest, "--password takes 1 to 6 bytes");
      }
      password = value;
    } else {
      return client.Fail(kBadRequest, "unknown option " + name);
    }
  }
  if (const auto failed = client.Open()) return *failed;
  const auto reply = client.Call("sendMagicPacket_XPC:reply:", broadcast + ":ARGipAddressStr:" + *mac +
                                                                   ":ARGmacAddressStr:" + password + ":ARGpasswordStr:");
  if (!reply) return client.NoReply();
  const std::string to = broadcast == "NULL" ? "255.255.255.255" : broadcast;
  if (*reply != "0") return client.Fail(kNoAnswer, "the service could not send the magic packet to " + to);
  if (client.json()) {
    std::printf("{\"mac\":%s,\"broadcast\":%s,\"sent\":true}\n", JsonText(*mac).c_str(), JsonText(to).c_str());
  } else {
    std::printf("magic packet for %s sent to %s, UDP port 9\n", mac->c_str(), to.c_str());
  }
  return kAnswered;
}

int RunPing(Client &client, const CommandLine &line) {
  if (line.words.size() != 2) return client.Fail(kBadRequest, "usage: orb-call ping HOST [--timeout MS]");
  long timeoutMs = 1000;
  for (const auto &[name, value] : line.options) {
    const auto ms = WholeNumber(value, 1, 3600000);
    if (name != "--timeout") return client.Fail(kBadRequest, "unknown option " + name);
    if (!ms) return client.Fail(kBadRequest, "--timeout takes milliseconds from 1 to 3600000, not " + value);
    timeoutMs = *ms;
  }
  // The service probes IPv4 addresses; a name is looked up here.
  const std::string &host = line.words[1];
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo *found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
    return client.Fail(kBadRequest, "unknown host " + host);
  }
  char address[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in *>(found->ai_addr)->sin_addr, address, sizeof address);
  freeaddrinfo(found);
  if (const auto failed = client.Open()) return *failed;
  const auto reply =
      client.Call("sendEchoAndRecvReply_XPC:reply:", std::string(address) + ":sIpAddr:END" + std::to_string(timeoutMs));
  if (!reply) return client.NoReply();
  const bool answered = *reply == "TRUE";
  if (client.json()) {
    std::printf("{\"host\":%s,\"address\":\"%s\",\"answered\":%s}\n", JsonText(host).c_str(), address,
                answered ? "true" : "false");
  } else if (answered) {
    std::printf("%s (%s) answers\n", host.c_str(), address);
  } else {
    std::fprintf(stderr, "orb-call: %s (%s): no echo reply within %ld ms\n", host.c_str(), address, timeoutMs);
  }
  return answered ? kAnswered : kNoAnswer;
}

int RunRaw(Client &client, const std::string &selector, const std::string &request) {
  if (!OrbSelectorFromName(selector)) return client.Fail(kBadRequest, "unknown selector " + selector);
  if (const auto failed = client.Open()) return *failed;
  const auto reply = client.Call(selector.c_str(), request);
  if (!reply) return client.NoReply();
  if (client.json()) {
    std::printf("{\"selector\":%s,\"reply\":%s}\n", JsonText(selector).c_str(), JsonText(*reply).c_str());
  } else {
    std::fwrite(reply->data(), 1, reply->size(), stdout);
    std::fputc('\n', stdout);
  }
  return kAnswered;
}

std::string DefaultSocketPath() {
  const char *runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string dir =
      runtime && *runtime ? std::string(runtime) : "/run/user/" + std::to_string(static_cast<unsigned long>(getuid()));
  return dir + "/" + kSocketName;
}

}  // namespace

int main(int argc, char **argv) {
  CommandLine line;
  bool socketGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    // After "raw" (or a selector) every word is the request's, verbatim.
    const bool verbatim = !line.words.empty() && (line.words[0] == "raw" || OrbSelectorFromName(line.words[0]));
    if (verbatim || (arg != "-h" && (arg.size() < 3 || arg.compare(0, 2, "--") != 0))) {
      line.words.push_back(arg);
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return kAnswered;
    } else if (arg == "--json") {
      line.json = true;
    } else if (i + 1 >= argc) {
      std::fprintf(stderr, "orb-call: %s needs a value\n%s", arg.c_str(), kUsage);
      return kBadRequest;
    } else if (arg == "--socket") {
      line.socketPath = argv[++i];
      socketGiven = true;
    } else {
      line.options.emplace_back(arg, argv[++i]);
    }
  }
  if (!socketGiven) line.socketPath = DefaultSocketPath();
  Client client(line.socketPath, line.json);
  if (line.words.empty()) {
    std::fputs(kUsage, stderr);
    return kBadRequest;
  }

  std::signal(SIGPIPE, SIG_IGN);
  if (pipe(gWakePipe) != 0) return client.Fail(kNoAnswer, std::string("pipe: ") + std::strerror(errno));
  struct sigaction interrupt {};
  interrupt.sa_handler = OnInterrupt;
  sigemptyset(&interrupt.sa_mask);
  sigaction(SIGINT, &interrupt, nullptr);
  sigaction(SIGTERM, &interrupt, nullptr);

  const std::string &command = line.words[0];
  if (command == "status") return RunStatus(client, line);
  if (command == "get") return RunGet(client, line);
  if (command == "wake") return RunWake(client, line);
  if (command == "ping") return RunPing(client, line);
  // "raw SELECTOR REQUEST", and the older form without the word "raw".
  const bool raw = command == "raw";
  if (line.words.size() == (raw ? 3u : 2u) && line.options.empty()) {
    return RunRaw(client, line.words[raw ? 1 : 0], line.words[raw ? 2 : 1]);
  }
  if (raw) return client.Fail(kBadRequest, "usage: orb-call raw SELECTOR REQUEST");
  if (OrbSelectorFromName(command)) return client.Fail(kBadRequest, "usage: orb-call raw SELECTOR REQUEST");
  std::fprintf(stderr, "orb-call: unknown command %s\n%s", command.c_str(), kUsage);
  return kBadRequest;
}
