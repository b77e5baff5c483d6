// Progress lines on standard error.
#include "cli/Screen.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>

namespace varnel::cli {
namespace {

// A terminal line is redrawn at most this often: drawing it for every
// block would cost more than the block.
constexpr auto kRedraw = std::chrono::milliseconds(100);

std::string Rate(double unitsPerSecond, const std::string& unit) {
  char text[48];
  if (unit == "bytes" && unitsPerSecond >= 1000) {
    std::snprintf(text, sizeof text, "%.1f kB/s", unitsPerSecond / 1000);
  } else {
    std::snprintf(text, sizeof text, "%.0f %s/s", unitsPerSecond, unit == "bytes" ? "B" : unit.c_str());
  }
  return text;
}

}  // namespace

Screen::Mode Screen::ModeFor(bool quiet) {
  if (quiet) return Mode::Quiet;
  return ::isatty(STDERR_FILENO) ? Mode::Terminal : Mode::Lines;
}

void Screen::Note(const std::string& text) {
  if (mode_ == Mode::Quiet) return;
  if (sink_) return sink_(text, false);
  Break();
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
}

void Screen::Warn(const std::string& text) {
  if (sink_) return sink_("warning: " + text, false);
  Break();
  std::fprintf(stderr, "varnel-cli: warning: %s\n", text.c_str());
}

void Screen::Print(const std::string& line) {
  if (onPrint) return onPrint(line);
  std::printf("%s\n", line.c_str());
}

void Screen::Break() {
  if (!lineShowing_) return;
  std::fputc('\n', out_);
  std::fflush(out_);
  lineShowing_ = false;
}

void Screen::StartProgress(const ProgressStart& how) {
  // A line counts work: a step that counts nothing ends the count before it
  // and shows nothing of its own.
  if (how.step) {
    EndProgress();
    return;
  }
  how_ = how;
  open_ = true;
  position_ = how.position;
  active_ = std::move(plan_);
  plan_ = {};
  if (active_.label.empty()) {
    std::string lead = how.lead.empty() ? std::string("reading") : how.lead;
    if (!lead.empty() && lead.back() == ':') lead.pop_back();
    for (char& c : lead) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    active_.label = lead + " " + how.name;
  }
  if (active_.total == 0 && !active_.doneAt) {
    active_.total = static_cast<std::size_t>(std::max(how.maximum - how.minimum + 1, 0));
    const int minimum = how.minimum;
    active_.doneAt = [minimum](int position) {
      return static_cast<std::size_t>(std::max(position - minimum + 1, 0));
    };
  }
  stepped_ = false;
  started_ = Clock::now();
  drawn_ = {};
  Draw(true);
}

void Screen::StepProgress(int position, const std::string&) {
  if (!open_) return;
  position_ = position;
  stepped_ = true;
  Draw(false);
}

std::size_t Screen::Done() const {
  if (!active_.doneAt || !stepped_) return 0;  // the bar's first position is no work done
  return std::min(active_.doneAt(position_), active_.total);
}

std::string Screen::Figures(bool final) const {
  const std::size_t done = Done();
  const double seconds = std::chrono::duration<double>(Clock::now() - started_).count();
  // A rate over the first few milliseconds says nothing yet.
  const double rate = seconds > 0.05 || final ? static_cast<double>(done) / std::max(seconds, 1e-3) : 0;
  const std::string detail = active_.detail ? active_.detail() : std::string();
  char text[256];
  if (final) {
    // All of it done: the whole, once.
    char counts[64];
    if (done == active_.total && !detail.empty()) {
      std::snprintf(counts, sizeof counts, "%zu", done);
    } else {
      std::snprintf(counts, sizeof counts, "%zu of %zu", done, active_.total);
    }
    std::snprintf(text, sizeof text, "%s: %s %s%s in %.2f s, %s", active_.label.c_str(), counts,
                  active_.unit.c_str(), detail.c_str(), seconds, Rate(rate, active_.unit).c_str());
    return text;
  }
  std::string left = "";
  if (rate > 0 && done < active_.total) {
    const double s = static_cast<double>(active_.total - done) / rate;
    char t[32];
    std::snprintf(t, sizeof t, ", %.0f s left", std::ceil(s));
    left = t;
  }
  const std::string speed = rate > 0 ? ", " + Rate(rate, active_.unit) : std::string();
  std::snprintf(text, sizeof text, "%s: %zu/%zu %s%s%s%s", active_.label.c_str(), done,
                active_.total, active_.unit.c_str(), detail.c_str(), speed.c_str(), left.c_str());
  return text;
}

void Screen::Draw(bool force) {
  if (mode_ != Mode::Terminal) return;
  const auto now = Clock::now();
  if (!force && now - drawn_ < kRedraw) return;
  drawn_ = now;
  if (sink_) return sink_(Figures(false), true);
  std::fprintf(out_, "\r%s\x1b[K", Figures(false).c_str());
  std::fflush(out_);
  lineShowing_ = true;
}

void Screen::EndProgress() {
  if (!open_) return;
  open_ = false;
  if (mode_ == Mode::Quiet) return;
  if (sink_) return sink_(Figures(true), false);
  if (mode_ == Mode::Terminal) std::fputs("\r", out_);
  std::fprintf(out_, "%s%s\n", Figures(true).c_str(), mode_ == Mode::Terminal ? "\x1b[K" : "");
  std::fflush(out_);
  lineShowing_ = false;
}

void Screen::ShowNotice(const std::string&, const std::string& text, const std::string&) {
  Note(text);
}

void Screen::MessageBox(MessageKind kind, const std::string& text) {
  if (onMessage) onMessage(kind, text);
}

void Screen::RunEnded(const Outcome& outcome) {
  if (onRunEnded) onRunEnded(outcome);
}

void Screen::Sleep(int milliseconds) {
  if (onSleep) onSleep(milliseconds);
}

void StepLines::Start(const std::string& label, std::size_t bytes) {
  End();
  ProgressPlan plan;
  plan.label = label;
  plan.total = bytes;
  plan.doneAt = [this](int) { return done_; };
  screen_.SetPlan(std::move(plan));
  ProgressStart how;
  how.maximum = static_cast<int>(bytes);
  screen_.StartProgress(how);
  open_ = true;
  base_ = last_;
  done_ = 0;
}

void StepLines::Move(std::size_t done) {
  last_ = done;
  if (!open_) return;
  done_ = done > base_ ? done - base_ : 0;
  screen_.StepProgress(0, "");
}

void StepLines::End(const std::string& detail) {
  if (!open_) return;
  open_ = false;
  if (!detail.empty()) screen_.SetDetail(detail);
  screen_.EndProgress();
  screen_.ForgetPlan();
}

}  // namespace varnel::cli
