// ports and info: what the machine offers and what the target is.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "cli/ClockCheck.h"
#include "cli/ExitStatus.h"
#include "cli/Commands.h"
#include "cli/PortChoice.h"
#include "link/HexText.h"
#include "link/PortList.h"
#include "link/PortNames.h"
#include "project/IniFile.h"
#include "project/UserStore.h"

namespace varnel::cli {
namespace {

// A port that exists but this user may not open is no busy port: it wants
// the user in the group that owns it. The first such device is kept for the
// hint after the list.
const char* StateText(const std::string& device, PortStatus status, std::string& denied) {
  if (status == PortStatus::Available) return "available";
  if (!PortDenied(device)) return "busy";
  if (denied.empty()) denied = device;
  return "no permission";
}

}  // namespace

void RunPorts() {
  SetComMapping(ReadComMapping(IniFile(UserStorePath())));
  std::vector<std::string> names;
  BuildPortList(names, true);
  const std::vector<UsbAdapter> adapters = FindUsbAdapters();
  std::vector<std::string> shown;  // the devices listed, links followed
  std::string denied;
  for (const std::string& name : names) {
    if (name == "None") continue;
    const std::string device = ResolvePortDevice(name);
    const PortStatus status = ProbePort(device);
    if (status == PortStatus::Absent) continue;
    const char* state = StateText(device, status, denied);
    std::printf("%s\t%s\t%s\t%s\n", name.c_str(), device.c_str(), state,
                PortDetails(device, adapters).c_str());
    shown.push_back(DeviceOf(device));
  }
  // The simulator's link, as the window's port list offers it.
  if (const std::string link = SimulatedTargetLink(); !link.empty()) {
    const std::string device = DeviceOf(link);
    if (std::find(shown.begin(), shown.end(), device) == shown.end()) {
      std::printf("%s\t%s\t%s\t%s\n", link.c_str(), device.c_str(),
                  StateText(link, ProbePort(link), denied), PortDetails(device, adapters).c_str());
      shown.push_back(device);
    }
  }
  // Adapters whose devices are named otherwise than ttyUSB and ttyACM.
  for (const UsbAdapter& adapter : adapters) {
    if (std::find(shown.begin(), shown.end(), adapter.device) != shown.end()) continue;
    const PortStatus status = ProbePort(adapter.device);
    if (status == PortStatus::Absent) continue;
    const char* state = StateText(adapter.device, status, denied);
    std::printf("%s\t%s\t%s\t%s\n", adapter.byId.c_str(), adapter.device.c_str(), state,
                PortDetails(adapter.device, adapters).c_str());
  }
  std::fflush(stdout);
  if (!denied.empty()) {
    std::fprintf(stderr, "varnel-cli: you may not open %s. %s\n", denied.c_str(), kDialoutRemedy);
  }
}

}  // namespace varnel::cli
