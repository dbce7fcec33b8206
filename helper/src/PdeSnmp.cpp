// snmpget as a function for the helper service, over net-snmp's public calls.
//
// Two things the plain library does not do are done here: a session whose
// retries or timeout carry the library's default marker gets the service's
// values instead, and the wait for the response checks the cancel flag
// before every round, in rounds short enough that a cancellation ends the
// wait promptly. The library keeps process-wide state (option parsing, the
// default store, the MIB tree, the SNMPv3 user and engine lists), so every
// library call is made under one lock. Whatever waits for the network runs
// outside it, so that an agent or name server that never answers holds up
// only the request that asked for it: the waits for responses, the agent's
// host-name lookup (the session is then opened on the numeric address), the
// TCP connection to the agent, and the SNMPv3 engine-ID discovery, which this
// code sends and waits for itself instead of letting the library do it
// synchronously when the first request goes out.
#include "PdeSnmp.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/library/large_fd_set.h>
#include <net-snmp/library/lcd_time.h>
#include <net-snmp/library/snmpIPBaseDomain.h>
#include <net-snmp/library/snmpIPv4BaseDomain.h>
#include <net-snmp/library/snmpIPv6BaseDomain.h>
#include <net-snmp/library/snmpTCPDomain.h>
#include <net-snmp/library/snmpTCPIPv6Domain.h>
#include <net-snmp/library/snmp_secmod.h>
#include <net-snmp/library/snmp_service.h>
#include <net-snmp/library/snmpusm.h>
#include <net-snmp/library/transform_oids.h>
#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

std::atomic<int64_t> gSnmpTimeout{250};
std::atomic<int32_t> gSnmpRetries{3};
std::atomic<int32_t> gCancelFlag{0};
std::atomic<uint8_t> gtype{0};

namespace {

// snmpget's "do not fix the request after an error" switch: application
// boolean 0 of the library's default store.
constexpr int kDontFixPdus = 0;
// Longest single wait round; a cancellation is noticed within one round.
constexpr long kWaitRoundMicroseconds = 20000;

std::mutex gSnmpLibrary;

// The application options of snmpget: -C f toggles the do-not-fix switch.
void optProc(int argc, char *const *argv, int opt) {
  if (opt != 'C') return;
  for (const char *p = optarg; p && *p; ++p) {
    if (*p == 'f') {
      netsnmp_ds_toggle_boolean(NETSNMP_DS_APPLICATION_ID, kDontFixPdus);
    } else {
      std::fprintf(stderr, "snmpget: unknown flag passed to -C: %c\n", *p);
    }
  }
}

// getopt keeps a pointer into the last argument vector it scanned; start it
// afresh so that a request never reads the freed words of an earlier one.
void ResetOptionScanner() {
  char name[] = "snmpget";
  char *none[] = {name, nullptr};
  optind = 0;
  opterr = 0;
  while (getopt(1, none, "") != -1) {
  }
  opterr = 1;
}

struct WaitState {
  bool waiting = false;
  int status = STAT_ERROR;
  netsnmp_pdu *response = nullptr;
};

// Called by the library (under gSnmpLibrary) when the request is answered,
// has timed out or failed.
int ResponseArrived(int op, netsnmp_session *session, int reqid, netsnmp_pdu *pdu, void *magic) {
  auto *state = static_cast<WaitState *>(magic);
  // A resend or a connection notice is news, not the end of the wait.
  if (op == NETSNMP_CALLBACK_OP_RESEND || op == NETSNMP_CALLBACK_OP_CONNECT) return 1;
  if (!state->waiting) return 1;
  state->waiting = false;
  if (op == NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE && pdu && pdu->command == SNMP_MSG_RESPONSE) {
    state->response = snmp_clone_pdu(pdu);
    state->status = state->response ? STAT_SUCCESS : STAT_ERROR;
    session->s_snmp_errno = SNMPERR_SUCCESS;
  } else if (op == NETSNMP_CALLBACK_OP_TIMED_OUT) {
    state->status = STAT_TIMEOUT;
    session->s_snmp_errno = SNMPERR_TIMEOUT;
  } else {
    state->status = STAT_ERROR;
    if (session->s_snmp_errno == SNMPERR_SUCCESS) session->s_snmp_errno = SNMPERR_GENERR;
  }
  return 1;
}

// Sends pdu (which the library then owns) and waits for its response. Before
// each wait round, a cancel flag of 1 ends the wait with STAT_ERROR. A
// cancelled request stays outstanding until the session is closed, and the
// library may still call back with its state then: state must outlive the
// session.
int SynchResponse(void *sessp, netsnmp_pdu *pdu, netsnmp_pdu **response,
                  const std::atomic<int32_t> *cancelFlag, WaitState &state) {
  state = WaitState{};
  *response = nullptr;
  {
    std::lock_guard<std::mutex> lock(gSnmpLibrary);
    if (snmp_sess_async_send(sessp, pdu, ResponseArrived, &state) == 0) {
      snmp_free_pdu(pdu);
      return STAT_ERROR;
    }
    state.waiting = true;
  }

  netsnmp_large_fd_set fds;
  netsnmp_large_fd_set_init(&fds, FD_SETSIZE);
  for (;;) {
    std::unique_lock<std::mutex> lock(gSnmpLibrary);
    if (!state.waiting) break;
    if (cancelFlag && cancelFlag->load() == 1) {
      state.waiting = false;
      state.status = STAT_ERROR;
      snmp_sess_session(sessp)->s_snmp_errno = SNMPERR_ABORT;
      break;
    }
    int numfds = 0;
    int block = 0;
    timeval timeout{};
    NETSNMP_LARGE_FD_ZERO(&fds);
    snmp_sess_select_info2_flags(sessp, &numfds, &fds, &timeout, &block, NETSNMP_SELECT_NOALARMS);
    lock.unlock();

    // A round lasts until the library's next timeout, but never longer than
    // kWaitRoundMicroseconds, so the cancel flag is looked at often.
    if (block == 1 || timeout.tv_sec > 0 || timeout.tv_usec > kWaitRoundMicroseconds) {
      timeout.tv_sec = 0;
      timeout.tv_usec = kWaitRoundMicroseconds;
    }
    const int count = netsnmp_large_fd_set_select(numfds, &fds, nullptr, nullptr, &timeout);
    const int savedErrno = errno;

    lock.lock();
    if (count > 0) {
      snmp_sess_read2(sessp, &fds);
    } else if (count == 0) {
      snmp_sess_timeout(sessp);  // resends or times out only when due
    } else if (savedErrno != EINTR) {
      state.waiting = false;
      state.status = STAT_ERROR;
      snmp_sess_session(sessp)->s_snmp_errno = SNMPERR_GENERR;
    }
  }
  netsnmp_large_fd_set_cleanup(&fds);
  *response = state.response;
  return state.status;
}

// One host-name lookup, run on a thread of its own so that the request can
// stop waiting for it when it is cancelled; the thread ends by itself when
// the lookup does.
struct HostLookup {
  std::mutex mutex;
  std::condition_variable doneChanged;
  bool done = false;
  int status = EAI_AGAIN;
  std::string address;  // numeric text of the first address
};

void RunHostLookup(const std::shared_ptr<HostLookup> &lookup, const std::string &host, int family) {
  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo *found = nullptr;
  const int status = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  char text[INET6_ADDRSTRLEN] = "";
  if (status == 0 && found != nullptr) {
    const void *raw = family == AF_INET6 ? static_cast<const void *>(&reinterpret_cast<sockaddr_in6 *>(found->ai_addr)->sin6_addr)
                                         : static_cast<const void *>(&reinterpret_cast<sockaddr_in *>(found->ai_addr)->sin_addr);
    inet_ntop(family, raw, text, sizeof text);
  }
  if (found) freeaddrinfo(found);
  std::lock_guard<std::mutex> lock(lookup->mutex);
  lookup->status = status == 0 && text[0] == '\0' ? EAI_FAIL : status;
  lookup->address = text;
  lookup->done = true;
  lookup->doneChanged.notify_all();
}

// Looks host up; while it waits, a raised cancel flag ends the wait.
// 0 with the address, a getaddrinfo error, or -1 when cancelled.
int LookUpHost(const std::string &host, int family, const std::atomic<int32_t> *cancelFlag, std::string &address) {
  auto lookup = std::make_shared<HostLookup>();
  try {
    std::thread([lookup, host, family] { RunHostLookup(lookup, host, family); }).detach();
  } catch (const std::system_error &) {
    RunHostLookup(lookup, host, family);  // no thread to spare: look up here
  }
  std::unique_lock<std::mutex> lock(lookup->mutex);
  while (!lookup->done) {
    if (cancelFlag && cancelFlag->load() == 1) return -1;
    lookup->doneChanged.wait_for(lock, std::chrono::microseconds(kWaitRoundMicroseconds));
  }
  address = lookup->address;
  return lookup->status;
}

bool AllDigits(const std::string &text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// The agent address with its host name replaced by the numeric address it
// stands for, in the forms the library reads for UDP and TCP over IPv4 and
// IPv6: [DOMAIN:]HOST[:PORT], DOMAIN6:[HOST]:PORT, DOMAIN6:HOST. Other forms,
// and addresses that are numeric already, are left as they are (the result
// is empty). Returns 0, kSnmpTimeoutError when the name could not be looked
// up for now, or kSnmpOtherError when the request was cancelled meanwhile.
int NumericAgentAddress(const std::string &agent, const std::atomic<int32_t> *cancelFlag, std::string &numeric) {
  numeric.clear();
  std::string prefix;
  std::string rest = agent;
  int family = AF_INET;
  const size_t colon = agent.find(':');
  if (colon != std::string::npos) {
    std::string domain = agent.substr(0, colon);
    std::transform(domain.begin(), domain.end(), domain.begin(), [](unsigned char c) { return std::tolower(c); });
    if (domain == "udp" || domain == "tcp") {
      prefix = agent.substr(0, colon + 1);
    } else if (domain == "udp6" || domain == "udpv6" || domain == "udpipv6" || domain == "ipv6" ||
               domain == "tcp6" || domain == "tcpv6" || domain == "tcpipv6") {
      prefix = agent.substr(0, colon + 1);
      family = AF_INET6;
    } else if (!AllDigits(agent.substr(colon + 1))) {
      return 0;  // another transport, or no host:port form
    }
    if (!prefix.empty()) rest = agent.substr(colon + 1);
  }

  std::string host;
  std::string suffix;
  bool bracketed = false;
  if (family == AF_INET) {
    const size_t portColon = rest.find(':');
    host = rest.substr(0, portColon);
    if (portColon != std::string::npos) suffix = rest.substr(portColon);
  } else if (!rest.empty() && rest[0] == '[') {
    const size_t close = rest.find(']');
    if (close == std::string::npos) return 0;
    host = rest.substr(1, close - 1);
    suffix = rest.substr(close + 1);
    bracketed = true;
  } else if (rest.find(':') == std::string::npos) {
    host = rest;
  } else {
    return 0;  // a numeric IPv6 address, possibly with a port
  }
  if (host.empty() || AllDigits(host)) return 0;  // no host, or a port alone
  unsigned char probe[sizeof(in6_addr)];
  if (inet_pton(family, host.c_str(), probe) == 1) return 0;

  std::string address;
  const int status = LookUpHost(host, family, cancelFlag, address);
  if (status == -1) return kSnmpOtherError;
  if (status == EAI_AGAIN) {
    std::fprintf(stderr, "snmpget: cannot look up %s now: %s\n", host.c_str(), gai_strerror(status));
    return kSnmpTimeoutError;
  }
  if (status != 0) return 0;  // the library tells what is wrong with the name
  numeric = prefix + (family == AF_INET6 || bracketed ? "[" + address + "]" : address) + suffix;
  return 0;
}

// The address part of a TCP agent address ([DOMAIN:]HOST[:PORT] with one of
// the library's TCP domain names), and whether it is IPv6. False for every
// other agent address.
bool TcpAgentAddress(const char *agent, std::string &address, bool &ipv6) {
  const char *colon = agent ? std::strchr(agent, ':') : nullptr;
  if (colon == nullptr) return false;
  std::string domain(agent, colon);
  std::transform(domain.begin(), domain.end(), domain.begin(), [](unsigned char c) { return std::tolower(c); });
  ipv6 = domain == "tcp6" || domain == "tcpv6" || domain == "tcpipv6";
  if (!ipv6 && domain != "tcp") return false;
  address = colon + 1;
  return true;
}

void CloseTransport(netsnmp_transport *transport) {
  transport->f_close(transport);
  netsnmp_transport_free(transport);
}

// One TCP connection to an agent, made on a thread of its own so that the
// request can stop waiting for it when it is cancelled. The library's connect
// blocks until the agent answers or the system gives up; a connection nobody
// waits for any more is closed by the thread when it is made.
struct TcpConnection {
  std::mutex mutex;
  std::condition_variable doneChanged;
  bool done = false;
  bool abandoned = false;
  netsnmp_transport *transport = nullptr;
  int error = 0;  // errno of a failed connection
};

void RunTcpConnection(const std::shared_ptr<TcpConnection> &connection, const netsnmp_ep &endpoint, bool ipv6) {
  netsnmp_transport *transport = ipv6 ? netsnmp_tcp6_transport(&endpoint, 0) : netsnmp_tcp_transport(&endpoint, 0);
  const int error = errno;
  std::unique_lock<std::mutex> lock(connection->mutex);
  if (connection->abandoned) {
    lock.unlock();
    if (transport) {
      std::lock_guard<std::mutex> library(gSnmpLibrary);
      CloseTransport(transport);
    }
    return;
  }
  connection->transport = transport;
  connection->error = error;
  connection->done = true;
  connection->doneChanged.notify_all();
}

// Connects to endpoint without the lock; while it waits, a raised cancel flag
// ends the wait. 0 with the transport (nullptr and errno in error when the
// connection failed), or -1 when cancelled.
int ConnectTcp(const netsnmp_ep &endpoint, bool ipv6, const std::atomic<int32_t> *cancelFlag,
               netsnmp_transport *&transport, int &error) {
  auto connection = std::make_shared<TcpConnection>();
  try {
    std::thread([connection, endpoint, ipv6] { RunTcpConnection(connection, endpoint, ipv6); }).detach();
  } catch (const std::system_error &) {
    RunTcpConnection(connection, endpoint, ipv6);  // no thread to spare: connect here
  }
  std::unique_lock<std::mutex> lock(connection->mutex);
  while (!connection->done) {
    if (cancelFlag && cancelFlag->load() == 1) {
      connection->abandoned = true;
      return -1;
    }
    connection->doneChanged.wait_for(lock, std::chrono::microseconds(kWaitRoundMicroseconds));
  }
  transport = connection->transport;
  error = connection->error;
  return 0;
}

// Opens the session for session.peername; called and returning with lock
// held. A TCP agent is connected to without the lock (see ConnectTcp), the
// rest as snmp_sess_open does it. On failure the session error is printed
// and failure is set: kSnmpTimeoutError, or kSnmpOtherError when cancelled.
void *OpenSession(netsnmp_session &session, const std::atomic<int32_t> *cancelFlag,
                  std::unique_lock<std::mutex> &lock, int &failure) {
  std::string address;
  bool ipv6 = false;
  void *sessp = nullptr;
  if (!TcpAgentAddress(session.peername, address, ipv6)) {
    sessp = snmp_sess_open(&session);
  } else {
    const char *defaultTarget = netsnmp_lookup_default_target("snmp", ipv6 ? "tcp6" : "tcp");
    netsnmp_ep endpoint{};
    const int parsed = ipv6 ? netsnmp_sockaddr_in6_3(&endpoint, address.c_str(), defaultTarget)
                            : netsnmp_sockaddr_in3(&endpoint, address.c_str(), defaultTarget);
    netsnmp_transport *transport = nullptr;
    int error = 0;
    if (parsed) {
      lock.unlock();
      const int connected = ConnectTcp(endpoint, ipv6, cancelFlag, transport, error);
      lock.lock();
      if (connected == -1) {
        session.s_snmp_errno = SNMPERR_ABORT;
        snmp_sess_perror("snmpget", &session);
        failure = kSnmpOtherError;
        return nullptr;
      }
    }
    if (transport == nullptr) {
      session.s_snmp_errno = SNMPERR_BAD_ADDRESS;
      session.s_errno = error;
      snmp_set_detail(session.peername);
    } else if (netsnmp_sess_config_and_open_transport(&session, transport) != SNMPERR_SUCCESS) {
      CloseTransport(transport);  // refused the -T settings
    } else {
      sessp = snmp_sess_add(&session, transport, nullptr, nullptr);
    }
  }
  if (sessp == nullptr) {
    snmp_sess_perror("snmpget", &session);
    failure = kSnmpTimeoutError;
  }
  return sessp;
}

// The engine-ID probe of the library's user-based security model: a GET
// without variables from the empty user, without authentication, which the
// agent answers with a report that carries its engine ID. The empty user is
// added to the model's user list when it is not there yet.
netsnmp_pdu *UsmProbePdu() {
  netsnmp_pdu *pdu = snmp_pdu_create(SNMP_MSG_GET);
  if (pdu == nullptr) return nullptr;
  pdu->version = SNMP_VERSION_3;
  pdu->securityName = strdup("");
  pdu->securityNameLen = 0;
  pdu->securityLevel = SNMP_SEC_LEVEL_NOAUTH;
  pdu->securityModel = SNMP_SEC_MODEL_USM;
  if (pdu->securityName != nullptr && usm_get_user(nullptr, 0, "") != nullptr) return pdu;
  auto *user = static_cast<usmUser *>(std::calloc(1, sizeof(usmUser)));
  if (pdu->securityName == nullptr || user == nullptr) {
    std::free(user);
    snmp_free_pdu(pdu);
    return nullptr;
  }
  user->name = strdup("");
  user->secName = strdup("");
  user->authProtocolLen = sizeof usmNoAuthProtocol / sizeof(oid);
  user->authProtocol = snmp_duplicate_objid(usmNoAuthProtocol, user->authProtocolLen);
  user->privProtocolLen = sizeof usmNoPrivProtocol / sizeof(oid);
  user->privProtocol = snmp_duplicate_objid(usmNoPrivProtocol, user->privProtocolLen);
  usm_add_user(user);
  return pdu;
}

// Whether the session must find out the agent's engine ID before its first
// request (the library would probe for it synchronously, under the lock).
bool NeedsEngineId(void *sessp) {
  const netsnmp_session *session = snmp_sess_session(sessp);
  return session->version == SNMP_VERSION_3 && session->securityModel == SNMP_SEC_MODEL_USM &&
         session->securityEngineIDLen == 0;
}

// Finds the agent's engine ID as the library does on its own, but with the
// wait in SynchResponse (without the lock, ended by a cancel); state must
// outlive the session. The library takes the engine ID from the report into
// the session; after that the session's user goes into the user list, as
// after the library's own probe. Returns 0, or kSnmpOtherError with the
// session error printed.
int DiscoverEngineId(void *sessp, const std::atomic<int32_t> *cancelFlag, WaitState &state) {
  netsnmp_pdu *probe = nullptr;
  {
    std::lock_guard<std::mutex> lock(gSnmpLibrary);
    probe = UsmProbePdu();
    if (probe == nullptr) {
      snmp_sess_session(sessp)->s_snmp_errno = SNMPERR_MALLOC;
      snmp_sess_perror("snmpget", snmp_sess_session(sessp));
      return kSnmpOtherError;
    }
    // Keeps the library from probing by itself when the probe goes out.
    snmp_sess_session(sessp)->flags |= SNMP_FLAGS_DONT_PROBE;
  }
  netsnmp_pdu *response = nullptr;
  const int status = SynchResponse(sessp, probe, &response, cancelFlag, state);

  std::lock_guard<std::mutex> lock(gSnmpLibrary);
  netsnmp_session *session = snmp_sess_session(sessp);
  session->flags &= ~SNMP_FLAGS_DONT_PROBE;
  if (response) snmp_free_pdu(response);
  if (session->securityEngineIDLen == 0) {
    if (session->s_snmp_errno != SNMPERR_ABORT) {
      session->s_snmp_errno = status == STAT_TIMEOUT   ? SNMPERR_TIMEOUT
                              : status == STAT_SUCCESS ? SNMPERR_INVALID_MSG
                                                       : SNMPERR_UNKNOWN_ENG_ID;
    }
    snmp_sess_perror("snmpget", session);
    return kSnmpOtherError;
  }
  session->s_snmp_errno = SNMPERR_SUCCESS;
  if (session->engineBoots || session->engineTime) {
    set_enginetime(session->securityEngineID, session->securityEngineIDLen, session->engineBoots,
                   session->engineTime, TRUE);
  }
  const snmp_secmod_def *usm = find_sec_mod(SNMP_SEC_MODEL_USM);
  if (usm && usm->post_probe_engineid &&
      usm->post_probe_engineid(static_cast<session_list *>(sessp), session) != SNMPERR_SUCCESS) {
    if (session->s_snmp_errno == SNMPERR_SUCCESS) session->s_snmp_errno = SNMPERR_GENERR;
    snmp_sess_perror("snmpget", session);
    return kSnmpOtherError;
  }
  return 0;
}

// Copies text into the result area, cut to fit (the printer's values are
// ASCII, so a cut never matters for a valid UTF-8 boundary).
void StoreText(SnmpResultArea *result, const std::string &text) {
  const size_t n = text.size() < kSnmpResultSize - 1 ? text.size() : kSnmpResultSize - 1;
  std::memcpy(result->string, text.data(), n);
  result->string[n] = '\0';
}

// Takes the first variable of a good response into the result area; returns
// 0, or kSnmpUsageError for a value of another type or form.
int TakeValue(const netsnmp_variable_list *vars, int expectedType, int charFlag,
              SnmpResultArea *result, uint8_t &fetchedType) {
  if (vars == nullptr || vars->type != expectedType) return kSnmpUsageError;
  switch (vars->type) {
    case ASN_INTEGER:
      if (vars->val.integer == nullptr) return kSnmpUsageError;
      fetchedType = ASN_INTEGER;
      result->integer = static_cast<int32_t>(*vars->val.integer);
      return 0;
    case ASN_OCTET_STR: {
      const auto *bytes = vars->val.string;
      if (charFlag != 0) {
        // A physical address has six bytes; a shorter value is none.
        if (bytes == nullptr || vars->val_len < 6) return kSnmpUsageError;
        fetchedType = ASN_OCTET_STR;
        std::snprintf(result->string, kSnmpResultSize, "%02x:%02x:%02x:%02x:%02x:%02x", bytes[0],
                      bytes[1], bytes[2], bytes[3], bytes[4], bytes[5]);
        return 0;
      }
      fetchedType = ASN_OCTET_STR;
      const char *text = bytes ? reinterpret_cast<const char *>(bytes) : "";
      StoreText(result, std::string(text, bytes ? vars->val_len : 0));
      return 0;
    }
    case ASN_OBJECT_ID: {
      fetchedType = ASN_OBJECT_ID;
      const size_t count = vars->val.objid ? vars->val_len / sizeof(oid) : 0;
      std::string text;
      char part[32];
      for (size_t i = 0; i < count; ++i) {
        std::snprintf(part, sizeof part, i + 1 < count ? "%lu." : "%lu",
                      static_cast<unsigned long>(vars->val.objid[i]));
        text += part;
      }
      StoreText(result, text);
      return 0;
    }
    default:
      return kSnmpUsageError;
  }
}

}  // namespace

void PdeSnmpInit() {
  std::lock_guard<std::mutex> lock(gSnmpLibrary);
  init_snmp("snmpapp");
}

int PdeSnmpGet(int argc, char **argv, SnmpResultArea *result, int expectedType,
               const std::atomic<int32_t> *cancelFlag, int charFlag, uint8_t *valueType) {
  uint8_t fetchedType = 0;
  if (valueType) *valueType = 0;
  if (argc < 1 || argv == nullptr || result == nullptr) return kSnmpUsageError;

  std::unique_lock<std::mutex> lock(gSnmpLibrary);
  netsnmp_session session;
  snmp_sess_init(&session);
  // The do-not-fix switch belongs to this request's command line only.
  netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, kDontFixPdus, 0);
  ResetOptionScanner();
  // NOZERO: secrets stay in the request's own words instead of being copied
  // to the heap (and lost there) by the parser.
  const int arg = netsnmp_parse_args(argc, argv, &session, "C:", optProc, NETSNMP_PARSE_ARGS_NOZERO);
  const bool dontFix = netsnmp_ds_get_boolean(NETSNMP_DS_APPLICATION_ID, kDontFixPdus) != 0;
  netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, kDontFixPdus, 0);
  if (arg == NETSNMP_PARSE_ARGS_SUCCESS_EXIT || arg < 0 || arg >= argc) {
    free(session.community);
    return arg == NETSNMP_PARSE_ARGS_SUCCESS_EXIT ? 0 : kSnmpUsageError;
  }

  if (session.retries == SNMP_DEFAULT_RETRIES) session.retries = gSnmpRetries.load();
  if (session.timeout == SNMP_DEFAULT_TIMEOUT) session.timeout = static_cast<long>(gSnmpTimeout.load());

  // The agent's name is looked up without the lock; the session then opens
  // on the numeric address, which needs no name server.
  const std::string agent = session.peername ? session.peername : "";
  lock.unlock();
  std::string numericAgent;
  const int lookedUp = NumericAgentAddress(agent, cancelFlag, numericAgent);
  lock.lock();
  if (lookedUp != 0) {
    free(session.community);
    return lookedUp;
  }
  if (!numericAgent.empty()) session.peername = numericAgent.data();

  int openFailure = 0;
  void *sessp = OpenSession(session, cancelFlag, lock, openFailure);
  // The parser's copy of the community; the open session holds its own.
  free(session.community);
  session.community = nullptr;
  if (sessp == nullptr) return openFailure;

  netsnmp_pdu *pdu = snmp_pdu_create(SNMP_MSG_GET);
  int failures = 0;
  for (int i = arg; i < argc; ++i) {
    oid name[MAX_OID_LEN];
    size_t nameLength = MAX_OID_LEN;
    if (!snmp_parse_oid(argv[i], name, &nameLength)) {
      snmp_perror(argv[i]);
      ++failures;
    } else {
      snmp_add_null_var(pdu, name, nameLength);
    }
  }
  if (failures > 0) {
    snmp_free_pdu(pdu);
    snmp_sess_close(sessp);
    return kSnmpBadObjectError;
  }
  const bool needsEngineId = NeedsEngineId(sessp);
  lock.unlock();

  int status_result = 0;
  netsnmp_pdu *response = nullptr;
  WaitState probeState;  // both outlive the session, see SynchResponse
  WaitState state;
  if (needsEngineId) {
    status_result = DiscoverEngineId(sessp, cancelFlag, probeState);
    if (status_result != 0) {
      lock.lock();
      snmp_free_pdu(pdu);
      snmp_sess_close(sessp);
      return status_result;
    }
  }
  for (;;) {
    const int status = SynchResponse(sessp, pdu, &response, cancelFlag, state);
    pdu = nullptr;
    lock.lock();
    if (status == STAT_TIMEOUT) {
      status_result = kSnmpTimeoutError;
    } else if (status != STAT_SUCCESS) {
      snmp_sess_perror("snmpget", snmp_sess_session(sessp));
      status_result = kSnmpOtherError;
    } else if (response->errstat != SNMP_ERR_NOERROR) {
      status_result = response->errstat == SNMP_ERR_NOSUCHNAME ? kSnmpNoSuchNameError
                                                               : kSnmpBadObjectError;
      if (!dontFix) {
        // Ask again without the variable that failed, if any is left.
        pdu = snmp_fix_pdu(response, SNMP_MSG_GET);
        if (pdu != nullptr) {
          snmp_free_pdu(response);
          response = nullptr;
          lock.unlock();
          continue;
        }
      }
    } else {
      const int taken = TakeValue(response->variables, expectedType, charFlag, result, fetchedType);
      // A value after a fix-and-retry keeps the error of the first response.
      if (status_result == 0) status_result = taken;
    }
    break;
  }
  if (response) snmp_free_pdu(response);
  snmp_sess_close(sessp);
  lock.unlock();

  if (fetchedType != 0) {
    gtype.store(fetchedType);
    if (valueType) *valueType = fetchedType;
  }
  return status_result;
}
