// The library as a test bench uses it: a plain program with no event loop
// and no Qt object, a Target per simulated board on a pseudo-terminal.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include <varnel/varnel.h>

#include "target-sim/TargetSim.h"

namespace {

std::vector<std::uint8_t> RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::uint8_t> bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

varnel::TargetOptions Fast(int timeoutMs = 3000) {
  varnel::TargetOptions o;
  o.baud = 38400;
  o.timeout_ms = timeoutMs;
  return o;
}

// The error a call throws, or none.
template <typename Call>
std::optional<varnel::ErrorKind> KindOf(Call call, std::string* text = nullptr) {
  try {
    call();
  } catch (const varnel::Error& e) {
    if (text) *text = e.what();
    return e.kind();
  }
  return std::nullopt;
}

TEST(LibTarget, ConnectReadProgramWithSerialVerifyBlankCheckErase) {
  varnel::sim::TargetSim sim;
  varnel::Target t(sim.SlavePath(), Fast());
  const varnel::Info info = t.connect();
  EXPECT_EQ(info.chip, "MSC1210Y5");
  EXPECT_EQ(info.id, 3);
  EXPECT_EQ(info.firmware, "SIM 1.0.0");
  EXPECT_EQ(info.flash_bytes, 32768u);
  EXPECT_EQ(info.clock_step_hz, 32u * 38400u);
  EXPECT_NEAR(static_cast<double>(info.clock_hz), 11059200.0, info.clock_step_hz);

  // Registers and RAM read back exactly as the loader holds them.
  const std::vector<std::uint8_t> ram = RandomBytes(256, 7);
  sim.Load(varnel::sim::Memory::Iram, 0, ram);
  EXPECT_EQ(t.read(varnel::Memory::Iram, 0x00, 0xFF), ram);

  // A program image with its serial number patched in memory.
  varnel::Image image = varnel::Image::from_bytes(RandomBytes(1000, 1), 0x0123);
  const std::string before = image.sha256();
  image.put(0x7FF0, {0x2A, 0, 0, 0});
  EXPECT_NE(image.sha256(), before);
  EXPECT_EQ(image.ranges(), (std::vector<varnel::Range>{{0x0123, 0x050A}, {0x7FF0, 0x7FF3}}));

  std::vector<std::pair<std::size_t, std::size_t>> steps;
  varnel::ProgramOptions options;
  options.verify = true;
  options.progress = [&](std::size_t done, std::size_t total) { steps.emplace_back(done, total); };
  const varnel::ProgramResult r = t.program(image, options);
  EXPECT_EQ(r.bytes_written, 1004u);
  EXPECT_TRUE(r.verified);
  ASSERT_FALSE(steps.empty());
  // Programming counts the image's bytes, then its verify the blocks it
  // reads back; each up to its whole.
  EXPECT_NE(std::find(steps.begin(), steps.end(), std::make_pair(std::size_t{1004}, std::size_t{1004})),
            steps.end());
  EXPECT_EQ(steps.back().first, steps.back().second);
  for (const auto& [done, total] : steps) EXPECT_LE(done, total);

  // The flash holds the image and nothing else.
  const std::vector<std::uint8_t> flash = sim.Read(varnel::sim::Memory::Code);
  for (std::uint32_t a = 0; a < flash.size(); ++a) {
    ASSERT_EQ(flash[a], image.get(a, 1)[0]) << a;
  }
  EXPECT_EQ(t.read(varnel::Memory::Code, 0x7FF0, 0x7FF3),
            (std::vector<std::uint8_t>{0x2A, 0, 0, 0}));
  EXPECT_EQ(t.read(varnel::Memory::Code, 0x0000, 0x7FFF), flash);
  EXPECT_TRUE(t.verify(image).empty());
  EXPECT_EQ(t.blank_check(), std::optional<std::uint32_t>(0x0123));

  t.erase(varnel::EraseScope::Flash);
  EXPECT_EQ(t.blank_check(), std::nullopt);
}

TEST(LibTarget, AWeakCellIsTheOneDifferenceEvenOverANoisyLine) {
  varnel::sim::TargetSim sim;
  varnel::Target t(sim.SlavePath(), Fast());
  t.connect();
  const varnel::Image image = varnel::Image::from_bytes(RandomBytes(512, 2), 0x1000);
  const std::uint32_t weak = 0x1042;
  const std::uint8_t value = image.get(weak, 1)[0];
  sim.Modify([&](varnel::sim::TargetSimConfig& c) {
    c.weakCellAddress = static_cast<int>(weak);
    c.weakCellMask = 0x01;
  });
  t.program(image);
  // Digits turned into other digits on the way: only what every read shows
  // is a difference.
  sim.Modify([](varnel::sim::TargetSimConfig& c) {
    c.damageRate = 0.2;
    c.damageWays = varnel::sim::kDamageAll | varnel::sim::kDamageDigit;
  });
  const std::vector<varnel::Difference> expected{{weak, value, static_cast<std::uint8_t>(value ^ 1)}};
  EXPECT_EQ(t.verify(image), expected);

  varnel::ProgramOptions verify;
  verify.verify = true;
  try {
    t.program(image, verify);
    FAIL() << "programming a weak cell verified";
  } catch (const varnel::VerifyFailed& e) {
    EXPECT_EQ(e.differences(), expected);
    EXPECT_EQ(e.exit_status(), 1);
    EXPECT_EQ(e.address(), std::optional<std::uint32_t>(weak));
  }
}

TEST(LibTarget, ADamagedLineIsReadExactly) {
  varnel::sim::TargetSimConfig config;
  config.damageRate = 0.03;  // every way a strict reader sees, seeded
  varnel::sim::TargetSim sim(config);
  const std::vector<std::uint8_t> code = RandomBytes(32768, 3);
  sim.Load(varnel::sim::Memory::Code, 0, code);
  varnel::Target t(sim.SlavePath(), Fast());
  t.connect();
  EXPECT_EQ(t.read(varnel::Memory::Code, 0x0000, 0x7FFF), code);

  // Digits turned into other digits: no single read can see it; reading
  // twice can.
  sim.Modify([](varnel::sim::TargetSimConfig& c) {
    c.damageRate = 0.01;
    c.damageWays = varnel::sim::kDamageDigit;
  });
  EXPECT_EQ(t.read(varnel::Memory::Code, 0x0000, 0x1FFF, {.twice = true}),
            std::vector<std::uint8_t>(code.begin(), code.begin() + 0x2000));
}

TEST(LibTarget, EachFailureHasItsKindAndExitStatus) {
  using varnel::ErrorKind;
  const std::string folder = std::filesystem::temp_directory_path() / "varnel-lib-test";
  std::filesystem::create_directories(folder);
  const std::string bad = folder + "/bad.hex";
  std::ofstream(bad) << ":10000000000102030405060708090A0B0C0D0E0F78\n:0400100001020399XX\n";
  std::string text;
  EXPECT_EQ(KindOf([&] { varnel::Image::load(bad); }, &text), ErrorKind::BadFile);
  EXPECT_NE(text.find("bad.hex"), std::string::npos) << text;
  EXPECT_NE(text.find("line 2"), std::string::npos) << text;
  EXPECT_EQ(KindOf([] { varnel::Image::from_bytes(std::vector<std::uint8_t>(16), 0x7FF8); }),
            ErrorKind::BadFile);

  EXPECT_EQ(KindOf([&] { varnel::Target(folder + "/no-such-port", Fast()); }), ErrorKind::PortError);
  EXPECT_EQ(KindOf([&] { varnel::Target(bad, Fast()); }, &text), ErrorKind::PortError);
  EXPECT_NE(text.find("not a serial port"), std::string::npos) << text;

  // A Y2 has 4 KB: an image beyond it is refused before anything is sent.
  varnel::sim::TargetSimConfig small;
  small.variant = 2;
  small.refuseErase = true;
  varnel::sim::TargetSim sim(small);
  varnel::Target t(sim.SlavePath(), Fast(300));
  EXPECT_EQ(KindOf([&] { t.read(varnel::Memory::Code, 0, 15); }), ErrorKind::BadFile);  // no connect yet
  t.connect();
  const std::size_t commands = sim.CommandCount();
  EXPECT_EQ(KindOf([&] { t.program(varnel::Image::from_bytes(std::vector<std::uint8_t>(16), 0x1000)); }),
            ErrorKind::BadFile);
  EXPECT_EQ(sim.CommandCount(), commands);
  EXPECT_EQ(KindOf([&] { t.read(varnel::Memory::Code, 0x0FF0, 0x1000); }), ErrorKind::BadFile);

  // The loader refuses the erase: the target stays connected.
  varnel::Error refused(ErrorKind::Refused, "");
  try {
    t.erase(varnel::EraseScope::Flash);
  } catch (const varnel::Error& e) {
    refused = e;
  }
  EXPECT_EQ(refused.kind(), ErrorKind::Refused);
  EXPECT_EQ(refused.exit_status(), 1);

  // Every reply damaged: the read ends naming the address, nothing stored.
  sim.Modify([](varnel::sim::TargetSimConfig& c) { c.damageRate = 1; });
  EXPECT_EQ(KindOf([&] { t.read(varnel::Memory::Code, 0x0100, 0x013F); }, &text), ErrorKind::Damaged);
  EXPECT_NE(text.find("0100"), std::string::npos) << text;

  // The loader falls silent: no answer in time, then a connect is needed.
  sim.Modify([](varnel::sim::TargetSimConfig& c) {
    c.damageRate = 0;
    c.silentAfter = 0;
  });
  EXPECT_EQ(KindOf([&] { t.connect(); }), ErrorKind::NoAnswer);
  EXPECT_EQ(KindOf([&] { t.read(varnel::Memory::Code, 0, 15); }), ErrorKind::BadFile);

  EXPECT_EQ(varnel::exit_status(ErrorKind::BadFile), 2);
  EXPECT_EQ(varnel::exit_status(ErrorKind::NoAnswer), 3);
  EXPECT_EQ(varnel::exit_status(ErrorKind::Damaged), 3);
  EXPECT_EQ(varnel::exit_status(ErrorKind::PortError), 4);
  EXPECT_EQ(varnel::exit_status(ErrorKind::RecordLost), 5);
  EXPECT_EQ(varnel::exit_status(ErrorKind::Interrupted), 130);
  std::filesystem::remove_all(folder);
}

TEST(LibTarget, CancelFromAnotherThreadEndsTheDownloadWithTheEndRecord) {
  varnel::sim::TargetSimConfig slow;
  slow.paced = true;  // 10 bits a byte at 9600 baud: the download takes seconds
  varnel::sim::TargetSim sim(slow);
  varnel::TargetOptions o = Fast();
  o.baud = 9600;
  varnel::Target t(sim.SlavePath(), o);
  t.connect();
  std::atomic<bool> started{false};
  varnel::ProgramOptions options;
  options.progress = [&](std::size_t done, std::size_t) {
    if (done > 256) started = true;
  };
  std::thread canceller([&] {
    while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    t.cancel();
  });
  std::optional<varnel::ErrorKind> kind =
      KindOf([&] { t.program(varnel::Image::from_bytes(RandomBytes(8192, 4)), options); });
  canceller.join();
  EXPECT_EQ(kind, varnel::ErrorKind::Interrupted);
  EXPECT_EQ(varnel::exit_status(*kind), 130);
  const std::vector<std::string> sent = sim.Transcript();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back().substr(0, 11), ":00000001FF");
  EXPECT_FALSE(sim.InLineMode());
  // The board is there still: a new connect takes it up again.
  EXPECT_EQ(t.connect().chip, "MSC1210Y5");
}

TEST(LibTarget, TwoTargetsInTwoThreadsProgramAtOnce) {
  varnel::sim::TargetSim simA, simB;
  const varnel::Image a = varnel::Image::from_bytes(RandomBytes(4096, 5));
  const varnel::Image b = varnel::Image::from_bytes(RandomBytes(4096, 6), 0x2000);
  std::optional<varnel::ProgramResult> resultA, resultB;
  std::thread threadA([&] {
    varnel::Target t(simA.SlavePath(), Fast());
    t.connect();
    resultA = t.program(a, {.verify = true});
  });
  std::thread threadB([&] {
    varnel::Target t(simB.SlavePath(), Fast());
    t.connect();
    resultB = t.program(b, {.verify = true});
  });
  threadA.join();
  threadB.join();
  ASSERT_TRUE(resultA && resultB);
  EXPECT_TRUE(resultA->verified && resultB->verified);
  const auto flashA = simA.Read(varnel::sim::Memory::Code);
  const auto flashB = simB.Read(varnel::sim::Memory::Code);
  EXPECT_EQ(std::vector<std::uint8_t>(flashA.begin(), flashA.begin() + 4096), a.get(0, 4096));
  EXPECT_EQ(flashA[0x2000], 0xFF);
  EXPECT_EQ(std::vector<std::uint8_t>(flashB.begin() + 0x2000, flashB.begin() + 0x3000), b.get(0x2000, 4096));
  EXPECT_EQ(flashB[0], 0xFF);
}

// A station of two boards as a production script runs it: one number per
// board taken after its erase, a record per board, every board's events;
// a board that fails its verify keeps the number it was written with.
TEST(LibStation, TwoBoardsWithSerialNumbersAndARecordEach) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("varnel-station-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "serial.txt") << "500\n";
  const auto code = RandomBytes(3000, 9);
  std::ofstream(dir / "fw.bin", std::ios::binary).write(reinterpret_cast<const char*>(code.data()), code.size());
  varnel::sim::TargetSimConfig weak;
  weak.weakCellAddress = 0x0400;
  varnel::sim::TargetSim good, bad(weak);

  varnel::StationOptions o;
  o.ports = {good.SlavePath(), bad.SlavePath()};
  o.file = (dir / "fw.bin").string();
  o.baud = 38400;
  o.serial = varnel::SerialSpec{0x7FFC, 4, varnel::SerialSpec::Format::Be};
  o.serial_file = (dir / "serial.txt").string();
  o.log_path = (dir / "log.jsonl").string();
  varnel::Station station(o);
  std::mutex m;
  std::map<std::string, std::vector<varnel::BoardEvent>> events;
  station.on_event([&](const varnel::BoardEvent& e) {
    std::lock_guard lock(m);
    events[e.port].push_back(e);
  });
  // The first port in order whose board failed gives the status.
  EXPECT_EQ(station.run(), 1);

  std::string counter;
  std::getline(std::ifstream(dir / "serial.txt"), counter);
  EXPECT_EQ(counter, "502");
  std::set<std::uint64_t> numbers;
  for (auto* sim : {&good, &bad}) {
    const auto flash = sim->Read(varnel::sim::Memory::Code);
    numbers.insert(std::uint64_t{flash[0x7FFC]} << 24 | flash[0x7FFD] << 16 | flash[0x7FFE] << 8 | flash[0x7FFF]);
    EXPECT_TRUE(std::equal(code.begin(), code.end(), flash.begin()) || sim == &bad);
  }
  EXPECT_EQ(numbers, (std::set<std::uint64_t>{500, 501}));

  const auto& ok = events[good.SlavePath()];
  const auto& failed = events[bad.SlavePath()];
  ASSERT_FALSE(ok.empty());
  ASSERT_FALSE(failed.empty());
  // Connecting, erasing, programming, verifying: each state in its order.
  std::vector<varnel::BoardEvent::State> order;
  for (const auto& e : ok) {
    if (e.state != varnel::BoardEvent::State::Output && (order.empty() || order.back() != e.state)) order.push_back(e.state);
  }
  using S = varnel::BoardEvent::State;
  EXPECT_EQ(order, (std::vector<S>{S::Connecting, S::Erasing, S::Programming, S::Verifying, S::Ok}));
  EXPECT_EQ(ok.back().exit_status, 0);
  ASSERT_TRUE(ok.back().serial && failed.back().serial);
  EXPECT_NE(*ok.back().serial, *failed.back().serial);
  ASSERT_TRUE(ok.back().target);
  EXPECT_EQ(ok.back().target->chip, "MSC1210Y5");
  EXPECT_EQ(failed.back().state, S::Failed);
  EXPECT_EQ(failed.back().exit_status, 1);
  EXPECT_EQ(failed.back().message, "verify: 1 bytes differ from fw.bin");

  // A record a line, each naming its board's number and how it went.
  std::vector<std::string> lines;
  std::ifstream log(dir / "log.jsonl");
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 2u);
  for (const std::string& line : lines) {
    const bool isGood = line.find("\"port\":\"" + good.SlavePath() + "\"") != std::string::npos;
    const auto serial = isGood ? *ok.back().serial : *failed.back().serial;
    EXPECT_NE(line.find("\"serial\":" + std::to_string(serial) + ","), std::string::npos) << line;
    EXPECT_NE(line.find(isGood ? "\"result\":\"ok\"" : "\"result\":\"failed\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"bytes_written\":3004,"), std::string::npos) << line;
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
