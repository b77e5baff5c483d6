// Progress window layout and its Cancel button.
#include "memory/Progress.h"

#include <QCloseEvent>
#include <algorithm>

namespace varnel {
namespace {

// The designed window and the places of its parts.
constexpr int kWidth = 209, kHeight = 117;
constexpr int kMargin = 8;
constexpr int kNameX = 80, kBytesX = 136;
constexpr int kBarY = 40, kBarHeight = 16;
constexpr int kButtonX = 64, kButtonY = 64, kButtonWidth = 75, kButtonHeight = 25;
constexpr int kGap = 4;

int TextWidth(const QLabel* label) {
  return label->text().isEmpty() ? 0 : label->sizeHint().width();
}

// Width of a count text ("120 bytes") once its number has as many digits as
// the largest the bar can reach, so the label need not grow during a run.
int CountWidth(const QLabel* label, int largest) {
  const QString text = label->text();
  qsizetype digits = 0;
  while (digits < text.size() && text[digits].isDigit()) ++digits;
  const qsizetype most = std::max(digits, QString::number(largest).size());
  const QString widest = QString(most, QLatin1Char('0')) + text.mid(digits);
  // What the label adds around its text, as for any other.
  const int extra = std::max(0, TextWidth(label) - label->fontMetrics().horizontalAdvance(text));
  return std::max(TextWidth(label), label->fontMetrics().horizontalAdvance(widest) + extra);
}

}  // namespace

TF_Progress::TF_Progress(QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                         Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      label1_(new QLabel("Uploading: ", this)),
      name_(new QLabel(this)),
      bytes_(new QLabel(this)),
      rate_(new QLabel(this)),
      note_(new QLabel(this)),
      bar_(new QProgressBar(this)),
      cancel_(new QPushButton("&Cancel", this)) {
  setObjectName("TF_Progress");
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle("Uploading progress");
  setFixedSize(kWidth, kHeight);

  label1_->setObjectName("Label1");
  label1_->move(kMargin, kMargin);

  name_->setObjectName("Lbl_Name");
  name_->move(kNameX, kMargin);
  QFont bold = name_->font();
  bold.setBold(true);
  name_->setFont(bold);
  QPalette navy = name_->palette();
  navy.setColor(QPalette::WindowText, QColor(0, 0, 128));
  name_->setPalette(navy);

  bytes_->setObjectName("Lbl_Bytes");
  rate_->setObjectName("Lbl_Rate");
  note_->setObjectName("Lbl_Note");
  note_->setWordWrap(true);
  QPalette maroon = note_->palette();
  maroon.setColor(QPalette::WindowText, QColor(128, 0, 0));
  note_->setPalette(maroon);
  note_->hide();

  bar_->setObjectName("ProgressBar1");
  bar_->setGeometry(kMargin, kBarY, 185, kBarHeight);
  bar_->setRange(0, 100);
  bar_->setValue(0);
  bar_->setTextVisible(false);

  cancel_->setObjectName("Btn_Cancel");
  cancel_->setGeometry(kButtonX, kButtonY, kButtonWidth, kButtonHeight);
  connect(cancel_, &QPushButton::clicked, this, &TF_Progress::Btn_CancelClick);
  LayOut();
}

void TF_Progress::SetRate(const QString& text) {
  if (rate_->text() == text) return;
  rate_->setText(text);
  LayOut();
}

void TF_Progress::SetNote(const QString& text) {
  if (note_->text() == text) return;
  note_->setText(text);
  LayOut();
}

void TF_Progress::LayOut() {
  // The completion notice hides the bar: its one line of text and the
  // button, nothing else.
  const bool notice = bar_->isHidden();
  int width = kWidth;
  label1_->resize(label1_->sizeHint());
  const int lineHeight = label1_->height();
  if (notice) {
    width = std::max(width, label1_->x() + label1_->width() + kMargin);
    rate_->hide();
    note_->hide();
  } else {
    // "Programming:" is wider than the designed gap before the name; the
    // lead's trailing blank may run under it, as designed.
    const int leadWidth = label1_->fontMetrics().horizontalAdvance(label1_->text().trimmed());
    const int nameX = std::max(kNameX, label1_->x() + leadWidth + kGap);
    name_->setGeometry(nameX, kMargin, TextWidth(name_), lineHeight);
    const int bytesX =
        std::max(kBytesX, nameX + TextWidth(name_) + (name_->text().isEmpty() ? 0 : 2 * kGap));
    // Room for the largest count, so the window keeps its size during a run.
    // Never narrower than before: a window must not twitch while it counts.
    if (!bytes_->text().isEmpty()) {
      countRoom_ = std::max(countRoom_, CountWidth(bytes_, bar_->maximum() + 1));
    }
    const int bytesWidth = countRoom_;
    bytes_->setGeometry(bytesX, kMargin, bytesWidth, lineHeight);
    width = std::max(width, bytesX + bytesWidth + kGap);
  }
  const int inner = width - 2 * kMargin;
  int buttonY = kButtonY;
  if (!notice) {
    int y = kBarY + kBarHeight + kGap;
    rate_->setGeometry(kMargin, y, inner, lineHeight);
    rate_->show();
    y += lineHeight;
    if (!note_->text().isEmpty()) {
      const int noteHeight = note_->heightForWidth(inner);
      note_->setGeometry(kMargin, y + kGap, inner, noteHeight);
      note_->show();
      y += kGap + noteHeight;
    } else {
      note_->hide();
    }
    buttonY = std::max(kButtonY, y + kGap);
  }
  cancel_->move(kButtonX + (width - kWidth) / 2, buttonY);
  setFixedSize(width, std::max(kHeight, buttonY + kButtonHeight + kMargin));
}

void TF_Progress::Btn_CancelClick() {
  if (OnCancel) OnCancel();
  close();
}

void TF_Progress::CentreOn(const QWidget* owner) {
  if (!owner) return;
  const QWidget* top = owner->window();
  const QRect frame = top->frameGeometry();
  move(frame.center() - QPoint(width() / 2, height() / 2));
}

void TF_Progress::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  if (event->isAccepted() && !closedOnce_) {
    closedOnce_ = true;
    emit Closed();
  }
}

}  // namespace varnel
