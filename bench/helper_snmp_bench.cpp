// Time per SNMP GET: the helper service (request over its socket, net-snmp
// session with its cancellable wait) against net-snmp's own synchronous
// request made in this process, and against Debian's snmpget program, which
// is what a script without the service would run. Same snmpd, same value.
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "HelperTestSupport.h"
#include "OrbWire.h"

namespace {

using Clock = std::chrono::steady_clock;
const std::string kOid = ".1.3.6.1.4.1.8072.9999.1.0";

double MicrosecondsEach(Clock::time_point start, int count) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / count;
}

}  // namespace

int main(int argc, char **argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 2000;
  TempDir dir;
  Snmpd snmpd(dir, "override " + kOid + " integer 42\n");
  if (!snmpd.running()) {
    std::fprintf(stderr, "helper_snmp_bench: %s\n", snmpd.whyNot().c_str());
    return 1;
  }
  ServiceProcess service(dir);
  if (!service.running()) {
    std::fprintf(stderr, "helper_snmp_bench: %s\n", service.whyNot().c_str());
    return 1;
  }

  // The service: one connection, as the dialog keeps it.
  const std::string request = "6:argCount:2:iType:0:cancelFlag:" + (dir / "cancel") +
                              ":CancelFileName:1000000:gSnmpTimeout:1:gSnmpRetries:0:rtnCharFlag:"
                              "snmpget:arg:-v2c:arg:-c:arg:public:arg:" + snmpd.agent() + ":arg:" + kOid + ":arg:";
  const int fd = service.Connect();
  std::string reply;
  auto start = Clock::now();
  for (int i = 0; i < rounds; ++i) {
    if (!CallService(fd, "pdeSnmpGet_XPC:reply:", request, reply) || reply != "TRUE:uResult.integer=42") {
      std::fprintf(stderr, "helper_snmp_bench: unexpected reply %s\n", reply.c_str());
      return 1;
    }
  }
  const double serviceUs = MicrosecondsEach(start, rounds);
  close(fd);

  // net-snmp's own synchronous request, one session per GET as the service opens.
  setenv("MIBS", "", 1);
  init_snmp("snmpapp");
  const std::string peer = snmpd.agent();
  oid name[MAX_OID_LEN];
  size_t nameLength = MAX_OID_LEN;
  snmp_parse_oid(kOid.c_str(), name, &nameLength);
  start = Clock::now();
  for (int i = 0; i < rounds; ++i) {
    netsnmp_session session;
    snmp_sess_init(&session);
    session.version = SNMP_VERSION_2c;
    session.peername = const_cast<char *>(peer.c_str());
    session.community = reinterpret_cast<u_char *>(const_cast<char *>("public"));
    session.community_len = 6;
    session.timeout = 1000000;
    session.retries = 1;
    void *sessp = snmp_sess_open(&session);
    netsnmp_pdu *pdu = snmp_pdu_create(SNMP_MSG_GET);
    snmp_add_null_var(pdu, name, nameLength);
    netsnmp_pdu *response = nullptr;
    if (!sessp || snmp_sess_synch_response(sessp, pdu, &response) != STAT_SUCCESS || !response) {
      std::fprintf(stderr, "helper_snmp_bench: net-snmp request failed\n");
      return 1;
    }
    snmp_free_pdu(response);
    snmp_sess_close(sessp);
  }
  const double librarySpUs = MicrosecondsEach(start, rounds);

  // Debian's snmpget program, a process per GET.
  const int programRounds = rounds / 10 > 0 ? rounds / 10 : 1;
  const std::string command = std::string(VT_SNMPGET_EXE) + " -v2c -c public -Oqv " + peer + " " + kOid + " >/dev/null";
  start = Clock::now();
  for (int i = 0; i < programRounds; ++i) {
    if (std::system(command.c_str()) != 0) {
      std::fprintf(stderr, "helper_snmp_bench: snmpget failed\n");
      return 1;
    }
  }
  const double programUs = MicrosecondsEach(start, programRounds);

  std::printf("SNMP GET of one INTEGER from a local snmpd, microseconds each:\n");
  std::printf("  MacOrbServiceXPC over its socket        %9.1f  (%d requests)\n", serviceUs, rounds);
  std::printf("  net-snmp snmp_sess_synch_response       %9.1f  (%d requests)  service/library = %.2f\n",
              librarySpUs, rounds, serviceUs / librarySpUs);
  std::printf("  Debian snmpget program                  %9.1f  (%d runs)      service/snmpget = %.2f\n",
              programUs, programRounds, serviceUs / programUs);
  return 0;
}
