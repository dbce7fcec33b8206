// SNMP GETs through the running service against a real snmpd on a loopback
// port, with fixed values from its own configuration; timeouts against a
// silent loopback socket; cancellation through the cancel file; requests that
// wait for a name server, a TCP handshake or an SNMPv3 engine-ID probe.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "HelperTestSupport.h"
#include "OrbWire.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
constexpr const char *kSnmpGet = "pdeSnmpGet_XPC:reply:";
constexpr const char *kCancelWrite = "cancelFileWrite_XPC:reply:";

const std::string kBase = ".1.3.6.1.4.1.8072.9999.";
const std::string kLongText(300, 'x');
const std::string kAgentConfig =
    "override " + kBase + "1.0 integer -42\n"
    "override " + kBase + "2.0 octet_str \"Q610 ready\"\n"
    "override " + kBase + "3.0 octet_str 0x001B2C3D4E5F\n"
    "override " + kBase + "4.0 object_id .1.3.6.1.4.1\n"
    "override " + kBase + "5.0 octet_str \"" + kLongText + "\"\n"
    "override " + kBase + "6.0 octet_str 0x0A0B0C\n"
    "createUser dialog\n"
    "createUser secret SHA \"auth-secret\" AES \"priv-secret\"\n"
    "rouser dialog noauth\n"
    "rouser secret priv\n";

struct SnmpCall {
  int type = 2;
  std::string cancelFlag = "NULL";
  std::string cancelFile;
  std::string timeout = "1000000";
  std::string retries = "1";
  int charFlag = 0;
  std::vector<std::string> words;

  std::string Request() const {
    std::string r = std::to_string(words.size()) + ":argCount:" + std::to_string(type) + ":iType:" + cancelFlag +
                    ":cancelFlag:" + cancelFile + ":CancelFileName:" + timeout + ":gSnmpTimeout:" + retries +
                    ":gSnmpRetries:" + std::to_string(charFlag) + ":rtnCharFlag:";
    for (const auto &w : words) r += w + ":arg:";
    return r;
  }
};

class ServiceSnmp : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!snmpd_.running()) GTEST_SKIP() << "skipped: " << snmpd_.whyNot();
    ASSERT_TRUE(service_.running()) << service_.whyNot();
  }
  SnmpCall Get(int type, const std::string &oidTail, const std::string &version = "-v2c") {
    SnmpCall call;
    call.type = type;
    call.cancelFile = dir_ / "cancel";
    call.words = {"snmpget", version, "-c", "public", snmpd_.agent(), kBase + oidTail};
    return call;
  }
  std::string Call(const SnmpCall &call) {
    const auto reply = service_.Call(kSnmpGet, call.Request());
    return reply ? *reply : "(no reply)";
  }

  TempDir dir_;
  Snmpd snmpd_{dir_, kAgentConfig};
  ServiceProcess service_{dir_};
};

// Waits until the service has made the request's cancel file, and a little
// longer, so that the request is under way.
void WaitUntilStarted(const std::string &cancelFile) {
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (!PathExists(cancelFile) && Clock::now() < deadline) std::this_thread::sleep_for(milliseconds(5));
  std::this_thread::sleep_for(milliseconds(100));
}

// Cancels a pending request from a connection of its own: it ends with the
// cancellation code within a second.
void ExpectCancelEndsIt(const ServiceProcess &service, const std::string &cancelFile,
                        std::future<std::string> &pending) {
  const auto start = Clock::now();
  EXPECT_EQ(service.Call(kCancelWrite, cancelFile + ":CancelFileName:"), "TRUE");
  ASSERT_EQ(pending.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_LT(Clock::now() - start, milliseconds(1000));
  EXPECT_EQ(pending.get(), "FALSE:rtn_ExitValue=-30870");
}

}  // namespace

// One GET each: the reply for the value's type, or the usage error for a
// value of another type.
TEST_F(ServiceSnmp, ValuesOfEachTypeAndMismatches) {
  const struct {
    int type;
    const char *oidTail, *version;
    int charFlag;
    std::string reply;
  } cases[] = {
      {2, "1.0", "-v2c", 0, "TRUE:uResult.integer=-42"},
      {4, "2.0", "-v2c", 0, "TRUE:uResult.string=Q610 ready"},
      {4, "3.0", "-v2c", 1, "TRUE:uResult.string=00:1b:2c:3d:4e:5f"},
      {6, "4.0", "-v2c", 0, "TRUE:uResult.string=1.3.6.1.4.1"},
      // A long string is cut at 255 bytes.
      {4, "5.0", "-v2c", 0, "TRUE:uResult.string=" + kLongText.substr(0, 255)},
      {2, "2.0", "-v2c", 0, "FALSE:rtn_ExitValue=-50"},
      {4, "1.0", "-v2c", 0, "FALSE:rtn_ExitValue=-50"},
      // A physical address needs six bytes: three are not read past; any six
      // or more make one: the first six of "Q610 ready".
      {4, "6.0", "-v2c", 1, "FALSE:rtn_ExitValue=-50"},
      {4, "2.0", "-v2c", 1, "TRUE:uResult.string=51:36:31:30:20:72"},
      // No such object is a value of another type with SNMPv2c, no such name with v1.
      {2, "7.0", "-v2c", 0, "FALSE:rtn_ExitValue=-50"},
      {2, "7.0", "-v1", 0, "FALSE:rtn_ExitValue=-30896"},
  };
  for (const auto &c : cases) {
    SnmpCall call = Get(c.type, c.oidTail, c.version);
    call.charFlag = c.charFlag;
    EXPECT_EQ(Call(call), c.reply) << c.type << " " << c.oidTail << " " << c.version;
  }
  // The cancel file is made, empty, and left for the dialog.
  EXPECT_TRUE(PathExists(dir_ / "cancel"));
  EXPECT_EQ(ReadWholeFile(dir_ / "cancel"), "");
}

TEST_F(ServiceSnmp, UnparsableIdentifierThenAGoodRequest) {
  SnmpCall bad = Get(2, "1.0");
  bad.words.back() = "NO-SUCH-MIB::nothingHere.0";
  EXPECT_EQ(Call(bad), "FALSE:rtn_ExitValue=-30887");
  EXPECT_EQ(Call(Get(2, "1.0")), "TRUE:uResult.integer=-42");
}

TEST_F(ServiceSnmp, NoSuchNameWithSnmpV1) {
  // Asked with a missing and a present name, with and without -Cf: the
  // error of the first response stays.
  SnmpCall two = Get(2, "7.0", "-v1");
  two.words.push_back(kBase + "1.0");
  EXPECT_EQ(Call(two), "FALSE:rtn_ExitValue=-30896");
  two.words.insert(two.words.begin() + 1, {"-C", "f"});
  EXPECT_EQ(Call(two), "FALSE:rtn_ExitValue=-30896");
  // -Cf holds for its own request only.
  EXPECT_EQ(Call(Get(2, "1.0", "-v1")), "TRUE:uResult.integer=-42");
}

TEST_F(ServiceSnmp, UsageErrors) {
  SnmpCall none = Get(2, "1.0");
  none.words.pop_back();  // no identifier after the agent
  EXPECT_EQ(Call(none), "FALSE:rtn_ExitValue=-50");
  none.words = {"snmpget"};
  EXPECT_EQ(Call(none), "FALSE:rtn_ExitValue=-50");
  none.words = {};
  EXPECT_EQ(Call(none), "FALSE:rtn_ExitValue=-50");
  none.words = {"snmpget", "-j", snmpd_.agent(), kBase + "1.0"};
  EXPECT_EQ(Call(none), "FALSE:rtn_ExitValue=-50");
  SnmpCall many = Get(2, "1.0");
  while (many.words.size() < 512) many.words.push_back(kBase + "1.0");
  EXPECT_EQ(Call(many), "FALSE:rtn_ExitValue=-50");
  EXPECT_EQ(service_.Call(kSnmpGet, "2:argCount:snmpget:arg:").value_or("(no reply)"), "FALSE:rtn_ExitValue=-50");
  // The service is still in working order.
  EXPECT_EQ(Call(Get(2, "1.0")), "TRUE:uResult.integer=-42");
}

TEST_F(ServiceSnmp, UncreatableCancelFileRepliesFalseWithoutTraffic) {
  SilentAgent agent;
  SnmpCall call = Get(2, "1.0");
  call.words[4] = agent.agent();
  call.cancelFile = dir_ / "no-such-folder/cancel";
  EXPECT_EQ(Call(call), "FALSE");
  call.cancelFile = "NULL";
  EXPECT_EQ(Call(call), "FALSE");
  EXPECT_FALSE(agent.HeardAnything(300));
}

TEST_F(ServiceSnmp, TimeoutAgainstASilentAgent) {
  SilentAgent agent;
  SnmpCall call = Get(2, "1.0");
  call.words[4] = agent.agent();
  call.timeout = "200000";  // microseconds
  call.retries = "1";
  const auto start = Clock::now();
  EXPECT_EQ(Call(call), "FALSE:rtn_ExitValue=-9780");
  const auto took = Clock::now() - start;
  // timeout x (retries + 1) = 400 ms.
  EXPECT_GE(took, milliseconds(380));
  EXPECT_LT(took, milliseconds(3000));
  EXPECT_TRUE(agent.HeardAnything(0));
}

TEST_F(ServiceSnmp, CancelFileWriteEndsALongWait) {
  SilentAgent agent;
  SnmpCall call = Get(2, "1.0");
  call.words[4] = agent.agent();
  call.timeout = "20000000";  // 20 s
  call.retries = "1";
  call.cancelFlag = "0";
  const std::string cancelFile = call.cancelFile;
  auto pending = std::async(std::launch::async, [&] { return Call(call); });
  // Wait until the request is on the wire, then cancel from another connection.
  ASSERT_TRUE(agent.HeardAnything(5000));
  ExpectCancelEndsIt(service_, cancelFile, pending);
  // The watcher removes the cancel file when it cancels.
  EXPECT_FALSE(PathExists(cancelFile));
}

TEST_F(ServiceSnmp, CancelAfterItsRequestEndedCancelsNothingLater) {
  SnmpCall call = Get(2, "1.0");
  call.cancelFlag = "0";
  EXPECT_EQ(Call(call), "TRUE:uResult.integer=-42");
  // Too late: nothing is cancelled, and no cancel waits in a file.
  EXPECT_EQ(service_.Call(kCancelWrite, call.cancelFile + ":CancelFileName:"), "FALSE");
  EXPECT_FALSE(PathExists(call.cancelFile));
  EXPECT_EQ(Call(call), "TRUE:uResult.integer=-42");
  // A cancel left in the file some other way belongs to no running request either.
  ASSERT_TRUE(WriteWholeFile(call.cancelFile, "\x01"));
  EXPECT_EQ(Call(call), "TRUE:uResult.integer=-42");
  EXPECT_EQ(ReadWholeFile(call.cancelFile), "");
}

TEST_F(ServiceSnmp, UncancelledRequestsLeaveNoThreadBehind) {
  const int before = CountThreads(service_.pid());
  ASSERT_GT(before, 0);
  const int fd = service_.Connect();
  ASSERT_GE(fd, 0);
  int maxSeen = 0;
  for (int i = 0; i < 100; ++i) {
    SnmpCall call = Get(2, "1.0");
    call.cancelFlag = "0";
    call.cancelFile = dir_ / ("cancel-" + std::to_string(i));
    std::string reply;
    ASSERT_TRUE(CallService(fd, kSnmpGet, call.Request(), reply));
    ASSERT_EQ(reply, "TRUE:uResult.integer=-42");
    maxSeen = std::max(maxSeen, CountThreads(service_.pid()));
  }
  close(fd);
  EXPECT_GT(maxSeen, before);  // the connection's thread, at least
  int after = CountThreads(service_.pid());
  const auto deadline = Clock::now() + std::chrono::seconds(3);
  while (after > before && Clock::now() < deadline) {
    std::this_thread::sleep_for(milliseconds(20));
    after = CountThreads(service_.pid());
  }
  EXPECT_EQ(after, before);
  // The files themselves stay: only a cancelling watcher removes its file.
  EXPECT_TRUE(PathExists(dir_ / "cancel-99"));
  // A stale watcher must not cancel a later request: write to an old file.
  ASSERT_TRUE(WriteWholeFile(dir_ / "cancel-5", "\x01"));
  std::this_thread::sleep_for(milliseconds(100));
  SnmpCall later = Get(2, "1.0");
  later.cancelFlag = "0";
  EXPECT_EQ(Call(later), "TRUE:uResult.integer=-42");
}

TEST_F(ServiceSnmp, ConcurrentRequestsOnSeveralConnections) {
  std::vector<std::future<std::string>> replies;
  for (int i = 0; i < 8; ++i) {
    replies.push_back(std::async(std::launch::async, [this, i] {
      SnmpCall call = Get(i % 2 ? 2 : 4, i % 2 ? "1.0" : "2.0");
      call.cancelFile = dir_ / ("c" + std::to_string(i));
      std::string all;
      for (int k = 0; k < 10; ++k) all += Call(call) + "\n";
      return all;
    }));
  }
  for (int i = 0; i < 8; ++i) {
    std::string expected;
    for (int k = 0; k < 10; ++k) expected += i % 2 ? "TRUE:uResult.integer=-42\n" : "TRUE:uResult.string=Q610 ready\n";
    EXPECT_EQ(replies[i].get(), expected) << "connection " << i;
  }
}

// The service in namespaces of its own, whose name server (a UDP socket the
// test holds on port 53) never answers: a request for a host name waits for
// the lookup; other requests and cancels go on meanwhile.
TEST(ServiceLookup, ANameServerThatNeverAnswersHoldsUpOnlyItsOwnRequest) {
  TempDir dir;
  const std::string resolvConf = dir / "resolv.conf";
  ASSERT_TRUE(WriteWholeFile(resolvConf, "nameserver 127.0.0.1\noptions timeout:3 attempts:1\n"));
  ServiceProcess service(dir, /*inOwnNetns=*/true, 53, {}, resolvConf);
  if (!service.running() && service.whyNot().find("namespace") != std::string::npos) {
    GTEST_SKIP() << "skipped: " << service.whyNot();
  }
  ASSERT_TRUE(service.running()) << service.whyNot();
  const auto call = [&](const SnmpCall &request) {
    return service.Call(kSnmpGet, request.Request()).value_or("(no reply)");
  };

  SnmpCall named;
  named.cancelFile = dir / "cancel-named";
  named.words = {"snmpget", "-v2c", "-c", "public", "udp:printer.example.test:161", kBase + "1.0"};
  auto lookup = std::async(std::launch::async, [&] { return call(named); });
  ASSERT_TRUE(ReceiveDatagram(service.udpFd(), 5000)) << "no query reached the name server";

  SnmpCall silent;
  silent.cancelFile = dir / "cancel-silent";
  silent.timeout = "100000";
  silent.words = {"snmpget", "-v2c", "-c", "public", "udp:127.0.0.1:9", kBase + "1.0"};
  auto start = Clock::now();
  EXPECT_EQ(call(silent), "FALSE:rtn_ExitValue=-9780");
  EXPECT_LT(Clock::now() - start, milliseconds(1500));

  silent.timeout = "20000000";
  silent.cancelFlag = "0";
  auto cancelled = std::async(std::launch::async, [&] { return call(silent); });
  WaitUntilStarted(silent.cancelFile);
  ExpectCancelEndsIt(service, silent.cancelFile, cancelled);
  EXPECT_EQ(lookup.wait_for(std::chrono::milliseconds(10)), std::future_status::timeout)
      << "the lookup should still be waiting for its name server";
  EXPECT_EQ(lookup.get(), "FALSE:rtn_ExitValue=-9780");
}

// A session that cannot be opened (an agent that never completes the TCP
// handshake, an SNMPv3 agent that never answers the engine-ID probe) holds up
// only its own request: another connection's GET and another request's
// cancel go through meanwhile, and the stalled request can be cancelled too.
TEST_F(ServiceSnmp, ASessionThatCannotOpenHoldsUpOnlyItsOwnRequest) {
  UnansweredTcpAgent tcp;
  ASSERT_TRUE(tcp.ready()) << "a connect to the full listener completed";
  SilentAgent silent;
  const std::string oid = kBase + "1.0";
  const struct {
    const char *what;
    std::vector<std::string> words;
  } stalls[] = {
      {"TCP handshake", {"snmpget", "-v2c", "-c", "public", tcp.agent(), oid}},
      {"SNMPv3 probe", {"snmpget", "-v3", "-l", "noAuthNoPriv", "-u", "dialog", silent.agent(), oid}},
  };
  for (const auto &stall : stalls) {
    SCOPED_TRACE(stall.what);
    SnmpCall stalled;
    stalled.words = stall.words;
    stalled.timeout = "5000000";
    stalled.cancelFlag = "0";
    stalled.cancelFile = dir_ / "cancel-stalled";
    auto pending = std::async(std::launch::async, [&] { return Call(stalled); });
    WaitUntilStarted(stalled.cancelFile);

    const auto start = Clock::now();
    EXPECT_EQ(Call(Get(2, "1.0")), "TRUE:uResult.integer=-42");
    EXPECT_LT(Clock::now() - start, milliseconds(1000));

    SnmpCall other = Get(2, "1.0");
    other.words[4] = SilentAgent().agent();
    other.timeout = "20000000";
    other.cancelFlag = "0";
    other.cancelFile = dir_ / "cancel-other";
    auto cancelled = std::async(std::launch::async, [&] { return Call(other); });
    WaitUntilStarted(other.cancelFile);
    ExpectCancelEndsIt(service_, other.cancelFile, cancelled);

    EXPECT_EQ(pending.wait_for(milliseconds(10)), std::future_status::timeout) << "no longer stalled";
    ExpectCancelEndsIt(service_, stalled.cancelFile, pending);
  }
}

// The service's own opening of TCP sessions and SNMPv3 engine discovery.
TEST_F(ServiceSnmp, TcpAndSnmpV3Sessions) {
  SnmpCall call = Get(2, "1.0");
  call.words[4] = snmpd_.tcpAgent();
  EXPECT_EQ(Call(call), "TRUE:uResult.integer=-42");
  call.words = {"snmpget", "-v3", "-l", "noAuthNoPriv", "-u", "dialog", snmpd_.agent(), kBase + "2.0"};
  call.type = 4;
  EXPECT_EQ(Call(call), "TRUE:uResult.string=Q610 ready");
  call.words = {"snmpget", "-v3", "-l", "authPriv", "-u", "secret", "-a", "SHA", "-A", "auth-secret",
                "-x", "AES", "-X", "priv-secret", snmpd_.tcpAgent(), kBase + "2.0"};
  EXPECT_EQ(Call(call), "TRUE:uResult.string=Q610 ready");
  call.words[14] = snmpd_.agent();
  EXPECT_EQ(Call(call), "TRUE:uResult.string=Q610 ready");
  EXPECT_EQ(Call(call), "TRUE:uResult.string=Q610 ready");
  // Nobody on the TCP port: the session cannot be opened.
  call.words = {"snmpget", "-v2c", "-c", "public", "tcp:127.0.0.1:" + std::to_string(FreeLoopbackUdpPort()),
                kBase + "1.0"};
  EXPECT_EQ(Call(call), "FALSE:rtn_ExitValue=-9780");
}
