// USB serial adapters as udev names them in /dev/serial/by-id and as the
// kernel describes them in sysfs: what a port is called for good, and whose
// it is. Both folders can be moved elsewhere through the environment
// (VARNEL_SERIAL_BY_ID, VARNEL_SYSFS_ROOT), so a machine without an adapter
// can stand in for one with several.
#pragma once

#include <string>
#include <vector>

namespace varnel {

struct UsbAdapter {
  std::string byId;    // the stable name: <folder>/usb-<maker>_<model>_<serial>-if00-port0
  std::string device;  // the device it stands for, links followed: /dev/ttyUSB0
  std::string vendor;  // the maker's name, or its USB vendor number; empty when unknown
  std::string model;   // the product's name, or its USB product number; empty when unknown
};

// $VARNEL_SERIAL_BY_ID when set, /dev/serial/by-id otherwise.
std::string SerialByIdFolder();
// $VARNEL_SYSFS_ROOT when set, /sys otherwise.
std::string SysfsRoot();

// Every name in byIdFolder that leads to an existing device, in name order;
// a device with several names is listed once, by its first.
std::vector<UsbAdapter> FindUsbAdapters(const std::string& byIdFolder = SerialByIdFolder(),
                                        const std::string& sysfsRoot = SysfsRoot());

// Vendor and model of a tty device, from the USB device above
// <sysfsRoot>/class/tty/<name>/device; both empty for a port that is no
// USB adapter.
void DescribeTty(const std::string& device, const std::string& sysfsRoot, std::string& vendor,
                 std::string& model);

// The device a path finally stands for, links followed; empty when it does
// not exist.
std::string DeviceOf(const std::string& path);

}  // namespace varnel
