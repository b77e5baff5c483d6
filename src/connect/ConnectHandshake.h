// The connect handshake as a state machine over the session: wakes the boot
// loader with carriage returns, takes its banner or bare prompt, reads the
// identification and baud-timer registers, names the chip and estimates its
// clock. The connect window owns the timer and calls tick(); everything the
// window shows goes through ConnectDisplay.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "connect/Identification.h"
#include "core/ReadAgain.h"
#include "core/Session.h"

namespace varnel {

class ConnectDisplay {
 public:
  virtual ~ConnectDisplay() = default;
  // Texts are 8-bit, as the loader sent them.
  virtual void ShowTarget(const std::string& text) = 0;    // Lbl_Target
  virtual void ShowFirmware(const std::string& text) = 0;  // Lbl_FW
  virtual void ShowSoftware(const std::string& text) = 0;  // Lbl_SW
  virtual void ShowCore(const std::string& text) = 0;      // Lbl_Core, repainted at once
  virtual void SetButtonsEnabled(bool enabled) = 0;    // Btn_Retry and Btn_Close
  virtual void StartTimer(int intervalMs) = 0;         // Timer1
  virtual void StopTimer() = 0;
  virtual void Dismiss() = 0;  // the attempt is over: the display goes away
};

// The value of a register reply: the two hex digits after the echo (when
// the reply begins with the command's own text) and any line break; none
// when the reply holds no two hex digits there.
std::optional<int> RegisterValue(std::string_view reply, std::string_view command);
// Clock estimates an MSC121x can run at; anything else means a misread.
inline constexpr std::int32_t kMinClockHz = 500000;
inline constexpr std::int32_t kMaxClockHz = 40000000;
bool PlausibleClock(std::int32_t hz);

class ConnectHandshake {
 public:
  static constexpr int kRetries = 3;
  static constexpr int kFirstTickMs = 500;
  static constexpr int kTickMs = 100;
  static constexpr int kCloseDelayMs = 1500;

  // format: how the clock estimate is written; none: the user's locale at
  // the time it is shown.
  ConnectHandshake(Session& session, ConnectDisplay& display,
                   std::optional<NumberFormat> format = std::nullopt);

  // The verbs of a connect. Prepare: labels blank, nothing awaited, timer
  // stopped, and the target reset through DTR/RTS when the settings ask for
  // it; a port that fails the reset is returned (the attempt goes on and
  // then fails for want of an answer).
  std::optional<Outcome> Prepare();
  // The first attempt: the line settled, receive counter off, then Retry.
  void Start();
  // A fresh attempt with three carriage returns.
  void Retry();
  // The timer's tick: the next step of the attempt.
  void Tick();
  // The end, however it came: timer stopped, the target offered when the
  // prompt was seen.
  void Close();
  // How the last attempt ended: none while it goes on (or stalls, an answer
  // without a prompt, until Retry). Finished, NoAnswer or TargetRefused; it
  // has also been reported through the session.
  const std::optional<Outcome>& Result() const { return result_; }

  // Inspection.
  const std::string& HandshakeCommand() const { return handshakeCommand_; }
  bool AwaitingReply() const { return awaitingReply_; }
  int RetriesLeft() const { return retriesLeft_; }
  const std::string& ReplyText() const { return replyText_; }
  bool TimerActive() const { return timerActive_; }
  int TimerInterval() const { return timerInterval_; }

 private:
  std::optional<Outcome> ResetPulse();
  void WaitForPrompt();
  void TakeRegisterReply();
  // The error exit: the target answered, but not as an MSC121x can (or,
  // given an outcome, not validly in its tries).
  void RejectTarget(std::optional<Outcome> why = std::nullopt);
  // A damaged register reply: asked again after the line went quiet, or
  // the end of the handshake once its tries are spent.
  void RegisterReplyDamaged(std::int32_t address, const std::string& fault);
  void End(Outcome outcome);
  void Send(const std::string& command);
  void StartTimer();
  void StopTimer();

  Session& s_;
  ConnectDisplay& display_;
  std::optional<NumberFormat> format_;
  std::string handshakeCommand_;
  bool awaitingReply_ = false;
  int retriesLeft_ = kRetries;
  std::string replyText_;
  bool timerActive_ = false;
  int timerInterval_ = kFirstTickMs;
  std::optional<Outcome> result_;
  ReadAgain readAgain_{s_};
};

}  // namespace varnel
