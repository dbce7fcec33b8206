// Feeds arbitrary bytes to the Printer Application's front end. The first
// byte chooses the path: even, the rest is what a client sends on its
// connection (request head, framing, body with an IPP message); odd, the
// rest is an IPP message on its own, read by ippReadIO and checked as the
// front end checks it. A request the check passes on must pass again once
// encoded and read back, and must map to filter options without fault.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <thread>

#include "FrontEnd.h"
#include "JobOptions.h"

namespace {

struct Bytes {
  const uint8_t *p;
  size_t left;
};

ssize_t ReadBytes(void *ctx, ipp_uchar_t *buf, size_t n) {
  auto *b = static_cast<Bytes *>(ctx);
  size_t k = n < b->left ? n : b->left;
  std::memcpy(buf, b->p, k);
  b->p += k;
  b->left -= k;
  return static_cast<ssize_t>(k);
}

ipp_t *Parse(const uint8_t *data, size_t size) {
  ipp_t *ipp = ippNew();
  Bytes b{data, size};
  if (ippReadIO(&b, ReadBytes, 1, nullptr, ipp) != IPP_STATE_DATA) {
    ippDelete(ipp);
    return nullptr;
  }
  return ipp;
}

ipp_t *Parse(const std::string &s) { return vtpapp::DecodeIpp(s); }

void MapIfJob(ipp_t *request) {
  const int op = ippGetOperation(request);  // any 16-bit code
  if (op != IPP_OP_PRINT_JOB && op != IPP_OP_CREATE_JOB && op != IPP_OP_VALIDATE_JOB) return;
  vtpapp::JobMapping m = vtpapp::MapJobAttributes(request, nullptr, "fuzz", "job");
  volatile size_t sink = vtpapp::JoinFilterOptions(m.options).size();
  (void)sink;
}

// A request passed on: as PAPPL reads it, it passes the check again.
void CheckRelayed(const std::string &bytes) {
  if (bytes.empty()) return;
  ipp_t *again = Parse(bytes);
  if (!again) __builtin_trap();  // the front end sent PAPPL what it cannot read
  ipp_t *answer = vtpapp::CheckRequest(again);
  if (answer) __builtin_trap();
  MapIfJob(again);
  ippDelete(again);
}

void CheckAnswer(const std::string &bytes) {
  if (bytes.empty()) return;
  ipp_t *answer = Parse(bytes);
  if (!answer || ippGetStatusCode(answer) < IPP_STATUS_ERROR_BAD_REQUEST) __builtin_trap();
  ippDelete(answer);
}

void OneMessage(const uint8_t *data, size_t size) {
  ipp_t *request = Parse(data, size);
  if (!request) return;
  if (ipp_t *answer = vtpapp::CheckRequest(request)) {
    CheckAnswer(vtpapp::EncodeIpp(answer));
    ippDelete(answer);
  } else {
    CheckRelayed(vtpapp::EncodeIpp(request));
  }
  ippDelete(request);
}

void OneConnection(const uint8_t *data, size_t size) {
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return;
  // The client writes everything and closes its side; the front end may
  // stop reading (and close) before that.
  std::thread client([fd = sv[1], data, size] {
    size_t off = 0;
    while (off < size) {
      ssize_t k = send(fd, data + off, size - off, MSG_NOSIGNAL);
      if (k <= 0) break;
      off += static_cast<size_t>(k);
    }
    shutdown(fd, SHUT_WR);
  });
  vtpapp::RequestRead r = vtpapp::ReadRequest(sv[0], 5000);
  client.join();
  close(sv[1]);
  if (r.rest < 0 || static_cast<size_t>(r.rest) > size) __builtin_trap();
  if (!r.answer.empty() && !r.relayed.empty()) __builtin_trap();
  CheckAnswer(r.answer);
  CheckRelayed(r.relayed);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  if (data[0] & 1)
    OneMessage(data + 1, size - 1);
  else
    OneConnection(data + 1, size - 1);
  return 0;
}
