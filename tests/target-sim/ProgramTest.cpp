// varnel-target-sim as a user starts it: the device path on the first line,
// a symlink, a dump on request and at exit, and a clean end on SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "HostLine.h"
#include "support/Files.h"

namespace varnel::sim::test {
namespace {

struct Child {
  pid_t pid = -1;
  int out = -1;  // the program's standard output
};

// runtimeDir: the child's XDG_RUNTIME_DIR, where its default link goes.
Child Start(std::vector<std::string> args, const std::string& runtimeDir = {}) {
  args.insert(args.begin(), VARNEL_TARGET_SIM_EXE);
  int pipeFds[2];
  if (pipe(pipeFds) != 0) throw std::runtime_error("pipe");
  const pid_t pid = fork();
  if (pid == 0) {
    if (!runtimeDir.empty()) setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
    dup2(pipeFds[1], 1);
    close(pipeFds[0]);
    close(pipeFds[1]);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  return {pid, pipeFds[0]};
}

std::string FirstLine(int fd) {
  std::string line;
  char c;
  while (read(fd, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

int WaitExit(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

using varnel::testing::ReadFile;

class TargetSimProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/varnel-sim-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string dir_;
};

TEST_F(TargetSimProgram, PrintsThePathKeepsALinkDumpsAndEndsOnSigterm) {
  const std::string link = dir_ + "/target";
  const std::string dump = dir_ + "/dump.txt";
  const std::string image = dir_ + "/code.bin";
  std::ofstream(image, std::ios::binary).write("\x02\x00\x30", 3);
  Child child = Start({"--link", link, "--dump", dump, "--load", "code=" + image + "@100", "--no-echo"});
  const std::string path = FirstLine(child.out);
  ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(path, target);

  {
    HostLine host(link);
    EXPECT_NE(host.Exchange("\r").find("Ver:"), std::string::npos);
    EXPECT_EQ(host.Exchange("CR0100").substr(0, 10), "\r\n02 00 30");
    kill(child.pid, SIGUSR1);
    for (int i = 0; i < 200 && ReadFile(dump).find("[CONFIG]") == std::string::npos; ++i) {
      std::this_thread::sleep_for(10ms);
    }
    EXPECT_NE(ReadFile(dump).find("0100: 02 00 30 FF"), std::string::npos);
    host.Exchange("M0000");
  }
  kill(child.pid, SIGTERM);
  EXPECT_EQ(WaitExit(child.pid), 0);
  close(child.out);
  struct stat st;
  EXPECT_NE(lstat(link.c_str(), &st), 0);  // the link went with the program
  EXPECT_NE(ReadFile(dump).find("0100: FF FF FF FF"), std::string::npos);  // written at exit
}

// Where a link leads; empty when there is none.
std::string LinkTarget(const std::string& link) {
  char target[256] = {};
  return readlink(link.c_str(), target, sizeof target - 1) > 0 ? target : "";
}

// Until the link leads somewhere (or nowhere, with gone), for up to 2 s.
std::string AwaitLink(const std::string& link, bool gone = false) {
  for (int i = 0; i < 200 && LinkTarget(link).empty() != gone; ++i) std::this_thread::sleep_for(10ms);
  return LinkTarget(link);
}

TEST_F(TargetSimProgram, ASecondSimulatorKeepsItsOwnLinkAndItsBoardUnplugs) {
  const std::string link = dir_ + "/varnel-target", second = dir_ + "/varnel-target-2";
  Child one = Start({"--no-echo"}, dir_);
  const std::string onePath = FirstLine(one.out);
  Child two = Start({"--no-echo"}, dir_);
  const std::string twoPath = FirstLine(two.out);
  EXPECT_EQ(LinkTarget(link), onePath);
  EXPECT_EQ(LinkTarget(second), twoPath);
  // A link asked for by name is not taken from a simulator that runs.
  Child thief = Start({"--link", link}, dir_);
  EXPECT_EQ(WaitExit(thief.pid), 1);
  close(thief.out);
  EXPECT_EQ(LinkTarget(link), onePath);

  // Unplugged: the host's line fails under it and the link goes; a new
  // board comes on a terminal of its own behind the link.
  {
    HostLine host(second);
    EXPECT_NE(host.Wake().find("Ver:"), std::string::npos);
    kill(two.pid, SIGRTMIN + 2);
    EXPECT_EQ(AwaitLink(second, true), "");
    errno = 0;
    EXPECT_EQ(write(host.Fd(), "\r", 1), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(host.Drain(), "");
  }
  kill(two.pid, SIGRTMIN + 1);
  {
    HostLine host(AwaitLink(second));
    EXPECT_NE(host.Wake().find("Ver:"), std::string::npos);
    HostLine first(link);
    EXPECT_NE(first.Wake().find("Ver:"), std::string::npos);
  }
  for (const Child& child : {one, two}) {
    kill(child.pid, SIGTERM);
    EXPECT_EQ(WaitExit(child.pid), 0);
    close(child.out);
  }
  EXPECT_EQ(LinkTarget(link), "");
  EXPECT_EQ(LinkTarget(second), "");
}

TEST_F(TargetSimProgram, HelpAndBadOptions) {
  Child help = Start({"--help"});
  EXPECT_NE(FirstLine(help.out).find("Usage: varnel-target-sim"), std::string::npos);
  const std::string usage = ReadAll(help.out);
  EXPECT_NE(usage.find("--weak-cell ADDR[:MASK]"), std::string::npos);
  EXPECT_NE(usage.find("--damage RATE[,FROM[,SEED]]"), std::string::npos);
  EXPECT_EQ(WaitExit(help.pid), 0);
  close(help.out);
  for (const char* bad : {"--variant", "--line-error", "--frobnicate", "--weak-cell"}) {
    Child child = Start({bad, "Y9"});
    EXPECT_EQ(WaitExit(child.pid), 2) << bad;
    close(child.out);
  }
  for (const char* bad : {"8000", "0100:0", "0100:100", "0100:"}) {
    Child child = Start({"--no-link", "--weak-cell", bad});
    EXPECT_EQ(WaitExit(child.pid), 2) << bad;
    close(child.out);
  }
  for (const std::vector<std::string>& bad : {std::vector<std::string>{"--damage", "1.5"},
                                             {"--damage", "0.1,x"},
                                             {"--damage", "0.1,1,2,3"},
                                             {"--damage-ways", "drop,flip"}}) {
    Child child = Start({"--no-link", bad[0], bad[1]});
    EXPECT_EQ(WaitExit(child.pid), 2) << bad[0] << " " << bad[1];
    close(child.out);
  }
  Child missing = Start({"--no-link", "--load", "code=" + dir_ + "/none.bin"});
  EXPECT_EQ(WaitExit(missing.pid), 1);
  close(missing.out);
}

TEST_F(TargetSimProgram, DamagedRepliesFromTheCommandLine) {
  Child child = Start({"--no-link", "--no-echo", "--damage", "1,3,5", "--damage-ways", "letter"});
  {
    HostLine host(FirstLine(child.out));
    host.Wake();
    const std::string whole = host.Exchange("RR80");
    EXPECT_EQ(whole, "FF\r\n>");  // command 2: before the damage starts
    const std::string damaged = host.Exchange("RR80");
    EXPECT_EQ(damaged.size(), whole.size());
    EXPECT_NE(damaged, whole);
    EXPECT_NE(damaged.find_first_of("GHJKLMNPQRSTUVWXYZ"), std::string::npos) << damaged;
  }
  kill(child.pid, SIGTERM);
  EXPECT_EQ(WaitExit(child.pid), 0);
  close(child.out);
}

TEST_F(TargetSimProgram, WeakCellFromTheCommandLine) {
  Child child = Start({"--no-link", "--no-echo", "--weak-cell", "000f:0C"});
  {
    HostLine host(FirstLine(child.out));
    host.Wake();
    EXPECT_EQ(host.Exchange("L:10000000000102030405060708090A0B0C0D0E0F78"), ".");
    EXPECT_EQ(host.Exchange(":00000001FF"), "T\r\n>");
    EXPECT_EQ(host.Exchange("CR0000").substr(2, 47),
              "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 03");
  }
  kill(child.pid, SIGTERM);
  EXPECT_EQ(WaitExit(child.pid), 0);
  close(child.out);
}

}  // namespace
}  // namespace varnel::sim::test
