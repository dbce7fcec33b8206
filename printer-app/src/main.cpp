// vantora-printer-app: the Q610 family as an IPP Everywhere printer.
//
//   vantora-printer-app server [-o server-port=N] [-o listen-hostname=H]
//                              [-o spool-directory=DIR] [-o state-file=FILE]
//                              [-o log-file=FILE] [-o log-level=LEVEL]
//                              [-o check-requests=no] [-o tls=no|yes]
//   vantora-printer-app add -d NAME -m vantora_q610 -v socket://host:9100
//
// and the other sub-commands of PAPPL's main loop (see --help).

#include <pappl/pappl.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FrontEnd.h"
#include "Q610Driver.h"

namespace {

const char kName[] = "vantora-printer-app";
const char kVersion[] = "1.0.0";

std::string gStateFile;

std::string Option(const char *name, int n, cups_option_t *options, const char *fallback) {
  const char *v = cupsGetOption(name, n, options);
  return v && *v ? std::string(v) : std::string(fallback ? fallback : "");
}

pappl_loglevel_t LogLevel(const std::string &s) {
  if (s == "debug") return PAPPL_LOGLEVEL_DEBUG;
  if (s == "info") return PAPPL_LOGLEVEL_INFO;
  if (s == "error") return PAPPL_LOGLEVEL_ERROR;
  if (s == "fatal") return PAPPL_LOGLEVEL_FATAL;
  return PAPPL_LOGLEVEL_WARN;
}

bool SaveState(pappl_system_t *system, void *) {
  return papplSystemSaveState(system, gStateFile.c_str());
}

// The socket on which PAPPL's main loop serves its sub-commands (add,
// delete, shutdown, ...): one path per user (root: one per machine, or per
// SNAP_COMMON), whatever the port.
std::string CommandSocket() {
  if (uid_t uid = getuid(); uid != 0)
    return std::string(papplGetTempDir()) + "/" + kName + std::to_string(uid) + ".sock";
  if (const char *snap = std::getenv("SNAP_COMMON"); snap && *snap)
    return std::string(snap) + "/" + kName + ".sock";
  return std::string("/run/") + kName + ".sock";
}

// True when a server already answers on `path`. A second server would take
// the path over, so that the sub-commands reach it instead of the first
// one, and its exit would remove the first one's socket.
bool ServerAnswers(const std::string &path) {
  int fd = vtpapp::ConnectUnix(path);
  if (fd >= 0) close(fd);
  return fd >= 0;
}

pappl_system_t *SystemCallback(int numOptions, cups_option_t *options, void *) {
  if (std::string command = CommandSocket(); ServerAnswers(command)) {
    std::fprintf(stderr,
                 "%s: a server is already running for this user (its socket is %s); stop it "
                 "with '%s shutdown', or start this one with another TMPDIR (root: SNAP_COMMON)\n",
                 kName, command.c_str(), kName);
    return nullptr;
  }
  std::string base;
  if (const char *env = std::getenv("XDG_STATE_HOME"); env && *env)
    base = env;
  else if (getuid() == 0)
    base = "/var/lib";
  else if (const char *home = std::getenv("HOME"); home && *home)
    base = std::string(home) + "/.local/state";
  else
    base = "/tmp";

  std::string spool = Option("spool-directory", numOptions, options, (base + "/" + kName).c_str());
  gStateFile = Option("state-file", numOptions, options, (spool + "/" + kName + ".state").c_str());
  std::string logFile = Option("log-file", numOptions, options, "-");
  std::string hostName = Option("listen-hostname", numOptions, options, "");
  int port = std::atoi(Option("server-port", numOptions, options, "8631").c_str());
  if (port <= 0 || port > 65535) {
    std::fprintf(stderr, "%s: bad server-port\n", kName);
    return nullptr;
  }

  // The check of requests in front of PAPPL (see FrontEnd.h). PAPPL then
  // listens where only the front end reaches it: for a server on loopback,
  // on a socket in the spool directory; for one on the network, in a
  // network of the server's own (root only), so that PAPPL still tells
  // remote clients from local ones. Elsewhere PAPPL listens itself.
  bool check = Option("check-requests", numOptions, options, "yes") != "no";
  const bool loopback = vtpapp::IsLoopbackOnly(hostName, port);
  vtpapp::Backend backend;
  if (check && !loopback) {
    std::string why;
    if ((backend.netns = vtpapp::MakePrivateNetwork(why)) < 0) {
      std::fprintf(stderr, "%s: requests are checked only when jobs start: %s\n", kName,
                   why.c_str());
      check = false;
    }
    backend.port = port;
  }
  // The front end cannot read a TLS connection, and a PIN sent in one would
  // be lost: the job would print at once instead of being held. While it
  // checks requests, PAPPL offers no TLS.
  const std::string tls = Option("tls", numOptions, options, "");
  if (check && tls == "yes") {
    std::fprintf(stderr,
                 "%s: tls=yes needs check-requests=no: TLS connections cannot be checked\n",
                 kName);
    return nullptr;
  }

  pappl_soptions_t soptions = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE |
                              PAPPL_SOPTIONS_WEB_LOG | PAPPL_SOPTIONS_WEB_SECURITY;
  if (check || tls == "no") soptions |= PAPPL_SOPTIONS_NO_TLS;

  pappl_system_t *system = papplSystemCreate(
      soptions, "VANTORA Q610 Printer Application", port, "_print,_universal", spool.c_str(),
      logFile.c_str(), LogLevel(Option("log-level", numOptions, options, "warn")), nullptr, false);
  if (!system) return nullptr;

  bool frontEnd = false;
  if (check && loopback) {
    backend.unixPath = spool + "/" + kName + ".sock";
    frontEnd = backend.unixPath.size() < sizeof(sockaddr_un::sun_path) &&
               papplSystemAddListeners(system, backend.unixPath.c_str());
    if (!frontEnd)
      std::fprintf(stderr, "%s: no socket %s for the check of requests\n", kName,
                   backend.unixPath.c_str());
  } else if (check) {
    frontEnd = vtpapp::RunInNetwork(backend.netns, [system] {
      return papplSystemAddListeners(system, nullptr);
    });
    if (!frontEnd)
      std::fprintf(stderr, "%s: requests are checked only when jobs start: PAPPL cannot listen "
                   "in the server's own network\n", kName);
  }
  if (frontEnd) {
    if (std::string why = vtpapp::StartFrontEnd(hostName, port, backend); !why.empty()) {
      std::fprintf(stderr, "%s: %s\n", kName, why.c_str());
      papplSystemDelete(system);
      return nullptr;
    }
  } else if (!papplSystemAddListeners(system, hostName.empty() ? nullptr : hostName.c_str())) {
    std::fprintf(stderr, "%s: cannot listen on port %d\n", kName, port);
    papplSystemDelete(system);
    return nullptr;
  }
  vtpapp::SetJobPasswordKept(frontEnd);
  if (!hostName.empty()) papplSystemSetHostName(system, hostName.c_str());

  int numDrivers = 0;
  pappl_pr_driver_t *drivers = vtpapp::Drivers(&numDrivers);
  papplSystemSetPrinterDrivers(system, numDrivers, drivers, vtpapp::AutoAddCallback,
                               vtpapp::PrinterCreated, vtpapp::DriverCallback, nullptr);
  vtpapp::RegisterResources(system);
  papplSystemSetEventCallback(system, vtpapp::EventCallback, nullptr);
  papplSystemSetFooterHTML(system, "VANTORA Q610 Printer Application");
  papplSystemSetSaveCallback(system, SaveState, nullptr);
  pappl_version_t version{};
  std::snprintf(version.name, sizeof(version.name), "%s", kName);
  std::snprintf(version.sversion, sizeof(version.sversion), "%s", kVersion);
  version.version[0] = 1;
  papplSystemSetVersions(system, 1, &version);

  if (!papplSystemLoadState(system, gStateFile.c_str())) {
    // A first start: nothing to load.
  }
  return system;
}

}  // namespace

int main(int argc, char *argv[]) {
  int numDrivers = 0;
  pappl_pr_driver_t *drivers = vtpapp::Drivers(&numDrivers);
  return papplMainloop(argc, argv, kVersion, nullptr, numDrivers, drivers, vtpapp::AutoAddCallback,
                       vtpapp::DriverCallback, nullptr, nullptr, SystemCallback, nullptr, nullptr);
}
