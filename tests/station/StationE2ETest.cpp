// varnel-station run as a station PC runs it, with --start and a station
// file, against simulated boards on pseudo-terminals that come and go;
// SIGTERM (the PC shutting down) stops it as the Stop button does.
#include <signal.h>

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include <QLabel>
#include <QTest>

#include "station/LibraryRunner.h"
#include "station/StationTile.h"
#include "station/StationWindow.h"
#include "support/Files.h"
#include "support/GuiApp.h"
#include "support/TestData.h"
#include "target-sim/TargetSim.h"

namespace varnel::station {
namespace {

using sim::Memory;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class StationE2ETest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::GuiApp(); }
  void TearDown() override {
    if (station.state() != QProcess::NotRunning) {
      station.kill();
      station.waitForFinished();
    }
    for (auto& b : boards) b->Stop();
  }
  std::string Path(const std::string& name) const { return dir.filePath(QString::fromStdString(name)).toStdString(); }

  void StartBoards(std::size_t n, const sim::TargetSimConfig& config = {}) {
    for (std::size_t i = 0; i < n; ++i) {
      boards.push_back(std::make_unique<sim::TargetSim>(config));
      std::filesystem::create_symlink(boards[i]->SlavePath(), Port(i));
    }
  }
  std::string Port(std::size_t i) const { return Path("b" + std::to_string(i)); }

  // The station file for the boards.
  void WriteJob(const std::string& firmware, const std::string& serial) {
    std::string ports;
    for (std::size_t i = 0; i < boards.size(); ++i) ports += (i ? "," : "") + Port(i);
    testing::WriteFile(Path("job.station"), "[Station]\nFile=" + firmware + "\nPorts=" + ports +
                                                "\nBaud=38400\nVerify=1\n" + serial + "Log=" +
                                                Path("boards.jsonl") + "\n");
  }
  // The station file, then varnel-station --start on it.
  void Run(const std::string& firmware, const std::string& serial) {
    WriteJob(firmware, serial);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", dir.path());
    station.setProcessEnvironment(env);
    station.setProcessChannelMode(QProcess::MergedChannels);
    station.start(VARNEL_STATION_EXE, {"--start", QString::fromStdString(Path("job.station"))});
    ASSERT_TRUE(station.waitForStarted());
  }
  // Waits up to a minute for what is asked.
  static bool Within(const std::function<bool()>& done) {
    for (int i = 0; i < 1200 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return done();
  }
  // SIGTERM, then the station's exit status.
  int Terminate() {
    ::kill(static_cast<pid_t>(station.processId()), SIGTERM);
    EXPECT_TRUE(station.waitForFinished(60000)) << station.readAll().toStdString();
    return station.exitStatus() == QProcess::NormalExit ? station.exitCode() : -1;
  }
  std::vector<std::string> Records() const { return Lines(testing::ReadFile(Path("boards.jsonl"))); }

  QTemporaryDir dir;
  std::vector<std::unique_ptr<sim::TargetSim>> boards;
  QProcess station;
};

TEST_F(StationE2ETest, StartProgramsAndNumbersThreeBoards) {
  const std::string firmware = Path("blink.hex");
  std::filesystem::copy_file(testing::kTestData / "blink.hex", firmware);
  testing::WriteFile(Path("counter.txt"), "500\n");
  StartBoards(3);
  Run(firmware, "SerialAddress=7FF0\nSerialLength=4\nSerialFormat=le\nSerialFile=" + Path("counter.txt") + "\n");
  ASSERT_TRUE(Within([&] { return Records().size() >= 3; })) << station.readAll().toStdString();
  EXPECT_EQ(Terminate(), 0);

  std::set<unsigned> numbers;
  const std::string hex = testing::ReadFile(firmware);
  for (std::size_t i = 0; i < boards.size(); ++i) {
    const auto flash = boards[i]->Read(Memory::Code);
    numbers.insert(flash[0x7FF0] | flash[0x7FF1] << 8 | flash[0x7FF2] << 16 | flash[0x7FF3] << 24);
    // The first record of blink.hex, byte for byte.
    const unsigned count = std::stoul(hex.substr(1, 2), nullptr, 16);
    const unsigned address = std::stoul(hex.substr(3, 4), nullptr, 16);
    for (unsigned k = 0; k < count; ++k) {
      EXPECT_EQ(flash[address + k], std::stoul(hex.substr(9 + 2 * k, 2), nullptr, 16)) << "board " << i;
    }
  }
  EXPECT_EQ(numbers, (std::set<unsigned>{500, 501, 502}));
  EXPECT_EQ(testing::ReadFile(Path("counter.txt")), "503\n");
  const auto records = Records();
  ASSERT_EQ(records.size(), 3u);
  for (const std::string& r : records) EXPECT_NE(r.find("\"result\":\"ok\""), std::string::npos) << r;
}

TEST_F(StationE2ETest, ABoardTakenAwayAndPutBackIsProgrammedByItself) {
  const std::string firmware = Path("blink.hex");
  std::filesystem::copy_file(testing::kTestData / "blink.hex", firmware);
  testing::WriteFile(Path("counter.txt"), "500\n");
  StartBoards(2);
  Run(firmware, "SerialAddress=7FF0\nSerialLength=4\nSerialFormat=le\nSerialFile=" + Path("counter.txt") + "\n");
  ASSERT_TRUE(Within([&] { return Records().size() >= 2; })) << station.readAll().toStdString();
  // The first board goes; a new one takes its place a while later, with
  // no one at the window.
  boards[0]->TakeAway();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  boards[0]->PutNew();
  ASSERT_TRUE(Within([&] { return Records().size() >= 3; })) << station.readAll().toStdString();
  // The board that stayed on its socket meanwhile is not programmed again.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(Terminate(), 0);

  const auto flash = boards[0]->Read(Memory::Code);
  EXPECT_EQ(flash[0x7FF0] | flash[0x7FF1] << 8 | flash[0x7FF2] << 16 | flash[0x7FF3] << 24, 502);
  const std::string hex = testing::ReadFile(firmware);
  const unsigned address = std::stoul(hex.substr(3, 4), nullptr, 16);
  EXPECT_EQ(flash[address], std::stoul(hex.substr(9, 2), nullptr, 16));
  EXPECT_EQ(testing::ReadFile(Path("counter.txt")), "503\n");
  const auto records = Records();
  ASSERT_EQ(records.size(), 3u);
  for (const std::string& r : records) EXPECT_NE(r.find("\"result\":\"ok\""), std::string::npos) << r;
  EXPECT_NE(records[2].find(Port(0)), std::string::npos) << records[2];
}

TEST_F(StationE2ETest, StoppingMidDownloadEndsItWithTheEndRecord) {
  sim::TargetSimConfig paced;
  paced.paced = true;
  paced.baud = 38400;
  StartBoards(2, paced);
  std::mt19937 random(27);
  std::string image(32768, '\0');
  for (char& c : image) c = static_cast<char>(random());
  testing::WriteFile(Path("image.bin"), image);
  Run(Path("image.bin"), "");
  ASSERT_TRUE(Within([&] { return boards[0]->InLineMode() && boards[1]->InLineMode(); }))
      << station.readAll().toStdString();
  EXPECT_EQ(Terminate(), 0);
  EXPECT_FALSE(boards[0]->InLineMode());
  EXPECT_FALSE(boards[1]->InLineMode());
  const auto records = Records();
  ASSERT_EQ(records.size(), 2u);
  for (const std::string& r : records) {
    EXPECT_NE(r.find("\"result\":\"interrupted\""), std::string::npos) << r;
    EXPECT_NE(r.find("ended with the end record"), std::string::npos) << r;
  }
}

// The window in this process over the library's station: a counter that can
// no longer be written stops it with the red banner before the board that
// needed a number gets anything but its erase.
TEST_F(StationE2ETest, ACounterThatCannotBeWrittenStopsTheStation) {
  const std::string firmware = Path("blink.hex");
  std::filesystem::copy_file(testing::kTestData / "blink.hex", firmware);
  testing::WriteFile(Path("counter.txt"), "70\n");
  StartBoards(1);
  WriteJob(firmware, "SerialAddress=7FF0\nSerialLength=2\nSerialFormat=le\nSerialFile=" + Path("counter.txt") + "\n");
  StationWindow window(std::make_unique<LibraryRunner>(), StationWindow::Mode::Operator);
  int beeps = 0;
  window.beep = [&] { ++beeps; };
  ASSERT_TRUE(window.OpenJob(QString::fromStdString(Path("job.station"))));
  window.show();
  window.Start();
  StationTile* tile = window.TileOf(QString::fromStdString(Port(0)));
  ASSERT_NE(tile, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return tile->state() == BoardEvent::State::Ok; }, 60000))
      << tile->stateText().toStdString();
  EXPECT_EQ(tile->stateText(), "OK, serial 70");

  // The counter file turns into a folder; the next board comes.
  boards[0]->TakeAway();
  std::filesystem::remove(Path("counter.txt"));
  std::filesystem::create_directory(Path("counter.txt"));
  QTest::qWait(1500);
  boards[0]->PutNew();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window.Running(); }, 60000)) << tile->stateText().toStdString();
  EXPECT_TRUE(window.BannerText().contains("no board is programmed without its record"))
      << window.BannerText().toStdString();
  EXPECT_EQ(tile->state(), BoardEvent::State::Failed);
  EXPECT_TRUE(tile->stateText().contains("exit status 5")) << tile->stateText().toStdString();
  EXPECT_EQ(beeps, 1);
  // Erased, and nothing written: no record was sent to it.
  const std::string hex = testing::ReadFile(firmware);
  const auto flash = boards[0]->Read(Memory::Code);
  EXPECT_EQ(flash[std::stoul(hex.substr(3, 4), nullptr, 16)], 0xFF);
  EXPECT_EQ(flash[0x7FF0], 0xFF);
}

}  // namespace
}  // namespace varnel::station
