// Finding and describing the USB serial adapters.
#include "link/UsbAdapters.h"

#include <dirent.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <set>

namespace varnel {
namespace {

std::string FromEnvironment(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0' ? value : fallback;
}

// The first line of a sysfs attribute, without surrounding blanks; empty
// when the file is not there.
std::string Attribute(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  const std::size_t first = line.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
}

std::string Parent(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

std::string SerialByIdFolder() { return FromEnvironment("VARNEL_SERIAL_BY_ID", "/dev/serial/by-id"); }

std::string SysfsRoot() { return FromEnvironment("VARNEL_SYSFS_ROOT", "/sys"); }

std::string DeviceOf(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

std::vector<UsbAdapter> FindUsbAdapters(const std::string& byIdFolder,
                                        const std::string& sysfsRoot) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(byIdFolder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  std::string folder = byIdFolder;
  if (folder.empty() || folder.back() != '/') folder += '/';
  std::vector<UsbAdapter> adapters;
  std::set<std::string> devices;
  for (const std::string& name : names) {
    UsbAdapter adapter{folder + name, DeviceOf(folder + name), {}, {}};
    // A name left behind by an adapter already gone leads nowhere.
    if (adapter.device.empty() || !devices.insert(adapter.device).second) continue;
    DescribeTty(adapter.device, sysfsRoot, adapter.vendor, adapter.model);
    adapters.push_back(std::move(adapter));
  }
  return adapters;
}

void DescribeTty(const std::string& device, const std::string& sysfsRoot, std::string& vendor,
                 std::string& model) {
  vendor.clear();
  model.clear();
  std::string path = DeviceOf(device);
  if (path.empty()) path = device;
  const std::string name = path.substr(path.find_last_of('/') + 1);
  if (name.empty()) return;
  const std::string root = DeviceOf(sysfsRoot);
  std::string at = DeviceOf(sysfsRoot + "/class/tty/" + name + "/device");
  // The USB device sits one level above the interface (ttyACM) or two above
  // the port (ttyUSB); it is the first folder upwards with a vendor number.
  for (int level = 0; level < 4 && !at.empty() && at != root && at != "/"; ++level, at = Parent(at)) {
    const std::string vendorId = Attribute(at + "/idVendor");
    if (vendorId.empty()) continue;
    vendor = Attribute(at + "/manufacturer");
    if (vendor.empty()) vendor = vendorId;
    model = Attribute(at + "/product");
    if (model.empty()) model = Attribute(at + "/idProduct");
    return;
  }
}

}  // namespace varnel
