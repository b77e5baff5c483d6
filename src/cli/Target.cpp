// Opening the line and connecting: the window's connect handshake, ticked
// as soon as each of its replies is complete instead of on a 100 ms timer.
#include "cli/Target.h"

#include <algorithm>
#include <cstdio>

#include "connect/ConnectHandshake.h"
#include "link/PortNames.h"
#include "link/Trace.h"

namespace varnel::cli {
namespace {

// The connect window's part, without a window: its timer becomes "the next
// tick is due", and closing ends the handshake.
class HandshakeDisplay : public ConnectDisplay {
 public:
  void ShowTarget(const std::string&) override {}
  void ShowFirmware(const std::string&) override {}
  void ShowSoftware(const std::string&) override {}
  void ShowCore(const std::string&) override {}
  void SetButtonsEnabled(bool) override {}
  void StartTimer(int) override { tickDue = true; }
  void StopTimer() override { tickDue = false; }
  void CloseWindow() override { closed = true; }

  bool tickDue = false;
  bool closed = false;
};

// A banner is a few dozen characters; the wake-up may take its line time on
// top of the time-out.
constexpr std::size_t kBannerBytes = 64;

}  // namespace

Target::Target(const Options& options, Screen& screen)
    : options_(options),
      screen_(screen),
      link_(screen, options.timeoutMs),
      settings_(link_.session(), options),
      uploads_(link_.session(), settings_),
      programming_(link_.session(), settings_) {
  settings_.LoadProperties();
  device_ = settings_.CheckedDevice();
  settings_.CheckResetSequence();
}

int Target::Baud() const { return std::stoi(settings_.BaudText()); }

void Target::Open() {
  if (!options_.trace.empty()) link_.OpenTrace(options_.trace);
  link_.Open(settings_.PortName(), settings_.Rate());
}

void Target::Check() const {
  if (const auto& f = link_.Failed()) throw CliFailure(f->status, f->text);
}

void Target::Run(const std::function<bool()>& done) {
  link_.RunUntil(done);
  Check();
}

std::uint32_t Target::FlashBytes() const {
  const std::int32_t end = UploadSequence::FlashEndFor(link_.session().TargetIdCode);
  return end < 0 ? 0 : static_cast<std::uint32_t>(end) + 1;
}

void Target::Connect() {
  Session& s = session();
  HandshakeDisplay display;
  ConnectHandshake handshake(s, display, NumberFormat{".", ""});

  // The reset pulse takes its real time: the loader needs it to start.
  link_.SetRealWaits(true);
  link_.SetBoxesAreWarnings(true);
  handshake.FormCreate();
  link_.SetRealWaits(false);
  link_.SetBoxesAreWarnings(false);
  Check();

  // Three carriage returns, spread over the time-out, as the window sends
  // three 500 + 100 + 100 ms apart.
  const int wakeMs = std::max(100, link_.ExchangeMs(kBannerBytes) / ConnectHandshake::kRetries);
  handshake.FormShow();
  while (!display.closed) {
    if (!display.tickDue) {
      // The window would rest here until Retry: an answer without a prompt.
      link_.Fail(kExitNoAnswer, "the boot loader's answer on " + device_ + " holds no prompt: \"" +
                                    TraceText(handshake.ReplyText().substr(0, 40)) +
                                    "\" (is " + settings_.BaudText() + " baud right?)");
      break;
    }
    if (handshake.AwaitingReply()) {
      if (!link_.RunUntil([&] { return link_.AwaitedPrompts() == 0; })) break;
    } else {
      link_.RunUntil([&] { return s.RxBuffer.find('>') != std::string::npos; }, wakeMs);
      if (link_.Failed()) break;
    }
    link_.ForgetAwaited();
    handshake.tick();
  }
  handshake.FormClose();
  if (const auto& f = link_.Failed(); f && f->text == "Failed to connect target! Try reset it!") {
    throw CliFailure(f->status, f->text + " (no answer on " + device_ + " at " +
                                    settings_.BaudText() + " baud)");
  }
  Check();

  char clock[32];
  std::snprintf(clock, sizeof clock, "%.2f", s.CoreClockHz / 1e6);
  // A loader that was awake already answers with its prompt, not its banner.
  const std::string loader =
      s.FirmwareVersion.empty() ? "loader awake already" : "loader " + s.FirmwareVersion;
  screen_.Note("connected: " + s.TargetName + " on " + device_ + " at " + settings_.BaudText() +
               " baud, " + loader + ", clock about " + clock + " MHz");
}

}  // namespace varnel::cli
