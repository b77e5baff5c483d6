// One port's tile, large enough to read from a metre away: the port's short
// name, what its board is doing or how it ended, and the time it took, on a
// colour per state: grey waiting, blue working, green good, red failed.
#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QFrame>

#include "station/StationRunner.h"

class QLabel;

namespace varnel::station {

class StationTile : public QFrame {
  Q_OBJECT
 public:
  StationTile(const QString& port, QWidget* parent = nullptr);

  // The board's new state; a board's first event after a result starts its
  // clock again.
  void Show(const BoardEvent& event);
  // No board is running: a tile still waiting says so (the run ended, or
  // none has started yet); a result stays.
  void Stopped(const QString& text = tr("stopped"));
  // Redraws the elapsed time.
  void Tick();

  const QString& port() const { return port_; }
  BoardEvent::State state() const { return state_; }
  QString stateText() const;
  QString elapsedText() const;
  QColor colour() const;

  static QString StateText(const BoardEvent& event);
  static QColor ColourOf(BoardEvent::State state);

 private:
  bool Working() const;

  QString port_;
  BoardEvent::State state_ = BoardEvent::State::Waiting;
  QLabel* name_;
  QLabel* state_label_;
  QLabel* time_;
  QElapsedTimer clock_;
  qint64 frozenMs_ = -1;  // the board's time once it ended
  int board_ = 0;
};

}  // namespace varnel::station
