// A station runner that drives the command line: one varnel-cli process per
// job, looping over every port, its progress read from a pseudo-terminal
// (where it draws a line per port) and its result lines from standard
// output; serial numbers and messages come from the records it appends to
// the log. Everything the window needs from it goes through StationRunner.
#pragma once

#include <QHash>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>

#include "station/StationRunner.h"

class QSocketNotifier;
class QTimer;

namespace varnel::station {

class CommandLineRunner : public StationRunner {
  Q_OBJECT
 public:
  // program: the varnel-cli to run.
  explicit CommandLineRunner(QString program, QObject* parent = nullptr);
  ~CommandLineRunner() override;

  void start(const StationJob& job) override;
  void stop() override;
  bool running() const override;

  // varnel-cli beside this program, else in the build folder beside its
  // own, else on the PATH.
  static QString FindProgram();

 private:
  struct Port {
    int done = 0;           // boards that have ended
    QString lastText;       // the progress line last drawn
    bool working = false;   // a board is on it now
    QByteArray record;      // the newest record of the log for this port
  };

  void ReadProgress();
  void ProgressLine(const QString& line);
  void ReadResults();
  void ResultLine(const QString& line);
  void ReadLog();
  void Ended(int exitCode, QProcess::ExitStatus status);
  void Fail(const QString& message);
  void Emit(const QString& port, BoardEvent::State state, int percent, const QString& message);

  QString program_;
  StationJob job_;
  std::unique_ptr<QProcess> process_;
  std::unique_ptr<QTemporaryDir> scratch_;  // the log, when the job keeps none
  QString log_;
  qint64 logOffset_ = 0;
  QByteArray logRest_;
  int master_ = -1;                         // the pseudo-terminal of the progress
  QSocketNotifier* notifier_ = nullptr;
  QByteArray progressRest_, resultRest_;
  QStringList errors_;                      // varnel-cli's own messages
  QHash<QString, Port> ports_;
  QTimer* killTimer_ = nullptr;
  bool stopping_ = false;
  bool failed_ = false;
};

}  // namespace varnel::station
