// The port list against prepared devices: COM names mapped to pseudo-
// terminals, a missing device and a busy one, and a device folder holding
// adapters, look-alikes and a plain file.
#include "link/PortList.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "link/CommInt.h"
#include "link/PortNames.h"
#include "support/EventLoop.h"
#include "support/Pty.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using testing::Pty;

class PortListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::EnsureApplication();
    folder = fs::path(::testing::TempDir()) / ("varnel-dev-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    // Every COM name points into the prepared folder, so the machine's own
    // ports never take part.
    std::map<std::string, std::string> mapping;
    for (int n = 1; n <= MaxPorts; ++n) {
      mapping["COM" + std::to_string(n)] = (folder / ("absent" + std::to_string(n))).string();
    }
    mapping["COM2"] = free.Path();
    mapping["COM5"] = busy.Path();
    SetComMapping(mapping);
    holder.SetDeviceName("COM5");
    holder.Open();  // another instance holds COM5
  }
  void TearDown() override {
    holder.Close();
    SetComMapping({});
    fs::remove_all(folder);
  }

  void Link(const std::string& name, const std::string& target) {
    fs::create_symlink(target, folder / name);
  }

  fs::path folder;
  Pty free, busy, usb0, usb10, acm1;
  TComm holder;
};

TEST_F(PortListTest, OffersAvailablePortsThenAdaptersByNumberThenNone) {
  Link("ttyUSB10", usb10.Path());
  Link("ttyUSB0", usb0.Path());
  Link("ttyACM1", acm1.Path());
  Link("ttyUSB3", (folder / "gone").string());  // a dangling node: absent
  Link("ttyS0", usb0.Path());                    // not an adapter name
  Link("ttyUSBx", usb0.Path());
  std::ofstream(folder / "ttyACM7") << "plain file";

  std::vector<std::string> list{"stale"};
  BuildPortList(list, false, folder.string());
  const std::string f = folder.string() + "/";
  EXPECT_EQ(list, (std::vector<std::string>{"COM2", f + "ttyACM1", f + "ttyUSB0",
                                            f + "ttyUSB10", "None"}));
  EXPECT_EQ(LastPortStatus(1), PortStatus::Absent);
  EXPECT_EQ(LastPortStatus(2), PortStatus::Available);
  EXPECT_EQ(LastPortStatus(5), PortStatus::Busy);

  BuildPortList(list, true, folder.string());
  EXPECT_EQ(list, (std::vector<std::string>{"COM2", "COM5", f + "ttyACM1", f + "ttyUSB0",
                                            f + "ttyUSB10", "None"}));
}

TEST_F(PortListTest, AnAdapterReachedThroughAComNameIsOfferedOnce) {
  Link("ttyUSB0", usb0.Path());
  auto mapping = ComMapping();
  mapping["COM3"] = (folder / "ttyUSB0").string();
  SetComMapping(mapping);
  std::vector<std::string> list;
  BuildPortList(list, false, folder.string());
  EXPECT_EQ(list, (std::vector<std::string>{"COM2", "COM3", "None"}));
}

TEST_F(PortListTest, AdaptersWithAStableNameAreOfferedByIt) {
  Link("ttyUSB0", usb0.Path());
  Link("ttyUSB10", usb10.Path());
  fs::create_directories(folder / "serial/by-id");
  const fs::path byId = folder / "serial/by-id";
  fs::create_symlink("../../ttyUSB0", byId / "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
  fs::create_symlink("../../ttyUSB9", byId / "usb-gone-if00-port0");  // unplugged: not offered
  std::vector<std::string> list;
  BuildPortList(list, false, folder.string());
  const std::string f = folder.string() + "/";
  EXPECT_EQ(list, (std::vector<std::string>{
                      "COM2", (byId / "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0").string(),
                      f + "ttyUSB10", "None"}));

  // A COM name standing for the adapter through its stable name: once.
  auto mapping = ComMapping();
  mapping["COM3"] = (byId / "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0").string();
  SetComMapping(mapping);
  BuildPortList(list, false, folder.string());
  EXPECT_EQ(list, (std::vector<std::string>{"COM2", "COM3", f + "ttyUSB10", "None"}));

  // Both names open the adapter.
  for (const std::string& name : {(byId / "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0").string(),
                                   f + "ttyUSB0"}) {
    TComm port;
    port.SetDeviceName(name);
    port.Open();
    EXPECT_TRUE(port.IsOpen()) << name;
    port.Close();
  }
}

TEST_F(PortListTest, NoneIsTheOnlyEntryWhenNothingIsThere) {
  holder.Close();
  auto mapping = ComMapping();
  mapping["COM2"] = (folder / "absent").string();
  mapping["COM5"] = (folder / "absent").string();
  SetComMapping(mapping);
  std::vector<std::string> list;
  BuildPortList(list, true, (folder / "no-such-folder").string());
  EXPECT_EQ(list, std::vector<std::string>{"None"});
}

}  // namespace
}  // namespace varnel
