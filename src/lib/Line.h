// One Target's side of the line, on the Target's own thread: the port, the
// session and engine over it, the loop that runs a run to its end, a reply
// time-out on every exchange, cancel, the trace file, and the progress the
// caller asked for. The sequences are the engine's; this drives them
// without a window's fixed waits.
#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/Session.h"
#include "engine/Engine.h"
#include "link/CommInt.h"
#include "varnel/errors.h"
#include "varnel/options.h"

namespace varnel::lib {

// The settings a library run works with: the window's defaults with the
// Target's options over them; no settings file is read.
class FixedSettings : public SettingsSource {
 public:
  FixedSettings(Session& session, const TargetOptions& options, const std::string& port)
      : session_(session), options_(options), port_(port) {}
  void LoadProperties() override;

 private:
  Session& session_;
  const TargetOptions& options_;
  std::string port_;
};

class Line : public QuietUi {
 public:
  // cancel is set from any thread; the loop looks at it after every event.
  Line(const TargetOptions& options, const std::atomic<bool>& cancel);
  ~Line() override;
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  // Opens the trace file and the port; throws BadFile or PortError.
  void Open(const std::string& port);
  // Closes the port; the line settings it had before come back.
  void Close();
  // A fresh session and engine over the open port: what a connect starts
  // from, whatever an earlier run left behind.
  void Renew();
  Session& session() { return *session_; }
  Engine& engine() { return *engine_; }
  TComm& Port() { return comm_; }
  const std::string& Device() const { return device_; }
  // The port's rate of a baud figure; none for a rate it does not run at.
  static std::optional<TBaudrate> LineRate(int baud);

  // A verb starts on a connected target: how the last run ended (a
  // refusal, differences) does not count for it.
  void BeginVerb();
  // Runs the event loop until done() holds (true), a failure (false) or,
  // with maxMs given, until that much time passed (false).
  bool RunUntil(const std::function<bool()>& done, int maxMs = -1);
  // Runs a verb of the engine to the end of its run; throws the error the
  // run ended with.
  void Run(const std::function<bool(Engine&)>& verb);
  // Throws the failure that ended the run, if any.
  void Check();

  // Ends the run: the first failure counts, and from then on nothing more
  // is sent.
  void Fail(const Outcome& outcome);
  const std::optional<Outcome>& Failed() const { return failure_; }

  // Replies to commands sent while no sequence waits through the dispatcher
  // (the handshake, the flash timing writes): each ends with the prompt.
  int AwaitedPrompts() const { return awaitedPrompts_; }
  void ForgetAwaited() { awaitedPrompts_ = 0; }
  // No reply is awaited any more.
  void StopWaiting() { watchdog_.stop(); }
  void SetRealWaits(bool on) { realWaits_ = on; }
  // What one exchange may take: the command and a long reply on the line.
  int ExchangeMs(std::size_t commandBytes) const;

  // Progress of the next runs: doneAt turns the bar's position into bytes.
  void SetProgress(Progress progress, std::size_t total, std::function<std::size_t(int)> doneAt);
  void EndProgressReport(bool finished);
  // Work found on the way (a block read again) counts from here on.
  void GrowProgress(std::size_t bytes) { total_ += bytes; }

  // The user's own reset: a shell command, bounded in time, ended by cancel.
  void RunResetCommand(const std::string& command);

  // TargetUi
  void StartProgress(const ProgressStart& how) override;
  void StepProgress(int position, const std::string& text) override;
  bool ProgressOpen() const override { return progressOpen_; }
  int ProgressPosition() const override { return position_; }
  void EndProgress() override;
  void RunEnded(const Outcome& outcome) override;
  void Sleep(int milliseconds) override;
  void ShowNotice(const std::string& caption, const std::string& text,
                  const std::string& button) override;
  void MessageBox(MessageKind kind, const std::string& text) override;

  // Hands a message to the caller's on_message, if any.
  void Say(Message::Kind kind, const std::string& text, std::size_t bytes = 0);

 private:
  class Tap;
  void Chunk(TraceDirection direction, std::string_view bytes);
  void NoAnswer();
  void Interrupted();
  void Report(std::size_t done);

  const TargetOptions& options_;
  const std::atomic<bool>& cancel_;
  TComm comm_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<FixedSettings> settings_;
  std::unique_ptr<Engine> engine_;
  std::unique_ptr<Tap> tap_;
  std::FILE* trace_ = nullptr;
  QTimer watchdog_;
  std::optional<Outcome> failure_;
  std::uint64_t outcomes_ = 0;
  int awaitedPrompts_ = 0;
  bool realWaits_ = false;
  bool ending_ = false;  // a download is being ended after a cancel
  std::string device_;
  std::string lastSent_;
  std::string sinceSent_;

  Progress progress_;
  std::size_t total_ = 0;
  std::size_t doneBefore_ = 0;  // by the displays closed so far
  std::size_t doneNow_ = 0;     // by the open display
  std::function<std::size_t(int)> doneAt_;
  bool progressOpen_ = false;
  int position_ = 0;
  int minimum_ = 0;
  std::exception_ptr progressError_;  // the caller's progress function threw
};

}  // namespace varnel::lib
