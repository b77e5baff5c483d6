// varnel-cli ports: each port with its state, and what to do about a port
// this user may not open.
#include <sys/file.h>
#include <sys/stat.h>

#include <cstdio>

#include "CliFixture.h"

using namespace varnel::testing;

namespace {

// Runs a shell command line, its standard output and error collected.
CliResult Shell(const std::string& command, const std::filesystem::path& dir) {
  const std::string out = (dir / "shell.out").string(), err = (dir / "shell.err").string();
  const int status = std::system((command + " >" + out + " 2>" + err).c_str());
  CliResult r;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream o(out), e(err);
  std::stringstream os, es;
  os << o.rdbuf();
  es << e.rdbuf();
  r.out = os.str();
  r.err = es.str();
  return r;
}

}  // namespace

TEST_F(CliTest, PortsListsAPortAvailableOrBusyByWhetherAnotherProgramHoldsIt) {
  StartTarget();
  std::filesystem::create_directories(dir / "Varnel");
  WriteFile("Varnel/Varnel.ini", "[Ports]\nCOM1=" + target->SlavePath() + "\n");
  CliResult r = RunBare({"ports"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("COM1\t" + target->SlavePath() + "\tavailable\t"), std::string::npos) << r.out;
  EXPECT_EQ(r.err.find("dialout"), std::string::npos) << r.err;

  const int held = ::open(target->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  r = RunBare({"ports"});
  ::close(held);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("COM1\t" + target->SlavePath() + "\tbusy\t"), std::string::npos) << r.out;
  EXPECT_EQ(r.err.find("dialout"), std::string::npos) << r.err;
}

TEST_F(CliTest, APortThisUserMayNotOpenIsDeniedAndTheRemedyIsTheDialoutGroup) {
  StartTarget();
  const std::string tty = target->SlavePath();
  std::filesystem::create_directories(dir / "Varnel");
  WriteFile("Varnel/Varnel.ini", "[Ports]\nCOM1=" + tty + "\n");
  // A line without permission bits. Root would open it all the same: its
  // varnel-cli runs without the capability that overrides file modes.
  ASSERT_EQ(::chmod(tty.c_str(), 0), 0);
  const std::string as = ::geteuid() == 0 ? "setpriv --inh-caps=-dac_override,-dac_read_search "
                                            "--bounding-set=-dac_override,-dac_read_search "
                                          : "";
  if (!as.empty() && std::system((as + "true").c_str()) != 0) {
    GTEST_SKIP() << "setpriv cannot drop the capability here";
  }
  const std::string run = "XDG_CONFIG_HOME=" + dir.string() + " " + as + VARNEL_CLI_EXE;
  const std::string remedy = "Serial ports belong to the group dialout; join it with\n"
                             "  sudo adduser $USER dialout\n"
                             "then log out and in again.\n";

  CliResult r = Shell(run + " ports", dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("COM1\t" + tty + "\tno permission\t"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "varnel-cli: you may not open " + tty + ". " + remedy);

  r = Shell(run + " -p " + tty + " info", dir);
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(r.err.find("varnel-cli: cannot open the port " + tty), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(remedy), std::string::npos) << r.err;
  EXPECT_EQ(target->Received(), "");
  ::chmod(tty.c_str(), 0620);
}
