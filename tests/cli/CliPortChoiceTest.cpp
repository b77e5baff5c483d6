// "-p auto" and the port list's by-id names, vendors and models, with a
// stand-in /dev/serial/by-id folder and sysfs tree: no adapter, one, two.
#include <cstdlib>

#include "CliFixture.h"
#include "support/Pty.h"

namespace varnel::testing {
namespace {

namespace fs = std::filesystem;

class CliPortChoiceTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    byId = dir / "by-id";
    sysfs = dir / "sys";
    fs::create_directories(byId);
    fs::create_directories(sysfs / "class" / "tty");
    ::setenv("VARNEL_SERIAL_BY_ID", byId.c_str(), 1);
    ::setenv("VARNEL_SYSFS_ROOT", sysfs.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("VARNEL_SERIAL_BY_ID");
    ::unsetenv("VARNEL_SYSFS_ROOT");
    CliTest::TearDown();
  }

  // An adapter named `name` in the by-id folder standing for `device`, and
  // the kernel's description of it: the USB device two levels above the
  // port, with the attributes given (none: not described).
  std::string Adapter(const std::string& name, const std::string& device,
                      const std::map<std::string, std::string>& attributes) {
    fs::create_symlink(device, byId / name);
    if (!attributes.empty()) {
      const std::string tty = fs::path(device).filename();
      const fs::path usb = sysfs / "devices" / ("usb-" + name) / "1-1";
      const fs::path port = usb / "1-1:1.0" / tty;
      fs::create_directories(port);
      for (const auto& [file, value] : attributes) std::ofstream(usb / file) << value << "\n";
      fs::create_directories(sysfs / "class" / "tty" / tty);
      fs::create_directory_symlink(port, sysfs / "class" / "tty" / tty / "device");
    }
    return (byId / name).string();
  }

  // The line of the port list that starts with `name`.
  static std::string LineFor(const std::string& list, const std::string& name) {
    std::istringstream in(list);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind(name + "\t", 0) == 0) return line;
    }
    return "";
  }

  fs::path byId, sysfs;
};

TEST_F(CliPortChoiceTest, NoAdapterIsAnErrorAndNothingIsOpened) {
  const CliResult none = RunBare({"-p", "auto", "info"});
  EXPECT_EQ(none.status, 2);
  EXPECT_EQ(none.err, "varnel-cli: -p auto found no USB serial adapter in " + byId.string() +
                          "; name the port with -p (\"varnel-cli ports\" lists them)\n");

  // A name left behind by an adapter already unplugged leads nowhere.
  fs::create_symlink("/dev/ttyUSB-gone", byId / "usb-Gone_Adapter-if00-port0");
  EXPECT_EQ(RunBare({"-p", "auto", "info"}).status, 2);
  ::setenv("VARNEL_SERIAL_BY_ID", (dir / "no-such-folder").c_str(), 1);
  EXPECT_EQ(RunBare({"-p", "auto", "info"}).status, 2);
}

TEST_F(CliPortChoiceTest, TheOneAdapterIsTakenAndNamed) {
  StartTarget();
  const std::string name =
      Adapter("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", target->SlavePath(),
              {{"idVendor", "0403"}, {"idProduct", "6001"}, {"manufacturer", "FTDI"},
               {"product", "FT232R USB UART"}});
  fs::create_symlink("/dev/ttyUSB-gone", byId / "usb-Gone_Adapter-if00-port0");

  const CliResult r = RunBare({"-p", "auto", "-b", "38400", "info"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("varnel-cli: -p auto: " + name + " (" + target->SlavePath() +
                       ", FTDI FT232R USB UART)\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("port: " + name + "\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("target: MSC1210Y5\n"), std::string::npos) << r.out;

  // The list shows it by its stable name, with its maker and model.
  const CliResult list = RunBare({"ports"});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(LineFor(list.out, name),
            name + "\t" + target->SlavePath() + "\tavailable\t" + name + "\tFTDI\tFT232R USB UART")
      << list.out;
}

TEST_F(CliPortChoiceTest, SeveralAdaptersAreAnErrorListingThem) {
  StartTarget();
  Pty other;
  const std::string first = Adapter("usb-1a86_USB_Serial-if00-port0", other.Path(),
                                    {{"idVendor", "1a86"}, {"idProduct", "7523"}});
  const std::string second = Adapter("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
                                     target->SlavePath(), {});
  // A second name for the same device is the same adapter.
  fs::create_symlink(target->SlavePath(), byId / "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port1");

  const CliResult r = RunBare({"-p", "auto", "info"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "varnel-cli: -p auto found 2 USB serial adapters in " + byId.string() +
                       "; choose one with -p:\n  " + first + " (" + other.Path() +
                       ", 1a86 7523)\n  " + second + " (" + target->SlavePath() + ")\n");
  EXPECT_EQ(target->CommandCount(), 0u);

  // Vendor and model numbers stand in for missing names; "-" for unknown.
  const CliResult list = RunBare({"ports"});
  EXPECT_EQ(LineFor(list.out, first), first + "\t" + other.Path() + "\tavailable\t" + first +
                                          "\t1a86\t7523")
      << list.out;
  EXPECT_EQ(LineFor(list.out, second), second + "\t" + target->SlavePath() + "\tavailable\t" +
                                           second + "\t-\t-")
      << list.out;
}

}  // namespace
}  // namespace varnel::testing
