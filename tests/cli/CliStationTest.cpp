// varnel-cli with several boards: ports side by side in one process, the
// record of every board, serial numbers from a shared file, a station that
// waits for board after board, and the blank check.
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <set>
#include <thread>

#include "StationFixture.h"

namespace varnel::testing {
namespace {

using sim::Memory;

TEST_F(CliStationTest, ThreeBoardsAtOnceAWeakCellFailsOnlyItsBoard) {
  std::filesystem::copy_file(kTestData / "blink.hex", dir / "blink.hex");
  const auto data = Data("blink.hex");
  const unsigned weak = std::next(data.begin(), 5)->first;
  StartBoards(3, [&](std::size_t i, sim::TargetSimConfig& c) {
    if (i == 1) c.weakCellAddress = static_cast<int>(weak);
  });
  const CliResult r = Station({"--log", Path("log.jsonl"), "program", "--verify", Path("blink.hex")});
  EXPECT_EQ(r.status, 1) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 3u) << r.out;
  EXPECT_EQ(lines[0], Port(0) + ": ok");
  EXPECT_EQ(lines[1].rfind(Port(1) + ": failed (exit 1): verify: 1 bytes differ from blink.hex", 0), 0u)
      << lines[1];
  EXPECT_EQ(lines[2], Port(2) + ": ok");
  EXPECT_TRUE(Holds(0, data));
  EXPECT_TRUE(Holds(2, data));
  // Progress lines begin with their port when standard error is no terminal.
  EXPECT_NE(r.err.find(Port(2) + ": connected: "), std::string::npos) << r.err;

  const auto records = LogRecords(Path("log.jsonl"), "port,command,result,exit_status,verified,serial,bytes_written");
  ASSERT_EQ(records.size(), 3u);
  std::set<std::string> seen(records.begin(), records.end());
  const std::string bytes = std::to_string(data.size());
  EXPECT_TRUE(seen.count("port=\"" + Port(0) + "\" command=\"program\" result=\"ok\" exit_status=0 verified=true serial=null bytes_written=" + bytes)) << records[0];
  EXPECT_TRUE(seen.count("port=\"" + Port(1) + "\" command=\"program\" result=\"failed\" exit_status=1 verified=false serial=null bytes_written=0"));
}

TEST_F(CliStationTest, ASilentBoardAndABadFile) {
  std::filesystem::copy_file(kTestData / "blink.hex", dir / "blink.hex");
  StartBoards(2, [](std::size_t i, sim::TargetSimConfig& c) {
    if (i == 0) c.silentAfter = 0;
  });
  CliResult r = Station({"program", Path("blink.hex")});
  EXPECT_EQ(r.status, 3) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 2u) << r.out;
  EXPECT_EQ(lines[0].rfind(Port(0) + ": failed (exit 3): ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1], Port(1) + ": ok");
  EXPECT_TRUE(Holds(1, Data("blink.hex")));

  // A bad file: nothing goes to any board.
  const std::size_t before = boards[1]->CommandCount();
  WriteFile("bad.hex", ":0400000001020304F1\n:00000001FF\n");
  r = Station({"program", Path("bad.hex")});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(boards[1]->CommandCount(), before);
}

TEST_F(CliStationTest, SerialNumbersFromOneFileByTwoProcessesAtOnce) {
  std::filesystem::copy_file(kTestData / "blink.hex", dir / "blink.hex");
  WriteFile("serial.txt", "1000\n");
  StartBoards(4);
  const std::vector<std::string> serial = {"--serial", "7FF0:4:be", "--serial-file", Path("serial.txt"),
                                           "--log", Path("log.jsonl")};
  const auto run = [&](std::size_t first, CliResult& result) {
    std::vector<std::string> args = {"-b", "38400", "-p", Port(first) + "," + Port(first + 1)};
    args.insert(args.end(), serial.begin(), serial.end());
    for (const char* a : {"program", "--verify"}) args.emplace_back(a);
    args.push_back(Path("blink.hex"));
    result = RunBare(args, {}, 60000);
  };
  CliResult a, b;
  std::thread other([&] { run(2, b); });
  run(0, a);
  other.join();
  ASSERT_EQ(a.status, 0) << a.err;
  ASSERT_EQ(b.status, 0) << b.err;
  EXPECT_EQ(ReadFile("serial.txt"), "1004\n");

  std::set<unsigned> numbers;
  for (std::size_t i = 0; i < 4; ++i) {
    const auto flash = boards[i]->Read(Memory::Code);
    const unsigned n = flash[0x7FF0] << 24 | flash[0x7FF1] << 16 | flash[0x7FF2] << 8 | flash[0x7FF3];
    numbers.insert(n);
    EXPECT_TRUE(Holds(i, Data("blink.hex")));
  }
  EXPECT_EQ(numbers, (std::set<unsigned>{1000, 1001, 1002, 1003}));
  std::set<std::string> logged;
  for (const auto& record : LogRecords(Path("log.jsonl"), "serial")) logged.insert(record);
  EXPECT_EQ(logged.size(), 4u);
  EXPECT_TRUE(logged.count("serial=1003"));

  // A number too large for its bytes is refused before anything is sent.
  WriteFile("serial.txt", "256\n");
  const std::size_t before = boards[0]->CommandCount();
  const CliResult r = RunBare({"-b", "38400", "-p", Port(0), "--serial", "7FF0:1", "--serial-file",
                               Path("serial.txt"), "program", Path("blink.hex")});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("does not fit 1 bytes"), std::string::npos) << r.err;
  EXPECT_EQ(boards[0]->CommandCount(), before);
  EXPECT_EQ(ReadFile("serial.txt"), "256\n");
}

TEST_F(CliStationTest, ALoopOverBoardsThatComeAndGo) {
  std::filesystem::copy_file(kTestData / "blink.hex", dir / "blink.hex");
  const auto data = Data("blink.hex");
  WriteFile("serial.txt", "7\n");
  StartBoards(2);
  const std::string log = Path("log.jsonl");
  std::atomic<int> swapped{0};
  const auto during = [&](pid_t) {
    // Once each board's record is in, the board goes (both fall silent,
    // and the port of board 0 vanishes); then a new one comes.
    for (int round = 0; round < 2; ++round) {
      for (int tries = 0; tries < 600; ++tries) {
        if (Lines(ReadFile("log.jsonl")).size() >= static_cast<std::size_t>(2 * (round + 1))) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      if (round == 1) break;
      Unplug(0);
      boards[0]->TakeAway();
      boards[1]->TakeAway();
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      boards[0]->PutNew();
      boards[1]->PutNew();
      Plug(0);
      ++swapped;
    }
  };
  const CliResult r = Station({"--log", log, "program", "--verify", "--serial", "7FFE:2:ascii",
                               "--serial-file", Path("serial.txt"), "--loop", "--count", "2",
                               Path("blink.hex")},
                              during);
  EXPECT_EQ(swapped, 1);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 5u) << r.out;
  EXPECT_EQ(lines.back(), "4 boards: 4 ok, 0 failed");
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_NE(r.out.find(Port(i) + ": board 1: ok"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(Port(i) + ": board 2: ok"), std::string::npos) << r.out;
    EXPECT_TRUE(Holds(i, data));
  }
  // The new boards hold the numbers taken after the first two.
  std::set<std::string> second;
  for (std::size_t i = 0; i < 2; ++i) {
    const auto flash = boards[i]->Read(Memory::Code);
    second.insert(std::string(flash.begin() + 0x7FFE, flash.end()));
  }
  EXPECT_EQ(second, (std::set<std::string>{"09", "10"}));
  EXPECT_EQ(ReadFile("serial.txt"), "11\n");
  EXPECT_EQ(LogRecords(log, "result").size(), 4u);
}

TEST_F(CliStationTest, AFirmwareRebuiltDuringASeriesReachesNoBoardOfIt) {
  std::filesystem::copy_file(kTestData / "blink.hex", dir / "blink.hex");
  const auto data = Data("blink.hex");
  StartBoards(1);
  const std::string log = Path("log.jsonl");
  const CliResult r = Station(
      {"--log", log, "--loop", "--count", "2", "program", "--verify", Path("blink.hex")},
      [&](pid_t) {
        for (int tries = 0; tries < 600 && Lines(ReadFile("log.jsonl")).empty(); ++tries) {
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        // Rebuilt to an image that writes nothing, then the next board.
        WriteFile("blink.hex", ":00000001FF\n");
        boards[0]->TakeAway();
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        boards[0]->PutNew();
      });
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(Port(0) + ": board 2: ok"), std::string::npos) << r.out;
  EXPECT_TRUE(Holds(0, data));
  const auto hashes = LogRecords(log, "file_sha256");
  ASSERT_EQ(hashes.size(), 2u);
  EXPECT_EQ(hashes[0], hashes[1]);
}

TEST_F(CliStationTest, CtrlCEndsEveryDownloadWithTheEndRecord) {
  StartBoards(2, [](std::size_t, sim::TargetSimConfig& c) {
    c.paced = true;
    c.baud = 38400;
  });
  const auto image = RandomBytes(32768, 22);
  WriteFile("image.bin", std::string(image.begin(), image.end()));
  const CliResult r = Station({"program", Path("image.bin")}, [&](pid_t pid) {
    for (int tries = 0; tries < 400 && !(boards[0]->InLineMode() && boards[1]->InLineMode()); ++tries) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ::kill(pid, SIGINT);
  });
  EXPECT_EQ(r.status, 130) << r.err;
  const std::string ended = ": failed (exit 130): interrupted; the download was ended with the end record";
  EXPECT_EQ(r.out, Port(0) + ended + "\n" + Port(1) + ended + "\n");
  EXPECT_FALSE(boards[0]->InLineMode());
  EXPECT_FALSE(boards[1]->InLineMode());
}

TEST_F(CliStationTest, BlankCheckOnTwoBoards) {
  StartBoards(2);
  for (unsigned a : {0x0010u, 0x0011u, 0x7FFFu}) {
    const std::vector<std::uint8_t> zero = {0x00};
    boards[1]->Load(Memory::Code, a, zero);
  }
  std::vector<std::uint8_t> many(20, 0x12);
  boards[1]->Load(Memory::Code, 0x1000, many);
  CliResult r = RunBare({"-b", "38400", "-p", Port(0), "--log", Path("log.jsonl"), "blank-check"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "blank-check: all 32768 bytes are FFh\n");
  r = RunBare({"-b", "38400", "-p", Port(1), "blank-check"});
  EXPECT_EQ(r.status, 1) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 11u) << r.out;
  EXPECT_EQ(lines[0], "0010h: 00h");
  EXPECT_EQ(lines[2], "1000h: 12h");
  EXPECT_EQ(lines[10], "blank-check: 23 of 32768 bytes are not FFh");

  r = Station({"--log", Path("log.jsonl"), "blank-check"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, Port(0) + ": ok\n" + Port(1) + ": failed (exit 1): blank-check: 23 of 32768 bytes are not FFh\n");
  const auto records = LogRecords(Path("log.jsonl"), "command,result,target");
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0], "command=\"blank-check\" result=\"ok\" target=\"MSC1210Y5\"");
}

}  // namespace
}  // namespace varnel::testing
