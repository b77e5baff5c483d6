// The station run by varnel-cli --loop.
#include "station/CommandLineRunner.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

namespace varnel::station {
namespace {

// A stop that has not ended the process by then never will.
constexpr int kStopLimitMs = 30000;

// Cursor moves and line erases of the terminal display.
const QRegularExpression kEscape(QStringLiteral("\x1b\\[[0-9;]*[A-Za-z]"));
const QRegularExpression kCount(QStringLiteral("(\\d+)(?:/| of )(\\d+) bytes"));
const QRegularExpression kResult(QStringLiteral("^(.*): board (\\d+): (?:ok|failed \\(exit (\\d+)\\): (.*))$"));

}  // namespace

CommandLineRunner::CommandLineRunner(QString program, QObject* parent)
    : StationRunner(parent), program_(std::move(program)) {}

CommandLineRunner::~CommandLineRunner() {
  if (process_ && process_->state() != QProcess::NotRunning) {
    // The boards' downloads end with the end record; the window waits for it.
    ::kill(static_cast<pid_t>(process_->processId()), SIGINT);
    if (!process_->waitForFinished(kStopLimitMs)) process_->kill();
    process_->waitForFinished(1000);
  }
  if (master_ >= 0) ::close(master_);
}

QString CommandLineRunner::FindProgram() {
  const QString here = QCoreApplication::applicationDirPath();
  for (const QString& candidate : {here + "/varnel-cli", here + "/../cli/varnel-cli"}) {
    if (QFileInfo(candidate).isExecutable()) return QDir::cleanPath(candidate);
  }
  return QStandardPaths::findExecutable(QStringLiteral("varnel-cli"));
}

bool CommandLineRunner::running() const { return process_ != nullptr; }

void CommandLineRunner::start(const StationJob& job) {
  if (process_) return;
  job_ = job;
  stopping_ = failed_ = false;
  errors_.clear();
  ports_.clear();
  progressRest_.clear();
  resultRest_.clear();
  logRest_.clear();

  QStringList args = {"-b", QString::number(job.baud)};
  for (const std::string& port : job.ports) args << "-p" << QString::fromStdString(port);
  if (!job.resetSequence.empty()) args << "--reset-seq" << QString::fromStdString(job.resetSequence);
  if (!job.serialAddress.empty()) {
    args << "--serial"
         << QString::fromStdString(job.serialAddress + ":" + std::to_string(job.serialLength) + ":" +
                                   job.serialFormat)
         << (job.database.empty() ? "--serial-file" : "--serial-counter")
         << (job.database.empty() ? QString::fromStdString(job.serialFile) : QStringLiteral("default"));
  }
  if (!job.database.empty()) args << "--db" << QString::fromStdString(job.database);
  // The records give each board's serial number; without a log of the
  // job's own they go to a private one.
  scratch_.reset();
  log_ = QString::fromStdString(job.log);
  if (log_.isEmpty()) {
    scratch_ = std::make_unique<QTemporaryDir>();
    log_ = scratch_->filePath(QStringLiteral("boards.jsonl"));
  }
  logOffset_ = QFileInfo(log_).exists() ? QFileInfo(log_).size() : 0;
  args << "--log" << log_ << "--loop" << "program";
  if (job.verify) args << "--verify";
  args << QString::fromStdString(job.file);

  int slave = -1;
  if (program_.isEmpty() || ::openpty(&master_, &slave, nullptr, nullptr, nullptr) != 0) {
    emit refused(program_.isEmpty() ? QStringLiteral("varnel-cli is not installed")
                                    : QStringLiteral("cannot open a pseudo-terminal"));
    emit finished();
    return;
  }
  ::fcntl(master_, F_SETFD, FD_CLOEXEC);
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  ::fcntl(slave, F_SETFD, FD_CLOEXEC);

  for (const std::string& port : job.ports) {
    ports_.insert(QString::fromStdString(port), Port{});
    Emit(QString::fromStdString(port), BoardEvent::State::Waiting, -1, {});
  }

  process_ = std::make_unique<QProcess>();
  process_->setProgram(program_);
  process_->setArguments(args);
  process_->setStandardInputFile(QProcess::nullDevice());
  process_->setChildProcessModifier([slave] {
    // Standard error on a terminal: the command line then draws a line per
    // port with the figures of each step. And no orphan goes on
    // programming boards: the process is stopped with its parent.
    ::dup2(slave, STDERR_FILENO);
    ::prctl(PR_SET_PDEATHSIG, SIGINT);
  });
  connect(process_.get(), &QProcess::readyReadStandardOutput, this, &CommandLineRunner::ReadResults);
  connect(process_.get(), &QProcess::finished, this, &CommandLineRunner::Ended);
  notifier_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &CommandLineRunner::ReadProgress);
  process_->start();
  ::close(slave);
  if (!process_->waitForStarted()) {
    const QString why = process_->errorString();
    process_.reset();
    delete notifier_;
    notifier_ = nullptr;
    ::close(master_);
    master_ = -1;
    emit refused(QStringLiteral("cannot run %1: %2").arg(program_, why));
    emit finished();
  }
}

void CommandLineRunner::stop() {
  if (!process_ || stopping_) return;
  stopping_ = true;
  ::kill(static_cast<pid_t>(process_->processId()), SIGINT);
  if (!killTimer_) {
    killTimer_ = new QTimer(this);
    killTimer_->setSingleShot(true);
    connect(killTimer_, &QTimer::timeout, this, [this] {
      if (process_) process_->kill();
    });
  }
  killTimer_->start(kStopLimitMs);
}

void CommandLineRunner::Fail(const QString& message) {
  if (failed_) return;
  failed_ = true;
  emit storeFailed(message);
  stop();
}

void CommandLineRunner::Emit(const QString& port, BoardEvent::State state, int percent,
                             const QString& message) {
  BoardEvent e;
  e.port = port;
  e.board = ports_.value(port).done + 1;
  e.state = state;
  e.percent = percent;
  e.message = message;
  emit boardEvent(e);
}

void CommandLineRunner::ReadProgress() {
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0) {
      // The last writer has gone: nothing more comes until the next run.
      if (n == 0 || errno == EIO) notifier_->setEnabled(false);
      break;
    }
    progressRest_.append(buffer, n);
  }
  qsizetype end;
  while ((end = progressRest_.indexOf('\n')) >= 0) {
    QString line = QString::fromUtf8(progressRest_.left(end));
    progressRest_.remove(0, end + 1);
    line.remove(kEscape).remove(QLatin1Char('\r'));
    if (!line.isEmpty()) ProgressLine(line);
  }
}

void CommandLineRunner::ProgressLine(const QString& line) {
  if (line.startsWith(QLatin1String("varnel-cli: "))) {
    const QString text = line.mid(12);
    if (text.startsWith(QLatin1String("warning: cannot append to the log file"))) {
      Fail(QStringLiteral("The log %1 cannot be written: the station stopped.").arg(log_));
    } else {
      bool ofPort = false;  // a board's warning, not the run's error
      for (auto it = ports_.cbegin(); it != ports_.cend(); ++it) {
        ofPort = ofPort || text.startsWith(it.key() + QLatin1String(": "));
      }
      if (!ofPort) errors_ << text;
    }
    return;
  }
  // "PORT: text", the longest port that fits (a port may hold ": ").
  QString port;
  for (auto it = ports_.cbegin(); it != ports_.cend(); ++it) {
    if (line.startsWith(it.key() + QLatin1String(": ")) && it.key().size() > port.size()) port = it.key();
  }
  if (port.isEmpty()) {
    errors_ << line;  // a message continued on the next line
    return;
  }
  Port& p = ports_[port];
  const QString text = line.mid(port.size() + 2);
  // The whole display is drawn again whenever any port moves; only a line
  // that changed says something, and the first change after a board ended
  // is the next board.
  if (text == p.lastText) return;
  p.lastText = text;
  p.working = true;
  BoardEvent::State state = BoardEvent::State::Connecting;
  int percent = -1;
  if (text.startsWith(QLatin1String("connected: "))) {
    state = BoardEvent::State::Erasing;  // the program command erases first
  } else if (text.startsWith(QLatin1String("programming ")) || text.startsWith(QLatin1String("Programming "))) {
    state = BoardEvent::State::Programming;
  } else if (text.startsWith(QLatin1String("verif"))) {
    state = BoardEvent::State::Verifying;
  }
  if (const auto m = kCount.match(text); m.hasMatch() && m.captured(2).toLongLong() > 0) {
    percent = static_cast<int>(m.captured(1).toLongLong() * 100 / m.captured(2).toLongLong());
  } else if (state == BoardEvent::State::Programming || state == BoardEvent::State::Verifying) {
    percent = 100;  // "finished", "bytes match"
  }
  Emit(port, state, percent, text);
}

void CommandLineRunner::ReadResults() {
  resultRest_ += process_->readAllStandardOutput();
  qsizetype end;
  while ((end = resultRest_.indexOf('\n')) >= 0) {
    const QString line = QString::fromUtf8(resultRest_.left(end));
    resultRest_.remove(0, end + 1);
    ResultLine(line);
  }
}

void CommandLineRunner::ReadLog() {
  QFile file(log_);
  if (!file.open(QIODevice::ReadOnly) || !file.seek(logOffset_)) return;
  const QByteArray more = file.readAll();
  logOffset_ += more.size();
  logRest_ += more;
  qsizetype end;
  while ((end = logRest_.indexOf('\n')) >= 0) {
    const QByteArray line = logRest_.left(end);
    logRest_.remove(0, end + 1);
    const QJsonObject record = QJsonDocument::fromJson(line).object();
    const QString port = record.value(QStringLiteral("port")).toString();
    if (ports_.contains(port)) ports_[port].record = line;
  }
}

void CommandLineRunner::ResultLine(const QString& line) {
  const auto m = kResult.match(line);
  if (!m.hasMatch() || !ports_.contains(m.captured(1))) return;  // the summary at the end
  const QString port = m.captured(1);
  ReadLog();  // the record is appended before the result is printed
  Port& p = ports_[port];
  const QJsonObject record = QJsonDocument::fromJson(p.record).object();
  p.record.clear();
  BoardEvent e;
  e.port = port;
  e.board = m.captured(2).toInt();
  const bool ok = m.captured(3).isEmpty();
  e.state = ok ? BoardEvent::State::Ok : BoardEvent::State::Failed;
  e.exitStatus = ok ? 0 : m.captured(3).toInt();
  e.message = ok ? p.lastText : m.captured(4);
  if (const QJsonValue serial = record.value(QStringLiteral("serial")); serial.isDouble()) {
    e.serial = static_cast<quint64>(serial.toDouble());
  }
  p.done = e.board;
  p.working = false;
  emit boardEvent(e);
  // A counter that cannot be read or written numbers no further board.
  const QString counter = QString::fromStdString(job_.serialFile);
  if (!ok && !counter.isEmpty() && e.message.contains(counter)) {
    Fail(QStringLiteral("The counter %1 cannot be used: %2. The station stopped.").arg(counter, e.message));
  }
}

void CommandLineRunner::Ended(int exitCode, QProcess::ExitStatus status) {
  ReadProgress();
  ReadResults();
  if (killTimer_) killTimer_->stop();
  bool anyBoard = false;
  for (const Port& p : std::as_const(ports_)) anyBoard = anyBoard || p.done > 0 || p.working;
  // Exit status 2 before any board: the job itself was refused (a bad file,
  // a counter that does not fit, a log that cannot be written).
  if (!failed_ && status == QProcess::NormalExit && exitCode != 0 && exitCode != 1 && exitCode != 130 &&
      !anyBoard) {
    emit refused(errors_.isEmpty() ? QStringLiteral("varnel-cli ended with status %1").arg(exitCode)
                                   : errors_.join(QLatin1Char('\n')));
  } else if (!failed_ && status == QProcess::CrashExit && !stopping_) {
    emit refused(QStringLiteral("varnel-cli ended unexpectedly"));
  }
  delete notifier_;
  notifier_ = nullptr;
  ::close(master_);
  master_ = -1;
  process_.release()->deleteLater();
  emit finished();
}

}  // namespace varnel::station
