// The job as the line lead edits it: the firmware with what it holds (and a
// warning when it changed on disk since it was loaded), the ports ticked in
// the port list, the line rate and reset, verify, the serial number and its
// counter, the log and the line's database.
#pragma once

#include <QWidget>

#include "station/Firmware.h"
#include "station/StationJob.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;

namespace varnel::station {

class JobEditor : public QWidget {
  Q_OBJECT
 public:
  explicit JobEditor(QWidget* parent = nullptr);

  void SetJob(const StationJob& job);
  StationJob Job() const;

  // The firmware as loaded, and whether the file on disk differs from it.
  const Firmware& firmware() const { return firmware_; }
  bool FirmwareChanged() const { return changed_; }
  // Reads the firmware file again (the user asked for it).
  void ReloadFirmware();
  // Looks whether the firmware file changed on disk; shows the warning.
  void CheckFirmware();
  // Lists the ports anew, keeping the ticks.
  void RefreshPorts();

 signals:
  void edited();
  void firmwareShown();

 private:
  void LoadFirmware(const QString& path);
  void ShowFirmware();
  QString Browse(QLineEdit* edit, const QString& caption, const QString& filter, bool save);
  QWidget* WithButton(QWidget* field, QPushButton* button);

  Firmware firmware_;
  bool changed_ = false;
  QLineEdit* file_;
  QLabel* facts_;
  QWidget* changedBox_;
  QLabel* changedText_;
  QListWidget* ports_;
  QLabel* dialout_;
  QComboBox* baud_;
  QComboBox* reset_;
  QCheckBox* verify_;
  QLineEdit* serialAddress_;
  QSpinBox* serialLength_;
  QComboBox* serialFormat_;
  QLineEdit* serialFile_;
  QLineEdit* log_;
  QLineEdit* database_;
  QLineEdit* serialCounter_;
  QLabel* passwordNote_;
};

}  // namespace varnel::station
