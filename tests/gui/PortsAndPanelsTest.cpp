// Ports that come and go, seen from the main window: the properties dialog
// offers what is there each time it opens, keeps a stored port that is not,
// and the port panel tells its whole text and why a port is closed.
#include <QAction>
#include <QLineEdit>
#include <QComboBox>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

#include "app/StatusPanel.h"
#include "app/TF_Main.h"
#include "support/GuiApp.h"
#include "project/IniFile.h"
#include "project/TF_Properties.h"
#include "support/AnsweringPrompts.h"
#include "support/Pty.h"

namespace varnel {
namespace {

// The simulator's link lives in the runtime folder; each test has its own.
class RuntimeFolder {
 public:
  RuntimeFolder()
      : old_(qgetenv("XDG_RUNTIME_DIR")), had_(qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")) {
    qputenv("XDG_RUNTIME_DIR", dir.path().toLocal8Bit());
  }
  ~RuntimeFolder() {
    if (had_) {
      qputenv("XDG_RUNTIME_DIR", old_);
    } else {
      qunsetenv("XDG_RUNTIME_DIR");
    }
  }
  QTemporaryDir dir;
  std::string Path(const char* name) const { return dir.filePath(name).toStdString(); }

 private:
  QByteArray old_;
  bool had_;
};

class PortsAndPanels : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::GuiApp(); }
  void SetUp() override {
    QDir().mkpath(QString::fromStdString(runtime.Path("user")));
    prompts.onBox = [this](MessageKind, const std::string& text) { boxes.push_back(text); };
    prompts.onEditProperties = [this](const PropertiesRequest& request) {
      offered.push_back(request.ports);
      return TF_Properties::Run(request, nullptr, [this](TF_Properties& dialog) {
        shownPort = dialog.ComboPort->currentText().toStdString();
        if (edit) edit(dialog);
        return true;
      });
    };
  }
  bool Offered(std::size_t opening, const std::string& port) const {
    const auto& list = offered.at(opening);
    return std::find(list.begin(), list.end(), port) != list.end();
  }

  RuntimeFolder runtime;
  std::string user = runtime.Path("user/Varnel.ini");
  testing::AnsweringPrompts prompts;
  std::vector<std::string> boxes;
  std::vector<std::vector<std::string>> offered;
  std::string shownPort;
  std::function<void(TF_Properties&)> edit;
};

TEST_F(PortsAndPanels, APortThatAppearsIsOfferedAtTheNextOpeningAndAnAbsentOneSurvives) {
  const std::string gone = runtime.Path("usb-Maker_Adapter_0001-if00-port0");
  std::ofstream(user) << "[Properties]\nPort=" << gone << "\n";
  TF_Main main(nullptr, user, &prompts);
  const std::string link = runtime.Path("varnel-target");

  // Confirmed for another change, the stored port stays as it was.
  edit = [](TF_Properties& dialog) { dialog.Edt_CodeMax->setText("1FFF"); };
  main.Action("Configure1")->trigger();
  ASSERT_EQ(offered.size(), 1u);
  EXPECT_FALSE(Offered(0, link));
  EXPECT_FALSE(Offered(0, gone));
  EXPECT_EQ(shownPort, gone);
  IniFile store(user);
  EXPECT_EQ(store.ReadString("Properties", "Port", "?"), gone);
  EXPECT_EQ(store.ReadString("Code&Data", "CodeMax", "?"), "1FFF");

  // The simulator starts while the program runs: offered the next time.
  testing::Pty simulator;
  ASSERT_EQ(::symlink(simulator.Path().c_str(), link.c_str()), 0);
  edit = [&](TF_Properties& dialog) {
    dialog.ComboPort->setCurrentText(QString::fromStdString(link));
  };
  main.Action("SpeedTool")->trigger();
  ASSERT_EQ(offered.size(), 2u);
  EXPECT_TRUE(Offered(1, link));
  EXPECT_TRUE(main.Link().PortOpen);
  EXPECT_EQ(IniFile(user).ReadString("Properties", "Port", "?"), link);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(PortsAndPanels, ThePortPanelShowsItsWholeTextAndWhyThePortIsClosed) {
  const std::string gone = runtime.Path("ttyUSB7");
  std::ofstream(user) << "[Properties]\nPort=" << gone << "\n";
  TF_Main main(nullptr, user, &prompts);
  main.show();
  StatusPanel* port = main.Panel(0);
  ASSERT_TRUE(port);
  EXPECT_EQ(port->text(), "Closed");
  EXPECT_FALSE(port->IsCut());
  EXPECT_EQ(port->toolTip().toStdString().rfind(gone + ": Error accessing specified device", 0),
            0u)
      << port->toolTip().toStdString();

  // Open under a long name: cut in the middle, the whole text as tool tip.
  testing::Pty adapter;
  ASSERT_EQ(::symlink(adapter.Path().c_str(), gone.c_str()), 0);
  main.Link().ProjectSettings.PortName.clear();
  dynamic_cast<SettingsSource&>(main.Store()).LoadProperties();
  ASSERT_TRUE(main.Link().PortOpen);
  const QString whole = QString::fromStdString(gone) + ",9600Bd,N,8,1";
  EXPECT_EQ(main.StatusText(0), whole);
  EXPECT_TRUE(port->IsCut());
  // Cut in the middle: the start and the end of the whole text stay.
  const QStringList halves = port->text().split(QChar(0x2026));
  ASSERT_EQ(halves.size(), 2) << port->text().toStdString();
  EXPECT_TRUE(whole.startsWith(halves[0]) && whole.endsWith(halves[1]));
  EXPECT_FALSE(halves[0].isEmpty() || halves[1].isEmpty());
  EXPECT_LE(port->fontMetrics().horizontalAdvance(port->text()), port->contentsRect().width());
  EXPECT_EQ(port->toolTip(), whole);

  // A text that fits has no tool tip; the third panel follows its width.
  TargetUi& ui = main;
  ui.SetStatusPanel(0, "COM1");
  EXPECT_FALSE(main.Panel(0)->IsCut());
  EXPECT_EQ(main.Panel(0)->toolTip(), "");
  ui.SetStatusPanel(2, "Prog.: /home/someone/projects/a/rather/long/folder/name/firmware.hex");
  EXPECT_EQ(main.Panel(2)->toolTip().isEmpty(), !main.Panel(2)->IsCut());
}

}  // namespace
}  // namespace varnel
