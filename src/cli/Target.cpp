// Opening the line and connecting: the connect handshake, ticked as soon as
// each of its replies is complete instead of on a 100 ms timer.
#include "cli/Target.h"

#include <algorithm>
#include <cstdio>

#include "cli/OutcomeText.h"
#include "connect/ConnectHandshake.h"
#include "link/PortNames.h"
#include "link/Trace.h"

namespace varnel::cli {
namespace {

// What a connect shows, without a window: its timer becomes "the next tick
// is due", and closing ends the handshake.
class HandshakeDisplay : public ConnectDisplay {
 public:
  void ShowTarget(const std::string&) override {}
  void ShowFirmware(const std::string&) override {}
  void ShowSoftware(const std::string&) override {}
  void ShowCore(const std::string&) override {}
  void SetButtonsEnabled(bool) override {}
  void StartTimer(int) override { tickDue = true; }
  void StopTimer() override { tickDue = false; }
  void Dismiss() override { closed = true; }

  bool tickDue = false;
  bool closed = false;
};

// A banner is a few dozen characters; the wake-up may take its line time on
// top of the time-out.
constexpr std::size_t kBannerBytes = 64;

}  // namespace

Target::Target(const Options& options, Screen& screen, bool watchSignals)
    : options_(options),
      screen_(screen),
      link_(screen, options.timeoutMs, watchSignals),
      settings_(link_.session(), options),
      engine_(link_.session(), settings_) {
  link_.session().AddOutcomeListener([this](const Outcome&) { ++outcomes_; });
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
  if (const auto& f = link_.Failed()) throw CliFailure(Explained(*f));
}

void Target::Run(const std::function<bool(Engine&)>& verb) {
  Session& s = session();
  const std::uint64_t before = outcomes_;
  if (!verb(engine_)) {
    throw CliFailure(OutcomeKind::Refused, "the target is not connected or busy; nothing was sent");
  }
  link_.RunUntil([&] { return outcomes_ != before && !engine_.Busy(); });
  Check();
  if (const auto& outcome = s.LastOutcome(); outcome && !outcome->Done()) {
    throw CliFailure(Explained(*outcome));
  }
}

std::uint32_t Target::FlashBytes() const {
  const std::int32_t end = UploadSequence::FlashEndFor(link_.session().TargetIdCode);
  return end < 0 ? 0 : static_cast<std::uint32_t>(end) + 1;
}

void Target::Connect() {
  Session& s = session();
  HandshakeDisplay display;
  ConnectHandshake handshake(s, display, NumberFormat{".", ""});

  // The reset pulse takes its real time: the loader needs it to start. A
  // port that fails it is a warning: the attempt then shows whether the
  // loader answers all the same.
  link_.SetRealWaits(true);
  const std::optional<Outcome> trouble = handshake.Prepare();
  link_.SetRealWaits(false);
  if (trouble) screen_.Warn(trouble->text);
  Check();

  // Three carriage returns, spread over the time-out, as the window sends
  // three 500 + 100 + 100 ms apart.
  const int wakeMs = std::max(100, link_.ExchangeMs(kBannerBytes) / ConnectHandshake::kRetries);
  handshake.Start();
  while (!display.closed && !handshake.Result()) {
    if (!display.tickDue) {
      // The window would rest here until Retry: an answer without a prompt.
      link_.Fail({OutcomeKind::NoAnswer, "the boot loader's answer on " + device_ +
                                             " holds no prompt: \"" +
                                             TraceText(handshake.ReplyText().substr(0, 40)) +
                                             "\" (is " + settings_.BaudText() + " baud right?)"});
      break;
    }
    if (handshake.AwaitingReply()) {
      if (!link_.RunUntil([&] { return link_.AwaitedPrompts() == 0; })) break;
    } else {
      link_.RunUntil([&] { return s.RxBuffer.find('>') != std::string::npos; }, wakeMs);
      if (link_.Failed()) break;
    }
    link_.ForgetAwaited();
    handshake.Tick();
  }
  handshake.Close();
  if (const auto& result = handshake.Result(); result && !result->Done()) {
    Outcome failed = *result;
    if (failed.kind == OutcomeKind::NoAnswer) {
      failed.text += " (no answer on " + device_ + " at " + settings_.BaudText() + " baud)";
    }
    throw CliFailure(failed);
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
