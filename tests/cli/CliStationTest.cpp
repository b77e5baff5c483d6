// varnel-cli with several boards: ports side by side in one process, the
// record of every board, serial numbers from a shared file, a station that
// waits for board after board, and the blank check.
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <cstring>
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
  // Every board's own lines after its port, then the result lines in order.
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 7u) << r.out;
  EXPECT_EQ(lines[4], Port(0) + ": ok");
  EXPECT_EQ(lines[5].rfind(Port(1) + ": failed (exit 1): verify: 1 bytes differ from blink.hex", 0), 0u)
      << lines[5];
  EXPECT_EQ(lines[6], Port(2) + ": ok");
  const std::string match = ": verify: " + std::to_string(data.size()) + " bytes match blink.hex\n";
  EXPECT_NE(r.out.find(Port(0) + match), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(Port(2) + match), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(Port(1) + ": verify: 1 of " + std::to_string(data.size()) + " bytes differ"),
            std::string::npos) << r.out;
  EXPECT_TRUE(Holds(0, data));
  EXPECT_TRUE(Holds(2, data));
  // Progress lines begin with their port when standard error is no terminal.
  EXPECT_NE(r.err.find(Port(2) + ": connected: "), std::string::npos) << r.err;

  const auto records = LogRecords(Path("log.jsonl"), "port,command,result,exit_status,verified,serial,bytes_written");
  ASSERT_EQ(records.size(), 3u);
  std::set<std::string> seen(records.begin(), records.end());
  const std::string bytes = std::to_string(data.size());
  EXPECT_TRUE(seen.count("port=\"" + Port(0) + "\" command=\"program\" result=\"ok\" exit_status=0 verified=true serial=null bytes_written=" + bytes)) << records[0];
  // Failed only at verify: the flash holds the whole image all the same.
  EXPECT_TRUE(seen.count("port=\"" + Port(1) + "\" command=\"program\" result=\"failed\" exit_status=1 verified=false serial=null bytes_written=" + bytes));
}

TEST_F(CliStationTest, TheRecordCountsWhatTheFlashHoldsAndWhatWasSent) {
  // Code at both ends of the flash, FFh between: the padding is not sent.
  std::vector<std::uint8_t> image(32768, 0xFF);
  const auto code = RandomBytes(8192, 25);
  for (std::size_t i = 0; i < 4096; ++i) {
    image[i] = code[i] & 0xFE;
    image[0x7000 + i] = code[4096 + i] & 0xFE;
  }
  WriteFile("fw.bin", std::string(image.begin(), image.end()));
  // Board 0 falls silent at the 11th record after the padding (the
  // handshake takes 7 commands, the timing writes 4, the erases 2); board 1
  // stores a cell wrongly, which only its verify sees.
  StartBoards(2, [](std::size_t i, sim::TargetSimConfig& c) {
    if (i == 0) c.silentAfter = 7 + 4 + 2 + 256 + 10;
    if (i == 1) c.weakCellAddress = 0x7100;
  });
  const CliResult r = Station({"--log", Path("log.jsonl"), "program", "--verify", Path("fw.bin")});
  EXPECT_EQ(r.status, 3) << r.err;
  const auto records = LogRecords(Path("log.jsonl"), "port,exit_status,bytes_written,bytes_sent");
  ASSERT_EQ(records.size(), 2u);
  const std::set<std::string> seen(records.begin(), records.end());
  // Up to the record that got no answer, the skipped padding included.
  EXPECT_TRUE(seen.count("port=\"" + Port(0) + "\" exit_status=3 bytes_written=" +
                         std::to_string(4096 + 24576 + 160) + " bytes_sent=" + std::to_string(4096 + 160)))
      << records[0] << "\n" << records[1];
  EXPECT_TRUE(seen.count("port=\"" + Port(1) + "\" exit_status=1 bytes_written=32768 bytes_sent=8192"))
      << records[0] << "\n" << records[1];
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
  ASSERT_EQ(lines.size(), 9u) << r.out;  // a verify line and a result line a board
  EXPECT_EQ(lines.back(), "4 boards: 4 ok, 0 failed");
  // Each board's line names the number it took.
  std::set<std::string> named;
  for (std::size_t i = 0; i < 2; ++i) {
    for (const char* board : {": board 1: ok, serial ", ": board 2: ok, serial "}) {
      const std::size_t at = r.out.find(Port(i) + board);
      ASSERT_NE(at, std::string::npos) << r.out;
      const std::size_t from = at + Port(i).size() + std::strlen(board);
      named.insert(r.out.substr(from, r.out.find('\n', from) - from));
    }
    EXPECT_TRUE(Holds(i, data));
  }
  EXPECT_EQ(named, (std::set<std::string>{"7", "8", "9", "10"}));
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

TEST_F(CliStationTest, AFailedBoardIsNotProgrammedAgainUntilItIsReplaced) {
  std::filesystem::copy_file(kTestData / "blink.hex", dir / "blink.hex");
  WriteFile("serial.txt", "40\n");
  StartBoards(1, [](std::size_t, sim::TargetSimConfig& c) { c.refuseErase = true; });
  const std::string log = Path("log.jsonl");
  const CliResult r = Station(
      {"--log", log, "--serial", "7FF0:2", "--serial-file", Path("serial.txt"), "--loop", "--count", "2",
       "program", Path("blink.hex")},
      [&](pid_t) {
        for (int tries = 0; tries < 600 && Lines(ReadFile("log.jsonl")).empty(); ++tries) {
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        // The refusing board stays on the socket a while, then a good one
        // takes its place.
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        boards[0]->TakeAway();
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        boards[0]->Modify([](sim::TargetSimConfig& c) { c.refuseErase = false; });
        boards[0]->PutNew();
      });
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.out.find(Port(0) + ": board 1: failed (exit 1): "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(Port(0) + ": board 2: ok"), std::string::npos) << r.out;
  EXPECT_TRUE(Holds(0, Data("blink.hex")));
  // A number only for the board that was written, none for attempts on
  // the refusing one.
  EXPECT_EQ(ReadFile("serial.txt"), "41\n");
  EXPECT_EQ(LogRecords(log, "serial,result"),
            (std::vector<std::string>{"serial=null result=\"failed\"", "serial=40 result=\"ok\""}));
}

TEST_F(CliStationTest, ALoopOutlivesPortsThatVanishAtAnyMomentAndEndsOnCtrlC) {
  const auto image = RandomBytes(4096, 31);
  WriteFile("image.bin", std::string(image.begin(), image.end()));
  StartBoards(2);
  const std::string log = Path("log.jsonl");
  const auto records = [&](std::size_t i) {
    std::size_t n = 0;
    for (const std::string& line : Lines(ReadFile("log.jsonl"))) n += line.find(Port(i) + "\"") != std::string::npos;
    return n;
  };
  bool reached = true;  // every step's state came
  const auto await = [&](std::size_t i, std::size_t n) {
    for (int tries = 0; tries < 600 && records(i) < n; ++tries) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    reached = reached && records(i) >= n;
  };
  const auto pause = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
  const CliResult r = Station({"--log", log, "--loop", "program", "--verify", Path("image.bin")}, [&](pid_t pid) {
    // Board 0 is pulled out the moment its record is in (the station is
    // then asking whether it is still there); board 1 is taken away.
    await(0, 1);
    Pull(0);
    await(1, 1);
    Unplug(1);
    boards[1]->TakeAway();
    pause(1000);
    PlugNew(0);
    PlugNew(1);
    // Board 0 again pulled after its record, and the next one in the
    // middle of its download.
    await(0, 2);
    Pull(0);
    pause(300);
    PlugNew(0);
    reached = reached && boards[0]->WaitForCommands(100, std::chrono::seconds(20));
    Pull(0);
    await(0, 3);
    PlugNew(0);
    // Board 1 falls silent with its port left, and is pulled out while the
    // station keeps trying to wake it.
    await(1, 2);
    boards[1]->TakeAway();
    pause(2000);
    Pull(1);
    pause(300);
    PlugNew(1);
    await(0, 4);
    await(1, 3);
    ::kill(pid, SIGINT);
  });
  EXPECT_TRUE(reached);
  EXPECT_EQ(r.status, 130) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_FALSE(lines.empty()) << r.err;
  EXPECT_EQ(lines.back(), "7 boards: 6 ok, 1 failed") << r.out;
  for (const std::string& ok : {Port(0) + ": board 1: ok", Port(0) + ": board 2: ok",
                                Port(0) + ": board 4: ok", Port(1) + ": board 1: ok",
                                Port(1) + ": board 2: ok", Port(1) + ": board 3: ok"}) {
    EXPECT_NE(r.out.find(ok + "\n"), std::string::npos) << ok << "\n" << r.out;
  }
  EXPECT_NE(r.out.find(Port(0) + ": board 3: failed (exit 4): "), std::string::npos) << r.out;
  std::map<unsigned, std::uint8_t> data;
  for (unsigned a = 0; a < image.size(); ++a) data[a] = image[a];
  EXPECT_TRUE(Holds(0, data));
  EXPECT_TRUE(Holds(1, data));
  EXPECT_EQ(LogRecords(log, "result").size(), 7u);
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
  const std::string alone = r.out;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 11u) << r.out;
  EXPECT_EQ(lines[0], "0010h: 00h");
  EXPECT_EQ(lines[2], "1000h: 12h");
  EXPECT_EQ(lines[10], "blank-check: 23 of 32768 bytes are not FFh");

  r = Station({"--log", Path("log.jsonl"), "blank-check"});
  EXPECT_EQ(r.status, 1);
  // Each board's lines after its port, as one board alone prints them.
  const auto both = Lines(r.out);
  ASSERT_EQ(both.size(), 14u) << r.out;
  EXPECT_EQ(both[12], Port(0) + ": ok");
  EXPECT_EQ(both[13], Port(1) + ": failed (exit 1): blank-check: 23 of 32768 bytes are not FFh");
  EXPECT_NE(r.out.find(Port(0) + ": blank-check: all 32768 bytes are FFh\n"), std::string::npos);
  std::string second;
  for (const auto& line : both) {
    if (line.rfind(Port(1) + ": ", 0) == 0) second += line.substr(Port(1).size() + 2) + "\n";
  }
  EXPECT_EQ(second, alone + "failed (exit 1): blank-check: 23 of 32768 bytes are not FFh\n");
  const auto records = LogRecords(Path("log.jsonl"), "command,result,target");
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0], "command=\"blank-check\" result=\"ok\" target=\"MSC1210Y5\"");
}

// A record that lies is a board shipped wrong: what goes into a board and
// into its record, and what is refused before any board is touched.

TEST_F(CliStationTest, ASerialNumberOnTheFilesDataIsRefusedBeforeAnything) {
  std::filesystem::copy_file(kTestData / "blink.hex", dir / "blink.hex");
  const auto data = Data("blink.hex");
  WriteFile("serial.txt", "1000\n");
  StartBoards(1);
  // Four bytes whose first two are the file's last two.
  const unsigned last = data.rbegin()->first;
  char spec[32], ranges[96];
  std::snprintf(spec, sizeof spec, "%04X:4", last - 1);
  std::snprintf(ranges, sizeof ranges, "at %04Xh-%04Xh would overwrite data of %s (%04Xh-%04Xh)",
                last - 1, last + 2, Path("blink.hex").c_str(), data.begin()->first, last);
  const CliResult r = Station({"--serial", spec, "--serial-file", Path("serial.txt"), "program",
                               "--verify", Path("blink.hex")});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find(ranges), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(boards[0]->CommandCount(), 0u);
  EXPECT_EQ(ReadFile("serial.txt"), "1000\n");
  EXPECT_FALSE(std::filesystem::exists(Path("serial.txt.lock")));

  // The erased cells of a padded image hold no firmware: the number may
  // take them, and everything else is the file's.
  auto padded = RandomBytes(4096, 7);
  padded.resize(32768, 0xFF);
  WriteFile("padded.bin", std::string(padded.begin(), padded.end()));
  const CliResult ok = Station({"--serial", "7FF0:4", "--serial-file", Path("serial.txt"), "program",
                                "--verify", Path("padded.bin")});
  EXPECT_EQ(ok.status, 0) << ok.err;
  padded[0x7FF0] = 0xE8;  // 1000, little-endian
  padded[0x7FF1] = 0x03;
  padded[0x7FF2] = padded[0x7FF3] = 0x00;
  const auto flash = boards[0]->Read(Memory::Code);
  EXPECT_TRUE(std::equal(padded.begin(), padded.end(), flash.begin()));
  EXPECT_EQ(ReadFile("serial.txt"), "1001\n");
}

TEST_F(CliStationTest, RefusedBeforeAnythingIsSent) {
  std::filesystem::copy_file(kTestData / "blink.hex", dir / "blink.hex");
  StartBoards(1);
  std::filesystem::create_symlink(boards[0]->SlavePath(), Path("alias"));
  const auto refused = [&](const std::vector<std::string>& args, const std::string& says) {
    std::vector<std::string> all = {"-b", "38400", "-p", Port(0)};
    all.insert(all.end(), args.begin(), args.end());
    const CliResult r = RunBare(all);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
  };
  // One device twice: as given twice, and as a link and its device.
  refused({"-p", Port(0), "info"}, "the port " + Port(0) + " is given twice");
  refused({"-p", Path("alias"), "info"}, " are the same device, " + boards[0]->SlavePath());
  // A mistyped serial-number file does not start the numbering again.
  refused({"--serial", "7FF0:4", "--serial-file", Path("seria.txt"), "program", Path("blink.hex")},
          "to start at 1000: echo 1000 > " + Path("seria.txt"));
  EXPECT_FALSE(std::filesystem::exists(Path("seria.txt")));
  // A counter that could never be replaced, even by a superuser.
  refused({"--serial", "7FF0:4", "--serial-file", "/proc/sys/kernel/pid_max", "program", Path("blink.hex")},
          "cannot write /proc/sys/kernel/pid_max.lock");
  refused({"--reset-seq", "", "info"}, "--reset-seq needs steps");
  refused({"--reset-seq=", "info"}, "--reset-seq needs steps");  // not "info" taken as its value
  EXPECT_EQ(boards[0]->CommandCount(), 0u);
}

TEST_F(CliStationTest, ABoardTakesANumberOnlyWhenItIsAboutToBeWritten) {
  std::filesystem::copy_file(kTestData / "blink.hex", dir / "blink.hex");
  const auto data = Data("blink.hex");
  WriteFile("serial.txt", "1000\n");
  // Refused erase, a good board, a weak cell, a flash too small for the
  // number; every banner with bytes no text encoding expects.
  StartBoards(4, [&](std::size_t i, sim::TargetSimConfig& c) {
    c.version = "SIM\xFF\xE9" "1.00";
    if (i == 0) c.refuseErase = true;
    if (i == 2) c.weakCellAddress = static_cast<int>(std::next(data.begin(), 5)->first);
    if (i == 3) c.variant = 2;
  });
  const CliResult r = Station({"--log", Path("log.jsonl"), "--serial", "7FF0:4:be", "--serial-file",
                               Path("serial.txt"), "program", "--verify", Path("blink.hex")});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(ReadFile("serial.txt"), "1002\n");
  const auto lines = Lines(r.out);
  ASSERT_GE(lines.size(), 4u) << r.out;
  const std::vector<std::string> results(lines.end() - 4, lines.end());
  EXPECT_EQ(results[0].rfind(Port(0) + ": failed (exit 1): Failed Erase target!", 0), 0u) << results[0];
  EXPECT_EQ(results[3].rfind(Port(3) + ": failed (exit 2): ", 0), 0u) << results[3];
  // Boards 1 and 2 took the two numbers, in either order, and hold them;
  // the one that failed its verify names its number too.
  const auto numberOf = [&](std::size_t board) {
    const auto flash = boards[board]->Read(Memory::Code);
    return std::to_string(flash[0x7FF0] << 24 | flash[0x7FF1] << 16 | flash[0x7FF2] << 8 | flash[0x7FF3]);
  };
  const std::string one = numberOf(1), two = numberOf(2);
  EXPECT_EQ((std::set<std::string>{one, two}), (std::set<std::string>{"1000", "1001"}));
  EXPECT_EQ(results[1], Port(1) + ": ok, serial " + one);
  EXPECT_EQ(results[2].rfind(Port(2) + ": failed (exit 1), serial " + two + ": verify: 1 bytes differ", 0), 0u)
      << results[2];

  std::set<std::string> records;
  for (const auto& record : LogRecords(Path("log.jsonl"), "port,serial,firmware")) records.insert(record);
  const std::string firmware = " firmware=\"SIM\\u00ff\\u00e91.00\"";
  EXPECT_EQ(records, (std::set<std::string>{
                         "port=\"" + Port(0) + "\" serial=null" + firmware,
                         "port=\"" + Port(1) + "\" serial=" + one + firmware,
                         "port=\"" + Port(2) + "\" serial=" + two + firmware,
                         "port=\"" + Port(3) + "\" serial=null" + firmware}));
}

TEST_F(CliStationTest, ARecordThatCannotBeWrittenFailsItsBoard) {
  std::filesystem::copy_file(kTestData / "blink.hex", dir / "blink.hex");
  const auto data = Data("blink.hex");
  WriteFile("serial.txt", "1000\n");
  StartBoards(2);
  CliResult r = Station({"--log", "/dev/full", "--serial", "7FF0:4", "--serial-file", Path("serial.txt"),
                         "program", Path("blink.hex")});
  EXPECT_EQ(r.status, 5) << r.err;
  const std::string lost = ": programmed, but its record could not be written to /dev/full: No space left on device";
  // The boards take their numbers in whichever order their erases end.
  std::set<std::string> lines;
  for (const auto& line : Lines(r.out)) lines.insert(line);
  const std::set<std::string> inOrder{Port(0) + ": failed (exit 5), serial 1000" + lost,
                                      Port(1) + ": failed (exit 5), serial 1001" + lost};
  const std::set<std::string> swapped{Port(0) + ": failed (exit 5), serial 1001" + lost,
                                      Port(1) + ": failed (exit 5), serial 1000" + lost};
  EXPECT_TRUE(lines == inOrder || lines == swapped) << r.out;
  EXPECT_TRUE(Holds(0, data));
  EXPECT_TRUE(Holds(1, data));

  // One board alone, any command.
  r = RunBare({"-b", "38400", "-p", Port(0), "--log", "/dev/full", "erase"});
  EXPECT_EQ(r.status, 5) << r.err;
  EXPECT_NE(r.err.find("varnel-cli: erased, but its record could not be written to /dev/full: "),
            std::string::npos) << r.err;

  // A log that cannot be opened is found before any board is touched.
  const std::size_t before = boards[0]->CommandCount();
  r = Station({"--log", Path("gone/log.jsonl"), "program", Path("blink.hex")});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(boards[0]->CommandCount(), before);
}

TEST_F(CliStationTest, SeveralPortsKeepEveryLineOfTheirBoards) {
  StartBoards(2);
  // Quiet: no progress, but every result line, after its port.
  CliResult r = Station({"-q", "info"});
  EXPECT_EQ(r.status, 0) << r.err;
  for (std::size_t i = 0; i < 2; ++i) {
    std::string keys;
    for (const auto& line : Lines(r.out)) {
      if (line.rfind(Port(i) + ": ", 0) == 0) keys += line.substr(Port(i).size() + 2, line.find(':', Port(i).size() + 2) - Port(i).size() - 2) + " ";
    }
    EXPECT_EQ(keys, "port baud target firmware id clock_hz clock_step_hz flash_bytes ok ") << r.out;
    EXPECT_NE(r.out.find(Port(i) + ": firmware: SIM 1.0.0\n"), std::string::npos) << r.out;
  }
  // A raw image with a serial number is named as given, never as the
  // records made of it.
  const auto image = RandomBytes(300, 5);
  WriteFile("image.bin", std::string(image.begin(), image.end()));
  WriteFile("serial.txt", "1\n");
  r = Station({"-q", "--serial", "7FF0:2", "--serial-file", Path("serial.txt"), "program", "--verify",
               Path("image.bin")});
  EXPECT_EQ(r.status, 0) << r.err;
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_NE(r.out.find(Port(i) + ": verify: 302 bytes match image.bin\n"), std::string::npos) << r.out;
  }
}

}  // namespace
}  // namespace varnel::testing
