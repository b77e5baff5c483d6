// Start-up, LoadProperties, the port settings and the configure save.
#include "project/Settings.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "link/PortList.h"
#include "link/PortNames.h"

namespace varnel {
namespace {

constexpr char kNone[] = "None";
constexpr char kClosed[] = "Closed";

// Where file dialogs start when no working folder is stored: the user's
// home folder (the program's own folder, /usr/bin once installed, is no
// place for projects), with a trailing separator.
std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  std::string folder = home && *home ? home : std::filesystem::current_path().string();
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

Settings::Settings(Session& session, std::string userStorePath)
    : session_(session), userStorePath_(std::move(userStorePath)) {}

Settings::~Settings() = default;

SettingsStore Settings::OpenStore() const {
  return SettingsStore::Choose(session_.ProjectFile, userStorePath_);
}

SettingsStore Settings::OpenUserStore() const {
  return SettingsStore(SettingsStore::Backend::UserStore, userStorePath_);
}

std::string Settings::DeviceName() const {
  return session_.Port() ? session_.Port()->DeviceName() : std::string();
}

std::string Settings::PortStatusText() const {
  if (!session_.PortOpen) return kClosed;
  return DeviceName() + "," + session_.ProjectSettings.BaudText + "Bd,N,8,1";
}

void Settings::ClosePortIfOpen() {
  CommPort* port = session_.Port();
  if (port && (session_.PortOpen || port->IsOpen())) port->Close();
  session_.NotePortClosed();
}

void Settings::OpenPortNamed(const std::string& name) {
  CommPort* port = session_.Port();
  session_.NotePortOpened();
  portError_.clear();
  try {
    if (!port) throw ECommError("Error accessing specified device", -1);
    port->SetDeviceName(name);
    port->Open();
  } catch (const std::exception& e) {
    // An absent or busy port only shows as "Closed", its reason kept for
    // the status bar; the next LoadProperties tries it again.
    session_.NotePortClosed();
    portError_ = e.what();
  } catch (...) {
    session_.NotePortClosed();
    portError_ = "Error accessing specified device";
  }
}

bool Settings::EnsurePortReady() {
  const bool hungUp = session_.Port() && session_.Port()->IsHungUp();
  if (!session_.PortOpen || hungUp) ApplyPort();
  return session_.PortOpen;
}

void Settings::PortWentAway(const std::string& error) {
  ClosePortIfOpen();
  portError_ = error;
  session_.Ui().SetStatusPanel(Session::kStatusPort, PortStatusText());
}

const std::vector<std::string>& Settings::RebuildPortList() {
  if (buildPortList_) {
    portList_ = buildPortList_();
  } else {
    BuildPortList(portList_, false);
  }
  // The probe takes the port's lock, so the one open here looks busy.
  const std::string& open = session_.ProjectSettings.PortName;
  if (session_.PortOpen && !open.empty() && open != kNone &&
      std::find(portList_.begin(), portList_.end(), open) == portList_.end()) {
    const auto none = std::find(portList_.begin(), portList_.end(), kNone);
    portList_.insert(none, open);
  }
  return portList_;
}

void Settings::StartUp(const PortListBuilder& buildPortList) {
  Session& s = session_;
  ProjectSettingsRecord& ps = s.ProjectSettings;

  // 1. No project: the per-user store is the default project. Its folder
  // is made at the first start, and the port mapping is read before any
  // port name is turned into a device, the probe included.
  s.ProjectFile.clear();
  EnsureUserStoreFolder(userStorePath_);
  const SettingsStore store = OpenUserStore();
  SetComMapping(ReadComMapping(store.File()));

  // 2. Ports offered by the properties dialog; each opening of the dialog
  // builds the list again the same way.
  buildPortList_ = buildPortList;
  if (buildPortList_) {
    portList_ = buildPortList_();
  } else {
    BuildPortList(portList_, false);
  }

  // 3. Working folder and the port to open.
  s.WorkDir = store.ReadText(section::Properties, "WorkDir", "");
  ps.PortName = store.ReadText(section::Properties, "Port", store.PortDefault());
  if (s.WorkDir.empty()) s.WorkDir = HomeFolder();

  // 4. The connect handshake offers the target commands.
  s.WithdrawTarget();

  // 5.
  s.Images.FillAll(0xFF);

  // 6.
  s.BeginSequence();  // no stop request from before the start
  ps.BaudText = "9600";
  if (s.Port()) s.Port()->SetBaudRate(br9600);
  s.SetEndAddress(0x0FFF);

  // 7.
  if (ps.PortName != kNone) {
    OpenPortNamed(ps.PortName);
  } else {
    s.NotePortClosed();
    portError_.clear();
  }

  // 8. Written before the settings apply the stored rate.
  s.Ui().SetStatusPanel(Session::kStatusPort, PortStatusText());

  // 9.
  s.ForgetProgramFile();

  // 10.
  LoadProperties();
}

void Settings::ShutDown(const std::function<void()>& freeViews,
                        const std::function<void()>& closeProgramFile) {
  if (freeViews) freeViews();
  if (session_.PortOpen && session_.Port()) session_.Port()->Close();
  session_.NotePortClosed();
  if (closeProgramFile) closeProgramFile();
  portList_.clear();
}

void Settings::LoadProperties() {
  Session& s = session_;
  ProjectSettingsRecord& ps = s.ProjectSettings;

  // 1. Every read below goes to the file of the current back-end.
  const SettingsStore store = OpenStore();

  // 2. Upload selection.
  if (store.ReadBool(KeyOf("Default"))) {
    ps.CodeMin = InfoOf(MemoryKind::Code).firstDefault;
    ps.CodeMax = 0;  // up to the detected flash size
    ps.SFRMin = InfoOf(MemoryKind::SFR).firstDefault, ps.SFRMax = InfoOf(MemoryKind::SFR).lastDefault;
    ps.IRAMMin = InfoOf(MemoryKind::IRAM).firstDefault;
    ps.IRAMMax = InfoOf(MemoryKind::IRAM).lastDefault;
    ps.ExtMin = InfoOf(MemoryKind::ExtRAM).firstDefault;
    ps.ExtMax = InfoOf(MemoryKind::ExtRAM).lastDefault;
    ps.UploadCode = ps.UploadExtRAM = ps.UploadSFR = true;
  } else {
    ps.CodeMin = store.ReadAddress(KeyOf("CodeMin"));
    ps.CodeMax = store.ReadAddress(KeyOf("CodeMax"));
    ps.SFRMin = store.ReadAddress(KeyOf("SFRMin"));
    ps.SFRMax = store.ReadAddress(KeyOf("SFRMax"));
    ps.IRAMMin = store.ReadAddress(KeyOf("IRAMMin"));
    ps.IRAMMax = store.ReadAddress(KeyOf("IRAMMax"));
    ps.ExtMin = store.ReadAddress(KeyOf("ExtMin"));
    ps.ExtMax = store.ReadAddress(KeyOf("ExtMax"));
    ps.UploadCode = store.ReadBool(KeyOf("UploadCode"));
    ps.UploadExtRAM = store.ReadBool(KeyOf("UploadExtRAM"));
    ps.UploadSFR = store.ReadBool(KeyOf("UploadSFR"));
  }

  // 3. Programming steps.
  ps.MassErase = store.ReadBool(KeyOf("MassErase"));
  ps.ErasePS1 = store.ReadBool(KeyOf("ErasePS1"));
  ps.ProgFlash = store.ReadBool(KeyOf("ProgFlash"));
  ps.ProgPS1 = store.ReadBool(KeyOf("ProgPS1"));
  ps.Verify = store.ReadBool(KeyOf("Verify"));

  // 4. The registers programming writes, over whatever an upload left there.
  s.Images.CfgImage.Write(MemoryImages::kHCR1Offset, store.ReadRegister(KeyOf("HCR1")));
  s.Images.CfgImage.Write(MemoryImages::kHCR0Offset, store.ReadRegister(KeyOf("HCR0")));

  // 5.
  ps.HexBinFile = store.ReadText(KeyOf("HexBin"));
  ps.PortName = store.ReadText(section::Properties, "Port", store.PortDefault());
  ps.BaudText = store.ReadText(KeyOf("Baud"));
  ps.LstFile = store.ReadText(KeyOf("Lst"));
  ps.ControlDTR = store.ReadBool(KeyOf("ControlDTR"));

  // 6. Nothing stays open between calls.

  // 7-9.
  ApplyBaud();
  ApplyPort();

  // 10-11.
  s.FollowSettingsProgramFile(ps.HexBinFile);
  s.Ui().SetStatusPanel(Session::kStatusProgram, "Prog.: " + s.ProgramFile);
}

void Settings::ApplyBaud() {
  const std::string& text = session_.ProjectSettings.BaudText;
  if (!text.empty() && session_.Port()) session_.Port()->SetBaudRate(BaudRateFromText(text));
}

void Settings::ApplyPort() {
  Session& s = session_;
  const std::string& name = s.ProjectSettings.PortName;
  if (name == kNone) {
    portError_.clear();
    s.Ui().SetStatusPanel(Session::kStatusPort, kClosed);
    ClosePortIfOpen();
    if (CommPort* port = s.Port()) {
      try {
        port->SetDeviceName("");
      } catch (...) {
        // A port that refuses the change is still closed; nothing to show.
      }
    }
    return;
  }
  // A port that is open under this name is left alone; a named port that
  // failed to open is tried again, so plugging the adapter in afterwards
  // recovers with the next command.
  // A port whose device went away is reopened like one that failed to open,
  // so an adapter plugged back in recovers with the next command.
  const bool hungUp = s.Port() && s.Port()->IsHungUp();
  if (name == DeviceName() && s.PortOpen && !hungUp) {
    // The port stays as it is, but the panel follows a new baud rate: it
    // must never show a rate the line does not run at.
    s.Ui().SetStatusPanel(Session::kStatusPort, PortStatusText());
    return;
  }
  ClosePortIfOpen();
  OpenPortNamed(name);
  s.Ui().SetStatusPanel(Session::kStatusPort, PortStatusText());
}

Outcome Settings::SaveProperties(const PropertyValues& values, SaveLayout layout) {
  SettingsStore store = OpenStore();
  return varnel::SaveProperties(store, values, layout, Session::ProgramVersion);
}

Outcome Settings::FinishConfigure(const PropertyValues* confirmed) {
  if (confirmed) {
    // Saved first, so a save that fails leaves the program file as it was.
    if (Outcome saved = SaveProperties(*confirmed); !saved.Done()) return saved;
    session_.FollowSettingsProgramFile(confirmed->HexBin);
  }
  LoadProperties();
  return {};
}

Outcome Settings::FinishNewProject(const PropertyValues* confirmed) {
  if (confirmed) {
    if (Outcome saved = SaveProperties(*confirmed, SaveLayout::NewProject); !saved.Done()) {
      return saved;
    }
  }
  LoadProperties();
  return {};
}

Outcome Settings::WriteWorkDir(const std::string& folder) {
  SettingsStore store = OpenUserStore();
  std::string message;
  if (store.WriteText(section::Properties, "WorkDir", folder, &message)) return {};
  return {OutcomeKind::BadFile, message};
}

}  // namespace varnel
