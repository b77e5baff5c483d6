// The command line's side of the line: the port, the session over it, the
// event loop that runs a sequence to its end, a reply time-out on every
// exchange, Ctrl+C, and the trace file. The sequences themselves are the
// window's; this only drives them without a window's fixed waits.
#pragma once

#include <QTimer>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cli/ExitStatus.h"
#include "cli/Screen.h"
#include "core/Session.h"
#include "link/CommInt.h"

class QSocketNotifier;

namespace varnel::cli {

class Link {
 public:
  // watchSignals: Ctrl+C and SIGTERM end the run.
  Link(Screen& screen, int timeoutMs, bool watchSignals = true);
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  Session& session() { return session_; }
  const Session& session() const { return session_; }
  TComm& Port() { return comm_; }

  // Throws CliFailure (bad usage) when the file cannot be created.
  void OpenTrace(const std::string& path);
  // Opens the port at the rate; throws CliFailure (port) when it cannot.
  void Open(const std::string& name, TBaudrate rate);
  void Close();

  // Runs the event loop until done() holds (true), a failure (false) or,
  // with maxMs given, until that much time passed (false).
  bool RunUntil(const std::function<bool()>& done, int maxMs = -1);

  // Ends the run: the first failure counts, and from then on nothing more
  // is sent.
  void Fail(const Outcome& outcome);
  const std::optional<Outcome>& Failed() const { return failure_; }

  // Replies to commands sent while no sequence waits through the dispatcher
  // (the handshake, the flash timing writes): each ends with the prompt.
  int AwaitedPrompts() const { return awaitedPrompts_; }
  void ForgetAwaited() { awaitedPrompts_ = 0; }

  // While on, waits of the sequences take their full time (the reset pulse
  // needs it); otherwise a wait lasts only until the replies it waits for
  // are in.
  void SetRealWaits(bool on) { realWaits_ = on; }

  // What one exchange may take: the command and a long reply on the line
  // at the current rate, plus the time-out.
  int ExchangeMs(std::size_t commandBytes) const;
  int TimeoutMs() const { return timeoutMs_; }
  // Bytes both ways since the port opened.
  long long BytesSent() const { return bytesSent_; }
  long long BytesReceived() const { return bytesReceived_; }

 private:
  class Tap;
  void Chunk(TraceDirection direction, std::string_view bytes);
  void Wait(int ms);
  void NoAnswer();
  void Interrupted(int signal);
  void OnBox(MessageKind kind, const std::string& text);
  void OnRunEnded(const Outcome& outcome);

  Screen& screen_;
  int timeoutMs_;
  TComm comm_;
  Session session_;
  std::unique_ptr<Tap> tap_;
  std::FILE* trace_ = nullptr;
  QTimer watchdog_;
  QSocketNotifier* signals_ = nullptr;
  std::optional<Outcome> failure_;
  int awaitedPrompts_ = 0;
  bool realWaits_ = false;
  bool ending_ = false;  // a download is being ended after Ctrl+C
  std::string lastSent_;
  std::string sinceSent_;  // received since the last command, for the message
  long long bytesSent_ = 0, bytesReceived_ = 0;
};

}  // namespace varnel::cli
