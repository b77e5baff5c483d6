// Connect window widgets and their binding to the handshake.
#include "connect/Connect.h"

#include <QCloseEvent>
#include <QShowEvent>

namespace varnel {

TF_Connect::TF_Connect(Session& session, QWidget* owner)
    : QWidget(owner, Qt::Window), session_(session), handshake_(session, *this) {
  setObjectName("TF_Connect");
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle("Connect to target");
  resize(247, 175);

  target_ = AddRow("Target:", "Lbl_Target", 16);
  firmware_ = AddRow("Firmware:", "Lbl_FW", 40);
  software_ = AddRow("Software:", "Lbl_SW", 64);
  core_ = AddRow("Core clk :", "Lbl_Core", 88);

  retry_ = new QPushButton("&Retry", this);
  retry_->setObjectName("Btn_Retry");
  retry_->setGeometry(32, 128, 75, 25);
  connect(retry_, &QPushButton::clicked, this, &TF_Connect::Btn_RetryClick);
  close_ = new QPushButton("&Close", this);
  close_->setObjectName("Btn_Close");
  close_->setGeometry(136, 128, 75, 25);
  connect(close_, &QPushButton::clicked, this, &TF_Connect::Btn_CloseClick);

  timer_ = new QTimer(this);
  timer_->setObjectName("Timer1");
  connect(timer_, &QTimer::timeout, this, &TF_Connect::Timer1Timer);

  FormCreate();
}

void TF_Connect::FormCreate() {
  // A port that fails the reset pulse is shown; the window opens all the same.
  if (const auto trouble = handshake_.Prepare()) session_.Ui().MessageBox(trouble->Box(), trouble->text);
}

TF_Connect::~TF_Connect() {
  // Destroyed without closing (the owner went first): the timer stops with it.
  timer_->stop();
}

QLabel* TF_Connect::AddRow(const char* caption, const char* valueName, int top) {
  auto* label = new QLabel(caption, this);
  label->move(16, top);
  auto* value = new QLabel(this);
  value->setObjectName(valueName);
  value->setGeometry(88, top, 150, label->sizeHint().height());
  QFont bold = value->font();
  bold.setBold(true);
  value->setFont(bold);
  QPalette navy = value->palette();
  navy.setColor(QPalette::WindowText, QColor(0, 0, 128));
  value->setPalette(navy);
  return value;
}

void TF_Connect::Btn_RetryClick() { handshake_.Retry(); }
void TF_Connect::Btn_CloseClick() { close(); }
void TF_Connect::Timer1Timer() { handshake_.Tick(); }

void TF_Connect::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_) return;
  shown_ = true;
  if (QWidget* owner = parentWidget()) {
    const QRect frame = owner->window()->frameGeometry();
    move(frame.center() - QPoint(width() / 2, height() / 2));
  }
  handshake_.Start();
}

void TF_Connect::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  if (event->isAccepted() && !closed_) {
    closed_ = true;
    handshake_.Close();
  }
}

namespace {

QString Latin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

void TF_Connect::ShowTarget(const std::string& text) { target_->setText(Latin1(text)); }
void TF_Connect::ShowFirmware(const std::string& text) { firmware_->setText(Latin1(text)); }
void TF_Connect::ShowSoftware(const std::string& text) { software_->setText(Latin1(text)); }

void TF_Connect::ShowCore(const std::string& text) {
  // The clock text is the locale's own, which may need more than Latin-1.
  core_->setText(QString::fromStdString(text));
  core_->repaint();  // seen before the blocking wait that ends the handshake
}

void TF_Connect::SetButtonsEnabled(bool enabled) {
  retry_->setEnabled(enabled);
  close_->setEnabled(enabled);
}

void TF_Connect::StartTimer(int intervalMs) { timer_->start(intervalMs); }
void TF_Connect::StopTimer() { timer_->stop(); }
void TF_Connect::Dismiss() { close(); }

}  // namespace varnel
