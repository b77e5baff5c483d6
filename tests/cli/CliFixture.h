// A simulated target on a pseudo-terminal, a scratch folder (which is also
// the child's empty configuration folder) and varnel-cli run against them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <random>

#include "CliProcess.h"
#include "support/Files.h"
#include "support/TestData.h"
#include "target-sim/TargetSim.h"

namespace varnel::testing {

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "varnel-cli-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir = pattern;
  }
  void TearDown() override {
    if (target) target->Stop();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  void StartTarget(const sim::TargetSimConfig& config = {}) {
    target = std::make_unique<sim::TargetSim>(config);
  }

  // varnel-cli on the simulator's line at 38400 baud.
  CliResult Cli(std::vector<std::string> args, const std::function<void(pid_t)>& during = {},
                int limitMs = 30000) {
    std::vector<std::string> all = {"-p", target->SlavePath(), "-b", "38400"};
    all.insert(all.end(), args.begin(), args.end());
    return RunBare(all, during, limitMs);
  }
  // Without the port and rate options.
  CliResult RunBare(const std::vector<std::string>& args, const std::function<void(pid_t)>& during = {},
                    int limitMs = 30000) {
    return RunCli(args, dir.string(), during, limitMs);
  }

  std::string Path(const std::string& name) const { return (dir / name).string(); }

  // Files in the scratch folder, by name.
  void WriteFile(const std::string& name, const std::string& bytes) const {
    testing::WriteFile(Path(name), bytes);
  }
  std::string ReadFile(const std::string& name) const { return testing::ReadFile(Path(name)); }

  static std::vector<std::uint8_t> RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    return bytes;
  }

  // Commands the target received whose text starts with prefix.
  std::size_t CountSent(const std::string& prefix) const {
    std::size_t n = 0;
    for (const auto& c : target->Transcript()) n += c.rfind(prefix, 0) == 0;
    return n;
  }

  std::filesystem::path dir;
  std::unique_ptr<sim::TargetSim> target;
};

}  // namespace varnel::testing
