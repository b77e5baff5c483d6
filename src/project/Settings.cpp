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

void ReadWorkDirAndPort(const SettingsStore& store, Session& s) {
  s.WorkDir = store.ReadText(section::Properties, "WorkDir", "");
  s.ProjectSettings.PortName = store.ReadText(section::Properties, "Port", store.PortDefault());
  if (s.WorkDir.empty()) s.WorkDir = HomeFolder();
}

// No stop request from before the start; the loader's rate until the
// settings apply theirs.
void ResetLinkState(Session& s) {
  s.BeginSequence();
  s.ProjectSettings.BaudText = InfoOfRate(kDefaultBaudRate).text;
  if (s.Port()) s.Port()->SetBaudRate(kDefaultBaudRate);
  s.SetEndAddress(0x0FFF);
}

// The default selection is every memory's default range, the flash up to
// the size the connected chip has.
void ReadUploadSelection(const SettingsStore& store, ProjectSettingsRecord& ps) {
  if (store.ReadBool(KeyOf("Default"))) {
    ps.CodeMin = InfoOf(MemoryKind::Code).firstDefault;
    ps.CodeMax = 0;  // up to the detected flash size
    ps.SFRMin = InfoOf(MemoryKind::SFR).firstDefault, ps.SFRMax = InfoOf(MemoryKind::SFR).lastDefault;
    ps.IRAMMin = InfoOf(MemoryKind::IRAM).firstDefault;
    ps.IRAMMax = InfoOf(MemoryKind::IRAM).lastDefault;
    ps.ExtMin = InfoOf(MemoryKind::ExtRAM).firstDefault;
    ps.ExtMax = InfoOf(MemoryKind::ExtRAM).lastDefault;
    ps.UploadCode = ps.UploadExtRAM = ps.UploadSFR = true;
    return;
  }
  using R = ProjectSettingsRecord;
  for (auto [key, field] : {std::pair{"CodeMin", &R::CodeMin}, {"CodeMax", &R::CodeMax},
                            {"SFRMin", &R::SFRMin}, {"SFRMax", &R::SFRMax},
                            {"IRAMMin", &R::IRAMMin}, {"IRAMMax", &R::IRAMMax},
                            {"ExtMin", &R::ExtMin}, {"ExtMax", &R::ExtMax}}) {
    ps.*field = store.ReadAddress(KeyOf(key));
  }
  for (auto [key, field] : {std::pair{"UploadCode", &R::UploadCode},
                            {"UploadExtRAM", &R::UploadExtRAM}, {"UploadSFR", &R::UploadSFR}}) {
    ps.*field = store.ReadBool(KeyOf(key));
  }
}

void ReadProgrammingSteps(const SettingsStore& store, ProjectSettingsRecord& ps) {
  using R = ProjectSettingsRecord;
  for (auto [key, field] : {std::pair{"MassErase", &R::MassErase}, {"ErasePS1", &R::ErasePS1},
                            {"ProgFlash", &R::ProgFlash}, {"ProgPS1", &R::ProgPS1},
                            {"Verify", &R::Verify}}) {
    ps.*field = store.ReadBool(KeyOf(key));
  }
}

// The registers programming writes, over whatever an upload left there.
void ReadRegistersIntoPage(const SettingsStore& store, MemoryImages& images) {
  images.CfgImage.Write(MemoryImages::kHCR1Offset, store.ReadRegister(KeyOf("HCR1")));
  images.CfgImage.Write(MemoryImages::kHCR0Offset, store.ReadRegister(KeyOf("HCR0")));
}

void ReadFilesAndLink(const SettingsStore& store, ProjectSettingsRecord& ps) {
  ps.HexBinFile = store.ReadText(KeyOf("HexBin"));
  ps.PortName = store.ReadText(section::Properties, "Port", store.PortDefault());
  ps.BaudText = store.ReadText(KeyOf("Baud"));
  ps.LstFile = store.ReadText(KeyOf("Lst"));
  ps.ControlDTR = store.ReadBool(KeyOf("ControlDTR"));
  ps.ResetSequence = store.ReadText(KeyOf("ResetSequence"));
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

void Settings::ProbePorts() {
  if (buildPortList_) {
    portList_ = buildPortList_();
  } else {
    BuildPortList(portList_, false);
  }
}

const std::vector<std::string>& Settings::RebuildPortList() {
  ProbePorts();
  // The probe takes the port's lock, so the one open here looks busy.
  const std::string& open = session_.ProjectSettings.PortName;
  if (session_.PortOpen && !open.empty() && open != kNone &&
      std::find(portList_.begin(), portList_.end(), open) == portList_.end()) {
    const auto none = std::find(portList_.begin(), portList_.end(), kNone);
    portList_.insert(none, open);
  }
  return portList_;
}

SettingsStore Settings::UseUserStoreAsProject() {
  // Its folder is made at the first start, and the port mapping is read
  // before any port name is turned into a device, the probe included.
  session_.ProjectFile.clear();
  EnsureUserStoreFolder(userStorePath_);
  SettingsStore store = OpenUserStore();
  SetComMapping(ReadComMapping(store.File()));
  return store;
}

void Settings::OpenStartPort() {
  if (session_.ProjectSettings.PortName != kNone) {
    OpenPortNamed(session_.ProjectSettings.PortName);
  } else {
    session_.NotePortClosed();
    portError_.clear();
  }
}

void Settings::StartUp(const PortListBuilder& buildPortList) {
  // No project: the per-user store is the default project.
  const SettingsStore store = UseUserStoreAsProject();
  // Each opening of the properties dialog builds the list again the same way.
  buildPortList_ = buildPortList;
  ProbePorts();
  ReadWorkDirAndPort(store, session_);
  // The connect handshake offers the target commands.
  session_.WithdrawTarget();
  session_.Images.FillAll(0xFF);
  ResetLinkState(session_);
  OpenStartPort();
  // Written before the settings apply the stored rate.
  session_.Ui().SetStatusPanel(Session::kStatusPort, PortStatusText());
  session_.ForgetProgramFile();
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
  // Every read goes to the file of the current back-end; nothing stays open
  // between calls.
  const SettingsStore store = OpenStore();
  ReadUploadSelection(store, ps);
  ReadProgrammingSteps(store, ps);
  ReadRegistersIntoPage(store, s.Images);
  ReadFilesAndLink(store, ps);
  ApplyBaud();
  ApplyPort();
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
