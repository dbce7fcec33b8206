// The check of requests in front of PAPPL.
//
// PAPPL 1.3 gives a driver no say before it creates a job: it takes any
// value of the driver's own attributes and drops a job-password sent as an
// operation attribute. The front end listens on the server's port, reads
// each IPP request, answers one with a bad value of those attributes with an
// IPP error itself, moves an operation-group job-password into the job's
// attributes, and relays everything else (web pages, TLS connections, the
// document data) to PAPPL unchanged.
//
// PAPPL decides by the client's address who may administer and which URIs
// it offers, so it must still see each client as local or remote. For a
// server on loopback, where every client is local, PAPPL listens on a
// private Unix socket. For a server on the network, PAPPL listens in a
// network namespace of the server's own, where the front end connects from
// loopback for a loopback client and from another address for any other.
#pragma once

#include <cups/cups.h>

#include <functional>
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

// A connection to the Unix socket `path`, or -1.
int ConnectUnix(const std::string &path);

// Where the front end finds PAPPL.
struct Backend {
  std::string unixPath;  // a loopback server: PAPPL's Unix socket
  int netns = -1;        // a network server: PAPPL's own network namespace,
  int port = 0;          // and PAPPL's port in it
};

// A network namespace of the server's own (root only) for PAPPL to listen
// in: loopback up, and one more address from which the front end relays
// clients that are not on loopback, so that PAPPL still tells them from
// local ones. Its descriptor, or -1 with `why`.
int MakePrivateNetwork(std::string &why);

// Runs `fn` in a thread that has joined the network `netns`.
bool RunInNetwork(int netns, const std::function<bool()> &fn);

// Listens on host:port ("" for every address; loopback only for a Unix
// socket backend) and relays to PAPPL, in threads of its own. "" when
// listening, else the reason.
std::string StartFrontEnd(const std::string &host, int port, const Backend &backend);

}  // namespace vtpapp
