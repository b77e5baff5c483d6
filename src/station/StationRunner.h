// The station as the window drives it: start a job, stop it, and hear what
// every board does. The window knows only this interface; what runs the
// boards behind it can change without the window noticing.
#pragma once

#include <QObject>
#include <QString>
#include <optional>

#include "station/StationJob.h"

namespace varnel::station {

// What one board on one port is doing, or how it ended.
struct BoardEvent {
  enum class State { Waiting, Connecting, Erasing, Programming, Verifying, Ok, Failed };
  QString port;
  int board = 0;        // 1 for the first board of the port in this run
  State state = State::Waiting;
  int percent = -1;     // of programming or verifying; -1: not known
  std::optional<quint64> serial;
  QString message;      // Failed: why; otherwise what the step said
  int exitStatus = 0;   // Failed: the exit status the command line would give
};

class StationRunner : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;
  // Starts the loop on every port of the job; a runner that cannot start
  // says why through refused() and then finished().
  virtual void start(const StationJob& job) = 0;
  // Ends running downloads with the end record and stops after them;
  // finished() follows.
  virtual void stop() = 0;
  virtual bool running() const = 0;

 signals:
  void boardEvent(const varnel::station::BoardEvent& event);
  // The log or the counter cannot be written: the station stops, since no
  // board may be programmed without its record.
  void storeFailed(const QString& message);
  // The job could not start (a bad file, a counter that does not fit).
  void refused(const QString& message);
  void finished();
};

}  // namespace varnel::station

Q_DECLARE_METATYPE(varnel::station::BoardEvent)
