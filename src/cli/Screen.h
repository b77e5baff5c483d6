// The command line's screen: the sequences' progress calls written to
// standard error (one self-rewriting line on a terminal, one line per step
// otherwise, nothing when quiet). Boxes, run outcomes and waits are handed
// to whoever drives the run.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "core/TargetUi.h"

namespace varnel::cli {

// How the next progress display counts: a label, the units of the whole
// step and how many of them are done when the bar stands at a position.
struct ProgressPlan {
  std::string label;   // "reading CODE 0000h-7FFFh"
  std::size_t total = 0;
  std::string unit = "bytes";
  std::function<std::size_t(int position)> doneAt;
  // Said after the counts when given: ", 4096 sent (28672 erased bytes skipped)".
  std::function<std::string()> detail;
};

class Screen : public QuietUi {
 public:
  enum class Mode { Terminal, Lines, Quiet };
  // Terminal when standard error is one, Lines otherwise, Quiet when asked.
  static Mode ModeFor(bool quiet);

  explicit Screen(Mode mode, std::FILE* out = stderr) : mode_(mode), out_(out) {}
  // Lines go to sink instead of a file: rewrite is true for a terminal
  // line that the next one replaces. For one board among several.
  using Sink = std::function<void(const std::string& text, bool rewrite)>;
  Screen(Mode mode, Sink sink) : mode_(mode), out_(stderr), sink_(std::move(sink)) {}
  Mode mode() const { return mode_; }
  ~Screen() override { Break(); }

  // A step without a bar, as a line of its own ("connected: ...").
  void Note(const std::string& text);
  // Used by the next StartProgress; without one the bar's own range counts.
  void SetPlan(ProgressPlan plan) { plan_ = std::move(plan); }
  // Once the run a plan counts for is over: neither the plan nor a display
  // left open by a failure reads its counts any more.
  void ForgetPlan() {
    plan_ = {};
    active_.detail = nullptr;
  }
  // Said after the counts of the open display from now on.
  void SetDetail(std::string text) {
    active_.detail = [text = std::move(text)] { return text; };
  }
  // Ends a progress line still showing on the terminal, so that an error
  // message starts on a line of its own.
  void Break();
  // A warning ("varnel-cli: warning: ..."), shown also when quiet.
  void Warn(const std::string& text);
  // A result line of a command: standard output, or onPrint's.
  void Print(const std::string& line);

  // Takes the result lines of one board among several.
  std::function<void(const std::string&)> onPrint;
  std::function<void(MessageKind, const std::string&)> onMessage;
  std::function<void(const Outcome&)> onRunEnded;
  std::function<void(int ms)> onSleep;

  void StartProgress(const ProgressStart& how) override;
  void StepProgress(int position, const std::string& text) override;
  bool ProgressOpen() const override { return open_; }
  int ProgressPosition() const override { return position_; }
  void EndProgress() override;
  void ShowNotice(const std::string& caption, const std::string& text,
                  const std::string& button) override;
  void MessageBox(MessageKind kind, const std::string& text) override;
  void RunEnded(const Outcome& outcome) override;
  void Sleep(int milliseconds) override;

 private:
  using Clock = std::chrono::steady_clock;
  std::size_t Done() const;
  std::string Figures(bool final) const;
  void Draw(bool force);

  Mode mode_;
  std::FILE* out_;
  Sink sink_;
  ProgressPlan plan_;    // the plan given for the next display
  ProgressPlan active_;  // the plan of the open display
  ProgressStart how_;
  bool open_ = false;
  bool stepped_ = false;      // the bar moved since the display opened
  bool lineShowing_ = false;  // a terminal line without its line end
  int position_ = 0;
  Clock::time_point started_{};
  Clock::time_point drawn_{};
};

// The progress of a library run on a Screen: each step the run names opens
// a line of its own, and the run's byte counts, which go on over its steps,
// move it.
class StepLines {
 public:
  explicit StepLines(Screen& screen) : screen_(screen) {}
  ~StepLines() { End(); }
  StepLines(const StepLines&) = delete;
  StepLines& operator=(const StepLines&) = delete;
  void Start(const std::string& label, std::size_t bytes);
  void Move(std::size_t done);
  // The open line with its final figures, detail said after its counts.
  void End(const std::string& detail = {});
  // The next run counts from 0 again.
  void Restart() {
    End();
    last_ = 0;
  }

 private:
  Screen& screen_;
  bool open_ = false;
  std::size_t base_ = 0;  // the run's count when the line opened
  std::size_t last_ = 0;  // the run's count as last reported
  std::size_t done_ = 0;  // of the open line
};

}  // namespace varnel::cli
