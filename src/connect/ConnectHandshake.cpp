// The connect handshake: prompt, banner, identification, clock estimate.
#include "connect/ConnectHandshake.h"

#include <algorithm>

#include "connect/Identification.h"
#include "core/ResetSequence.h"
#include "link/Commands.h"
#include "link/HexText.h"
#include "link/ReplyCheck.h"

namespace varnel {
namespace {

constexpr char kIdentification[] = "RRE9";
constexpr char kReloadLow[] = "RRCA";
constexpr char kReloadHigh[] = "RRCB";
constexpr char kRejected[] = "Connecting error! Reset device and try connect again.";

}  // namespace

std::optional<int> RegisterValue(std::string_view reply, std::string_view command) {
  const CheckedReply checked = CheckReply(command, reply);
  if (!checked.Good()) return std::nullopt;
  return checked.bytes.front();
}

bool PlausibleClock(std::int32_t hz) { return hz >= kMinClockHz && hz <= kMaxClockHz; }

namespace {

}  // namespace

ConnectHandshake::ConnectHandshake(Session& session, ConnectDisplay& display,
                                   std::optional<NumberFormat> format)
    : s_(session), display_(display), format_(std::move(format)) {}

std::optional<Outcome> ConnectHandshake::Prepare() {
  display_.ShowTarget({});
  display_.ShowFirmware({});
  display_.ShowSoftware({});
  display_.ShowCore({});
  awaitingReply_ = false;
  StopTimer();
  if (s_.ProjectSettings.ControlDTR) return ResetPulse();
  return std::nullopt;
}

std::optional<Outcome> ConnectHandshake::ResetPulse() {
  TargetUi& ui = s_.Ui();
  try {
    CommPort* port = s_.Port();
    if (!port || !port->IsOpen()) {
      throw ECommError("Port not open, unable to complete operation", -1);
    }
    // The board's own sequence from the settings; none: the usual pulse.
    RunResetSequence(ParseResetSequence(s_.ProjectSettings.ResetSequence), *port, ui);
  } catch (const ECommError& e) {
    // The window still opens; the attempt then fails for want of an answer.
    return Outcome{OutcomeKind::PortFailed, e.what()};
  } catch (const ResetSequenceError& e) {
    return Outcome{OutcomeKind::Refused, e.what()};
  }
  return std::nullopt;
}

void ConnectHandshake::Start() {
  s_.ShowReceiveCount(false);
  // Whatever an earlier program left on the line goes before the wake-up.
  s_.SettleLine();
  Retry();
}

void ConnectHandshake::Retry() {
  result_.reset();
  s_.BeginRun();
  s_.ClearRx();
  retriesLeft_ = kRetries;
  readAgain_.Reset();
  Send(cmd::kWake);
  StopTimer();
  timerInterval_ = kFirstTickMs;
  StartTimer();
}

void ConnectHandshake::Tick() {
  StopTimer();
  timerInterval_ = kTickMs;
  if (!awaitingReply_) {
    WaitForPrompt();
  } else {
    TakeRegisterReply();
  }
}

void ConnectHandshake::WaitForPrompt() {
  if (s_.RxBuffer.empty()) {
    if (--retriesLeft_ > 0) {
      Send(cmd::kWake);
      StartTimer();
    } else {
      End({OutcomeKind::NoAnswer, "Failed to connect target! Try reset it!"});
    }
    return;
  }
  replyText_ = s_.TakeRx();

  const std::size_t prompt = replyText_.find('>');
  if (prompt == std::string::npos) return;  // stalled until Retry

  s_.TargetConnected = true;
  s_.TargetName.clear();
  display_.ShowTarget({});
  display_.ShowFirmware(s_.FirmwareVersion);
  Send(kIdentification);
  handshakeCommand_ = kIdentification;
  awaitingReply_ = true;
  StartTimer();

  if (prompt >= 10) {
    // A banner: its version follows the first ':'; then echo goes off.
    const std::size_t colon = replyText_.find(':');
    const std::size_t from = colon == std::string::npos ? 0 : colon + 1;
    s_.FirmwareVersion = replyText_.substr(from, 9);
    display_.ShowTarget(s_.TargetName);
    display_.ShowFirmware(s_.FirmwareVersion);
    Send(cmd::kEchoOff);
    handshakeCommand_ = cmd::kEchoOff;
    awaitingReply_ = true;
    StartTimer();
  }
}

void ConnectHandshake::TakeRegisterReply() {
  awaitingReply_ = false;
  const std::string reply = s_.TakeRx();

  const char kind = handshakeCommand_.empty() ? '\0' : handshakeCommand_.front();
  if (kind == 'E') {
    Send(kIdentification);
    handshakeCommand_ = kIdentification;
    awaitingReply_ = true;
    StartTimer();
    return;
  }
  if (kind != 'R') return;

  const std::int32_t address = DecPrev(std::string_view(handshakeCommand_).substr(2, 2));
  if (reply.empty()) {
    RejectTarget();  // nothing at all: not the loader, or not awake
    return;
  }
  const CheckedReply checked = CheckReply(handshakeCommand_, reply);
  if (!checked.Good()) {
    RegisterReplyDamaged(address, checked.fault);
    return;
  }
  readAgain_.Reset();
  const std::int32_t value = checked.bytes.front();
  s_.Images.SFRImage.Write(address, static_cast<std::uint8_t>(value & 0xFF));

  switch (address) {
    case 0xE9:
      s_.TargetIdCode = value;
      s_.TargetName = TargetNameFor(value);
      display_.ShowTarget(s_.TargetName);
      s_.Ui().SetMainCaption("Varnel - Target: " + s_.TargetName);
      Send(kReloadLow);
      handshakeCommand_ = kReloadLow;
      display_.ShowSoftware(Session::ProgramVersion);
      awaitingReply_ = true;
      StartTimer();
      break;
    case 0xCA:
      Send(kReloadHigh);
      handshakeCommand_ = kReloadHigh;
      awaitingReply_ = true;
      StartTimer();
      break;
    case 0xCB: {
      const int reload = value * 256 + s_.Images.SFRImage.Read(0xCA);
      s_.CoreClockHz = CoreClockEstimate(reload, BaudFromText(s_.ProjectSettings.BaudText));
      if (!PlausibleClock(s_.CoreClockHz)) {
        // Flash timing from such a clock would be wrong for the chip.
        RejectTarget();
        return;
      }
      display_.ShowCore(ClockText(s_.CoreClockHz, format_.value_or(LocaleNumberFormat())));
      Send(kIdentification);
      handshakeCommand_ = kIdentification;
      awaitingReply_ = true;
      StartTimer();
      display_.SetButtonsEnabled(false);
      s_.Ui().Sleep(kCloseDelayMs);
      End({});
      display_.Dismiss();
      break;
    }
    default:
      break;  // stalled until Retry
  }
}

void ConnectHandshake::RegisterReplyDamaged(std::int32_t address, const std::string& fault) {
  if (readAgain_.QuietForRepeat(handshakeCommand_, fault)) {
    Send(handshakeCommand_);
    awaitingReply_ = true;
    StartTimer();
    return;
  }
  Outcome damaged{OutcomeKind::DamagedReplies,
                  DamagedReplyText(MemoryKind::SFR, address, readAgain_.Tries(), readAgain_.Fault())};
  damaged.address = static_cast<std::uint32_t>(address);
  damaged.memory = InfoOf(MemoryKind::SFR).name;
  RejectTarget(damaged);
  readAgain_.Reset();
}

void ConnectHandshake::RejectTarget(std::optional<Outcome> why) {
  StopTimer();
  s_.TargetConnected = false;
  Outcome rejected = why ? *why : Outcome{OutcomeKind::TargetRefused, kRejected};
  rejected.command = handshakeCommand_;
  End(rejected);
  display_.Dismiss();
}

void ConnectHandshake::End(Outcome outcome) {
  result_ = outcome;
  s_.Report(outcome);
}

void ConnectHandshake::Close() {
  StopTimer();
  if (s_.TargetConnected) s_.OfferTarget();
}

void ConnectHandshake::Send(const std::string& command) { s_.SendString(command); }

void ConnectHandshake::StartTimer() {
  timerActive_ = true;
  display_.StartTimer(timerInterval_);
}

void ConnectHandshake::StopTimer() {
  timerActive_ = false;
  display_.StopTimer();
}

}  // namespace varnel
