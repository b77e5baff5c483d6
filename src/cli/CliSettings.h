// The settings a command line run works with: the window's settings store
// (the project file given, or the per-user store) read by the window's own
// LoadProperties, with the command line's port, rate, reset and program file
// laid over it. It is the settings source the engine re-reads before every
// run; the programming steps are the run's own options (ProgramOptions).
#pragma once

#include <functional>
#include <string>

#include "cli/Options.h"
#include "core/Session.h"

namespace varnel::cli {

class CliSettings : public SettingsSource {
 public:
  // Throws CliFailure (bad usage) for a project file that does not exist.
  CliSettings(Session& session, const Options& options);

  // Reads the store, then applies the options. The port is left alone:
  // the command line opens it.
  void LoadProperties() override;

  // The port name and rate the run uses, as loaded; "None" or empty when
  // neither the options nor the store name a port.
  const std::string& PortName() const { return session_.ProjectSettings.PortName; }
  const std::string& BaudText() const { return session_.ProjectSettings.BaudText; }
  // The device of the port as loaded; throws CliFailure (bad usage) when
  // the rate is none the line takes or no port is named.
  std::string CheckedDevice() const;
  // The line rate of BaudText, once CheckedDevice took it.
  TBaudrate Rate() const;
  // Throws CliFailure (bad usage) when a reset is due and the settings'
  // sequence cannot run: refused before anything is sent.
  void CheckResetSequence() const;

 private:
  Session& session_;
  const Options& options_;
  std::string userStore_;
};

}  // namespace varnel::cli
