// Progress window management for the sequences.
#include "memory/ProgressHost.h"

#include <cctype>
#include <cstdio>

namespace varnel {
namespace {

QString Text(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Seconds of bar movement the speed is taken over.
constexpr std::size_t kRateSamples = 5;

// The unit of a count text ("0 lines": "lines"); none for a text that
// counts nothing.
std::string UnitOf(const std::string& text) {
  const std::size_t space = text.rfind(' ');
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text.front()))) return {};
  return space == std::string::npos ? std::string("bytes") : text.substr(space + 1);
}

}  // namespace

ProgressHost::ProgressHost(Session& session, QWidget* owner)
    : QObject(owner), s_(session), owner_(owner), watchdog_(session) {
  stopTimer_.setSingleShot(true);
  connect(&stopTimer_, &QTimer::timeout, this, &ProgressHost::CheckStop);
  watch_.setInterval(kWatchMs);
  connect(&watch_, &QTimer::timeout, this, &ProgressHost::WatchTick);
}

std::string ProgressHost::RateText(double perSecond, const std::string& unit) {
  char text[64];
  if (perSecond < 10) {
    std::snprintf(text, sizeof text, "%.1f %s/s", perSecond, unit.c_str());
  } else {
    std::snprintf(text, sizeof text, "%.0f %s/s", perSecond, unit.c_str());
  }
  return text;
}

void ProgressHost::WatchTick() {
  if (!window_ || notice_) {
    watch_.stop();
    return;
  }
  using namespace std::chrono;
  const steady_clock::time_point now = Now();
  const int position = window_->ProgressBar1()->value();
  if (unit_.empty()) {
    window_->SetRate(QString());
  } else if (samples_.empty() || now - samples_.back().first >= seconds(1)) {
    samples_.emplace_back(now, position);
    if (samples_.size() > kRateSamples + 1) samples_.pop_front();
    if (samples_.size() > 1) {
      const double span = duration<double>(now - samples_.front().first).count();
      const double moved = position - samples_.front().second;
      if (span > 0) window_->SetRate(Text(RateText(std::max(moved, 0.0) / span, unit_)));
    }
  }
  // Quiet since the last byte, or since the window opened when that came
  // before the run.
  const steady_clock::time_point quietSince = std::max(s_.LastRxTime, openedAt_);
  const bool silent = !s_.LastCommand.empty() && now - quietSince >= kSilentAfter;
  const std::string note = NoReplyText(static_cast<int>(kSilentAfter.count())) + ", or Cancel";
  window_->SetNote(silent ? QString::fromStdString(note) : QString());
}

void ProgressHost::LayOut() {
  if (window_) window_->LayOut();
}

ProgressHost::~ProgressHost() {
  if (window_) delete window_.data();
}

void ProgressHost::StartProgress(const ProgressStart& how) {
  // One run keeps one window from its first step to the end of what it
  // counts: it neither flickers nor moves between them.
  if (!window_ || notice_ || !(how.step || step_)) ProgressCreate();
  step_ = how.step;
  ProgressSetBar(how.minimum, how.maximum, how.position);
  if (!how.lead.empty()) ProgressSetLead(how.lead);
  if (!how.caption.empty()) ProgressSetCaption(how.caption);
  // The count text names what the bar counts: "0 bytes", "0 lines".
  unit_ = UnitOf(how.text);
  ProgressSetBytes(how.text);
  ProgressSetName(how.name);
}

void ProgressHost::StepProgress(int position, const std::string& text) {
  if (!window_) return;
  ProgressSetPosition(position);
  ProgressSetBytes(text);
}

void ProgressHost::ShowNotice(const std::string& caption, const std::string& text,
                              const std::string& button) {
  ProgressCreate();
  ProgressSetNoticeLook(text, button);
  ProgressSetCaption(caption);
}

void ProgressHost::ProgressCreate() {
  ProgressClose();  // at most one at a time
  auto* window = new TF_Progress(owner_);
  window_ = window;
  notice_ = false;
  step_ = false;
  window->OnCancel = [this] { CancelPressed(); };
  connect(window, &TF_Progress::Closed, this, [this, window] {
    if (window_ == window) {
      window_ = nullptr;
      watch_.stop();
    }
  });
  window->CentreOn(owner_);
  window->show();
  openedAt_ = Now();
  samples_.clear();
  samples_.emplace_back(openedAt_, window->ProgressBar1()->value());
  watch_.start();
}

void ProgressHost::ProgressClose() {
  watch_.stop();
  if (TF_Progress* window = window_.data()) {
    window_ = nullptr;
    window->close();
  }
}

void ProgressHost::ProgressSetBar(int minimum, int maximum, int position) {
  if (!window_) return;
  window_->ProgressBar1()->setRange(minimum, maximum);
  window_->ProgressBar1()->setValue(position);
  samples_.clear();
  samples_.emplace_back(Now(), position);
  LayOut();
}

void ProgressHost::ProgressSetPosition(int position) {
  if (!window_) return;
  // The bar repaints itself at once whenever the new value moves it on
  // screen, so it moves while replies are handled; repainting it for every
  // reply would cost more than the exchange itself.
  window_->ProgressBar1()->setValue(position);
}

int ProgressHost::ProgressPosition() const {
  return window_ ? window_->ProgressBar1()->value() : 0;
}

void ProgressHost::ProgressSetName(const std::string& text) {
  if (!window_) return;
  window_->Lbl_Name()->setText(Text(text));
  LayOut();
}

void ProgressHost::ProgressSetBytes(const std::string& text) {
  if (!window_) return;
  QLabel* label = window_->Lbl_Bytes();
  const QString shown = Text(text);
  if (label->text() == shown) return;
  // One more digit may need a wider label; other counts fit where they are.
  const bool longer = shown.size() != label->text().size();
  label->setText(shown);
  if (longer) LayOut();
}

void ProgressHost::ProgressSetCaption(const std::string& text) {
  if (window_) window_->setWindowTitle(Text(text));
}

void ProgressHost::ProgressSetLead(const std::string& text) {
  if (!window_) return;
  window_->Label1()->setText(Text(text));
  LayOut();
}

void ProgressHost::ProgressSetNoticeLook(const std::string& lead, const std::string& button) {
  if (!window_) return;
  notice_ = true;
  TF_Progress* w = window_.data();
  w->ProgressBar1()->hide();
  w->Lbl_Bytes()->hide();
  QLabel* label = w->Label1();
  label->setText(Text(lead));
  QFont font = label->font();
  font.setBold(false);
  label->setFont(font);
  QPalette red = label->palette();
  red.setColor(QPalette::WindowText, Qt::red);
  label->setPalette(red);
  label->move(label->x(), 32);
  w->Btn_Cancel()->setText(Text(button));
  w->LayOut();
  w->repaint();
}

void ProgressHost::CancelPressed() {
  // The completion notice reports a finished run: its button only closes it,
  // so no stop request is left behind for the next sequence.
  if (notice_) return;
  const int delay = watchdog_.Cancel();
  if (delay > 0) {
    stopTimer_.start(delay);
  } else {
    stopTimer_.stop();
  }
}

void ProgressHost::CheckStop() {
  const int delay = watchdog_.Check();
  if (delay > 0) stopTimer_.start(delay);
}

}  // namespace varnel
