// The check of requests in front of PAPPL, for a server that listens on
// loopback only.
//
// PAPPL 1.3 gives a driver no say before it creates a job: it takes any
// value of the driver's own attributes and drops a job-password sent as an
// operation attribute. The front end listens on the server's port, reads
// each IPP request, answers one with a bad value of those attributes with an
// IPP error itself, moves an operation-group job-password into the job's
// attributes, and relays everything else (web pages, TLS connections, the
// document data) to PAPPL on a private Unix socket, unchanged.
//
// PAPPL decides by the client's address who may administer and which URIs
// it offers; it sees every client of the front end as local. That is only
// what it would see anyway when every client is local, so the front end
// runs only for a server that listens on loopback addresses.
#pragma once

#include <cups/cups.h>

#include <string>

namespace vtpapp {

// The message as libcups writes it; "" when it cannot be written.
std::string EncodeIpp(ipp_t *ipp);

// The message libcups reads from `bytes`; nullptr unless all of them read
// as one message.
ipp_t *DecodeIpp(const std::string &bytes);

// Checks a request and moves an operation-group job-password (and its
// job-password-encryption) into the job attributes group. nullptr: the
// request may go on to PAPPL; otherwise the response to send instead.
ipp_t *CheckRequest(ipp_t *request);

// One client request read as the front end reads it, without PAPPL: for the
// tests and the fuzz target, which drive it over a socketpair().
struct RequestRead {
  bool head = false;         // a whole request head within the limits
  bool framing = false;      // Content-Length / Transfer-Encoding understood
  std::string method;
  bool chunked = false;
  long long length = -1;     // Content-Length; -1 without one
  bool ipp = false;          // an IPP message was read from the body
  std::string answer;        // the front end's own IPP answer, encoded; "": passed on
  std::string relayed;       // the IPP message as it goes on to PAPPL, encoded
  long long rest = 0;        // bytes of the body after the IPP message
  bool ended = false;        // the body was read to its end
};

// Reads one request from the socket `fd` (and closes it); every wait is
// bounded by `timeoutMs`.
RequestRead ReadRequest(int fd, int timeoutMs);

// True when `host` names loopback addresses only (e.g. "localhost").
bool IsLoopbackOnly(const std::string &host, int port);

// Listens on host:port (loopback only) and relays to PAPPL's Unix socket
// `backend`, in threads of its own. "" when listening, else the reason.
std::string StartFrontEnd(const std::string &host, int port, const std::string &backend);

}  // namespace vtpapp
