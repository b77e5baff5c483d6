// The commands that choose what the tool works on: New, Open, Close, and
// Configure (the properties dialog over the current store). They change the
// store in use and the program file, then let LoadProperties catch up.
#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "link/Session.h"
#include "project/Settings.h"
#include "project/TF_Properties.h"

class QWidget;

namespace varnel {

class ProjectCommands {
 public:
  ProjectCommands(Session& session, Settings& settings, QWidget* dialogParent);

  void SpeedNewClick();
  void SpeedOpenClick();
  void Close1Click();
  void Configure1Click();

  // File > Close follows the open project.
  std::function<void(bool enabled)> SetCloseEnabled;

  // How files are chosen and the dialog is shown; tests answer them.
  // (start folder) -> chosen path, or empty when cancelled.
  std::function<QString(const QString& startDir)> ChooseNewProject;
  std::function<QString(const QString& startDir)> ChooseFileToOpen;
  // Shows the properties dialog modally; true when confirmed.
  std::function<bool(TF_Properties& dialog)> ShowProperties;

  // The filters of the two file dialogs.
  static QStringList OpenFilters();
  static QStringList NewFilters();

 private:
  // Shows the properties dialog filled with the values; the values confirmed,
  // or none when it was cancelled.
  std::optional<PropertyValues> RunDialog(const QString& projectPath, const PropertyValues& shown,
                                          TF_Properties::FillMode mode);

  Session& session_;
  Settings& settings_;
  QWidget* parent_;
};

}  // namespace varnel
