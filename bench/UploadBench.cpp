// Upload throughput against the boot-loader simulator through the real
// serial port and event loop, and the cost of redrawing a full CODE view.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMdiArea>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>

#include "Bench.h"
#include "connect/ConnectHandshake.h"
#include "link/CommInt.h"
#include "memory/ListMem.h"
#include "memory/ProgressHost.h"
#include "memory/UploadSequence.h"
#include "target-sim/TargetSim.h"

namespace varnel::bench {
namespace {

// The screen side of the upload: the real progress window, nothing else.
class BenchUi : public QuietUi {
 public:
  explicit BenchUi(Session& session) : progress_(session, nullptr) {}
  void StartProgress(const ProgressStart& how) override { progress_.StartProgress(how); }
  void StepProgress(int pos, const std::string& t) override { progress_.StepProgress(pos, t); }
  bool ProgressOpen() const override { return progress_.ProgressOpen(); }
  int ProgressPosition() const override { return progress_.ProgressPosition(); }
  void EndProgress() override { progress_.EndProgress(); }
  void MessageBox(MessageKind, const std::string& text) override {
    std::fprintf(stderr, "varnel-bench: %s\n", text.c_str());
  }
  void ProcessEvents() override { QCoreApplication::processEvents(); }

 private:
  ProgressHost progress_;
};

// The settings stay as the run set them.
struct NoReload : SettingsSource {
  void LoadProperties() override {}
};

struct NoDisplay : ConnectDisplay {
  bool closed = false;
  void ShowTarget(const std::string&) override {}
  void ShowFirmware(const std::string&) override {}
  void ShowSoftware(const std::string&) override {}
  void ShowCore(const std::string&) override {}
  void SetButtonsEnabled(bool) override {}
  void StartTimer(int) override {}
  void StopTimer() override {}
  void Dismiss() override { closed = true; }
};

struct UploadRun {
  double seconds = 0;
  double wireSeconds = 0;  // every byte sent and received, 10 bits each
  int exchanges = 0;
  bool ok = false;
};

// Connects, then uploads the whole 32 KB of CODE once.
UploadRun UploadCode(bool paced) {
  UploadRun run;
  sim::TargetSimConfig config;
  config.variant = 5;
  config.paced = paced;
  sim::TargetSim target(config);
  Session session;
  BenchUi ui(session);
  TComm comm;
  comm.SetDeviceName(target.SlavePath());
  comm.SetBaudRate(br38400);
  comm.Open();
  session.AttachUi(&ui);
  session.AttachPort(&comm);
  session.NotePortOpened();
  session.ProjectSettings.BaudText = "38400";
  session.ProjectSettings.CodeMax = 0;

  NoDisplay display;
  ConnectHandshake handshake(session, display);
  handshake.Start();
  while (!display.closed && handshake.TimerActive()) {
    const long want = handshake.HandshakeCommand() == "E" && handshake.AwaitingReply() ? 2 : 1;
    if (!PumpUntil([&] { return std::count(session.RxBuffer.begin(), session.RxBuffer.end(),
                                            '>') >= want; },
                   5000, 5)) {
      break;
    }
    handshake.Tick();
  }
  PumpUntil([&] { return session.RxBuffer.ends_with('>'); }, 2000, 5);
  if (session.TargetIdCode != 3) {
    std::fprintf(stderr, "varnel-bench: connect to the simulator failed\n");
    return run;
  }

  NoReload reload;
  UploadSequence upload(session, reload);
  long long received = 0;
  auto deliver = comm.OnRxChar;
  comm.OnRxChar = [&](CommPort& port, int count) {
    received += count;
    deliver(port, count);
  };
  const std::size_t commandsBefore = target.CommandCount();
  const std::size_t bytesBefore = target.Received().size();
  const auto start = std::chrono::steady_clock::now();
  upload.Upload(MemoryKind::Code);
  run.ok = PumpUntil([&] { return !upload.Busy(); }, 120000, 5);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.exchanges = static_cast<int>(target.CommandCount() - commandsBefore);
  const double sent = static_cast<double>(target.Received().size() - bytesBefore);
  run.wireSeconds = (sent + static_cast<double>(received)) * 10.0 / 38400.0;
  comm.Close();
  target.Stop();
  return run;
}

std::vector<Figure> PacedUpload() {
  const UploadRun run = UploadCode(true);
  if (!run.ok) return {};
  return {{"upload_code_38400_ratio", run.seconds / run.wireSeconds, ""}};
}

std::vector<Figure> UnpacedUpload() {
  const UploadRun run = UploadCode(false);
  if (!run.ok || run.exchanges == 0) return {};
  return {{"upload_code_unpaced_s", run.seconds, "s"},
          {"upload_exchange_us", run.seconds * 1e6 / run.exchanges, "us"}};
}

// RefreshData of a 2048-line CODE view, including its one redraw.
std::vector<Figure> ViewRefresh() {
  MemoryImages images;
  for (int i = 0; i < 0x8000; ++i) images.CodeImage.Write(i, static_cast<std::uint8_t>(i * 13));
  QMdiArea area;
  area.resize(800, 600);
  auto* view = new TF_ListMem(images.CodeImage, MemoryKind::Code, 0x7FFF);
  area.addSubWindow(view);
  view->resize(560, 370);
  area.show();
  view->show();
  QCoreApplication::processEvents();
  constexpr int kRounds = 20;
  double total = 0;
  for (int r = 0; r < kRounds; ++r) {
    images.CodeImage.Write(r, static_cast<std::uint8_t>(r));
    const auto start = std::chrono::steady_clock::now();
    view->RefreshData();
    view->SyntaxEdit1()->viewport()->repaint();
    total += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                 .count();
  }
  return {{"view_refresh_ms", total / kRounds, "ms"}};
}

Registrar paced({"upload_code_38400_ratio"}, PacedUpload);
Registrar unpaced({"upload_code_unpaced_s", "upload_exchange_us"}, UnpacedUpload);
Registrar refresh({"view_refresh_ms"}, ViewRefresh);

}  // namespace
}  // namespace varnel::bench
