// Programming a 32 KB image into the simulated loader at 38400 baud over a
// pseudo-terminal: how close the run comes to the time its bytes need on
// the wire. The fixed waits of a run (timing writes, erase, completion
// notice) are measured apart and left out of the ratio.
#if __has_include("target-sim/TargetSim.h") && __has_include("link/CommInt.h")

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <sys/prctl.h>
#include <thread>

#include "Bench.h"
#include "link/CommInt.h"
#include "core/Session.h"
#include "programming/ProgrammingSequence.h"
#include "target-sim/TargetSim.h"

namespace varnel::bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kBaud = 38400;

// The port with every byte counted both ways for the wire time. The paced
// simulator takes each byte at the line rate, as a UART's receiver would.
class CountingPort final : public CommPort {
 public:
  explicit CountingPort(TComm& inner) : inner_(inner) {
    inner_.OnRxChar = [this](CommPort&, int count) {
      if (OnRxChar) OnRxChar(*this, count);
    };
  }
  void Open() override { inner_.Open(); }
  void Close() override { inner_.Close(); }
  bool IsOpen() const override { return inner_.IsOpen(); }
  int Write(const char* data, int count) override {
    bytes += count;
    return inner_.Write(data, count);
  }
  int Read(char* buffer, int count) override {
    const int got = inner_.Read(buffer, count);
    if (got > 0) bytes += got;
    return got;
  }
  void SetDTR(bool on) override { inner_.SetDTR(on); }
  void SetRTS(bool on) override { inner_.SetRTS(on); }
  void SetBreak(bool on) override { inner_.SetBreak(on); }
  std::string DeviceName() const override { return inner_.DeviceName(); }
  void SetDeviceName(const std::string& name) override { inner_.SetDeviceName(name); }
  TBaudrate BaudRate() const override { return inner_.BaudRate(); }
  void SetBaudRate(TBaudrate rate) override { inner_.SetBaudRate(rate); }
  int ReadBufSize() const override { return inner_.ReadBufSize(); }

  long long bytes = 0;

 private:
  TComm& inner_;
};

// No screen; waits block for real, and those of the run's fixed waits
// (100 ms and more) are timed apart.
class BenchUi final : public QuietUi {
 public:
  double fixedSeconds = 0;
  void StartProgress(const ProgressStart& how) override {
    open_ = true;
    position_ = how.position;
  }
  void StepProgress(int position, const std::string&) override {
    if (open_) position_ = position;
  }
  bool ProgressOpen() const override { return open_; }
  int ProgressPosition() const override { return position_; }
  void EndProgress() override { open_ = false; }
  void MessageBox(MessageKind, const std::string& text) override {
    std::fprintf(stderr, "program bench: box \"%s\"\n", text.c_str());
  }
  void Sleep(int ms) override {
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    if (ms >= 100) fixedSeconds += std::chrono::duration<double>(Clock::now() - start).count();
  }

 private:
  bool open_ = false;
  int position_ = 0;
};

std::vector<Figure> Program32k() {
  QTemporaryDir dir;
  const std::string image = dir.filePath("image.bin").toStdString();
  std::vector<std::uint8_t> bytes(32768);
  std::mt19937 random(1210);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  std::ofstream(image, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  // Wake-ups on time: the default timer slack would add tens of microseconds
  // to every paced byte and every write. The loader's thread inherits it.
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  sim::TargetSimConfig config;
  config.paced = true;
  config.baud = kBaud;
  sim::TargetSim target(config);
  TComm comm;
  comm.SetDeviceName(target.SlavePath());
  comm.SetBaudRate(br38400);
  comm.Open();
  CountingPort port(comm);
  BenchUi ui;
  Session session;
  // The settings a reload gives: the image to program.
  struct ImageSettings : SettingsSource {
    std::function<void()> onLoad;
    void LoadProperties() override { onLoad(); }
  } reload;
  ProgrammingSequence run(session, reload);
  session.AttachUi(&ui);
  session.AttachPort(&port);
  session.NotePortOpened();
  session.TargetConnected = true;
  session.TargetIdCode = 3;  // an MSC1210Y5: 32 KB of flash
  session.CoreClockHz = 11059200;
  reload.onLoad = [&] {
    session.ProjectSettings.HexBinFile = image;
    session.ChooseProgramFile(image);
  };

  // Awake with echo off, as after connecting.
  for (const char* command : {"\r", "E"}) {
    session.SendString(command);
    PumpUntil([&] { return session.RxBuffer.find('>') != std::string::npos; }, 2000, 50);
    session.ClearRx();
  }
  port.bytes = 0;

  const auto start = Clock::now();
  run.Program();
  const bool done = PumpUntil([&] { return session.LastCommand.empty(); }, 120000, 50);
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  comm.Close();
  if (!done || target.Read(sim::Memory::Code) != bytes) {
    std::fprintf(stderr, "program bench: the run did not complete\n");
  }
  const double wire = static_cast<double>(port.bytes) * 10.0 / kBaud;
  return {{"program_32k_38400_ratio", (elapsed - ui.fixedSeconds) / wire, ""},
          {"program_fixed_waits_s", ui.fixedSeconds, "s"}};
}

Registrar program32k({"program_32k_38400_ratio", "program_fixed_waits_s"}, Program32k);

}  // namespace
}  // namespace varnel::bench

#endif
