// Probing the serial ports for the port list.
#include "link/PortList.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "link/PortNames.h"

namespace varnel {
namespace {

// The last probe's result per COM number, for whichever thread asks.
std::mutex statusMutex;
std::array<PortStatus, MaxPorts + 1> statusTable{};

// "ttyUSB12" with prefix "ttyUSB" -> 12; -1 when the name is not of that form.
long AdapterNumber(const std::string& name, const char* prefix) {
  const std::size_t len = std::strlen(prefix);
  if (name.size() <= len || name.compare(0, len, prefix) != 0) return -1;
  long n = 0;
  for (std::size_t i = len; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9' || n > 100000) return -1;
    n = n * 10 + (name[i] - '0');
  }
  return n;
}

// The adapter device paths in deviceFolder: ACM before USB, each by number.
std::vector<std::string> Adapters(const std::string& deviceFolder) {
  std::vector<std::pair<std::pair<int, long>, std::string>> found;
  if (DIR* dir = ::opendir(deviceFolder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      int kind = 0;
      for (const char* prefix : {"ttyACM", "ttyUSB"}) {
        const long n = AdapterNumber(name, prefix);
        if (n >= 0) found.push_back({{kind, n}, name});
        ++kind;
      }
    }
    ::closedir(dir);
  }
  std::sort(found.begin(), found.end());
  std::string folder = deviceFolder;
  if (folder.empty() || folder.back() != '/') folder += '/';
  std::vector<std::string> paths;
  for (const auto& f : found) paths.push_back(folder + f.second);
  return paths;
}

// The device a path finally stands for, links followed; the path itself
// when it cannot be resolved.
std::string DeviceBehind(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

// The stable names udev gives adapters (serial/by-id/usb-<maker>_<serial>...),
// by the device each stands for. The first name in order wins.
std::map<std::string, std::string> StableNames(const std::string& deviceFolder) {
  std::string folder = deviceFolder;
  if (folder.empty() || folder.back() != '/') folder += '/';
  folder += "serial/by-id/";
  std::vector<std::string> links;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") links.push_back(folder + name);
    }
    ::closedir(dir);
  }
  std::sort(links.begin(), links.end());
  std::map<std::string, std::string> names;
  for (const auto& link : links) names.emplace(DeviceBehind(link), link);
  return names;
}

bool Offered(PortStatus status, bool includeBusy) {
  return status == PortStatus::Available || (status == PortStatus::Busy && includeBusy);
}

}  // namespace

PortStatus ProbePort(const std::string& device) {
  if (device.empty()) return PortStatus::Absent;
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    // A serial node without a UART behind it fails with EIO.
    const int e = errno;
    return (e == ENOENT || e == ENODEV || e == ENXIO || e == EIO || e == ENOTDIR)
               ? PortStatus::Absent
               : PortStatus::Busy;
  }
  PortStatus status = PortStatus::Available;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
    status = PortStatus::Absent;
  } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    status = PortStatus::Busy;  // another program (or this one) holds it
  }
  ::close(fd);
  return status;
}

bool PortDenied(const std::string& device) {
  if (device.empty() || ::access(device.c_str(), R_OK | W_OK) == 0) return false;
  return errno == EACCES || errno == EPERM;
}

void BuildPortList(std::vector<std::string>& list, bool includeBusy,
                   const std::string& deviceFolder) {
  list.clear();
  std::vector<std::string> comDevices;
  for (int n = 1; n <= MaxPorts; ++n) {
    const std::string name = "COM" + std::to_string(n);
    const std::string device = ResolvePortDevice(name);
    comDevices.push_back(device);
    const PortStatus status = ProbePort(device);
    {
      std::lock_guard lock(statusMutex);
      statusTable[static_cast<std::size_t>(n)] = status;
    }
    if (Offered(status, includeBusy)) list.push_back(name);
  }
  // An adapter that a COM name already stands for is not offered twice.
  // One with a stable name is offered by it: that name survives replugging
  // and a second adapter taking the first one's number.
  for (auto& device : comDevices) device = DeviceBehind(device);
  const auto stable = StableNames(deviceFolder);
  for (const auto& path : Adapters(deviceFolder)) {
    const std::string device = DeviceBehind(path);
    if (std::find(comDevices.begin(), comDevices.end(), device) != comDevices.end()) continue;
    if (!Offered(ProbePort(path), includeBusy)) continue;
    const auto name = stable.find(device);
    list.push_back(name != stable.end() ? name->second : path);
  }
  list.push_back("None");
}

std::string SimulatedTargetLink() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string link = runtime != nullptr && *runtime != '\0'
                               ? std::string(runtime) + "/varnel-target"
                               : "/tmp/varnel-target-" + std::to_string(::getuid());
  struct stat info {};
  return ::stat(link.c_str(), &info) == 0 && S_ISCHR(info.st_mode) ? link : std::string();
}

PortStatus LastPortStatus(int n) {
  if (n < 1 || n > MaxPorts) return PortStatus::Absent;
  std::lock_guard lock(statusMutex);
  return statusTable[static_cast<std::size_t>(n)];
}

}  // namespace varnel
