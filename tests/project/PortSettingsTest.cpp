// The port settings applied to the real serial component on pseudo-terminals
// standing in for the adapters the per-user store maps COM1 and COM2 to.
#include <termios.h>
#include <unistd.h>

#include <memory>

#include <gtest/gtest.h>

#include "support/FileFaults.h"
#include "link/CommInt.h"
#include "link/PortNames.h"
#include "project/Settings.h"
#include "support/EventLoop.h"
#include "support/Pty.h"
#include "support/RecordingUi.h"

namespace varnel {
namespace {

using testing::Pty;
using testing::RecordingUi;
using testing::TestFolder;
using testing::WriteFile;

speed_t LineSpeed(const Pty& pty) {
  const termios t = pty.SlaveSettings();
  return ::cfgetospeed(&t);
}

TEST(PortSettingsTest, StartUpAndReloadsOpenSwitchAndCloseTheMappedDevices) {
  testing::EnsureApplication();
  TestFolder folder;
  Pty first, second;
  const std::string userPath = folder.Path("Varnel.ini");
  WriteFile(userPath, "[Properties]\nPort=COM1\nBaud=38400\n[Ports]\nCOM1=" + first.Path() +
                         "\nCOM2=" + second.Path() + "\nCOM3=" + folder.Path("gone") + "\n");
  Session session;
  RecordingUi ui;
  TComm comm;
  session.AttachUi(&ui);
  session.AttachPort(&comm);
  Settings settings(session, userPath);
  SettingsSource& source = settings;

  settings.StartUp();  // the real port list, probed through the mapping
  const auto& ports = settings.PortList();
  EXPECT_EQ(std::vector<std::string>(ports.begin(), ports.begin() + 2),
            (std::vector<std::string>{"COM1", "COM2"}));
  EXPECT_EQ(ports.back(), "None");
  ASSERT_TRUE(session.PortOpen);
  EXPECT_EQ(ui.panels[0], "COM1,38400Bd,N,8,1");  // the panel follows the rate the line runs at
  EXPECT_EQ(LineSpeed(first), B38400);
  session.SendString("X");
  EXPECT_EQ(first.Receive(1), "X");

  session.ProjectFile = folder.Path("demo.prj");
  WriteFile(session.ProjectFile, "[Properties]\nPort=COM2\nBaud=2400\n");
  source.LoadProperties();
  ASSERT_TRUE(comm.IsOpen());
  EXPECT_EQ(ui.panels[0], "COM2,2400Bd,N,8,1");
  EXPECT_EQ(LineSpeed(second), B2400);
  session.SendString("Y");
  EXPECT_EQ(second.Receive(1), "Y");
  EXPECT_EQ(first.Receive(1, 50), "");

  WriteFile(session.ProjectFile, "[Properties]\nPort=COM3\n");  // adapter unplugged
  source.LoadProperties();
  EXPECT_FALSE(session.PortOpen);
  EXPECT_FALSE(comm.IsOpen());
  EXPECT_EQ(ui.panels[0], "Closed");
  EXPECT_TRUE(ui.boxes.empty());

  session.ProjectFile.clear();  // Close: back to the default project's COM1
  source.LoadProperties();
  EXPECT_TRUE(session.PortOpen);
  EXPECT_EQ(ui.panels[0], "COM1,38400Bd,N,8,1");

  settings.ShutDown();
  EXPECT_FALSE(comm.IsOpen());
  SetComMapping({});
}

}  // namespace
}  // namespace varnel

namespace varnel {
namespace {

TEST(PortSettingsTest, AnAdapterPluggedBackInIsReopenedByTheNextReload) {
  testing::EnsureApplication();
  TestFolder folder;
  auto first = std::make_unique<Pty>();
  Pty second;
  const std::string device = folder.Path("ttyUSB0");  // the adapter's stable name
  ASSERT_EQ(::symlink(first->Path().c_str(), device.c_str()), 0);
  const std::string userPath = folder.Path("Varnel.ini");
  WriteFile(userPath, "[Properties]\nPort=" + device + "\n");
  Session session;
  RecordingUi ui;
  TComm comm;
  session.AttachUi(&ui);
  session.AttachPort(&comm);
  Settings settings(session, userPath);
  SettingsSource& source = settings;
  settings.StartUp([] { return std::vector<std::string>{"None"}; });
  ASSERT_TRUE(session.PortOpen);

  first->CloseKeeper();
  first->CloseMaster();  // unplugged
  ASSERT_TRUE(testing::PumpUntil([&] { return comm.IsHungUp(); }));
  ::unlink(device.c_str());
  ASSERT_EQ(::symlink(second.Path().c_str(), device.c_str()), 0);  // plugged back in

  source.LoadProperties();
  EXPECT_TRUE(session.PortOpen);
  EXPECT_FALSE(comm.IsHungUp());
  session.SendString("RRE9");
  EXPECT_EQ(second.Receive(4), "RRE9");
  settings.ShutDown();
}

TEST(PortSettingsTest, EachDialogGetsTheListAsItIsNowWithTheOpenPortAndAClosedPortsReason) {
  testing::EnsureApplication();
  TestFolder folder;
  Pty adapter;
  const std::string device = folder.Path("ttyUSB0");
  const std::string userPath = folder.Path("Varnel.ini");
  WriteFile(userPath, "[Properties]\nPort=" + device + "\n");
  Session session;
  RecordingUi ui;
  TComm comm;
  session.AttachUi(&ui);
  session.AttachPort(&comm);
  Settings settings(session, userPath);
  std::vector<std::string> present{"None"};
  int builds = 0;
  settings.StartUp([&] {
    ++builds;
    return present;
  });
  // Not plugged in: closed, and the open error says why.
  EXPECT_FALSE(session.PortOpen);
  EXPECT_EQ(ui.panels[0], "Closed");
  EXPECT_EQ(settings.PortError().rfind("Error accessing specified device", 0), 0u)
      << settings.PortError();

  // Plugged in: the next list has it, built the way start-up built it.
  ASSERT_EQ(::symlink(adapter.Path().c_str(), device.c_str()), 0);
  present = {device, "None"};
  EXPECT_EQ(settings.RebuildPortList(), present);
  EXPECT_EQ(builds, 2);
  SettingsSource& source = settings;
  source.LoadProperties();
  ASSERT_TRUE(session.PortOpen);
  EXPECT_EQ(settings.PortError(), "");

  // Held open here, the probe would call it busy; it is offered still.
  present = {"None"};
  EXPECT_EQ(settings.RebuildPortList(), (std::vector<std::string>{device, "None"}));
  settings.ShutDown();
}

}  // namespace
}  // namespace varnel
