// The settings store read for the command line, with the options over it.
#include "cli/CliSettings.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "cli/ExitStatus.h"
#include "cli/Options.h"
#include "core/BaudRates.h"
#include "cli/LineRates.h"
#include "core/ResetSequence.h"
#include "link/PortNames.h"
#include "project/Settings.h"
#include "project/UserStore.h"

namespace varnel::cli {

CliSettings::CliSettings(Session& session, const Options& options)
    : session_(session), options_(options), userStore_(UserStorePath()) {
  if (!options.project.empty()) {
    struct stat st {};
    if (::stat(options.project.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      throw CliFailure(OutcomeKind::Refused, "no project file " + options.project);
    }
  }
  // COM names stand for the devices the per-user store maps them to, as
  // in the window.
  SetComMapping(ReadComMapping(IniFile(userStore_)));
}

namespace {

// "./ttyUSB0", "dev/ttyS0" or a file in the current folder: a path relative
// to where the command runs, made absolute so that it names a device.
std::string PortPath(const std::string& name) {
  if (name.front() == '/' || !ResolvePortDevice(name).empty()) return name;
  std::error_code ec;
  if (name.find('/') == std::string::npos && !std::filesystem::exists(name, ec)) return name;
  return std::filesystem::absolute(name, ec).lexically_normal().string();
}

}  // namespace

void CliSettings::LoadProperties() {
  // The window's own LoadProperties, over a session of its own without a
  // port, so that it reads every key as the window does but opens nothing.
  Session store;
  store.ProjectFile = options_.project;
  Settings settings(store, userStore_);
  settings.LoadProperties();

  Session& s = session_;
  s.ProjectSettings = store.ProjectSettings;
  for (int offset : {MemoryImages::kHCR1Offset, MemoryImages::kHCR0Offset}) {
    s.Images.CfgImage.Write(offset, store.Images.CfgImage.Read(offset));
  }

  ProjectSettingsRecord& ps = s.ProjectSettings;
  const Options& o = options_;
  if (!o.port.empty()) ps.PortName = PortPath(o.port);
  if (!o.baud.empty()) ps.BaudText = o.baud;
  if (o.reset) ps.ControlDTR = true;
  if (o.resetSequence) ps.ResetSequence = *o.resetSequence;
  if (o.clockHz) ps.CrystalHz = *o.clockHz;
  // The file on the command line is the one chosen, whatever "HexBin" says.
  if (!o.file.empty()) s.ChooseProgramFile(o.file);
}

TBaudrate CliSettings::Rate() const { return LineRateFromText(BaudText()).value_or(br9600); }

void CliSettings::CheckResetSequence() const {
  const ProjectSettingsRecord& ps = session_.ProjectSettings;
  if (!ps.ControlDTR) return;
  try {
    ParseResetSequence(ps.ResetSequence);
  } catch (const ResetSequenceError& e) {
    throw CliFailure(OutcomeKind::Refused, std::string(e.what()) + " (\"ResetSequence\" in " +
                                     (options_.project.empty() ? userStore_ : options_.project) +
                                     ")");
  }
}

std::string CliSettings::CheckedDevice() const {
  if (!LineRateFromText(BaudText())) {
    throw CliFailure(OutcomeKind::Refused,
                     "baud rate '" + BaudText() + "' is not one of " + LineRateList());
  }
  const std::string device = ResolvePortDevice(PortName());
  if (PortName().empty() || PortName() == "None") {
    throw CliFailure(OutcomeKind::Refused, "no port given: use -p PORT (or name one in the settings)");
  }
  if (device.empty()) {
    throw CliFailure(OutcomeKind::Refused,
                     "'" + PortName() + "' names no port: give a device path or COM1..COM8");
  }
  return device;
}

}  // namespace varnel::cli
