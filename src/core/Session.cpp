// Receive path and reply dispatcher of the session.
#include "core/Session.h"

#include <algorithm>
#include <chrono>
#include <exception>

namespace varnel {
namespace {

// Stands in until a window attaches, so a session never dereferences nothing.
QuietUi nullUi;

}  // namespace

Session::Session() : ui_(&nullUi) {}

void Session::AttachUi(TargetUi* ui) { ui_ = ui ? ui : &nullUi; }

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
  LastCommand = text;
  SendString(LastCommand.str() + payload);
}

void Session::RegisterHandler(const std::string& key, ReplyHandler handler) {
  handlers_[key] = std::move(handler);
}

void Session::RegisterRepeat(const std::string& key, std::function<std::string()> text) {
  repeats_[key] = std::move(text);
}

void Session::Comm1RxChar(CommPort& sender, int count) {
  // A port or sequence error inside the receive event is shown and the
  // receive path stays usable; nothing half-read is ever dispatched, because
  // bytes are appended only after a successful read.
  try {
    ReceiveChunk(sender, count);
  } catch (const std::exception& e) {
    ui_->MessageBox(MessageKind::Error, e.what());
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
    RxBuffer.push_back(readBuffer_[static_cast<std::size_t>(i)]);
    ui_->SetStatusPanel(kStatusReceive, ShowRxProgress ? "Receiving ... " +
                                                             std::to_string(RxBuffer.size()) +
                                                             " byte."
                                                       : std::string());
  }
  // A reply is a few hundred bytes; a target that babbles without end must
  // not grow the buffer without end. The oldest bytes go first.
  if (RxBuffer.size() > kMaxRxBuffer) RxBuffer.erase(0, RxBuffer.size() - kMaxRxBuffer);
  if (LastCommand.empty()) return;  // the handshake reads RxBuffer itself

  const std::string_view added(readBuffer_.data(), static_cast<std::size_t>(got));
  if (cmd::IsReplyTerminator(RxBuffer.back())) {
    ProcessRx();
  } else if (added.find('\0') != std::string_view::npos) {
    // A NUL in an unfinished reply: the loader lost the command; ask again.
    RxBuffer.clear();
    SendString(RepeatText());
  }
}

void Session::ProcessRx() {
  const std::string reply = std::move(RxBuffer);
  RxBuffer.clear();
  ++ReplyCount;

  if (StopRequested) {
    if (!ProgrammingActive || LastCommand.front() != 'L') {
      EndStoppedSequence();
      return;
    }
    ui_->SetToolBarsEnabled(true);
    // A line download ends itself in order through its own handler.
  }
  if (LastCommand.empty()) return;
  if (const ReplyHandler* handler = HandlerFor(LastCommand)) (*handler)(reply);
}

void Session::EndStoppedSequence() {
  ui_->SetToolBarsEnabled(true);
  StopRequested = false;
  EndProgramming();
  EndUploadAll();
  EndSequence();
  CurrentAddress = 0;
  ShowReceiveCount(true);
  for (auto& hook : stopHooks_) hook();
  // Whatever the stopped run's commands still bring in belongs to nobody:
  // it is dropped until the line has been quiet, so that it can reach
  // neither the next sequence nor the handshake.
  RxBuffer.clear();
  draining_ = true;
  ui_->RefreshAllViews();
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
  RxBuffer.clear();
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
    if (!RxBuffer.empty()) {
      RxBuffer.clear();
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
