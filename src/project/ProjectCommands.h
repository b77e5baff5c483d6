// The commands that choose what the tool works on: New, Open, Close, and
// Configure (the properties dialog over the current store). They change the
// store in use and the program file, then let LoadProperties catch up. Files
// are chosen and the dialog is shown through the session's prompts.
#pragma once

#include <optional>
#include <string>

#include "core/Session.h"
#include "project/Settings.h"

namespace varnel {

class ProjectCommands {
 public:
  ProjectCommands(Session& session, Settings& settings);

  // Each ends with an outcome: Finished, or BadFile when a settings file
  // could not be written (the window shows its message in an error box).
  Outcome SpeedNewClick();
  Outcome SpeedOpenClick();
  void Close1Click();
  Outcome Configure1Click();

 private:
  // Shows the properties dialog filled with the values; the values confirmed,
  // or none when it was cancelled.
  std::optional<PropertyValues> RunDialog(const std::string& projectPath,
                                          const PropertyValues& shown,
                                          PropertiesRequest::Mode mode);

  Session& session_;
  Settings& settings_;
};

}  // namespace varnel
