#include "project/ProjectCommands.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

#include "support/GuiApp.h"
#include "project/IniFile.h"
#include "project/TF_Properties.h"
#include "support/Files.h"
#include "support/RecordingUi.h"
#include "support/ScriptedPort.h"

namespace varnel {
namespace {

using testing::ReadFile;

class ProjectCommandsTest : public ::testing::Test {
 protected:
  ProjectCommandsTest() {
    testing::GuiApp();
    session.AttachUi(&ui);
    session.AttachPort(&port);
    port.open = false;
    port.device = "Com1";
    QDir().mkpath(dir.filePath("user"));  // start-up makes the per-user folder
    // The real dialog, answered by the test instead of a user.
    ui.editProperties = [this](const PropertiesRequest& request) {
      return TF_Properties::Run(request, nullptr, [this](TF_Properties& dialog) {
        shownCaption = dialog.windowTitle();
        shownPort = dialog.ComboPort->currentText();
        shownDTR = dialog.CheckDTR->isChecked();
        shownSpeed = dialog.ComboSpeed->currentText();
        if (edit) edit(dialog);
        return confirm;
      });
    };
  }
  std::string Path(const char* name) const { return dir.filePath(name).toStdString(); }

  QTemporaryDir dir;
  std::string userPath = Path("user/Varnel.ini");
  Session session;
  testing::RecordingUi ui;
  testing::ScriptedPort port;
  Settings settings{session, userPath};
  ProjectCommands commands{session, settings};
  const bool& closeEnabled = ui.closeEnabled;
  bool confirm = true;
  std::function<void(TF_Properties&)> edit;
  QString shownCaption, shownPort, shownSpeed;
  bool shownDTR = false;
};

TEST_F(ProjectCommandsTest, NewWithAnEmptyStoreWritesExactlyTheNewProjectKeys) {
  const std::string project = Path("demo.prj");
  ui.chooseNewProject = [&](const std::string&) { return project; };
  commands.SpeedNewClick();
  EXPECT_EQ(shownCaption, "Target properties - demo.prj");
  EXPECT_EQ(shownPort, "None");  // the per-user store's port, kept whether offered or not
  EXPECT_TRUE(shownDTR);     // a new project resets the target by default
  EXPECT_EQ(shownSpeed, "");
  EXPECT_EQ(session.ProjectFile, project);
  EXPECT_EQ(ReadFile(project),
            "[Properties]\nPort=None\nVersion=\n\n"
            "[MSC1210Setup]\nHCR0=FFh\nHCR1=FFh\nRealClk=4\nManualClk=0\nControlDTR=1\n\n"
            "[Code&Data]\nHexBin=\nLst=\nCodeMin=0000\nCodeMax=7FFF\nSFRMin=80\nSFRMax=FF\n"
            "ExtMin=0000\nExtMax=03FF\nProgMin=0000\nProgMax=7FFF\nDefault=1\nUploadCode=1\n"
            "UploadExtRAM=1\nUploadSFR=1\nMassErase=1\nErasePS1=1\nProgFlash=1\nProgPS1=1\n"
            "Verify=0\n");
  EXPECT_FALSE(closeEnabled);  // New alone leaves Close as it was
}

TEST_F(ProjectCommandsTest, NewOverAnExistingFileKeepsTheKeysItDoesNotWrite) {
  const std::string project = Path("old.prj");
  std::ofstream(project) << "; my notes\n[Properties]\nBaud=19200\nPort=COM2\n"
                            "[Code&Data]\nIRAMMin=10\nExtra=keep\n";
  ui.chooseNewProject = [&](const std::string&) { return project; };
  edit = [](TF_Properties& dialog) { dialog.Edt_CodeMax->setText("1FFF"); };
  commands.SpeedNewClick();
  IniFile file(project);
  EXPECT_EQ(file.ReadString("Properties", "Baud", ""), "19200");
  EXPECT_EQ(file.ReadString("Code&Data", "IRAMMin", ""), "10");
  EXPECT_EQ(file.ReadString("Code&Data", "Extra", ""), "keep");
  EXPECT_EQ(file.ReadString("Code&Data", "CodeMax", ""), "1FFF");
  EXPECT_EQ(file.ReadString("Properties", "Port", "?"), "None");  // the store's, not the file's
  EXPECT_EQ(ReadFile(project).rfind("; my notes\n", 0), 0u);
}

TEST_F(ProjectCommandsTest, CancelledNewKeepsTheProjectAndWritesNothing) {
  const std::string project = Path("new.prj");
  ui.chooseNewProject = [&](const std::string&) { return project; };
  confirm = false;
  commands.SpeedNewClick();
  EXPECT_EQ(session.ProjectFile, project);
  EXPECT_FALSE(QFile::exists(QString::fromStdString(project)));
  ui.chooseNewProject = [](const std::string&) { return std::string(); };
  commands.SpeedNewClick();  // the save dialog cancelled: nothing at all
  EXPECT_EQ(session.ProjectFile, project);
}

TEST_F(ProjectCommandsTest, OpenActsOnTheExtensionWhateverItsCase) {
  const std::string project = Path("demo.PRJ");
  std::ofstream(project) << "[Code&Data]\nHexBin=/fw/from-project.hex\n";
  ui.chooseFileToOpen = [&](const std::string&) { return project; };
  commands.SpeedOpenClick();
  EXPECT_EQ(session.ProjectFile, project);
  EXPECT_TRUE(closeEnabled);
  EXPECT_EQ(session.ProgramFile, "/fw/from-project.hex");
  EXPECT_EQ(IniFile(userPath).ReadString("Properties", "WorkDir", ""),
            dir.path().toStdString() + "/");

  const std::string hex = Path("fw.Hex");
  ui.chooseFileToOpen = [&](const std::string&) { return hex; };
  commands.SpeedOpenClick();
  EXPECT_EQ(session.ProgramFile, hex);
  EXPECT_TRUE(session.ProgramFileChosen);
  EXPECT_EQ(ui.panels[2], "Prog.: " + hex);
  EXPECT_EQ(session.ProjectFile, project);  // the project stays open

  const std::string bin = Path("fw.bin");
  ui.chooseFileToOpen = [&](const std::string&) { return bin; };
  commands.SpeedOpenClick();
  EXPECT_EQ(session.ProgramFile, bin);  // chosen as well; programming converts it

  // A project opened later does not replace the chosen program file.
  ui.chooseFileToOpen = [&](const std::string&) { return project; };
  commands.SpeedOpenClick();
  EXPECT_EQ(session.ProgramFile, bin);
}

TEST_F(ProjectCommandsTest, CloseSwitchesBackToTheUserStoreAndItsPort) {
  QDir().mkpath(dir.filePath("user"));
  std::ofstream(userPath) << "[Properties]\nPort=COM7\n";
  const std::string project = Path("demo.prj");
  std::ofstream(project) << "[Properties]\nPort=COM2\n";
  ui.chooseFileToOpen = [&](const std::string&) { return project; };
  commands.SpeedOpenClick();
  EXPECT_EQ(port.device, "COM2");
  EXPECT_TRUE(port.open);
  commands.Close1Click();
  EXPECT_TRUE(session.ProjectFile.empty());
  EXPECT_FALSE(closeEnabled);
  EXPECT_EQ(port.device, "COM7");
}

TEST_F(ProjectCommandsTest, ConfigureSavesConfirmedValuesAndAlwaysReloads) {
  const std::string project = Path("demo.prj");
  std::ofstream(project) << "[Properties]\nPort=None\n[MSC1210Setup]\nHCR0=7Fh\n";
  session.ProjectFile = project;
  edit = [](TF_Properties& dialog) { dialog.Edt_HexFile->setText("/fw/new.hex"); };
  confirm = false;
  commands.Configure1Click();
  EXPECT_EQ(shownCaption, "Target properties - demo.prj");
  EXPECT_EQ(session.Images.CfgImage.Read(0x7F), 0x7F);  // reloaded though cancelled
  EXPECT_EQ(IniFile(project).ReadString("Code&Data", "HexBin", "?"), "?");

  confirm = true;
  commands.Configure1Click();
  EXPECT_EQ(IniFile(project).ReadString("Code&Data", "HexBin", "?"), "/fw/new.hex");
  EXPECT_EQ(session.ProgramFile, "/fw/new.hex");
}

}  // namespace
}  // namespace varnel
