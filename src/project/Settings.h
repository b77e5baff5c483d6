// The main window's settings work over the session: start-up and shut-down,
// LoadProperties (settings record, HCR1/HCR0 into the configuration image,
// port and baud rate, status panels) and the saving half of the configure
// command. It is the settings source the upload and programming runs are
// given, so every run re-reads the store through it. The session must
// outlive it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/BaudRates.h"
#include "link/CommTypes.h"
#include "core/Session.h"
#include "project/PropertyValues.h"
#include "project/SettingsStore.h"
#include "project/UserStore.h"

namespace varnel {

class Settings : public SettingsSource {
 public:
  // Probes the serial ports and returns the names the properties dialog
  // offers, "None" last. Empty: BuildPortList without the busy ports.
  using PortListBuilder = std::function<std::vector<std::string>()>;

  explicit Settings(Session& session, std::string userStorePath = UserStorePath());
  ~Settings() override;
  Settings(const Settings&) = delete;
  Settings& operator=(const Settings&) = delete;

  // The back-end ProjectFile chooses, and the per-user store itself.
  SettingsStore OpenStore() const;
  SettingsStore OpenUserStore() const;
  const std::string& UserStoreFile() const { return userStorePath_; }

  // The main window's creation: port mapping and port list, working folder,
  // images, the port the per-user store names, then LoadProperties.
  void StartUp(const PortListBuilder& buildPortList = {});
  // The main window's close, in order: the memory views (freeViews), the
  // port, the programming file (closeProgramFile), the port list. Writes
  // nothing.
  void ShutDown(const std::function<void()>& freeViews = {},
                const std::function<void()>& closeProgramFile = {});

  void LoadProperties() override;

  // Every write below ends with an outcome: Finished, or BadFile with the
  // store's message for the first key that could not be written (the window
  // shows it in an error box).
  // The saving half of the configure command. confirmed is null when the
  // dialog was cancelled. Confirmed: ProgramFile follows "HexBin" unless a
  // program file was chosen directly, then every key is written. The
  // settings are reloaded afterwards, unless a write failed.
  Outcome FinishConfigure(const PropertyValues* confirmed);
  // The end of New, once ProjectFile names the new project: confirmed, the
  // values are written in the new-project layout; then, unless a write
  // failed, the settings are reloaded (so the new project's port opens).
  // ProgramFile is left to the reload.
  Outcome FinishNewProject(const PropertyValues* confirmed);
  // Writes the values to the current store.
  Outcome SaveProperties(const PropertyValues& values, SaveLayout layout = SaveLayout::Properties);
  // Records the folder of a file the user opened as the per-user store's
  // "WorkDir"; the working folder in memory stays as it is until the next
  // start.
  Outcome WriteWorkDir(const std::string& folder);

  const std::vector<std::string>& PortList() const { return portList_; }
  // The port list built again, as start-up built it: adapters come and go
  // while the program runs. The port this program holds open is offered
  // although a probe finds it busy.
  const std::vector<std::string>& RebuildPortList();
  // Why the port the settings name is closed: the open error's text; empty
  // while it is open or when no port is named.
  const std::string& PortError() const { return portError_; }
  std::string PortProblem() const override { return portError_; }
  // Before a command talks to the target: a port that is closed, failed to
  // open or lost its device is opened again. True when it is open now.
  bool EnsurePortReady();

  // The port status of the first panel: "COM2,19200Bd,N,8,1" or "Closed".
  std::string PortStatusText() const;
  // The port's device went away: it is closed, the panel says "Closed" with
  // error as its reason, and the next command opens it again.
  void PortWentAway(const std::string& error);

 private:
  SettingsStore UseUserStoreAsProject();
  void ProbePorts();
  void OpenStartPort();
  void OpenPortNamed(const std::string& name);
  void ClosePortIfOpen();
  void ApplyBaud();
  void ApplyPort();
  std::string DeviceName() const;

  Session& session_;
  std::string userStorePath_;
  std::vector<std::string> portList_;
  PortListBuilder buildPortList_;
  std::string portError_;
};

}  // namespace varnel
