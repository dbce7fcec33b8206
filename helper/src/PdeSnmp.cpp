// snmpget as a function for the helper service, over net-snmp's public calls.
//
// Two things the plain library does not do are done here: a session whose
// retries or timeout carry the library's default marker gets the service's
// values instead, and the wait for the response checks the cancel flag
// before every round, in rounds short enough that a cancellation ends the
// wait promptly. The library keeps process-wide state (option parsing, the
// default store, the MIB tree), so every library call is made under one lock;
// the waiting runs outside it, and so does the agent's host-name lookup: the
// name is resolved first, without the lock, and the session is opened on the
// numeric address, so a name server that never answers holds up only the
// request that asked for that name.
#include "PdeSnmp.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/library/large_fd_set.h>
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

  void *sessp = snmp_sess_open(&session);
  // The parser's copy of the community; the open session holds its own.
  free(session.community);
  session.community = nullptr;
  if (sessp == nullptr) {
    snmp_sess_perror("snmpget", &session);
    return kSnmpTimeoutError;
  }

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
  lock.unlock();

  int status_result = 0;
  netsnmp_pdu *response = nullptr;
  WaitState state;  // outlives the session, see SynchResponse
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
