// The station run by libvarnel.
#include "station/LibraryRunner.h"

#include <QMetaObject>
#include <charconv>
#include <exception>

#include "station/PortChoices.h"
#include "varnel/errors.h"
#include "varnel/station.h"

namespace varnel::station {
namespace {

// A record or serial number that was not stored.
const int kNotStored = varnel::exit_status(varnel::ErrorKind::RecordLost);

// 7FF0, 0x7FF0 or 7FF0h, as the job keeps it (checked before a start).
std::uint32_t HexAddress(std::string text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.erase(0, 2);
  } else if (!text.empty() && (text.back() == 'h' || text.back() == 'H')) {
    text.pop_back();
  }
  std::uint32_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value, 16);
  return value;
}

BoardEvent::State StateOf(varnel::BoardEvent::State state) {
  using S = varnel::BoardEvent::State;
  switch (state) {
    case S::Output: break;  // a line of a report, no step of its own
    case S::Waiting: return BoardEvent::State::Waiting;
    case S::Connecting: return BoardEvent::State::Connecting;
    case S::Erasing: return BoardEvent::State::Erasing;
    case S::Programming: return BoardEvent::State::Programming;
    case S::Verifying: return BoardEvent::State::Verifying;
    case S::Ok: return BoardEvent::State::Ok;
    case S::Failed: return BoardEvent::State::Failed;
  }
  return BoardEvent::State::Failed;
}

BoardEvent Converted(const varnel::BoardEvent& e) {
  BoardEvent event;
  event.port = QString::fromStdString(e.port);
  event.board = e.board;
  event.state = StateOf(e.state);
  const bool counted = event.state == BoardEvent::State::Programming || event.state == BoardEvent::State::Verifying;
  event.percent = counted ? e.percent : -1;
  if (e.serial) event.serial = static_cast<quint64>(*e.serial);
  event.message = QString::fromStdString(e.message);
  event.exitStatus = e.exit_status;
  return event;
}

}  // namespace

LibraryRunner::LibraryRunner(QObject* parent) : StationRunner(parent) {}

LibraryRunner::~LibraryRunner() {
  stop();
  if (thread_.joinable()) thread_.join();
}

varnel::StationOptions LibraryRunner::Options(const StationJob& job) {
  varnel::StationOptions o;
  o.ports = job.ports;
  o.file = job.file;
  o.baud = job.baud;
  o.reset = job.resetSequence;
  o.verify = job.verify;
  if (!job.serialAddress.empty()) {
    varnel::SerialSpec serial;
    serial.address = HexAddress(job.serialAddress);
    serial.length = static_cast<std::uint32_t>(job.serialLength);
    serial.format = job.serialFormat == "be"      ? varnel::SerialSpec::Format::Be
                    : job.serialFormat == "ascii" ? varnel::SerialSpec::Format::Ascii
                                                  : varnel::SerialSpec::Format::Le;
    o.serial = serial;
    o.serial_file = job.serialFile;  // empty with a database: its counter
  }
  o.db = job.database;
  if (!job.database.empty() && !job.serialCounter.empty()) o.serial_counter = job.serialCounter;
  o.log_path = job.log;
  o.loop = true;  // board after board until Stop
  return o;
}

bool LibraryRunner::running() const { return running_; }

void LibraryRunner::start(const StationJob& job) {
  if (running_) return;
  if (thread_.joinable()) thread_.join();  // the last run's thread, already ended
  running_ = true;
  storeFailed_ = false;
  report_.clear();
  {
    const std::lock_guard lock(mutex_);
    stopAsked_ = false;
  }
  for (const std::string& port : job.ports) {
    BoardEvent waiting;
    waiting.port = QString::fromStdString(port);
    waiting.board = 0;
    emit boardEvent(waiting);
  }
  // Checking the job's files and opening the ports may take a while: none
  // of it on the window's thread.
  thread_ = std::thread([this, job] { Run(job); });
}

void LibraryRunner::Run(const StationJob& job) {
  int status = 0;
  QString refusal;
  try {
    varnel::Station station(Options(job));
    station.on_event([this](const varnel::BoardEvent& e) {
      if (e.state == varnel::BoardEvent::State::Output) {
        // The board's report (a verify's summary) is what a good board's
        // record says of it.
        const QString port = QString::fromStdString(e.port), line = QString::fromStdString(e.message);
        QMetaObject::invokeMethod(this, [this, port, line] { report_[port] = line; }, Qt::QueuedConnection);
        return;
      }
      const BoardEvent event = Converted(e);
      QMetaObject::invokeMethod(this, [this, event] { OnEvent(event); }, Qt::QueuedConnection);
    });
    bool stopAsked;
    {
      const std::lock_guard lock(mutex_);
      station_ = &station;
      stopAsked = stopAsked_;
    }
    if (!stopAsked) status = station.run();
    const std::lock_guard lock(mutex_);
    station_ = nullptr;
  } catch (const std::exception& e) {
    refusal = QString::fromUtf8(e.what());
  }
  QMetaObject::invokeMethod(this, [this, status, refusal] { Ended(status, refusal); }, Qt::QueuedConnection);
}

void LibraryRunner::stop() {
  const std::lock_guard lock(mutex_);
  stopAsked_ = true;
  if (station_) station_->stop();
}

void LibraryRunner::OnEvent(const BoardEvent& e) {
  BoardEvent event = e;
  if (event.state == BoardEvent::State::Connecting) report_.remove(event.port);
  if (event.state == BoardEvent::State::Ok && event.message.isEmpty()) event.message = report_.value(event.port);
  emit boardEvent(event);
  if (event.state == BoardEvent::State::Failed && event.exitStatus == kNotStored && !storeFailed_) {
    storeFailed_ = true;
    emit storeFailed(tr("%1: %2. The station stopped: no board is programmed without its record.")
                         .arg(QString::fromStdString(ShortPortName(event.port.toStdString())), event.message));
    stop();
  }
}

void LibraryRunner::Ended(int, const QString& refusal) {
  if (thread_.joinable()) thread_.join();
  running_ = false;
  if (!refusal.isEmpty()) emit refused(refusal);
  emit finished();
}

}  // namespace varnel::station
