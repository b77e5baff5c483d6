// Several simulated boards behind links in the scratch folder, varnel-cli
// run over them as a station, and what a board holds and a log records.
#pragma once

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "CliFixture.h"

namespace varnel::testing {

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class CliStationTest : public CliTest {
 protected:
  void TearDown() override {
    for (auto& b : boards) b->Stop();
    CliTest::TearDown();
  }

  // n simulators, each behind a link in the scratch folder (b0, b1, ...).
  void StartBoards(std::size_t n, const std::function<void(std::size_t, sim::TargetSimConfig&)>& tune = {}) {
    for (std::size_t i = 0; i < n; ++i) {
      sim::TargetSimConfig config;
      if (tune) tune(i, config);
      boards.push_back(std::make_unique<sim::TargetSim>(config));
      Plug(i);
    }
  }
  std::string Port(std::size_t i) const { return Path("b" + std::to_string(i)); }
  void Plug(std::size_t i) { std::filesystem::create_symlink(boards[i]->SlavePath(), Port(i)); }
  void Unplug(std::size_t i) { std::filesystem::remove(Port(i)); }
  // Board and adapter pulled out: the port's name goes and its terminal
  // closes under whoever holds it open. Back in: a new board on a new one.
  void Pull(std::size_t i) {
    Unplug(i);
    boards[i]->Unplug();
  }
  void PlugNew(std::size_t i) {
    boards[i]->PutNew();
    Plug(i);
  }

  CliResult Station(std::vector<std::string> args, const std::function<void(pid_t)>& during = {}) {
    std::vector<std::string> all = {"-b", "38400", "--timeout", "1"};
    for (std::size_t i = 0; i < boards.size(); ++i) {
      all.push_back("-p");
      all.push_back(Port(i));
    }
    all.insert(all.end(), args.begin(), args.end());
    return RunBare(all, during, 60000);
  }

  // Address -> byte of the program file's data.
  std::map<unsigned, std::uint8_t> Data(const std::string& name) const {
    std::map<unsigned, std::uint8_t> data;
    for (const std::string& line : Lines(ReadFile(name))) {
      if (line.size() < 11 || line.substr(7, 2) != "00") continue;
      const auto count = std::stoul(line.substr(1, 2), nullptr, 16);
      const auto address = std::stoul(line.substr(3, 4), nullptr, 16);
      for (unsigned k = 0; k < count; ++k) {
        data[address + k] = static_cast<std::uint8_t>(std::stoul(line.substr(9 + 2 * k, 2), nullptr, 16));
      }
    }
    return data;
  }
  bool Holds(std::size_t board, const std::map<unsigned, std::uint8_t>& data) const {
    const auto flash = boards[board]->Read(sim::Memory::Code);
    for (const auto& [address, byte] : data) {
      if (flash[address] != byte) return false;
    }
    return true;
  }

  // The log's records as parsed by a JSON parser: "key=value" per line of
  // the keys asked for, one line per record.
  std::vector<std::string> LogRecords(const std::string& log, const std::string& keys) const {
    const std::string script = Path("parse.py");
    // Strict: every line must be UTF-8 and JSON as it stands.
    std::ofstream(script) << "import json,sys\n"
                             "for line in open(sys.argv[1], encoding='utf-8', errors='strict'):\n"
                             "    r = json.loads(line)\n"
                             "    assert len(r) == 17, sorted(r)\n"
                             "    print(' '.join(k + '=' + json.dumps(r[k]) for k in sys.argv[2].split(',')))\n";
    const std::string command = "python3 " + script + " " + log + " " + keys + " 2>&1";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    EXPECT_EQ(::pclose(pipe), 0) << out;
    return Lines(out);
  }

  std::vector<std::unique_ptr<sim::TargetSim>> boards;
};

}  // namespace varnel::testing
