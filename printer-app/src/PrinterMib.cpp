#include "PrinterMib.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace vtpapp {

namespace {

bool Contains(std::string text, const char *word) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text.find(word) != std::string::npos;
}

pappl_supply_color_t ColorOf(const std::string &description) {
  if (Contains(description, "cyan")) return PAPPL_SUPPLY_COLOR_CYAN;
  if (Contains(description, "magenta")) return PAPPL_SUPPLY_COLOR_MAGENTA;
  if (Contains(description, "yellow")) return PAPPL_SUPPLY_COLOR_YELLOW;
  if (Contains(description, "black")) return PAPPL_SUPPLY_COLOR_BLACK;
  return PAPPL_SUPPLY_COLOR_NO_COLOR;
}

// prtMarkerSuppliesType values (RFC 3805 PrtMarkerSuppliesTypeTC).
pappl_supply_type_t TypeOf(int type) {
  switch (type) {
    case 3: return PAPPL_SUPPLY_TYPE_TONER;
    case 4: return PAPPL_SUPPLY_TYPE_WASTE_TONER;
    case 9: return PAPPL_SUPPLY_TYPE_OPC;
    case 10: return PAPPL_SUPPLY_TYPE_DEVELOPER;
    case 15: return PAPPL_SUPPLY_TYPE_FUSER;
    case 21: return PAPPL_SUPPLY_TYPE_TONER_CARTRIDGE;
    default: return PAPPL_SUPPLY_TYPE_OTHER;
  }
}

bool Bit(const std::string &bits, int n) {
  size_t byte = static_cast<size_t>(n / 8);
  return byte < bits.size() && (static_cast<unsigned char>(bits[byte]) & (0x80 >> (n % 8))) != 0;
}

}  // namespace

PrinterState MapPrinterMib(const MibStatus &mib) {
  PrinterState st;
  for (const MibSupply &m : mib.supplies) {
    if (st.supplies.size() >= PAPPL_MAX_SUPPLY) break;
    pappl_supply_t s{};
    std::snprintf(s.description, sizeof(s.description), "%s", m.description.c_str());
    s.color = ColorOf(m.description);
    s.type = TypeOf(m.type);
    s.is_consumed = m.supplyClass != 4;
    // A level is a share of the capacity only when both are known.
    if (m.maxCapacity > 0 && m.level >= 0)
      s.level = std::min(100, static_cast<int>(m.level * 100LL / m.maxCapacity));
    else
      s.level = -1;
    st.supplies.push_back(s);
  }

  // doorOpen is reported as cover-open: PAPPL 1.3 lists no reason after
  // toner-low in printer-state-reasons, door-open among them.
  const struct {
    int bit;
    pappl_preason_t reason;
  } bits[] = {
      {0, PAPPL_PREASON_MEDIA_LOW},          {1, PAPPL_PREASON_MEDIA_EMPTY},
      {2, PAPPL_PREASON_TONER_LOW},          {3, PAPPL_PREASON_TONER_EMPTY},
      {4, PAPPL_PREASON_COVER_OPEN},         {5, PAPPL_PREASON_MEDIA_JAM},
      {6, PAPPL_PREASON_OFFLINE},            {7, PAPPL_PREASON_OTHER},
      {8, PAPPL_PREASON_INPUT_TRAY_MISSING}, {10, PAPPL_PREASON_OTHER},
      {12, PAPPL_PREASON_OTHER},             {13, PAPPL_PREASON_MEDIA_EMPTY},
  };
  int reasons = PAPPL_PREASON_NONE;
  for (const auto &b : bits)
    if (Bit(mib.errorState, b.bit)) reasons |= b.reason;
  if (mib.deviceStatus == 5) reasons |= PAPPL_PREASON_OFFLINE;
  // A waste receptacle at its capacity.
  for (const MibSupply &m : mib.supplies)
    if (m.supplyClass == 4 && m.maxCapacity > 0 && m.level >= m.maxCapacity)
      reasons |= PAPPL_PREASON_MARKER_WASTE_FULL;
  st.reasons = static_cast<pappl_preason_t>(reasons);
  return st;
}

std::string SnmpAgentFor(const char *deviceUri, int port) {
  if (!deviceUri || std::strncmp(deviceUri, "socket://", 9) != 0) return "";
  std::string rest = deviceUri + 9;
  size_t end = rest.find_first_of("/?");
  std::string hostport = rest.substr(0, end);
  std::string host;
  if (!hostport.empty() && hostport[0] == '[') {
    size_t close = hostport.find(']');
    if (close == std::string::npos) return "";
    host = hostport.substr(0, close + 1);
    return "udp6:" + host + ":" + std::to_string(port);
  }
  host = hostport.substr(0, hostport.find(':'));
  if (host.empty()) return "";
  return "udp:" + host + ":" + std::to_string(port);
}

namespace {

std::once_flag gSnmpInit;

const oid kDeviceStatus[] = {1, 3, 6, 1, 2, 1, 25, 3, 2, 1, 5, 1};
const oid kErrorState[] = {1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 2, 1};
// prtMarkerSuppliesEntry columns: .1.3.6.1.2.1.43.11.1.1.COLUMN.1.INDEX
constexpr int kClassColumn = 4, kTypeColumn = 5, kDescriptionColumn = 6, kMaxColumn = 8,
              kLevelColumn = 9;
constexpr int kMaxSupplies = 8;

struct Session {
  void *handle = nullptr;
  ~Session() {
    if (handle) snmp_sess_close(handle);
  }
};

// GETs the names; false when the agent did not answer or knows none of them.
bool Get(void *sess, const std::vector<std::vector<oid>> &names, netsnmp_pdu **response) {
  netsnmp_pdu *pdu = snmp_pdu_create(SNMP_MSG_GET);
  for (const auto &n : names) snmp_add_null_var(pdu, n.data(), n.size());
  *response = nullptr;
  int status = snmp_sess_synch_response(sess, pdu, response);
  if (status != STAT_SUCCESS || !*response || (*response)->errstat != SNMP_ERR_NOERROR) {
    if (*response) snmp_free_pdu(*response);
    *response = nullptr;
    return false;
  }
  return true;
}

int IntOf(const netsnmp_variable_list *v, int fallback) {
  return v && v->type == ASN_INTEGER && v->val.integer ? static_cast<int>(*v->val.integer) : fallback;
}

std::string BytesOf(const netsnmp_variable_list *v) {
  if (!v || v->type != ASN_OCTET_STR || !v->val.string) return "";
  return std::string(reinterpret_cast<const char *>(v->val.string), v->val_len);
}

}  // namespace

bool QueryPrinterMib(const std::string &agent, const std::string &community, int timeoutMs,
                     MibStatus &out, std::string &error) {
  std::call_once(gSnmpInit, [] {
    // No MIB files or configuration: every name here is numeric.
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIB_WARNINGS, 0);
    setenv("MIBS", "", 0);
    init_snmp("vantora-printer-app");
  });
  out = MibStatus{};
  netsnmp_session s;
  snmp_sess_init(&s);
  s.version = SNMP_VERSION_1;
  std::string peer = agent;
  std::string comm = community;
  s.peername = peer.data();
  s.community = reinterpret_cast<u_char *>(comm.data());
  s.community_len = comm.size();
  s.timeout = static_cast<long>(timeoutMs) * 1000;
  s.retries = 1;
  Session sess;
  sess.handle = snmp_sess_open(&s);
  if (!sess.handle) {
    error = "cannot open an SNMP session to " + agent;
    return false;
  }

  netsnmp_pdu *r = nullptr;
  if (!Get(sess.handle, {{std::begin(kDeviceStatus), std::end(kDeviceStatus)},
                         {std::begin(kErrorState), std::end(kErrorState)}},
           &r)) {
    error = "no answer from the SNMP agent " + agent;
    return false;
  }
  out.deviceStatus = IntOf(r->variables, 0);
  out.errorState = BytesOf(r->variables ? r->variables->next_variable : nullptr);
  snmp_free_pdu(r);

  // The supplies, one row at a time until the first the agent does not know
  // (an SNMPv1 agent fails the whole request for one unknown name).
  for (int i = 1; i <= kMaxSupplies; ++i) {
    std::vector<std::vector<oid>> names;
    for (int col : {kDescriptionColumn, kClassColumn, kTypeColumn, kMaxColumn, kLevelColumn})
      names.push_back({1, 3, 6, 1, 2, 1, 43, 11, 1, 1, static_cast<oid>(col), 1, static_cast<oid>(i)});
    if (!Get(sess.handle, names, &r)) break;
    MibSupply m;
    netsnmp_variable_list *v = r->variables;
    m.description = BytesOf(v);
    v = v ? v->next_variable : nullptr;
    m.supplyClass = IntOf(v, 0);
    v = v ? v->next_variable : nullptr;
    m.type = IntOf(v, 0);
    v = v ? v->next_variable : nullptr;
    m.maxCapacity = IntOf(v, -2);
    v = v ? v->next_variable : nullptr;
    m.level = IntOf(v, -2);
    snmp_free_pdu(r);
    out.supplies.push_back(m);
  }
  return true;
}

}  // namespace vtpapp
