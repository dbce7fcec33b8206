// The running service, talked to over its socket as the print dialog does:
// the file requests, the cancel-file write, the wire and who may connect.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "HelperTestSupport.h"
#include "OrbRequests.h"
#include "OrbWire.h"

namespace {

constexpr const char *kWritable = "isFilePathWritable_XPC:reply:";
constexpr const char *kWritePlist = "writeDictionaryToPlistFile_XPC:reply:";
constexpr const char *kCancelWrite = "cancelFileWrite_XPC:reply:";

class ServiceFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!service_.running()) GTEST_FAIL() << service_.whyNot();
  }
  std::string Call(const char *selector, const std::string &request) {
    const auto reply = service_.Call(selector, request);
    return reply ? *reply : "(no reply)";
  }
  TempDir dir_;
  ServiceProcess service_{dir_};
};

// Starts the service with its standard error on /dev/null: listening on
// `listen`, or without --listen when it is empty; `prepare` runs first in
// the child.
pid_t StartQuietService(const std::string &listen, void (*prepare)(int) = nullptr, int arg = -1) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (prepare) prepare(arg);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    if (listen.empty())
      execl(VT_SERVICE_EXE, VT_SERVICE_EXE, static_cast<char *>(nullptr));
    else
      execl(VT_SERVICE_EXE, VT_SERVICE_EXE, "--listen", listen.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  return pid;
}

}  // namespace

TEST_F(ServiceFiles, WritableFreshPathLeavesNothingBehind) {
  const std::string path = dir_ / "fresh.txt";
  EXPECT_EQ(Call(kWritable, path), "TRUE");
  EXPECT_FALSE(PathExists(path));
}

TEST_F(ServiceFiles, WritableExistingFileIsUnchanged) {
  const std::string path = dir_ / "settings.txt";
  ASSERT_TRUE(WriteWholeFile(path, "keep me\n"));
  chmod(path.c_str(), 0640);
  EXPECT_EQ(Call(kWritable, path), "TRUE");
  EXPECT_EQ(ReadWholeFile(path), "keep me\n");
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(ServiceFiles, NotWritableCases) {
  EXPECT_EQ(Call(kWritable, dir_ / "no-such-folder/file"), "FALSE");
  EXPECT_EQ(Call(kWritable, dir_.path()), "FALSE");  // a folder is no file
  EXPECT_EQ(Call(kWritable, ""), "FALSE");
  // Too long for the 256-byte buffer the path is read into.
  EXPECT_EQ(Call(kWritable, dir_ / std::string(250, 'a')), "FALSE");
  EXPECT_FALSE(PathExists(dir_ / "no-such-folder"));
}

TEST_F(ServiceFiles, PlistArrivesByteForByte) {
  const std::string plist =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
      "\t<key>Name</key>\n\t<string>Caf\xc3\xa9 :AddURL:END \xe2\x82\xac</string>\n</dict>\n</plist>\n";
  const std::string path = dir_ / "Printer Settings.plist";
  EXPECT_EQ(Call(kWritePlist, "file://" + dir_.path() + "/Printer%20Settings.plist:AddURL:END" + plist), "TRUE");
  EXPECT_EQ(ReadWholeFile(path), plist);
  // Written again, shorter: the old bytes do not linger.
  EXPECT_EQ(Call(kWritePlist, "file://" + path + ":AddURL:END<plist/>"), "TRUE");
  EXPECT_EQ(ReadWholeFile(path), "<plist/>");
}

TEST_F(ServiceFiles, PlistWriteFailures) {
  EXPECT_EQ(Call(kWritePlist, "file://" + dir_.path() + "/missing/a.plist:AddURL:END<plist/>"), "FALSE");
  EXPECT_EQ(Call(kWritePlist, "http://localhost/a.plist:AddURL:END<plist/>"), "FALSE");
  EXPECT_EQ(Call(kWritePlist, "file://" + dir_.path() + "/a.plist"), "FALSE");  // no marker
  EXPECT_FALSE(PathExists(dir_ / "a.plist"));
}

// With no SNMP request running on it, a cancel file is written to by no one
// (the running case is with the SNMP tests).
TEST_F(ServiceFiles, CancelFileWriteWithNoRequestWatchingWritesNothing) {
  const std::string path = dir_ / "cancel";
  ASSERT_TRUE(WriteWholeFile(path, ""));
  // The empty file a finished request left: the cancel is late, the file goes.
  EXPECT_EQ(Call(kCancelWrite, path + ":CancelFileName:whatever follows"), "FALSE");
  EXPECT_FALSE(PathExists(path));
  // A file with something in it is no cancel file: left as it is.
  ASSERT_TRUE(WriteWholeFile(path, "keep me"));
  EXPECT_EQ(Call(kCancelWrite, path + ":CancelFileName:"), "FALSE");
  EXPECT_EQ(ReadWholeFile(path), "keep me");
  // Never creates the file.
  EXPECT_EQ(Call(kCancelWrite, dir_ / "absent:CancelFileName:"), "FALSE");
  EXPECT_FALSE(PathExists(dir_ / "absent"));
  EXPECT_EQ(Call(kCancelWrite, path), "FALSE");  // no marker
}

TEST_F(ServiceFiles, SeveralRequestsOnOneConnectionAnsweredInOrder) {
  const int fd = service_.Connect();
  ASSERT_GE(fd, 0);
  std::string batch;
  for (const std::string &path : {dir_ / "a", dir_ / "missing/b", dir_ / "c"}) {
    const std::string body = EncodeRequestFrame(kWritable, path);
    batch += FrameLengthPrefix(body.size()) + body;
  }
  ASSERT_EQ(send(fd, batch.data(), batch.size(), MSG_NOSIGNAL), static_cast<ssize_t>(batch.size()));
  std::string reply;
  for (const char *expected : {"TRUE", "FALSE", "TRUE"}) {
    ASSERT_EQ(ReadFrame(fd, reply), FrameStatus::kOk);
    EXPECT_EQ(reply, expected);
  }
  close(fd);
}

TEST_F(ServiceFiles, GarbageClosesOnlyThatConnection) {
  const std::string good = EncodeRequestFrame(kWritable, dir_ / "x");
  const std::vector<std::pair<const char *, std::string>> garbage = {
      {"unknown selector", FrameLengthPrefix(12) + std::string("noSuchThing\0", 12)},
      {"no zero byte", FrameLengthPrefix(5) + "abcde"},
      {"over 1 MiB", FrameLengthPrefix(kMaxFrameLength + 1) + "x"},
      {"huge length", std::string("\xff\xff\xff\xff", 4)},
      {"cut short", FrameLengthPrefix(100) + "isFilePathWritable"},
      {"not UTF-8", FrameLengthPrefix(31) + std::string("isFilePathWritable_XPC:reply:\0\xff", 31)},
  };
  // A connection that is kept open meanwhile goes on being served.
  const int bystander = service_.Connect();
  ASSERT_GE(bystander, 0);
  for (const auto &[what, bytes] : garbage) {
    const int fd = service_.Connect();
    ASSERT_GE(fd, 0) << what;
    send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (std::string(what) == "cut short") shutdown(fd, SHUT_WR);
    std::string reply;
    EXPECT_NE(ReadFrame(fd, reply), FrameStatus::kOk) << what;
    close(fd);
    std::string answer;
    ASSERT_TRUE(CallService(bystander, kWritable, dir_ / "x", answer)) << "after " << what;
    EXPECT_EQ(answer, "TRUE");
  }
  close(bystander);
  // A whole 1 MiB frame is still accepted.
  const std::string big = dir_ / std::string(1, 'b');
  std::string request = "file://" + big + ":AddURL:END";
  request += std::string(kMaxFrameLength - std::string(kWritePlist).size() - 1 - request.size(), 'z');
  const auto reply = service_.Call(kWritePlist, request);
  ASSERT_TRUE(reply);
  EXPECT_EQ(*reply, "TRUE");
}

TEST_F(ServiceFiles, SocketIsTheOwnersOnly) {
  struct stat st;
  ASSERT_EQ(stat(service_.socketPath().c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ServiceFiles, StrangersAreDisconnectedWithoutReply) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
  const passwd *nobody = getpwnam("nobody");
  if (!nobody) GTEST_SKIP() << "no user 'nobody' to act as a stranger";
  // Open the socket file to everyone, so that only the credential check stands.
  ASSERT_EQ(chmod(dir_.path().c_str(), 0711), 0);
  ASSERT_EQ(chmod(service_.socketPath().c_str(), 0666), 0);
  const std::string target = dir_ / "stranger-was-here";
  const pid_t pid = fork();
  if (pid == 0) {
    if (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) _exit(10);
    const int fd = ConnectToService(service_.socketPath());
    if (fd < 0) _exit(11);
    std::string reply;
    _exit(CallService(fd, kWritable, target, reply) ? 12 : 0);
  }
  EXPECT_EQ(WaitForExit(pid), 0) << "10: cannot become nobody, 11: cannot connect, 12: got a reply";
  // The owner is still served.
  EXPECT_EQ(Call(kWritable, dir_ / "owner"), "TRUE");
}

TEST(OrbCall, PrintsTheReply) {
  TempDir dir;
  ServiceProcess service(dir);
  ASSERT_TRUE(service.running()) << service.whyNot();
  const std::string command = std::string(VT_ORB_CALL_EXE) + " --socket " + service.socketPath() +
                              " isFilePathWritable_XPC:reply: " + (dir / "probe");
  FILE *out = popen(command.c_str(), "r");
  ASSERT_TRUE(out);
  char line[64] = {};
  ASSERT_TRUE(fgets(line, sizeof line, out));
  EXPECT_STREQ(line, "TRUE\n");
  EXPECT_EQ(WEXITSTATUS(pclose(out)), 0);

  const std::string bad = std::string(VT_ORB_CALL_EXE) + " --socket " + service.socketPath() + " nonsense x 2>/dev/null";
  EXPECT_EQ(WEXITSTATUS(system(bad.c_str())), 2);
}

namespace {

// Whether the service closed fd within timeoutMs (its read sees the end).
bool ClosedByService(int fd, int timeoutMs) {
  pollfd ready{fd, POLLIN, 0};
  if (poll(&ready, 1, timeoutMs) <= 0) return false;
  char byte;
  return read(fd, &byte, 1) == 0;
}

}  // namespace

TEST(ServiceConnections, BeyondTheLimitRefusedAndIdleOnesClosed) {
  TempDir dir;
  ServiceProcess service(dir, false, 0, {"--max-connections", "3", "--idle-timeout", "2"});
  ASSERT_TRUE(service.running()) << service.whyNot();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the start probe's connection ends
  const int before = CountThreads(service.pid());
  std::string reply;
  int fds[3];
  for (int &fd : fds) {
    fd = service.Connect();
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(CallService(fd, kWritable, dir / "probe", reply));
  }
  const int extra = service.Connect();
  ASSERT_GE(extra, 0);
  EXPECT_FALSE(CallService(extra, kWritable, dir / "probe", reply)) << "a fourth connection was served";
  close(extra);
  // The others are still served; one closed makes room for a new one.
  ASSERT_TRUE(CallService(fds[0], kWritable, dir / "probe", reply));
  EXPECT_EQ(reply, "TRUE");
  close(fds[0]);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(service.Call(kWritable, dir / "probe").value_or("(no reply)"), "TRUE");
  // The silent ones are closed after the idle time, and their threads end.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(ClosedByService(fds[1], 5000));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  EXPECT_TRUE(ClosedByService(fds[2], 1000));
  close(fds[1]);
  close(fds[2]);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(CountThreads(service.pid()), before);
}

TEST(SocketActivation, ServesTheSocketHandedOverAsDescriptorThree) {
  TempDir dir;
  const std::string path = dir / "activated.sock";
  std::string error;
  // The socket as systemd would hold it: bound and listening before the start.
  const int listening = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listening, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  ASSERT_EQ(bind(listening, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listening, 8), 0);
  const pid_t pid = StartQuietService("", [](int fd) {
    dup2(fd, 3);
    setenv("LISTEN_PID", std::to_string(getpid()).c_str(), 1);
    setenv("LISTEN_FDS", "1", 1);
  }, listening);
  close(listening);
  const int fd = ConnectToService(path);
  ASSERT_GE(fd, 0);
  std::string reply;
  EXPECT_TRUE(CallService(fd, kWritable, dir / "probe", reply));
  EXPECT_EQ(reply, "TRUE");
  close(fd);
  StopProcess(pid);

  // Variables meant for another process are not taken as an activation.
  EXPECT_EQ(WaitForExit(StartQuietService("", [](int) {
              setenv("LISTEN_PID", "1", 1);
              setenv("LISTEN_FDS", "1", 1);
            })),
            1);
}

TEST(ServiceSocket, LiveSocketIsKeptStaleOneReplaced) {
  TempDir dir;
  const std::string path = dir / "orb.sock";
  const auto start = [&path] { return StartQuietService(path); };
  const auto answers = [&path, &dir] {
    for (int i = 0; i < 500; ++i) {
      const int fd = ConnectToService(path);
      if (fd >= 0) {
        std::string reply;
        const bool ok = CallService(fd, kWritable, dir / "p", reply) && reply == "TRUE";
        close(fd);
        return ok;
      }
      usleep(10000);
    }
    return false;
  };
  const pid_t first = start();
  ASSERT_TRUE(answers());
  // A second service does not take over a socket that is being served.
  EXPECT_EQ(WaitForExit(start()), 1);
  EXPECT_TRUE(answers());
  // Once the first is gone its socket file is stale, and a new one replaces it.
  StopProcess(first);
  ASSERT_TRUE(PathExists(path));
  const pid_t second = start();
  EXPECT_TRUE(answers());
  StopProcess(second);
  // Something that is not a socket is never removed.
  const std::string file = dir / "plain";
  ASSERT_TRUE(WriteWholeFile(file, "data"));
  EXPECT_EQ(WaitForExit(StartQuietService(file)), 1);
  EXPECT_EQ(ReadWholeFile(file), "data");
}
