// The station run by libvarnel's Station in this process: its run() on a
// thread of its own, each board event handed to the window's thread as the
// window's BoardEvent. A board whose record or number could not be stored
// (exit status 5) stops the station: no further board is programmed
// without its record.
#pragma once

#include <QHash>
#include <memory>
#include <mutex>
#include <thread>

#include "station/StationRunner.h"

namespace varnel {
class Station;
struct StationOptions;
}  // namespace varnel

namespace varnel::station {

class LibraryRunner : public StationRunner {
  Q_OBJECT
 public:
  explicit LibraryRunner(QObject* parent = nullptr);
  // Stops the boards (downloads end with the end record) and waits for them.
  ~LibraryRunner() override;

  void start(const StationJob& job) override;
  void stop() override;
  bool running() const override;

  // The library's options for a job: the loop on every port, board after
  // board, until stopped.
  static varnel::StationOptions Options(const StationJob& job);

 private:
  void Run(const StationJob& job);
  void Ended(int status, const QString& refusal);
  void OnEvent(const BoardEvent& event);

  std::thread thread_;
  bool running_ = false;  // the window's thread only
  bool storeFailed_ = false;
  QHash<QString, QString> report_;  // a port's board's last report line
  // The station while its run lasts; a stop before it exists is kept in
  // stopAsked_ and stops it as soon as it does.
  mutable std::mutex mutex_;
  varnel::Station* station_ = nullptr;
  bool stopAsked_ = false;
};

}  // namespace varnel::station
