// Receive path and reply dispatcher of the session.
#include "core/Session.h"

#include <algorithm>
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

  for (int i = 0; i < got; ++i) {
    RxBuffer.push_back(readBuffer_[static_cast<std::size_t>(i)]);
    ui_->SetStatusPanel(kStatusReceive, ShowRxProgress ? "Receiving ... " +
                                                             std::to_string(RxBuffer.size()) +
                                                             " byte."
                                                       : std::string());
  }
  if (LastCommand.empty()) return;  // the handshake reads RxBuffer itself

  if (cmd::IsReplyTerminator(RxBuffer.back())) {
    ProcessRx();
  } else if (RxBuffer.find('\0') != std::string::npos) {
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
  for (auto& hook : stopHooks_) hook();
  ui_->RefreshAllViews();
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
