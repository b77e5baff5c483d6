// ports and info: what the machine offers and what the target is.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "cli/Commands.h"
#include "cli/PortChoice.h"
#include "link/HexText.h"
#include "link/PortList.h"
#include "link/PortNames.h"
#include "project/IniFile.h"
#include "project/UserStore.h"

namespace varnel::cli {

namespace {

// "busy" is for a port another program holds; one this user may not open
// says so (the device's group grants it).
const char* StatusText(const std::string& device, PortStatus status) {
  if (status == PortStatus::Available) return "available";
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  const bool denied = fd < 0 && (errno == EACCES || errno == EPERM);
  if (fd >= 0) ::close(fd);
  return denied ? "no permission" : "busy";
}

}  // namespace

void RunPorts() {
  SetComMapping(ReadComMapping(IniFile(UserStorePath())));
  std::vector<std::string> names;
  BuildPortList(names, true);
  const std::vector<UsbAdapter> adapters = FindUsbAdapters();
  std::vector<std::string> shown;  // the devices listed, links followed
  for (const std::string& name : names) {
    if (name == "None") continue;
    const std::string device = ResolvePortDevice(name);
    const PortStatus status = ProbePort(device);
    if (status == PortStatus::Absent) continue;
    std::printf("%s\t%s\t%s\t%s\n", name.c_str(), device.c_str(),
                StatusText(device, status), PortDetails(device, adapters).c_str());
    shown.push_back(DeviceOf(device));
  }
  // The simulator's link, as the window's port list offers it.
  if (const std::string link = SimulatedTargetLink(); !link.empty()) {
    const std::string device = DeviceOf(link);
    if (std::find(shown.begin(), shown.end(), device) == shown.end()) {
      std::printf("%s\t%s\t%s\t%s\n", link.c_str(), device.c_str(),
                  StatusText(link, ProbePort(link)), PortDetails(device, adapters).c_str());
      shown.push_back(device);
    }
  }
  // Adapters whose devices are named otherwise than ttyUSB and ttyACM.
  for (const UsbAdapter& adapter : adapters) {
    if (std::find(shown.begin(), shown.end(), adapter.device) != shown.end()) continue;
    const PortStatus status = ProbePort(adapter.device);
    if (status == PortStatus::Absent) continue;
    std::printf("%s\t%s\t%s\t%s\n", adapter.byId.c_str(), adapter.device.c_str(),
                StatusText(adapter.device, status), PortDetails(adapter.device, adapters).c_str());
  }
  std::fflush(stdout);
}

void RunInfo(Target& target) {
  const Session& s = target.session();
  std::printf("port: %s\n", target.Device().c_str());
  std::printf("baud: %d\n", target.Baud());
  std::printf("target: %s\n", s.TargetName.c_str());
  // A loader that was awake already answers with its prompt, not its banner.
  std::printf("firmware: %s\n", s.FirmwareVersion.empty() ? "unknown" : s.FirmwareVersion.c_str());
  std::printf("id: %s\n", HDPrev(s.TargetIdCode).c_str());
  std::printf("clock_hz: %ld\n", static_cast<long>(s.CoreClockHz));
  std::printf("flash_bytes: %u\n", target.FlashBytes());
  std::fflush(stdout);
  if (s.FirmwareVersion.empty()) {
    target.screen().Note("the loader was awake already; resetting the board shows its banner with the firmware version");
  }
}

}  // namespace varnel::cli
