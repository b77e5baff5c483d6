// varnel-cli as a newcomer meets it: a start after an interrupted run, a raw
// image in a folder it may not write, exit statuses and messages that say
// what happened, the port list, and what an awake loader cannot tell.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "CliFixture.h"

namespace varnel::testing {
namespace {

constexpr int kHandshakeCommands = 7;

class CliWalkTest : public CliTest {
 protected:
  // varnel-cli with its current folder set to folder.
  CliResult CliIn(const std::string& folder, const std::vector<std::string>& args) {
    return RunCli(args, dir.string(), {}, 30000, [folder] {
      if (::chdir(folder.c_str()) != 0) ::_exit(126);
    });
  }
  std::vector<std::string> Listing(const std::filesystem::path& folder) const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(CliWalkTest, InfoRightAfterAnInterruptedReadConnects) {
  sim::TargetSimConfig config;
  config.paced = true;  // the rest of the interrupted reply is still on its way
  StartTarget(config);
  for (int round = 0; round < 3; ++round) {
    const CliResult read = RunBare(
        {"-p", target->SlavePath(), "-b", "9600", "read", "code", "-o", Path("code.hex")},
        [&](pid_t pid) {
          target->WaitForCommands(target->CommandCount() + kHandshakeCommands + 10,
                                  std::chrono::seconds(20));
          ::kill(pid, SIGINT);
        });
    ASSERT_EQ(read.status, 130) << read.err;
    const CliResult info = RunBare({"-p", target->SlavePath(), "-b", "9600", "info"});
    EXPECT_EQ(info.status, 0) << "round " << round << ": " << info.err;
    EXPECT_NE(info.out.find("target: MSC1210Y5"), std::string::npos) << info.out;
  }
}

TEST_F(CliWalkTest, ARawImageInAReadOnlyFolderIsProgrammedAndNothingIsWritten) {
  StartTarget();
  const auto image = RandomBytes(1000, 7);
  const auto folder = dir / "ro";
  std::filesystem::create_directory(folder);
  std::ofstream(folder / "fw.bin", std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  std::ofstream(folder / "fwtmp.hex") << "the user's own\n";
  ::chmod(folder.c_str(), 0555);
  const CliResult r =
      CliIn(folder.string(), {"-p", target->SlavePath(), "-b", "38400", "program", "--verify", "fw.bin"});
  ::chmod(folder.c_str(), 0755);
  EXPECT_EQ(r.status, 0) << r.err;
  // Checked by what is there, not by a refused write: a superuser may write anyway.
  EXPECT_EQ(Listing(folder), (std::vector<std::string>{"fw.bin", "fwtmp.hex"}));
  std::ifstream own(folder / "fwtmp.hex");
  std::string line;
  std::getline(own, line);
  EXPECT_EQ(line, "the user's own");
  const auto flash = target->Read(sim::Memory::Code);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
}

TEST_F(CliWalkTest, ExitStatusesMeanWhatTheHelpSays) {
  StartTarget();
  // An output folder that takes no file, even from a superuser: nothing is sent.
  CliResult r = Cli({"read", "code", "-o", "/sys/x.bin"});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("cannot write into the folder /sys"), std::string::npos) << r.err;
  EXPECT_EQ(target->CommandCount(), 0u);

  r = Cli({"read", "code", "--from", "200", "--to", "100"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--from 0200h is greater than --to 0100h"), std::string::npos) << r.err;

  WriteFile("notes.txt", "not a port\n");
  r = CliIn(dir.string(), {"-p", "./notes.txt", "-b", "38400", "info"});
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(r.err.find(Path("notes.txt") + " is not a serial port"), std::string::npos) << r.err;
  r = Cli({"info"});
  EXPECT_EQ(r.status, 0);
  r = RunBare({"-p", "/dev/null", "-b", "38400", "info"});
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(r.err.find("/dev/null is not a serial port"), std::string::npos) << r.err;
  EXPECT_EQ(target->CommandCount(), kHandshakeCommands + 0u);

  // A relative path names the port as the absolute one does.
  std::filesystem::create_symlink(target->SlavePath(), dir / "ttyX");
  r = CliIn(dir.string(), {"-p", "./ttyX", "-b", "38400", "info"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("port: " + Path("ttyX")), std::string::npos) << r.out;
}

TEST_F(CliWalkTest, RefusalsNameTheRegisterOrTheCommand) {
  sim::TargetSimConfig config;
  config.refuseConfigWrite = true;
  StartTarget(config);
  const std::string blink = (kTestData / "blink.hex").string();
  CliResult r = Cli({"program", blink});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("varnel-cli: the target refused to write HCR1 (807Eh): it answered \"CW807E"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("Erase"), std::string::npos) << r.err;

  target->Modify([](sim::TargetSimConfig& c) {
    c.refuseConfigWrite = false;
    c.refuseErase = true;
  });
  r = Cli({"erase", "--cfg-only"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the erase of the configuration page: it answered \"M8000\" with \"x\""),
            std::string::npos)
      << r.err;
}

TEST_F(CliWalkTest, AnAwakeLoaderAndAFileWithoutEndRecordAreSaidSo) {
  StartTarget();
  ASSERT_EQ(Cli({"info"}).status, 0);
  // The loader is awake now: the second connect sees no banner.
  CliResult r = Cli({"info"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("firmware: unknown\n"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("resetting the board shows its banner"), std::string::npos) << r.err;

  // Cut at a line boundary, as an interrupted download or copy leaves a
  // file: refused before the port opens, unless the user takes it as it is.
  WriteFile("open.hex", ":0400000001020304F2\n");
  target->ClearTranscript();
  const std::size_t received = target->Received().size();
  for (const char* command : {"program", "verify"}) {
    r = Cli({command, Path("open.hex")});
    EXPECT_EQ(r.status, 2) << command;
    EXPECT_NE(r.err.find("open.hex has no end record (:00000001FF) after its last line"),
              std::string::npos) << r.err;
    EXPECT_NE(r.err.find(std::string("To ") + command + " it as it is, add --allow-missing-end."),
              std::string::npos) << r.err;
  }
  EXPECT_EQ(target->Received().size(), received);
  r = Cli({"program", "--allow-missing-end", Path("open.hex")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("warning: open.hex has no end record"), std::string::npos) << r.err;
  const auto sent = target->Transcript();
  const auto end = std::find(sent.begin(), sent.end(), ":00000001FF");
  ASSERT_NE(end, sent.end());
  EXPECT_EQ(*(end - 1), "L:0400000001020304F2");
  r = Cli({"verify", Path("open.hex"), "--allow-missing-end"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "verify: 4 bytes match open.hex\n");
}

TEST_F(CliWalkTest, PortsListsTheSimulatorsLinkAndSaysWhoMayNotOpenAPort) {
  StartTarget();
  const std::string link = Path("varnel-target");
  std::filesystem::create_symlink(target->SlavePath(), link);
  const auto ports = [&] {
    return RunCli({"ports"}, dir.string(), {}, 30000,
                  [this] { ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1); });
  };
  CliResult r = ports();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(link + "\t" + target->SlavePath() + "\tavailable\t"), std::string::npos)
      << r.out;
  if (::geteuid() == 0) GTEST_SKIP() << "a superuser opens every port";
  ::chmod(target->SlavePath().c_str(), 0);
  r = ports();
  ::chmod(target->SlavePath().c_str(), 0620);
  EXPECT_NE(r.out.find(link + "\t" + target->SlavePath() + "\tno permission\t"), std::string::npos)
      << r.out;
}

}  // namespace
}  // namespace varnel::testing
