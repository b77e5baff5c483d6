#include "project/Settings.h"

#include <sys/stat.h>

#include <QDir>

#include <cstdlib>
#include <gtest/gtest.h>

#include "support/FileFaults.h"
#include "link/PortNames.h"
#include "support/RecordingUi.h"
#include "support/ScriptedPort.h"

namespace varnel {
namespace {

using testing::FileSizeLimit;
using testing::ReadFile;
using testing::RecordingUi;
using testing::TestFolder;
using testing::WriteFile;

// A port that counts opens and closes and can refuse to open, as an
// unplugged adapter does.
class FlakyPort : public testing::ScriptedPort {
 public:
  int opens = 0, closes = 0;
  bool failOpen = false;
  FlakyPort() {
    open = false;
    device = "Com1";
  }
  void Open() override {
    ++opens;
    if (failOpen) throw ECommError("Error accessing specified device", 2);
    open = true;
  }
  void Close() override {
    if (open) ++closes;
    open = false;
  }
};

class SettingsTest : public ::testing::Test {
 protected:
  SettingsTest() {
    session.AttachUi(&ui);
    session.AttachPort(&port);
  }
  ~SettingsTest() override { SetComMapping({}); }

  void UseProject(const std::string& text) {
    session.ProjectFile = folder.Path("demo.prj");
    WriteFile(session.ProjectFile, text);
  }
  // A write's outcome as the window shows it: a failure is an error box.
  bool Saved(const Outcome& outcome) {
    if (!outcome.Done()) ui.RunEnded(outcome);
    return outcome.Done();
  }
  void WriteUserStore(const std::string& text) {
    ::mkdir(folder.Path("user").c_str(), 0755);
    WriteFile(userPath, text);
  }

  TestFolder folder;
  std::string userPath = folder.Path("user/Varnel.ini");
  Session session;
  RecordingUi ui;
  FlakyPort port;
  Settings settings{session, userPath};
  SettingsSource& source = settings;
};

TEST_F(SettingsTest, DefaultSelectionIgnoresStoredRangesAndStoredRangesHaveTableDefaults) {
  UseProject("[Code&Data]\nCodeMin=1000\nCodeMax=2FFF\nUploadCode=0\nMassErase=0\n");
  source.LoadProperties();  // through the settings source, as the sequences call it
  const ProjectSettingsRecord& ps = session.ProjectSettings;
  EXPECT_EQ(ps.CodeMin, 0);
  EXPECT_EQ(ps.CodeMax, 0);
  EXPECT_TRUE(ps.UploadCode);
  EXPECT_FALSE(ps.MassErase);  // the programming steps are read either way

  UseProject("[Code&Data]\nDefault=0\n");
  source.LoadProperties();
  EXPECT_EQ(std::vector<int>({ps.CodeMin, ps.CodeMax, ps.SFRMin, ps.SFRMax, ps.IRAMMin,
                              ps.IRAMMax, ps.ExtMin, ps.ExtMax}),
            std::vector<int>({0, 0x7FFF, 0x80, 0xFF, 0, 0xFF, 0, 0x3FF}));
  EXPECT_TRUE(ps.UploadCode && ps.UploadExtRAM && ps.UploadSFR);
  EXPECT_TRUE(ps.MassErase && ps.ErasePS1 && ps.ProgFlash && ps.ProgPS1);

  // Address text is decoded as the loader's digits are, valid or not.
  UseProject("[Code&Data]\nDefault = 0\nCodeMax=ff\nSFRMin=\nUploadSFR=yes\nUploadCode=2\n");
  source.LoadProperties();
  EXPECT_EQ(ps.CodeMax, 47 * 16 + 47);  // 'f' counts as 47
  EXPECT_EQ(ps.SFRMin, 0);
  EXPECT_TRUE(ps.UploadSFR);  // not a number: the default
  EXPECT_TRUE(ps.UploadCode);
}

TEST_F(SettingsTest, RegistersGoIntoTheConfigurationImageOverWhatWasThere) {
  session.Images.CfgImage.Fill(0x11);
  UseProject("[MSC1210Setup]\nHCR0=7Fh\nHCR1=50h\n");
  settings.LoadProperties();
  EXPECT_EQ(session.Images.CfgImage.Read(0x7F), 0x7F);
  EXPECT_EQ(session.Images.CfgImage.Read(0x7E), 0x50);
  EXPECT_EQ(session.Images.CfgImage.Read(0x7D), 0x11);

  UseProject("[MSC1210Setup]\nHCR0=7fh\n");  // lower case decodes as the loader would
  settings.LoadProperties();
  EXPECT_EQ(session.Images.CfgImage.Read(0x7F), 0x9F);
  EXPECT_EQ(session.Images.CfgImage.Read(0x7E), 0xFF);  // missing: FFh
}

TEST_F(SettingsTest, PortDefaultsDifferByBackEnd) {
  settings.LoadProperties();  // no project, empty per-user store
  EXPECT_EQ(session.ProjectSettings.PortName, "None");
  EXPECT_EQ(session.ProjectSettings.BaudText, "9600");
  EXPECT_FALSE(session.PortOpen);
  EXPECT_EQ(port.opens, 0);
  EXPECT_EQ(port.device, "");
  EXPECT_EQ(ui.panels[0], "Closed");

  UseProject("");  // a project file without the key opens COM1
  settings.LoadProperties();
  EXPECT_EQ(session.ProjectSettings.PortName, "COM1");
  EXPECT_TRUE(session.PortOpen);
  EXPECT_EQ(ui.panels[0], "COM1,9600Bd,N,8,1");
}

TEST_F(SettingsTest, PortSwitchesOnlyWhenTheNameChangesOrTheLastOpenFailed) {
  WriteUserStore("[Properties]\nPort=COM3\n");
  UseProject("[Properties]\nPort=COM2\nBaud=19200\n");
  port.failOpen = true;
  settings.LoadProperties();
  EXPECT_FALSE(session.PortOpen);
  EXPECT_EQ(ui.panels[0], "Closed");

  port.failOpen = false;  // adapter plugged in: the next reload recovers
  settings.LoadProperties();
  EXPECT_TRUE(session.PortOpen);
  EXPECT_EQ(port.baud, br19200);
  EXPECT_EQ(ui.panels[0], "COM2,19200Bd,N,8,1");
  EXPECT_TRUE(ui.boxes.empty());

  ui.panels[0] = "untouched";
  settings.LoadProperties();
  EXPECT_EQ(port.opens, 2);  // open and unchanged: never reopened
  EXPECT_EQ(ui.panels[0], "COM2,19200Bd,N,8,1");  // but the panel shows the rate in use

  session.ProjectFile.clear();  // Close: the per-user store's port applies
  settings.LoadProperties();
  EXPECT_EQ(port.closes, 1);
  EXPECT_EQ(port.device, "COM3");
  EXPECT_EQ(port.baud, br9600);
  EXPECT_EQ(ui.panels[0], "COM3,9600Bd,N,8,1");

  WriteUserStore("[Properties]\nPort=None\nBaud=123\n");
  port.baud = br110;
  settings.LoadProperties();
  EXPECT_EQ(port.baud, br9600);  // a rate outside the list
  EXPECT_FALSE(session.PortOpen);
  EXPECT_FALSE(port.open);
  EXPECT_EQ(port.device, "");
  EXPECT_EQ(ui.panels[0], "Closed");
}

TEST_F(SettingsTest, StartUpOpensTheStoredPortBeforeTheSettingsApplyTheirRate) {
  WriteUserStore(
      "[Properties]\nPort=COM2\nBaud=19200\n"
      "[Ports]\ncom2=ttyUSB7\nCOM3=/dev/ttyACM0\nCOM4=\n"
      "[Code&Data]\nHexBin=/fw/app.hex\n");
  session.Images.CodeImage.Fill(0);
  session.RequestStop();
  settings.StartUp([] { return std::vector<std::string>{"COM2", "None"}; });

  EXPECT_EQ(ComMapping(), (std::map<std::string, std::string>{{"COM2", "/dev/ttyUSB7"},
                                                              {"COM3", "/dev/ttyACM0"}}));
  EXPECT_EQ(settings.PortList(), (std::vector<std::string>{"COM2", "None"}));
  EXPECT_EQ(ui.panels[0], "COM2,19200Bd,N,8,1");  // the rate the settings applied
  EXPECT_EQ(port.baud, br19200);
  EXPECT_EQ(port.opens, 1);
  EXPECT_FALSE(session.WorkDir.empty());
  EXPECT_EQ(session.WorkDir.back(), '/');
  // No stored folder: the user's home, never the program's own folder.
  const char* home = std::getenv("HOME");
  if (home && *home) {
    EXPECT_EQ(session.WorkDir, std::string(home) + (std::string(home).ends_with('/') ? "" : "/"));
  }
  EXPECT_FALSE(ui.targetButtonsEnabled);
  EXPECT_EQ(session.Images.CodeImage.Read(0x1234), 0xFF);
  EXPECT_FALSE(session.StopRequested);
  EXPECT_EQ(session.EndAddress, 0x0FFF);
  EXPECT_EQ(session.ProgramFile, "/fw/app.hex");
  EXPECT_EQ(ui.panels[2], "Prog.: /fw/app.hex");

  const std::string before = ReadFile(userPath);
  settings.ShutDown();
  EXPECT_FALSE(port.open);
  EXPECT_TRUE(settings.PortList().empty());
  EXPECT_EQ(ReadFile(userPath), before);
}

TEST_F(SettingsTest, ConfirmedDialogWritesEveryKeyInTableOrderThenReloads) {
  UseProject("");
  ::unlink(session.ProjectFile.c_str());
  PropertyValues values;
  values.Port = "COM2";
  values.HexBin = "/fw/new.hex";
  values.Default = false;
  ASSERT_TRUE(settings.FinishConfigure(&values).Done());
  EXPECT_EQ(ReadFile(session.ProjectFile),
            "[Properties]\nPort=COM2\nBaud=9600\nVersion=\n\n"
            "[MSC1210Setup]\nHCR0=FFh\nHCR1=FFh\nRealClk=4\nManualClk=0\nControlDTR=0\n\n"
            "[Code&Data]\nHexBin=/fw/new.hex\nLst=\nCodeMin=0000\nCodeMax=7FFF\nSFRMin=80\n"
            "SFRMax=FF\nIRAMMin=00\nIRAMMax=FF\nExtMin=0000\nExtMax=03FF\nProgMin=0000\n"
            "ProgMax=7FFF\nDefault=0\nUploadCode=1\nUploadExtRAM=1\nUploadSFR=1\nMassErase=1\n"
            "ErasePS1=1\nProgFlash=1\nProgPS1=1\nVerify=0\n");
  EXPECT_EQ(ReadPropertyValues(settings.OpenStore()), values);
  EXPECT_EQ(port.device, "COM2");  // reloaded: the new port is open
  EXPECT_EQ(session.ProgramFile, "/fw/new.hex");

  // A program file opened directly stays the one programming downloads.
  session.ChooseProgramFile("/fw/chosen.hex");
  values.HexBin = "/fw/other.hex";
  ASSERT_TRUE(settings.FinishConfigure(&values).Done());
  EXPECT_EQ(session.ProgramFile, "/fw/chosen.hex");
  EXPECT_EQ(ui.panels[2], "Prog.: /fw/chosen.hex");
  EXPECT_EQ(session.ProjectSettings.HexBinFile, "/fw/other.hex");
}

TEST_F(SettingsTest, AResetSequenceIsKeptOnlyOnceOneWasGiven) {
  UseProject("[Properties]\nPort=COM2\n");
  PropertyValues values;
  values.Port = "COM2";
  ASSERT_TRUE(settings.FinishConfigure(&values).Done());
  EXPECT_EQ(ReadFile(session.ProjectFile).find("ResetSequence"), std::string::npos);
  EXPECT_EQ(session.ProjectSettings.ResetSequence, "");

  values.ResetSequence = "dtr=0,rts=1,100,rts=0";
  ASSERT_TRUE(settings.FinishConfigure(&values).Done());
  EXPECT_NE(ReadFile(session.ProjectFile).find("Version=\nResetSequence=dtr=0,rts=1,100,rts=0\n"),
            std::string::npos)
      << ReadFile(session.ProjectFile);
  EXPECT_EQ(session.ProjectSettings.ResetSequence, "dtr=0,rts=1,100,rts=0");
  EXPECT_EQ(ReadPropertyValues(settings.OpenStore()).ResetSequence, "dtr=0,rts=1,100,rts=0");

  // Back to the usual pulse: the key stays, emptied, so nothing old comes back.
  values.ResetSequence.clear();
  ASSERT_TRUE(settings.FinishConfigure(&values).Done());
  EXPECT_NE(ReadFile(session.ProjectFile).find("ResetSequence=\n"), std::string::npos);
  EXPECT_EQ(session.ProjectSettings.ResetSequence, "");

  // The per-user store keeps one the same way, and a new project starts from it.
  session.ProjectFile.clear();
  WriteUserStore("[Properties]\nResetSequence=pulse-inverted\n");
  settings.LoadProperties();
  EXPECT_EQ(session.ProjectSettings.ResetSequence, "pulse-inverted");
  EXPECT_EQ(ReadNewProjectValues(settings.OpenUserStore()).ResetSequence, "pulse-inverted");
}

TEST_F(SettingsTest, NewProjectLayoutKeepsTheKeysItDoesNotWrite) {
  WriteUserStore("[Properties]\nWorkDir=/w/\n");
  const PropertyValues fresh = ReadNewProjectValues(settings.OpenUserStore());
  EXPECT_EQ(fresh.Port, "None");
  EXPECT_EQ(fresh.Baud, "");
  EXPECT_TRUE(fresh.ControlDTR);
  EXPECT_EQ(ReadPropertyValues(settings.OpenUserStore()).Port, "COM1");

  UseProject("[Properties]\r\nBaud=38400\r\n[Code&Data]\r\nIRAMMin=10\r\n");
  ASSERT_TRUE(settings.FinishNewProject(&fresh).Done());
  EXPECT_EQ(session.ProjectSettings.BaudText, "38400");  // reloaded from the new project
  const std::string text = ReadFile(session.ProjectFile);
  EXPECT_NE(text.find("Baud=38400\r\nPort=None\r\nVersion=\r\n"), std::string::npos);
  EXPECT_NE(text.find("IRAMMin=10\r\n"), std::string::npos);
  EXPECT_EQ(text.find("IRAMMax"), std::string::npos);
  for (std::size_t i = text.find('\n'); i != std::string::npos; i = text.find('\n', i + 1)) {
    ASSERT_EQ(text[i - 1], '\r');  // still CRLF throughout
  }
  EXPECT_EQ(text.find("\n\n"), std::string::npos);
}

TEST_F(SettingsTest, FailedSaveShowsItsMessageLosesNothingAndDoesNotReload) {
  // The writes run out of room, which stops root and an ordinary user alike;
  // the file modes that stop only the latter are IniFile's own tests.
  constexpr rlim_t kRoom = 8;
  const std::string before = "[Properties]\nPort=COM2\n";
  UseProject(before);
  session.ProjectSettings.PortName = "kept";
  PropertyValues values;
  values.Port = "COM4";
  {
    FileSizeLimit full(kRoom);
    EXPECT_FALSE(Saved(settings.FinishConfigure(&values)));
  }
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].kind, MessageKind::Error);
  EXPECT_EQ(ui.boxes[0].text, "Unable to write to " + session.ProjectFile);
  EXPECT_EQ(ReadFile(session.ProjectFile), before);
  EXPECT_EQ(session.ProjectSettings.PortName, "kept");
  EXPECT_EQ(port.opens, 0);

  // The per-user store names the section it could not add, or the key.
  session.ProjectFile.clear();
  WriteUserStore("[Properties]\nPort=COM2\n");
  {
    FileSizeLimit full(kRoom);
    EXPECT_FALSE(Saved(settings.SaveProperties(values)));
    EXPECT_FALSE(Saved(settings.WriteWorkDir("/w/")));
  }
  EXPECT_EQ(ReadFile(userPath), "[Properties]\nPort=COM2\n");
  WriteFile(userPath, "; nothing yet\n");
  {
    FileSizeLimit full(kRoom);
    EXPECT_FALSE(Saved(settings.SaveProperties(values)));
  }
  EXPECT_EQ(ReadFile(userPath), "; nothing yet\n");
  ASSERT_EQ(ui.boxes.size(), 4u);
  EXPECT_EQ(ui.boxes[1].text, "Failed to set data for 'Port'");
  EXPECT_EQ(ui.boxes[2].text, "Failed to set data for 'WorkDir'");
  EXPECT_EQ(ui.boxes[3].text, "Failed to create key Properties");
  // No temporary file is left beside either store.
  EXPECT_EQ(QDir(QString::fromStdString(folder.Path())).entryList(QDir::Hidden | QDir::Files |
                                                                   QDir::NoDotAndDotDot),
            QStringList({"demo.prj"}));
  EXPECT_EQ(QDir(QString::fromStdString(folder.Path("user")))
                .entryList(QDir::Hidden | QDir::Files | QDir::NoDotAndDotDot),
            QStringList({"Varnel.ini"}));
}

}  // namespace
}  // namespace varnel
