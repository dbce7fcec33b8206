// orb-call as a person runs it: each command through the running service,
// against the real snmpd on a loopback port (or, for wake and ping, inside a
// network namespace of the test's own); its output, exit status, Ctrl-C and
// finding the socket.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "HelperTestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const std::string kBase = ".1.3.6.1.4.1.8072.9999.";
// A printer as status reads it, and two plain values.
const std::string kAgentConfig =
    "override .1.3.6.1.2.1.1.1.0 octet_str \"VANTORA Q610\"\n"
    "override .1.3.6.1.2.1.25.3.5.1.1.1 integer 4\n"
    "override .1.3.6.1.2.1.25.3.2.1.5.1 integer 3\n"
    "override .1.3.6.1.6.3.10.2.1.3.0 integer 273600\n"
    "override " + kBase + "1.0 integer -42\n"
    "override " + kBase + "2.0 octet_str \"say \\\"hi\\\"\"\n";

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// Starts orb-call with args (and XDG_RUNTIME_DIR set as given, unset for
// none); its output goes to files in dir.
pid_t StartOrbCall(const TempDir &dir, const std::vector<std::string> &args, const char *runtimeDir) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open((dir / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open((dir / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, 1);
    dup2(err, 2);
    if (runtimeDir) {
      setenv("XDG_RUNTIME_DIR", runtimeDir, 1);
    } else {
      unsetenv("XDG_RUNTIME_DIR");
    }
    std::vector<char *> argv = {const_cast<char *>(VT_ORB_CALL_EXE)};
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(VT_ORB_CALL_EXE, argv.data());
    _exit(127);
  }
  return pid;
}

Outcome Finish(const TempDir &dir, pid_t pid) {
  Outcome run;
  run.status = WaitForExit(pid);
  run.out = ReadWholeFile(dir / "out");
  run.err = ReadWholeFile(dir / "err");
  return run;
}

Outcome OrbCall(const TempDir &dir, const std::vector<std::string> &args, const char *runtimeDir = nullptr) {
  return Finish(dir, StartOrbCall(dir, args, runtimeDir));
}

bool Has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

class OrbCallSnmp : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!snmpd_.running()) GTEST_SKIP() << "skipped: " << snmpd_.whyNot();
    ASSERT_TRUE(service_.running()) << service_.whyNot();
    host_ = "127.0.0.1:" + std::to_string(snmpd_.port());
  }
  Outcome Call(std::vector<std::string> args) {
    args.insert(args.begin(), {"--socket", service_.socketPath()});
    return OrbCall(out_, args);
  }

  TempDir dir_;
  TempDir out_;
  Snmpd snmpd_{dir_, kAgentConfig};
  ServiceProcess service_{dir_};
  std::string host_;
};

}  // namespace

TEST_F(OrbCallSnmp, StatusAndGetAnswered) {
  Outcome run = Call({"status", host_});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, host_ + ": printing, up 3 days, 4 hours\n  description: VANTORA Q610\n  device: warning\n");
  run = Call({"--json", "status", host_});
  EXPECT_EQ(run.out, "{\"host\":\"" + host_ +
                         "\",\"description\":\"VANTORA Q610\",\"printerStatus\":\"printing\","
                         "\"deviceStatus\":\"warning\",\"uptimeSeconds\":273600}\n");

  run = Call({"get", host_, kBase + "1.0"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, host_ + ": " + kBase + "1.0 = -42 (integer)\n");
  run = Call({"get", host_, kBase + "2.0", "--json", "--version", "1", "--retries", "0"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "{\"host\":\"" + host_ + "\",\"oid\":\"" + kBase + "2.0\",\"type\":\"string\",\"value\":\"say \\\"hi\\\"\"}\n");
  // A wrong community is not answered.
  run = Call({"get", host_, kBase + "1.0", "--community", "private", "--timeout", "200", "--retries", "0"});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Has(run.err, "SNMP timeout")) << run.err;
}

TEST_F(OrbCallSnmp, WrongRequestsExitTwo) {
  for (const auto &args : std::vector<std::vector<std::string>>{
           {"get", host_, kBase + "7.0"},
           {"get", host_, kBase + "7.0", "--version", "1"},
           {"get", host_, "1.3.6.x"},
           {"get", host_, kBase + "1.0", "--version", "3"},
           {"get", host_, kBase + "1.0", "--timeout", "soon"},
           {"get", host_},
           {"status", host_, "--colour", "red"},
           {"wake", "00:1b:2c:3d:4e"},
           {"wake", "00:1b:2c:3d:4e:5f", "--password", "much-too-long"},
           {"ping", "127.0.0.1", "--timeout", "0"},
           {"raw", "noSuchSelector:reply:", "x"},
           {"frobnicate"}}) {
    const Outcome run = Call(args);
    EXPECT_EQ(run.status, 2) << args[0] << " " << args.back() << ": " << run.err;
    EXPECT_FALSE(run.err.empty());
  }
  const Outcome unknown = Call({"get", host_, kBase + "7.0", "--version", "1"});
  EXPECT_TRUE(Has(unknown.err, "unknown OID")) << unknown.err;
}

TEST_F(OrbCallSnmp, CtrlCCancelsTheRequestInTheService) {
  SilentAgent silent;
  const pid_t pid = StartOrbCall(out_, {"--socket", service_.socketPath(), "get", silent.host(), kBase + "1.0",
                                        "--timeout", "20000"}, nullptr);
  ASSERT_TRUE(silent.HeardAnything(5000)) << "the request never reached the agent";
  const auto interruptedAt = Clock::now();
  kill(pid, SIGINT);
  const Outcome run = Finish(out_, pid);
  EXPECT_LT(Clock::now() - interruptedAt, milliseconds(1000));
  EXPECT_EQ(run.status, 130);
  EXPECT_TRUE(Has(run.err, "cancelling the request in the service")) << run.err;
  // The service goes on serving, and no cancel file is left behind.
  EXPECT_EQ(Call({"get", host_, kBase + "1.0"}).status, 0);
  DIR *folder = opendir(dir_.path().c_str());
  ASSERT_TRUE(folder);
  while (const dirent *entry = readdir(folder)) EXPECT_FALSE(Has(entry->d_name, ".cancel")) << entry->d_name;
  closedir(folder);
}

TEST_F(OrbCallSnmp, SocketFoundUnderTheRuntimeDirectory) {
  TempDir runtime;
  ASSERT_EQ(symlink(service_.socketPath().c_str(), (runtime / "MacOrbServiceXPC.sock").c_str()), 0);
  Outcome run = OrbCall(out_, {"raw", "isFilePathWritable_XPC:reply:", dir_ / "probe"}, runtime.path().c_str());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "TRUE\n");
  run = OrbCall(out_, {"get", host_, kBase + "1.0"}, runtime.path().c_str());
  EXPECT_EQ(run.status, 0) << run.err;

  TempDir empty;
  run = OrbCall(out_, {"status", host_}, empty.path().c_str());
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Has(run.err, "no service listens on " + empty.path() + "/MacOrbServiceXPC.sock")) << run.err;
  EXPECT_TRUE(Has(run.err, "systemctl --user start MacOrbServiceXPC.socket")) << run.err;
}

TEST(OrbCallNet, WakeAndPingInANamespace) {
  TempDir dir, out;
  ServiceProcess service(dir, /*inOwnNetns=*/true, 9);
  if (!service.running()) GTEST_SKIP() << "skipped: " << service.whyNot();
  Outcome run = OrbCall(out, {"--socket", service.socketPath(), "wake", "0-1B-2c-3d-4E-5f", "--password", "abcd"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "magic packet for 00:1B:2c:3d:4E:5f sent to 255.255.255.255, UDP port 9\n");
  const auto packet = ReceiveDatagram(service.udpFd(), 2000);
  ASSERT_TRUE(packet);
  EXPECT_EQ(packet->substr(6, 6), std::string("\x00\x1b\x2c\x3d\x4e\x5f", 6));
  EXPECT_EQ(packet->substr(102), std::string("abcd\0\0", 6));

  run = OrbCall(out, {"--socket", service.socketPath(), "--json", "ping", "127.0.0.1"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "{\"host\":\"127.0.0.1\",\"address\":\"127.0.0.1\",\"answered\":true}\n");
  // Nothing is routed beyond the namespace's loopback: no reply.
  run = OrbCall(out, {"--socket", service.socketPath(), "ping", "10.255.255.1", "--timeout", "200"});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Has(run.err, "no echo reply within 200 ms")) << run.err;
}
