// Progress window layout and its Cancel button.
#include "memory/Progress.h"

#include <QCloseEvent>

namespace varnel {

TF_Progress::TF_Progress(QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                         Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      label1_(new QLabel("Uploading: ", this)),
      name_(new QLabel(this)),
      bytes_(new QLabel(this)),
      bar_(new QProgressBar(this)),
      cancel_(new QPushButton("&Cancel", this)) {
  setObjectName("TF_Progress");
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle("Uploading progress");
  setFixedSize(209, 117);

  label1_->setObjectName("Label1");
  label1_->move(8, 8);
  label1_->adjustSize();

  name_->setObjectName("Lbl_Name");
  name_->move(80, 8);
  QFont bold = name_->font();
  bold.setBold(true);
  name_->setFont(bold);
  QPalette navy = name_->palette();
  navy.setColor(QPalette::WindowText, QColor(0, 0, 128));
  name_->setPalette(navy);

  bytes_->setObjectName("Lbl_Bytes");
  bytes_->setGeometry(136, 8, 209 - 136, label1_->height());  // room for "32768 bytes"

  bar_->setObjectName("ProgressBar1");
  bar_->setGeometry(8, 40, 185, 16);
  bar_->setRange(0, 100);
  bar_->setValue(0);
  bar_->setTextVisible(false);

  cancel_->setObjectName("Btn_Cancel");
  cancel_->setGeometry(64, 64, 75, 25);
  connect(cancel_, &QPushButton::clicked, this, &TF_Progress::Btn_CancelClick);
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
