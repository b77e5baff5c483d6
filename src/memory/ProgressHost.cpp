// Progress window management for the sequences.
#include "memory/ProgressHost.h"

namespace varnel {
namespace {

QString Text(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

ProgressHost::ProgressHost(Session& session, QWidget* owner)
    : QObject(owner), s_(session), owner_(owner), watchdog_(session) {
  stopTimer_.setSingleShot(true);
  connect(&stopTimer_, &QTimer::timeout, this, &ProgressHost::CheckStop);
}

ProgressHost::~ProgressHost() {
  if (window_) delete window_.data();
}

void ProgressHost::StartProgress(const ProgressSpec& spec) {
  ProgressCreate();
  ProgressSetBar(spec.minimum, spec.maximum, spec.position);
  if (!spec.lead.empty()) ProgressSetLead(spec.lead);
  if (!spec.caption.empty()) ProgressSetCaption(spec.caption);
  ProgressSetBytes(spec.text);
  ProgressSetName(spec.name);
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
  window->OnCancel = [this] { CancelPressed(); };
  connect(window, &TF_Progress::Closed, this, [this, window] {
    if (window_ == window) window_ = nullptr;
  });
  window->CentreOn(owner_);
  window->show();
}

void ProgressHost::ProgressClose() {
  if (TF_Progress* window = window_.data()) {
    window_ = nullptr;
    window->close();
  }
}

void ProgressHost::ProgressSetBar(int minimum, int maximum, int position) {
  if (!window_) return;
  window_->ProgressBar1()->setRange(minimum, maximum);
  window_->ProgressBar1()->setValue(position);
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
  window_->Lbl_Name()->adjustSize();
}

void ProgressHost::ProgressSetBytes(const std::string& text) {
  if (!window_) return;
  window_->Lbl_Bytes()->setText(Text(text));
}

void ProgressHost::ProgressSetCaption(const std::string& text) {
  if (window_) window_->setWindowTitle(Text(text));
}

void ProgressHost::ProgressSetLead(const std::string& text) {
  if (!window_) return;
  window_->Label1()->setText(Text(text));
  window_->Label1()->adjustSize();
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
  label->adjustSize();
  w->Btn_Cancel()->setText(Text(button));
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
