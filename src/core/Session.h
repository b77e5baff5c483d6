// The state the main window (or the command line) owns, without widgets:
// the port, the receive path and dispatcher, the link flags, the target
// facts, the memory images and the settings record. Sequences are built over
// it and reach the screen only through TargetUi. The flags of a run change
// only through the named transitions below.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/MemoryImages.h"
#include "core/Outcome.h"
#include "core/ProjectSettings.h"
#include "core/TargetUi.h"
#include "core/Version.h"
#include "link/CommPort.h"
#include "link/Commands.h"

namespace varnel {

// The pending command. Storing cuts the text to the loader's 10 characters,
// so the address fields stay where the reply handlers read them.
class PendingCommand {
 public:
  PendingCommand& operator=(std::string_view text) {
    text_.assign(text.substr(0, std::min(text.size(), cmd::kMaxCommandLength)));
    return *this;
  }
  operator const std::string&() const { return text_; }
  const std::string& str() const { return text_; }
  bool empty() const { return text_.empty(); }
  void clear() { text_.clear(); }
  char front() const { return text_.empty() ? '\0' : text_.front(); }
  bool operator==(std::string_view other) const { return text_ == other; }

 private:
  std::string text_;
};

class Session {
 public:
  using ReplyHandler = std::function<void(const std::string& reply)>;

  Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Wiring. The session does not own the port or the UI. Attaching a port
  // routes its receive event to Comm1RxChar.
  void AttachPort(CommPort* port);
  CommPort* Port() const { return port_; }
  void AttachUi(TargetUi* ui);  // nullptr: back to a screen that shows nothing
  TargetUi& Ui() const { return *ui_; }

  // Sending. SendString writes text in one write when the port is open and
  // the text is not empty; nothing is appended.
  void SendString(const std::string& text);
  // Store text as LastCommand (cut to 10) and send the stored text + payload.
  void SendCommand(std::string_view text, const std::string& payload = {});

  // Receiving: handler of the port's receive event.
  void Comm1RxChar(CommPort& sender, int count);
  // The dispatcher; called by Comm1RxChar once per complete reply.
  void ProcessRx();

  // Reply handlers register by the first letter(s) of LastCommand: "CR",
  // "CW", "F", "I", "L", "M", "R", "X".
  void RegisterHandler(const std::string& key, ReplyHandler handler);
  // What the NUL repeat sends again while a command of this key is pending;
  // without one it is the stored LastCommand. A line download registers one,
  // because its pending "L" is not what it last put on the wire.
  void RegisterRepeat(const std::string& key, std::function<std::string()> text);
  // Called by the stop branch when a sequence ends on a stop request (the
  // programming run closes its source file here).
  void AddStopHook(std::function<void()> hook) { stopHooks_.push_back(std::move(hook)); }
  // End a sequence as the dispatcher's stop branch does: toolbars enabled,
  // flags cleared, LastCommand empty, stop hooks run, open views redisplayed.
  // Also used when a stop request can no longer be answered by a reply.
  void EndStoppedSequence();
  // Ends the running sequence as a stop does, because nothing can answer
  // it any more (the port went away): outcome is how the run ended.
  void EndLostRun(const Outcome& outcome);
  // True after a stopped run until the next command goes out: bytes that
  // arrive meanwhile are late replies and dropped.
  bool DrainingLateReplies() const { return draining_; }

  // Reads and forgets whatever the port receives until the line has been
  // silent for quietMs, at most maxMs in all (waits go through the screen).
  void DrainLine(int quietMs, int maxMs);
  // A few long replies' time on the line at the port's rate, at least minimumMs.
  int LineQuietMs(int minimumMs) const;
  // Forgets what waits in the port and what arrives until the line has been
  // quiet as long as after a stop: the rest of a reply to an earlier,
  // interrupted exchange must not be taken for an answer.
  void SettleLine();

  // Run-state transitions. Each field a run changes is written here and
  // nowhere else, one place per meaning; every change that affects what the
  // window offers is published from PublishState.
  // A sequence starts: no stop request left over from an earlier run
  // counts for it.
  void BeginSequence() { stopRequested_ = false; }
  // The user asked the running sequence to stop; the next complete reply
  // (or the Cancel watchdog) ends it.
  void RequestStop() { stopRequested_ = true; }
  // The sequence has its last reply: nothing is pending any more.
  void EndSequence();
  // A command awaits its reply without being sent alone: a line download's
  // "L" goes out with its record (SendString sends it).
  void Await(std::string_view command);
  // A new run takes the link over: whatever still waited for a reply is
  // abandoned, so neither it nor an old stop request meets the new replies.
  void AbandonPending();
  void BeginUploadAll();
  void EndUploadAll();
  void BeginProgramming() { programmingActive_ = true; }
  void EndProgramming() { programmingActive_ = false; }
  // The receive counter of the status bar: off while a sequence shows its
  // own progress.
  void ShowReceiveCount(bool on) { showRxProgress_ = on; }

  // The receive buffer: emptied before a command whose reply is read whole,
  // taken whole by the handshake, which reads it itself.
  void ClearRx() { rxBuffer_.clear(); }
  std::string TakeRx();

  // The port as the session uses it: opened and closed by whoever owns the
  // settings (the window's LoadProperties, the command line's link).
  void NotePortOpened() { portOpen_ = true; }
  void NotePortClosed() { portOpen_ = false; }

  // Addresses of the running sequence.
  void SetCurrentAddress(std::int32_t address) { currentAddress_ = address; }
  void SetEndAddress(std::int32_t address) { endAddress_ = address; }
  // The address the pending command asked for (its fixed field), made the
  // current one: where the reply in hand belongs.
  std::int32_t TakeReplyAddress();

  // The program file: chosen directly (Open, the command line) or the one
  // the settings name ("HexBin"), which it follows until one is chosen.
  void ChooseProgramFile(const std::string& path);
  void FollowSettingsProgramFile(const std::string& hexBin);
  void ForgetProgramFile();

  // The target commands are offered once a connect window closes with the
  // target connected; a later failed attempt does not withdraw them, only
  // the start-up does.
  void OfferTarget();
  void WithdrawTarget();

  // Runs and their outcomes. A run that started (past its silent refusals)
  // ends with exactly one outcome through Report; an outcome also reports a
  // port that failed under the session while nothing ran.
  void BeginRun() { runOpen_ = true; }
  bool RunOpen() const { return runOpen_; }
  void Report(const Outcome& outcome);
  const std::optional<Outcome>& LastOutcome() const { return lastOutcome_; }
  using OutcomeListener = std::function<void(const Outcome&)>;
  void AddOutcomeListener(OutcomeListener listener) {
    outcomeListeners_.push_back(std::move(listener));
  }

  // What the window offers, derived from the state above.
  bool ToolBarsEnabled() const;
  bool TargetButtonsEnabled() const { return targetReady_; }

  // Link state, readable by all; written only through the operations above.
  const std::string& RxBuffer = rxBuffer_;
  const PendingCommand& LastCommand = lastCommand_;
  const bool& PortOpen = portOpen_;
  const bool& ShowRxProgress = showRxProgress_;
  const bool& StopRequested = stopRequested_;
  const bool& ProgrammingActive = programmingActive_;
  const bool& UploadAllActive = uploadAllActive_;
  const std::int32_t& CurrentAddress = currentAddress_;
  const std::int32_t& EndAddress = endAddress_;
  bool TargetConnected = false;
  // Complete replies taken by ProcessRx so far; lets a stop request tell
  // whether any reply came after it.
  std::uint64_t ReplyCount = 0;
  // Damaged replies whose command was sent again (ReadAgain); a run reports
  // how many it needed.
  std::uint64_t RepliesReadAgain = 0;
  // When the last byte came in; a waiting command's display tells a silent
  // line from a slow one by it.
  std::chrono::steady_clock::time_point LastRxTime{};

  // Target facts from the handshake.
  std::string TargetName;
  std::string FirmwareVersion;
  int TargetIdCode = 0;
  std::int32_t CoreClockHz = 0;  // estimate from the baud timer's reload

  MemoryImages Images;
  ProjectSettingsRecord ProjectSettings;

  // Main-window state the settings and file commands keep.
  std::string ProjectFile;
  std::string WorkDir;
  const std::string& ProgramFile = programFile_;
  const bool& ProgramFileChosen = programFileChosen_;
  static constexpr const char* ProgramVersion = kProgramVersion;

  // RxBuffer keeps at most this many of the latest bytes.
  static constexpr std::size_t kMaxRxBuffer = 64 * 1024;

  static constexpr int kStatusPort = 0;
  static constexpr int kStatusReceive = 1;
  static constexpr int kStatusProgram = 2;

 private:
  // The one place the window's enabled commands are derived: called after
  // every change of the state they depend on, it tells the screen when
  // they change.
  void PublishState();
  void ReceiveChunk(CommPort& sender, int count);
  void DrainLateReplies();
  static constexpr int kDrainStepMs = 5;
  static constexpr int kLateQuietMs = 100;
  static constexpr int kLateDrainMaxMs = 1500;
  bool draining_ = false;
  const ReplyHandler* HandlerFor(const std::string& command) const;
  std::string RepeatText() const;

  CommPort* port_ = nullptr;
  // Stands in until a screen attaches, so a session never dereferences
  // nothing; each session has its own, as it has everything else.
  QuietUi quiet_;
  TargetUi* ui_ = nullptr;
  std::map<std::string, ReplyHandler> handlers_;
  std::map<std::string, std::function<std::string()>> repeats_;
  std::vector<std::function<void()>> stopHooks_;
  std::vector<char> readBuffer_;

  std::string rxBuffer_;
  PendingCommand lastCommand_;
  bool portOpen_ = false;
  bool showRxProgress_ = true;
  bool stopRequested_ = false;
  bool programmingActive_ = false;
  bool uploadAllActive_ = false;
  bool targetReady_ = false;
  std::int32_t currentAddress_ = 0;
  std::int32_t endAddress_ = 0;
  std::string programFile_;
  bool programFileChosen_ = false;
  bool runOpen_ = false;
  std::optional<Outcome> lastOutcome_;
  std::vector<OutcomeListener> outcomeListeners_;
  // What the screen was last told.
  bool shownToolBars_ = true;
  bool shownTargetButtons_ = false;
};

}  // namespace varnel
