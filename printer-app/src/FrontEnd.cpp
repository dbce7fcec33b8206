#include "FrontEnd.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <strings.h>
#include <thread>
#include <utility>
#include <vector>

#include "JobOptions.h"
#include "Wake.h"

namespace vtpapp {

// On PAPPL's own network: the address the front end connects from for a
// client that is not on loopback.
constexpr char kRemoteSource[] = "10.255.255.1";

// The message as the front end sends it on; "" when libcups cannot write it.
std::string EncodeIpp(ipp_t *ipp) {
  std::string s;
  auto append = [](void *ctx, ipp_uchar_t *buf, size_t n) -> ssize_t {
    static_cast<std::string *>(ctx)->append(reinterpret_cast<const char *>(buf), n);
    return static_cast<ssize_t>(n);
  };
  ippSetState(ipp, IPP_STATE_IDLE);
  if (ippWriteIO(&s, append, 1, nullptr, ipp) != IPP_STATE_DATA) s.clear();
  return s;
}

// The message libcups reads from `bytes`; nullptr when it does not read
// all of them as one message.
ipp_t *DecodeIpp(const std::string &bytes) {
  struct Src {
    const std::string &s;
    size_t pos = 0;
  } src{bytes};
  auto read = [](void *ctx, ipp_uchar_t *buf, size_t n) -> ssize_t {
    auto *x = static_cast<Src *>(ctx);
    size_t k = std::min(n, x->s.size() - x->pos);
    std::memcpy(buf, x->s.data() + x->pos, k);
    x->pos += k;
    return static_cast<ssize_t>(k);
  };
  ipp_t *ipp = ippNew();
  if (ippReadIO(&src, read, 1, nullptr, ipp) != IPP_STATE_DATA || src.pos != bytes.size()) {
    ippDelete(ipp);
    return nullptr;
  }
  return ipp;
}

namespace {

constexpr int kClientMs = 60000;  // a client silent this long is dropped
// PAPPL may take as long as the printer to answer (it prints raster
// documents while it reads them): a connection to it is given up only when
// it is silent for an hour.
constexpr int kBackendMs = 3600000;
constexpr size_t kMaxHeadBytes = 65536;  // request or response line and fields
constexpr size_t kMaxFields = 200;
constexpr int kMaxConnections = 256;
// A refused request's document is read and dropped up to this much, so that
// the client reads the answer; past it the connection is closed.
constexpr long long kMaxDrainBytes = 64LL << 20;
// The IPP message before the document: far larger than any real request
// (a few KiB), and small enough that what libcups holds of it (up to about
// 18 times its size for many tiny values) stays bounded per connection.
constexpr size_t kMaxIppBytes = 1u << 20;

// ---- the checks ------------------------------------------------------------

// Makes `ipp` the message its encoding reads back as, which is what PAPPL
// or a client reads: libcups keeps some values it reads in a form it then
// writes otherwise (a name with a NUL byte in it is cut there, and a
// nameless attribute is written as more values of the one before it).
// False when that message does not encode the same again.
bool AsReadBack(ipp_t *ipp) {
  const std::string bytes = EncodeIpp(ipp);
  ipp_t *again = bytes.empty() ? nullptr : DecodeIpp(bytes);
  bool ok = again && EncodeIpp(again) == bytes;
  if (ok) {
    while (ipp_attribute_t *a = ippFirstAttribute(ipp)) ippDeleteAttribute(ipp, a);
    ok = ippCopyAttributes(ipp, again, 0, nullptr, nullptr);
  }
  ippDelete(again);
  return ok;
}

ipp_t *ErrorResponse(ipp_t *request, ipp_status_t status, const std::string &message,
                     ipp_attribute_t *unsupported) {
  ipp_t *r = ippNewResponse(request);
  ippSetStatusCode(r, status);
  ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_TEXT, "status-message", nullptr, message.c_str());
  if (unsupported) {
    ipp_attribute_t *c = ippCopyAttribute(r, unsupported, 0);
    if (c) ippSetGroupTag(r, &c, IPP_TAG_UNSUPPORTED_GROUP);
    // The client must be able to read the answer: a value that does not
    // encode is left out, the status message still names it.
    if (c) {
      const std::string bytes = EncodeIpp(r);
      ipp_t *back = bytes.empty() ? nullptr : DecodeIpp(bytes);
      if (!back) ippDeleteAttribute(r, c);
      ippDelete(back);
    }
  }
  return r;
}

bool EndsWith(const char *s, const char *suffix) {
  size_t n = std::strlen(s), m = std::strlen(suffix);
  return n >= m && !std::strcmp(s + n - m, suffix);
}

// The wake settings, which the driver reads as they are.
std::string CheckWakeDefault(ipp_attribute_t *a) {
  const std::string name = ippGetName(a);
  ipp_tag_t tag = ippGetValueTag(a);
  bool text = (tag == IPP_TAG_TEXT || tag == IPP_TAG_TEXTLANG || tag == IPP_TAG_NAME ||
               tag == IPP_TAG_NAMELANG) &&
              ippGetCount(a) == 1;
  const char *s = text ? ippGetString(a, 0, nullptr) : nullptr;
  if (name == std::string(kWakeMacAttr) + "-default") {
    uint8_t mac[6];
    if (!s) return "must be one text value";
    if (*s && !ParseMac(s, mac)) return "not a MAC address (aa:bb:cc:dd:ee:ff)";
  } else if (name == std::string(kWakeAddressAttr) + "-default") {
    in_addr addr{};
    if (!s) return "must be one text value";
    if (*s && inet_pton(AF_INET, s, &addr) != 1) return "not an IPv4 address";
  } else if (name == std::string(kWakePortAttr) + "-default") {
    if (tag != IPP_TAG_INTEGER || ippGetCount(a) != 1 || ippGetInteger(a, 0) < 1 ||
        ippGetInteger(a, 0) > 65535)
      return "must be a port from 1 to 65535";
  }
  return {};
}

}  // namespace

ipp_t *CheckRequest(ipp_t *request) {
  // The front end sends PAPPL its own encoding of the request: what is
  // checked is that message as PAPPL reads it.
  if (!AsReadBack(request))
    return ErrorResponse(request, IPP_STATUS_ERROR_BAD_REQUEST,
                         "the request has values that cannot be passed on as read", nullptr);
  // A request PAPPL refuses as a whole (version, request-id) it answers itself.
  int minor = 0;
  int major = ippGetVersion(request, &minor);
  if (major < 1 || major > 2 || ippGetRequestId(request) <= 0) return nullptr;
  // An int: a client may send any 16-bit code, most of them outside ipp_op_t.
  const int op = ippGetOperation(request);
  if (op == IPP_OP_SET_PRINTER_ATTRIBUTES) {
    for (ipp_attribute_t *a = ippFirstAttribute(request); a; a = ippNextAttribute(request)) {
      const char *name = ippGetName(a);
      if (!name || ippGetGroupTag(a) != IPP_TAG_PRINTER || !EndsWith(name, "-default")) continue;
      std::string why = CheckWakeDefault(a);
      if (why.empty()) why = ValidatePrinterDefault(a);
      if (!why.empty())
        return ErrorResponse(request, IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES,
                             std::string(name) + ": " + why, a);
    }
    return nullptr;
  }
  if (op != IPP_OP_PRINT_JOB && op != IPP_OP_CREATE_JOB && op != IPP_OP_VALIDATE_JOB &&
      op != IPP_OP_SEND_DOCUMENT)
    return nullptr;

  // A job-password (and its encryption) once, wherever the client put it.
  for (const char *name : {"job-password", "job-password-encryption"}) {
    int count = 0;
    for (ipp_attribute_t *a = ippFirstAttribute(request); a; a = ippNextAttribute(request)) {
      const char *n = ippGetName(a);
      if (n && !std::strcmp(n, name)) ++count;
    }
    if (count > 1)
      return ErrorResponse(request, IPP_STATUS_ERROR_BAD_REQUEST,
                           std::string(name) + " is given more than once", nullptr);
  }

  std::string badName;
  ipp_attribute_t *bad = nullptr;
  std::string why = ValidateExtraAttributes(request, &badName, &bad);
  if (!why.empty()) return ErrorResponse(request, IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, why, bad);

  // Print dialogs send job-password as an operation attribute, which PAPPL
  // does not keep with the job: it becomes one of the job's attributes.
  if (op != IPP_OP_SEND_DOCUMENT) {
    for (const char *name : {"job-password", "job-password-encryption"}) {
      ipp_attribute_t *a = ippFindAttribute(request, name, IPP_TAG_ZERO);
      if (!a || ippGetGroupTag(a) != IPP_TAG_OPERATION) continue;
      ipp_attribute_t *moved = ippCopyAttribute(request, a, 0);  // appended at the end
      ippDeleteAttribute(request, a);
      if (moved) ippSetGroupTag(request, &moved, IPP_TAG_JOB);
    }
  }
  return nullptr;
}

namespace {

// ---- the relay ---------------------------------------------------------------

// A socket read through a buffer, every wait bounded.
class Conn {
 public:
  Conn(int fd, int timeoutMs) : fd_(fd), timeoutMs_(timeoutMs) {}
  Conn(const Conn &) = delete;
  Conn &operator=(const Conn &) = delete;
  ~Conn() {
    if (fd_ >= 0) close(fd_);
  }
  int fd() const { return fd_; }

  // Up to n bytes; 0 at the end of the stream; -1 on an error or time-out.
  ssize_t Read(char *p, size_t n) {
    if (pos_ == len_ && Fill() <= 0) return eof_ ? 0 : -1;
    size_t k = std::min(n, len_ - pos_);
    std::memcpy(p, buf_ + pos_, k);
    pos_ += k;
    return static_cast<ssize_t>(k);
  }

  // One line without its CR LF; false at the end, on an error or past `max`.
  bool ReadLine(std::string &line, size_t max) {
    line.clear();
    for (;;) {
      if (pos_ == len_ && Fill() <= 0) return false;
      char c = buf_[pos_++];
      if (c == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
      }
      if (line.size() >= max) return false;
      line += c;
    }
  }

  // The next byte without taking it; false at the end or on an error.
  bool Peek(char &c) {
    if (pos_ == len_ && Fill() <= 0) return false;
    c = buf_[pos_];
    return true;
  }

  bool Write(const char *p, size_t n) {
    while (n > 0) {
      pollfd pfd{fd_, POLLOUT, 0};
      if (poll(&pfd, 1, timeoutMs_) <= 0) return false;
      ssize_t k = send(fd_, p, n, MSG_NOSIGNAL);
      if (k < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (k <= 0) return false;
      p += k;
      n -= static_cast<size_t>(k);
    }
    return true;
  }
  bool Write(const std::string &s) { return Write(s.data(), s.size()); }

  // Bytes already read from the socket and not yet taken.
  size_t Buffered() const { return len_ - pos_; }

 private:
  ssize_t Fill() {
    for (;;) {
      pollfd pfd{fd_, POLLIN, 0};
      int r = poll(&pfd, 1, timeoutMs_);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return -1;
      ssize_t k = recv(fd_, buf_, sizeof(buf_), 0);
      if (k < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (k == 0) eof_ = true;
      if (k <= 0) return k;
      pos_ = 0;
      len_ = static_cast<size_t>(k);
      return k;
    }
  }

  int fd_;
  int timeoutMs_;
  char buf_[16384];
  size_t pos_ = 0, len_ = 0;
  bool eof_ = false;
};

// The start line and fields of an HTTP message.
struct Head {
  std::string start;
  std::vector<std::pair<std::string, std::string>> fields;

  const std::string *Get(const char *name) const {
    for (const auto &f : fields)
      if (!strcasecmp(f.first.c_str(), name)) return &f.second;
    return nullptr;
  }
  bool Has(const char *name, const char *token) const {  // token in a list value
    const std::string *v = Get(name);
    if (!v) return false;
    std::string lower;
    for (char c : *v) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find(token) != std::string::npos;
  }
  void Remove(const char *name) {
    for (size_t i = fields.size(); i-- > 0;)
      if (!strcasecmp(fields[i].first.c_str(), name)) fields.erase(fields.begin() + i);
  }
  std::string Text() const {
    std::string s = start + "\r\n";
    for (const auto &[k, v] : fields) s += k + ": " + v + "\r\n";
    return s + "\r\n";
  }
};

bool ReadHead(Conn &c, Head &h) {
  std::string line;
  size_t total = 0;
  do {  // blank lines before a request are allowed
    if (!c.ReadLine(line, kMaxHeadBytes)) return false;
  } while (line.empty());
  h.start = line;
  h.fields.clear();
  total = line.size();
  for (;;) {
    if (!c.ReadLine(line, kMaxHeadBytes)) return false;
    if (line.empty()) return true;
    total += line.size();
    if (total > kMaxHeadBytes || h.fields.size() >= kMaxFields) return false;
    if ((line[0] == ' ' || line[0] == '\t') && !h.fields.empty()) {  // folded
      // A continuation of blanks only adds nothing.
      if (size_t b = line.find_first_not_of(" \t"); b != std::string::npos)
        h.fields.back().second += ' ' + line.substr(b);
      continue;
    }
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::string value = line.substr(colon + 1);
    size_t b = value.find_first_not_of(" \t");
    value = b == std::string::npos ? "" : value.substr(b);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
    h.fields.emplace_back(line.substr(0, colon), value);
  }
}

// How a message's body is delimited.
struct Framing {
  enum Kind { kNone, kLength, kChunked, kUntilClose } kind = kNone;
  long long length = 0;
};

// Framing of a request (false: malformed).
bool RequestFraming(const Head &h, Framing &f) {
  if (const std::string *te = h.Get("Transfer-Encoding")) {
    if (strcasecmp(te->c_str(), "chunked")) return false;
    f.kind = Framing::kChunked;
    return true;
  }
  if (const std::string *cl = h.Get("Content-Length")) {
    if (cl->empty() || cl->size() > 15 ||
        cl->find_first_not_of("0123456789") != std::string::npos)
      return false;
    f.kind = Framing::kLength;
    f.length = std::stoll(*cl);
    return true;
  }
  f.kind = Framing::kNone;
  return true;
}

// The body of a message, decoded.
class Body {
 public:
  Body(Conn &c, Framing f) : c_(c), f_(f), left_(f.kind == Framing::kLength ? f.length : 0) {}

  // Up to n bytes; 0 at the end; -1 on an error.
  ssize_t Read(char *p, size_t n) {
    switch (f_.kind) {
      case Framing::kNone:
        return 0;
      case Framing::kUntilClose:
        return c_.Read(p, n);
      case Framing::kLength:
        break;
      case Framing::kChunked:
        if (done_) return 0;
        if (left_ == 0) {
          if (started_) {
            std::string crlf;
            if (!c_.ReadLine(crlf, 2) || !crlf.empty()) return -1;
          }
          started_ = true;
          std::string line;
          if (!c_.ReadLine(line, 1024)) return -1;
          size_t semi = line.find(';');
          std::string hex = line.substr(0, semi);
          while (!hex.empty() && (hex.back() == ' ' || hex.back() == '\t')) hex.pop_back();
          if (hex.empty() || hex.size() > 12 ||
              hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            return -1;
          left_ = std::stoll(hex, nullptr, 16);
          if (left_ == 0) {  // trailer fields up to a blank line
            for (int i = 0; i < static_cast<int>(kMaxFields); ++i) {
              if (!c_.ReadLine(line, kMaxHeadBytes)) return -1;
              if (line.empty()) {
                done_ = true;
                return 0;
              }
            }
            return -1;
          }
        }
        break;
    }
    if (left_ == 0) return 0;
    size_t k = static_cast<size_t>(std::min<long long>(static_cast<long long>(n), left_));
    ssize_t r = c_.Read(p, k);
    if (r <= 0) return -1;  // ended early
    left_ -= r;
    return r;
  }

 private:
  Conn &c_;
  Framing f_;
  long long left_;
  bool started_ = false;
  bool done_ = false;
};

bool WriteChunk(Conn &to, const char *p, size_t n) {
  if (n == 0) return true;
  char size[32];
  std::snprintf(size, sizeof(size), "%zx\r\n", n);
  return to.Write(size, std::strlen(size)) && to.Write(p, n) && to.Write("\r\n", 2);
}

// Copies a body: as chunks when `chunked`, else as it is.
bool CopyBody(Body &from, Conn &to, bool chunked) {
  char buf[16384];
  for (;;) {
    ssize_t n = from.Read(buf, sizeof(buf));
    if (n < 0) return false;
    if (n == 0) return !chunked || to.Write("0\r\n\r\n", 5);
    if (!(chunked ? WriteChunk(to, buf, static_cast<size_t>(n))
                  : to.Write(buf, static_cast<size_t>(n))))
      return false;
  }
}

// Reads and drops a body, up to kMaxDrainBytes; true when it ended.
bool Drain(Body &body) {
  char buf[16384];
  long long total = 0;
  for (;;) {
    ssize_t n = body.Read(buf, sizeof(buf));
    if (n == 0) return true;
    if (n < 0 || (total += n) > kMaxDrainBytes) return false;
  }
}

struct IppSource {
  Body &body;
  size_t total = 0;
};

// ippReadIO takes a short read for the end of the message: all n bytes are
// read unless the body ends or fails first.
ssize_t ReadBodyCb(void *ctx, ipp_uchar_t *buf, size_t n) {
  auto *src = static_cast<IppSource *>(ctx);
  if (src->total + n > kMaxIppBytes) return -1;
  size_t got = 0;
  while (got < n) {
    ssize_t r = src->body.Read(reinterpret_cast<char *>(buf) + got, n - got);
    if (r < 0) return -1;
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  src->total += got;
  return static_cast<ssize_t>(got);
}

}  // namespace

int ConnectUnix(const std::string &path) {
  sockaddr_un addr{};
  if (path.size() >= sizeof(addr.sun_path)) return -1;
  int fd = socket(AF_LOCAL, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  addr.sun_family = AF_LOCAL;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

namespace {

// True when the client on `fd` connected from a loopback address, as PAPPL
// tells local clients from remote ones.
bool PeerIsLoopback(int fd) {
  http_addr_t addr{};
  socklen_t len = sizeof(addr);
  if (getpeername(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) return false;
  if (addr.addr.sa_family == AF_INET6 && IN6_IS_ADDR_V4MAPPED(&addr.ipv6.sin6_addr)) {
    const uint8_t *b = addr.ipv6.sin6_addr.s6_addr;
    return b[12] == 127;
  }
  return httpAddrLocalhost(&addr) != 0;
}

// A connection to PAPPL for a client. On PAPPL's own network it comes from
// loopback for a loopback client and from kRemoteSource for any other, so
// that PAPPL grants each what it would grant it directly.
int ConnectBackend(const Backend &backend, bool loopbackClient) {
  if (backend.netns < 0) return ConnectUnix(backend.unixPath);
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(backend.port));
  inet_pton(AF_INET, loopbackClient ? "127.0.0.1" : kRemoteSource, &to.sin_addr);
  sockaddr_in from = to;
  from.sin_port = 0;
  if (bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof(from)) != 0 ||
      connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof(to)) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// True when the peer has closed a connection that has nothing left to read.
bool Closed(Conn &c) {
  if (c.Buffered() > 0) return false;
  pollfd p{c.fd(), POLLIN, 0};
  if (poll(&p, 1, 0) <= 0) return false;
  char x;
  return recv(c.fd(), &x, 1, MSG_PEEK | MSG_DONTWAIT) <= 0;
}

bool Respond(Conn &client, const char *status, const std::string &type, const std::string &body,
             bool close) {
  std::string head = std::string("HTTP/1.1 ") + status + "\r\n";
  if (!type.empty()) head += "Content-Type: " + type + "\r\n";
  head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  head += close ? "Connection: close\r\n\r\n" : "\r\n";
  return client.Write(head) && client.Write(body);
}

// One client connection: each request checked, then relayed to PAPPL with its
// answer. Returns when either side closes or a message is malformed.
void Serve(int fd, const Backend &backendAt) {
  const bool loopbackClient = PeerIsLoopback(fd);
  Conn client(fd, kClientMs);
  std::unique_ptr<Conn> backend;

  // PAPPL runs without TLS behind the front end, which could not read a
  // TLS connection: one is closed.
  char first;
  if (!client.Peek(first) || !first || !std::strchr("DGHOPT", first)) return;

  for (;;) {
    Head req;
    if (!ReadHead(client, req)) return;
    std::string method = req.start.substr(0, req.start.find(' '));
    bool http10 = req.start.size() >= 8 && req.start.compare(req.start.size() - 8, 8, "HTTP/1.0") == 0;
    Framing rf;
    if (!RequestFraming(req, rf)) {
      Respond(client, "400 Bad Request", "", "", true);
      return;
    }
    bool closeAfter = http10 ? !req.Has("Connection", "keep-alive") : req.Has("Connection", "close");
    if (!backend || Closed(*backend)) {  // PAPPL ends idle connections
      int bfd = ConnectBackend(backendAt, loopbackClient);
      if (bfd < 0) {
        Respond(client, "503 Service Unavailable", "", "", true);
        return;
      }
      backend = std::make_unique<Conn>(bfd, kBackendMs);
    }
    // An upgrade to TLS is not offered: the request is answered as it is.
    // The front end answers Expect itself.
    if (req.Get("Expect")) {
      if (!req.Has("Expect", "100-continue")) {
        Respond(client, "417 Expectation Failed", "", "", true);
        return;
      }
      if (rf.kind != Framing::kNone && !client.Write("HTTP/1.1 100 Continue\r\n\r\n")) return;
      req.Remove("Expect");
    }
    if (req.Has("Connection", "upgrade")) {
      req.Remove("Connection");
      if (closeAfter) req.fields.emplace_back("Connection", "close");
    }
    req.Remove("Upgrade");

    Body body(client, rf);
    ipp_t *request = nullptr;
    const std::string *type = req.Get("Content-Type");
    if (method == "POST" && type && !strncasecmp(type->c_str(), "application/ipp", 15)) {
      request = ippNew();
      IppSource src{body};
      if (ippReadIO(&src, ReadBodyCb, 1, nullptr, request) != IPP_STATE_DATA) {
        ippDelete(request);
        Respond(client, "400 Bad Request", "", "", true);
        return;
      }
      if (ipp_t *answer = CheckRequest(request)) {
        std::string bytes = EncodeIpp(answer);
        ippDelete(answer);
        ippDelete(request);
        bool drained = Drain(body);
        if (!Respond(client, "200 OK", "application/ipp", bytes, closeAfter || !drained) ||
            closeAfter || !drained)
          return;
        continue;
      }
    }

    bool sent;
    if (request) {  // the IPP message as checked, then the document
      req.Remove("Content-Length");
      req.Remove("Transfer-Encoding");
      req.fields.emplace_back("Transfer-Encoding", "chunked");
      std::string bytes = EncodeIpp(request);
      ippDelete(request);
      sent = !bytes.empty() && backend->Write(req.Text()) &&
             WriteChunk(*backend, bytes.data(), bytes.size()) && CopyBody(body, *backend, true);
    } else {
      sent = backend->Write(req.Text()) && CopyBody(body, *backend, rf.kind == Framing::kChunked);
    }
    if (!sent) return;

    // PAPPL's answer, as it is.
    Head resp;
    do {
      if (!ReadHead(*backend, resp)) return;
    } while (resp.start.size() > 9 && resp.start.compare(9, 1, "1") == 0 &&
             resp.start.compare(9, 3, "101") != 0);
    int status = resp.start.size() >= 12 ? std::atoi(resp.start.c_str() + 9) : 0;
    Framing f;
    if (method == "HEAD" || status == 204 || status == 304 || (status >= 100 && status < 200))
      f.kind = Framing::kNone;
    else if (resp.Has("Transfer-Encoding", "chunked"))
      f.kind = Framing::kChunked;
    else if (const std::string *cl = resp.Get("Content-Length");
             cl && !cl->empty() && cl->size() <= 15 &&
             cl->find_first_not_of("0123456789") == std::string::npos) {
      f.kind = Framing::kLength;
      f.length = std::stoll(*cl);
    } else
      f.kind = Framing::kUntilClose;
    bool backendCloses = f.kind == Framing::kUntilClose || resp.Has("Connection", "close");
    if (backendCloses && !resp.Has("Connection", "close")) resp.fields.emplace_back("Connection", "close");
    Body answer(*backend, f);
    if (!client.Write(resp.Text()) || !CopyBody(answer, client, f.kind == Framing::kChunked))
      return;
    if (closeAfter || backendCloses) return;
  }
}

std::atomic<int> gConnections{0};

void AcceptLoop(std::vector<int> fds, Backend backend) {
  // Its connections to PAPPL are made on PAPPL's network: this thread and
  // those it starts join it.
  if (backend.netns >= 0 && setns(backend.netns, CLONE_NEWNET) != 0) {
    std::fprintf(stderr, "vantora-printer-app: cannot join the server's network: %s\n",
                 std::strerror(errno));
    return;
  }
  std::vector<pollfd> p;
  for (int fd : fds) p.push_back({fd, POLLIN, 0});
  for (;;) {
    if (poll(p.data(), p.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (auto &x : p) {
      if (!(x.revents & POLLIN)) continue;
      int fd = accept4(x.fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      if (gConnections.load() >= kMaxConnections) {
        close(fd);
        continue;
      }
      ++gConnections;
      try {
        std::thread([fd, backend] {
          try {
            Serve(fd, backend);
          } catch (...) {
          }
          --gConnections;
        }).detach();
      } catch (...) {
        close(fd);
        --gConnections;
      }
    }
  }
}

}  // namespace

RequestRead ReadRequest(int fd, int timeoutMs) {
  RequestRead out;
  Conn client(fd, timeoutMs);
  Head req;
  if (!(out.head = ReadHead(client, req))) return out;
  out.method = req.start.substr(0, req.start.find(' '));
  Framing rf;
  if (!(out.framing = RequestFraming(req, rf))) return out;
  out.chunked = rf.kind == Framing::kChunked;
  if (rf.kind == Framing::kLength) out.length = rf.length;
  Body body(client, rf);
  const std::string *type = req.Get("Content-Type");
  if (out.method == "POST" && type && !strncasecmp(type->c_str(), "application/ipp", 15)) {
    ipp_t *request = ippNew();
    IppSource src{body};
    if ((out.ipp = ippReadIO(&src, ReadBodyCb, 1, nullptr, request) == IPP_STATE_DATA)) {
      if (ipp_t *answer = CheckRequest(request)) {
        out.answer = EncodeIpp(answer);
        ippDelete(answer);
      } else {
        out.relayed = EncodeIpp(request);
      }
    }
    ippDelete(request);
    if (!out.ipp) return out;
  }
  char buf[16384];
  for (;;) {
    ssize_t n = body.Read(buf, sizeof(buf));
    if (n <= 0) {
      out.ended = n == 0;
      return out;
    }
    out.rest += n;
  }
}

bool IsLoopbackOnly(const std::string &host, int port) {
  if (host.empty()) return false;
  http_addrlist_t *list = httpAddrGetList(host.c_str(), AF_UNSPEC, std::to_string(port).c_str());
  bool ok = list != nullptr;
  for (http_addrlist_t *a = list; a; a = a->next)
    if (!httpAddrLocalhost(&a->addr)) ok = false;
  httpAddrFreeList(list);
  return ok;
}

int MakePrivateNetwork(std::string &why) {
  int netns = -1;
  // A thread of its own: a network namespace is a thread's, and this one
  // ends once the namespace is made.
  std::thread([&] {
    if (unshare(CLONE_NEWNET) != 0) {
      why = std::string("cannot make a network of its own: ") + std::strerror(errno);
      return;
    }
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq lo{};
    std::snprintf(lo.ifr_name, sizeof(lo.ifr_name), "lo");
    ifreq alias{};
    std::snprintf(alias.ifr_name, sizeof(alias.ifr_name), "lo:1");
    auto *sin = reinterpret_cast<sockaddr_in *>(&alias.ifr_addr);
    sin->sin_family = AF_INET;
    inet_pton(AF_INET, kRemoteSource, &sin->sin_addr);
    bool up = s >= 0 && ioctl(s, SIOCGIFFLAGS, &lo) == 0 &&
              (lo.ifr_flags |= IFF_UP | IFF_RUNNING, ioctl(s, SIOCSIFFLAGS, &lo) == 0) &&
              ioctl(s, SIOCSIFADDR, &alias) == 0;
    if (!up)
      why = std::string("cannot set up its own network: ") + std::strerror(errno);
    else if ((netns = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) < 0)
      why = std::string("cannot keep its own network: ") + std::strerror(errno);
    if (s >= 0) close(s);
  }).join();
  return netns;
}

bool RunInNetwork(int netns, const std::function<bool()> &fn) {
  bool ok = false;
  std::thread([&] { ok = setns(netns, CLONE_NEWNET) == 0 && fn(); }).join();
  return ok;
}

std::string StartFrontEnd(const std::string &host, int port, const Backend &backend) {
  if (backend.netns < 0 && !IsLoopbackOnly(host, port))
    return "'" + host + "' is not a loopback address";
  http_addrlist_t *list = httpAddrGetList(host.empty() ? nullptr : host.c_str(), AF_UNSPEC,
                                          std::to_string(port).c_str());
  std::vector<int> fds;
  std::string error;
  for (http_addrlist_t *a = list; a && error.empty(); a = a->next) {
    int fd = httpAddrListen(&a->addr, port);
    if (fd < 0)
      error = std::string("cannot listen on port ") + std::to_string(port) + ": " +
              std::strerror(errno);
    else {
      fcntl(fd, F_SETFD, FD_CLOEXEC);  // not for the filter and converters
      fds.push_back(fd);
    }
  }
  httpAddrFreeList(list);
  if (error.empty() && fds.empty()) error = "no address to listen on";
  if (!error.empty()) {
    for (int fd : fds) close(fd);
    return error;
  }
  std::thread(AcceptLoop, fds, backend).detach();
  return {};
}

}  // namespace vtpapp
