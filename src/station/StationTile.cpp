// A port's tile.
#include "station/StationTile.h"

#include <QLabel>
#include <QVBoxLayout>

#include "station/PortChoices.h"

namespace varnel::station {
namespace {

QFont Scaled(const QFont& base, double factor, bool bold) {
  QFont f = base;
  f.setPointSizeF(base.pointSizeF() * factor);
  f.setBold(bold);
  return f;
}

}  // namespace

StationTile::StationTile(const QString& port, QWidget* parent) : QFrame(parent), port_(port) {
  setObjectName(QStringLiteral("Tile"));
  setFrameShape(QFrame::StyledPanel);
  setAutoFillBackground(true);
  setMinimumSize(260, 150);
  setToolTip(port);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(14, 10, 14, 10);
  name_ = new QLabel(QString::fromStdString(ShortPortName(port.toStdString())), this);
  name_->setObjectName(QStringLiteral("TilePort"));
  name_->setFont(Scaled(font(), 2.0, true));
  state_label_ = new QLabel(this);
  state_label_->setObjectName(QStringLiteral("TileState"));
  state_label_->setFont(Scaled(font(), 1.6, true));
  state_label_->setWordWrap(true);
  state_label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  time_ = new QLabel(this);
  time_->setObjectName(QStringLiteral("TileTime"));
  time_->setFont(Scaled(font(), 1.4, false));
  layout->addWidget(name_);
  layout->addWidget(state_label_, 1);
  layout->addWidget(time_);
  clock_.start();
  Show(BoardEvent{port, 1, BoardEvent::State::Waiting, -1, {}, {}, 0});
}

QString StationTile::StateText(const BoardEvent& e) {
  const QString percent = e.percent >= 0 ? QStringLiteral(" %1 %").arg(e.percent) : QString();
  switch (e.state) {
    case BoardEvent::State::Waiting: return tr("waiting for a board");
    case BoardEvent::State::Connecting: return tr("connecting");
    case BoardEvent::State::Erasing: return tr("erasing");
    case BoardEvent::State::Programming: return tr("programming") + percent;
    case BoardEvent::State::Verifying: return tr("verifying") + percent;
    case BoardEvent::State::Ok:
      return e.serial ? tr("OK, serial %1").arg(*e.serial) : tr("OK");
    case BoardEvent::State::Failed:
      return tr("FAILED: %1 (exit status %2)").arg(e.message).arg(e.exitStatus);
  }
  return {};
}

QColor StationTile::ColourOf(BoardEvent::State state) {
  switch (state) {
    case BoardEvent::State::Waiting: return QColor(0x9e, 0x9e, 0x9e);
    case BoardEvent::State::Ok: return QColor(0x2e, 0x7d, 0x32);
    case BoardEvent::State::Failed: return QColor(0xc6, 0x28, 0x28);
    default: return QColor(0x15, 0x65, 0xc0);
  }
}

bool StationTile::Working() const {
  return state_ != BoardEvent::State::Waiting && state_ != BoardEvent::State::Ok &&
         state_ != BoardEvent::State::Failed;
}

void StationTile::Show(const BoardEvent& e) {
  const bool ended = e.state == BoardEvent::State::Ok || e.state == BoardEvent::State::Failed;
  // A new board, or waiting anew: its clock starts now.
  if (e.board != board_ || (!ended && !Working())) {
    clock_.restart();
    frozenMs_ = -1;
  }
  board_ = e.board;
  state_ = e.state;
  if (ended) frozenMs_ = clock_.elapsed();
  state_label_->setText(StateText(e));
  QPalette p = palette();
  p.setColor(QPalette::Window, ColourOf(state_));
  p.setColor(QPalette::WindowText, Qt::white);
  setPalette(p);
  for (QLabel* label : {name_, state_label_, time_}) label->setPalette(p);
  Tick();
}

void StationTile::Stopped(const QString& text) {
  if (state_ == BoardEvent::State::Ok || state_ == BoardEvent::State::Failed) return;
  state_ = BoardEvent::State::Waiting;
  frozenMs_ = clock_.elapsed();
  state_label_->setText(text);
  QPalette p = palette();
  p.setColor(QPalette::Window, ColourOf(state_));
  setPalette(p);
  Tick();
}

QString StationTile::elapsedText() const {
  const qint64 ms = frozenMs_ >= 0 ? frozenMs_ : clock_.elapsed();
  const qint64 s = ms / 1000;
  return s >= 3600 ? QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'))
                   : QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

void StationTile::Tick() { time_->setText(elapsedText()); }

QString StationTile::stateText() const { return state_label_->text(); }

QColor StationTile::colour() const { return palette().color(QPalette::Window); }

}  // namespace varnel::station
