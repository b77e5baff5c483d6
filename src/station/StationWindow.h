// The production station's window: the job (editable by the line lead,
// read-only for an operator), a tile per port, Start and Stop, the counts
// of good and failed boards and the last records. The boards are run by a
// StationRunner; the window only shows what it reports.
#pragma once

#include <QMainWindow>
#include <functional>
#include <map>
#include <memory>

#include "station/StationJob.h"
#include "station/StationRunner.h"

class QGridLayout;
class QLabel;
class QPushButton;
class QTableWidget;
class QTimer;

namespace varnel::station {

class JobEditor;
class StationTile;

class StationWindow : public QMainWindow {
  Q_OBJECT
 public:
  enum class Mode { Edit, Operator };
  StationWindow(std::unique_ptr<StationRunner> runner, Mode mode, QWidget* parent = nullptr);
  ~StationWindow() override;

  // Opens a station file; false (with the banner saying why) when it gives no job.
  bool OpenJob(const QString& path);
  bool Save();
  bool SaveAs();
  void Start();
  void Stop();
  bool Running() const;
  // Stops as Stop does and closes once the boards are done, asking nothing
  // (the station PC is shutting down).
  void StopAndQuit();

  // The questions and the sound, replaceable where no one can answer or hear.
  std::function<bool()> askStopAndClose;            // default No
  std::function<int()> askSaveChanges;              // QMessageBox::Save, Discard or Cancel
  std::function<void()> beep;

  StationTile* TileOf(const QString& port) const;
  QString BannerText() const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildTiles(const std::vector<std::string>& ports);
  void OnBoardEvent(const BoardEvent& event);
  void OnFinished();
  void ShowBanner(const QString& text);
  void Record(const BoardEvent& event);
  void UpdateCounters();
  void UpdateControls();
  void UpdateTitle();
  void ShowOperatorJob();
  bool WriteTo(const QString& path);

  std::unique_ptr<StationRunner> runner_;
  Mode mode_;
  QString path_;        // the station file; empty until saved
  bool modified_ = false;
  bool closePending_ = false;
  bool quitting_ = false;
  int ok_ = 0, failed_ = 0;

  QLabel* banner_;
  JobEditor* editor_;
  QLabel* operatorJob_;
  QWidget* tilesBox_;
  QGridLayout* tilesGrid_;
  std::map<QString, StationTile*> tiles_;
  QPushButton* start_;
  QPushButton* stop_;
  QPushButton* open_;
  QPushButton* save_;
  QPushButton* saveAs_;
  QLabel* okCount_;
  QLabel* failedCount_;
  QLabel* yield_;
  QTableWidget* records_;
  QTimer* clock_;
};

}  // namespace varnel::station
