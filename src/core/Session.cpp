// Receive path and reply dispatcher of the session.
#include "core/Session.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

namespace varnel {

Session::Session() : ui_(&quiet_) {}

void Session::AttachUi(TargetUi* ui) {
  ui_ = ui ? ui : &quiet_;
  // A new screen starts from what the state offers now.
  shownToolBars_ = ToolBarsEnabled();
  shownTargetButtons_ = TargetButtonsEnabled();
  ui_->SetToolBarsEnabled(shownToolBars_);
  ui_->SetTargetButtonsEnabled(shownTargetButtons_);
}

void Session::AttachPort(CommPort* port) {
  port_ = port;
  if (port_) {
    port_->OnRxChar = [this](CommPort& sender, int count) { Comm1RxChar(sender, count); };
  }
}

void Session::SendString(const std::string& text) {
  if (!PortOpen || text.empty() || !port_) return;
  if (draining_) DrainLateReplies();
  port_->Write(text.data(), static_cast<int>(text.size()));
}

void Session::SendCommand(std::string_view text, const std::string& payload) {
  lastCommand_ = text;
  PublishState();
  SendString(LastCommand.str() + payload);
}

void Session::Await(std::string_view command) {
  lastCommand_ = command;
  PublishState();
}

void Session::EndSequence() {
  lastCommand_.clear();
  PublishState();
}

void Session::AbandonPending() {
  lastCommand_.clear();
  programmingActive_ = false;
  stopRequested_ = false;
  PublishState();
}

void Session::BeginUploadAll() {
  uploadAllActive_ = true;
  PublishState();
}

void Session::EndUploadAll() {
  uploadAllActive_ = false;
  PublishState();
}

std::string Session::TakeRx() {
  std::string taken = std::move(rxBuffer_);
  rxBuffer_.clear();
  return taken;
}

std::int32_t Session::TakeReplyAddress() {
  currentAddress_ = cmd::AddressField(LastCommand.str());
  return currentAddress_;
}

void Session::ChooseProgramFile(const std::string& path) {
  programFile_ = path;
  programFileChosen_ = true;
}

void Session::FollowSettingsProgramFile(const std::string& hexBin) {
  if (!programFileChosen_) programFile_ = hexBin;
}

void Session::ForgetProgramFile() {
  programFile_.clear();
  programFileChosen_ = false;
}

void Session::OfferTarget() {
  targetReady_ = true;
  PublishState();
}

void Session::WithdrawTarget() {
  targetReady_ = false;
  PublishState();
}

void Session::Report(const Outcome& outcome) {
  runOpen_ = false;
  lastOutcome_ = outcome;
  ui_->RunEnded(outcome);
  for (const auto& listener : outcomeListeners_) listener(outcome);
}

namespace {

// Uploads hold the toolbars while their read commands are pending.
bool IsReadCommand(const std::string& command) {
  if (command.empty()) return false;
  switch (command[0]) {
    case 'C': return command.size() > 1 && command[1] == 'R';
    case 'X':
    case 'I':
    case 'F':
    case 'R': return true;
    default: return false;
  }
}

}  // namespace

bool Session::ToolBarsEnabled() const {
  return !uploadAllActive_ && !IsReadCommand(lastCommand_.str());
}

void Session::PublishState() {
  const bool toolBars = ToolBarsEnabled();
  if (toolBars != shownToolBars_) {
    shownToolBars_ = toolBars;
    ui_->SetToolBarsEnabled(toolBars);
  }
  const bool targetButtons = TargetButtonsEnabled();
  if (targetButtons != shownTargetButtons_) {
    shownTargetButtons_ = targetButtons;
    ui_->SetTargetButtonsEnabled(targetButtons);
  }
}

void Session::RegisterHandler(const std::string& key, ReplyHandler handler) {
  handlers_[key] = std::move(handler);
}

void Session::RegisterRepeat(const std::string& key, std::function<std::string()> text) {
  repeats_[key] = std::move(text);
}

void Session::Comm1RxChar(CommPort& sender, int count) {
  // A port or sequence error inside the receive event is reported and the
  // receive path stays usable; nothing half-read is ever dispatched, because
  // bytes are appended only after a successful read. This is the engine's
  // edge for the port's exceptions: they leave it as outcomes.
  try {
    ReceiveChunk(sender, count);
  } catch (const std::exception& e) {
    Report({OutcomeKind::PortFailed, e.what()});
  }
  ui_->ProcessEvents();
}

void Session::ReceiveChunk(CommPort& sender, int count) {
  const int size = std::max(sender.ReadBufSize(), 1);
  readBuffer_.assign(static_cast<std::size_t>(size), '\0');
  const int got = sender.Read(readBuffer_.data(), std::min(count, size));
  if (got <= 0) return;
  LastRxTime = std::chrono::steady_clock::now();
  if (draining_) return;  // a late reply of a stopped run: nobody's

  for (int i = 0; i < got; ++i) {
    rxBuffer_.push_back(readBuffer_[static_cast<std::size_t>(i)]);
    ui_->SetStatusPanel(kStatusReceive, ShowRxProgress ? "Receiving ... " +
                                                             std::to_string(RxBuffer.size()) +
                                                             " byte."
                                                       : std::string());
  }
  // A reply is a few hundred bytes; a target that babbles without end must
  // not grow the buffer without end. The oldest bytes go first.
  if (rxBuffer_.size() > kMaxRxBuffer) rxBuffer_.erase(0, rxBuffer_.size() - kMaxRxBuffer);
  if (LastCommand.empty()) return;  // the handshake reads RxBuffer itself

  const std::string_view added(readBuffer_.data(), static_cast<std::size_t>(got));
  if (cmd::IsReplyTerminator(RxBuffer.back())) {
    ProcessRx();
  } else if (added.find('\0') != std::string_view::npos) {
    // A NUL in an unfinished reply: the loader lost the command; ask again.
    rxBuffer_.clear();
    SendString(RepeatText());
  }
}

void Session::ProcessRx() {
  const std::string reply = TakeRx();
  ++ReplyCount;

  if (StopRequested) {
    if (!ProgrammingActive || LastCommand.front() != 'L') {
      EndStoppedSequence();
      return;
    }
    // A line download ends itself in order through its own handler.
  }
  if (LastCommand.empty()) return;
  if (const ReplyHandler* handler = HandlerFor(LastCommand)) (*handler)(reply);
}

void Session::EndStoppedSequence() {
  stopRequested_ = false;
  programmingActive_ = false;
  uploadAllActive_ = false;
  lastCommand_.clear();
  currentAddress_ = 0;
  PublishState();
  ShowReceiveCount(true);
  for (auto& hook : stopHooks_) hook();
  // Whatever the stopped run's commands still bring in belongs to nobody:
  // it is dropped until the line has been quiet, so that it can reach
  // neither the next sequence nor the handshake.
  rxBuffer_.clear();
  draining_ = true;
  ui_->RefreshAllViews();
  // A run that has not said how it ended (a programming run has, at the
  // stop request) ends as stopped.
  if (runOpen_) Report({OutcomeKind::Interrupted, {}});
}

void Session::EndLostRun(const Outcome& outcome) {
  const bool running = runOpen_ || !lastCommand_.empty() || programmingActive_ || uploadAllActive_;
  runOpen_ = false;  // its outcome is this one, not "stopped"
  EndStoppedSequence();
  if (running) Report(outcome);
}

int Session::LineQuietMs(int minimumMs) const {
  constexpr int kLongReply = 64;  // characters; a data reply with echo is about 60
  const int baud = port_ ? BaudRateValue(port_->BaudRate()) : BaudRateValue(kDefaultBaudRate);
  return std::max(minimumMs, kLongReply * 10 * 1000 / std::max(baud, 1));
}

void Session::DrainLateReplies() {
  draining_ = false;
  const int quiet = LineQuietMs(kLateQuietMs);
  DrainLine(quiet, std::max(kLateDrainMaxMs, 2 * quiet));
  rxBuffer_.clear();
}

namespace {

// Waits of the line itself, not of a sequence: a screen does not count them.
class LineWaits : public QuietUi {
 public:
  void Sleep(int milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
};

}  // namespace

void Session::SettleLine() {
  LineWaits waits;
  TargetUi* screen = ui_;
  ui_ = &waits;
  const int quiet = LineQuietMs(kLateQuietMs);
  DrainLine(quiet, std::max(kLateDrainMaxMs, 2 * quiet));
  ui_ = screen;
  rxBuffer_.clear();
}

void Session::DrainLine(int quietMs, int maxMs) {
  using Clock = std::chrono::steady_clock;
  CommPort* port = port_;
  if (!PortOpen || !port || !port->IsOpen()) return;
  std::vector<char> buffer(static_cast<std::size_t>(std::max(port->ReadBufSize(), 1)));
  const auto quiet = std::chrono::milliseconds(quietMs);
  const auto start = Clock::now();
  auto lastTraffic = start;
  for (;;) {
    const auto now = Clock::now();
    if (now - lastTraffic >= quiet || now - start >= std::chrono::milliseconds(maxMs)) return;
    int got = 0;
    try {
      got = port->Read(buffer.data(), static_cast<int>(buffer.size()));
    } catch (const std::exception&) {
      return;  // a line that went away has nothing more to say
    }
    if (got > 0) {
      lastTraffic = Clock::now();
      continue;  // read again at once: more may be waiting
    }
    // A window whose waits let the receive path run collects the bytes in
    // RxBuffer instead; they count as traffic all the same.
    ui_->Sleep(kDrainStepMs);
    if (!rxBuffer_.empty()) {
      rxBuffer_.clear();
      lastTraffic = Clock::now();
    }
  }
}

namespace {

// The handler key of a pending command: its first letter, for "C" two.
std::string KeyOf(const std::string& command) {
  if (command.empty()) return {};
  if (command[0] == 'C') {
    std::string key = command.substr(0, 2);
    return key == "CR" || key == "CW" ? key : std::string();
  }
  return command.substr(0, 1);
}

}  // namespace

const Session::ReplyHandler* Session::HandlerFor(const std::string& command) const {
  auto it = handlers_.find(KeyOf(command));
  return it == handlers_.end() ? nullptr : &it->second;
}

std::string Session::RepeatText() const {
  auto it = repeats_.find(KeyOf(LastCommand));
  return it == repeats_.end() || !it->second ? LastCommand.str() : it->second();
}

}  // namespace varnel
