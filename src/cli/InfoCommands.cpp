// ports and info: what the machine offers and what the target is.
#include <algorithm>
#include <cstdio>

#include "cli/ClockCheck.h"
#include "cli/Commands.h"
#include "cli/PortChoice.h"
#include "link/HexText.h"
#include "link/PortList.h"
#include "link/PortNames.h"
#include "project/IniFile.h"
#include "project/UserStore.h"

namespace varnel::cli {

int RunPorts() {
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
                status == PortStatus::Available ? "available" : "busy",
                PortDetails(device, adapters).c_str());
    shown.push_back(DeviceOf(device));
  }
  // Adapters whose devices are named otherwise than ttyUSB and ttyACM.
  for (const UsbAdapter& adapter : adapters) {
    if (std::find(shown.begin(), shown.end(), adapter.device) != shown.end()) continue;
    const PortStatus status = ProbePort(adapter.device);
    if (status == PortStatus::Absent) continue;
    std::printf("%s\t%s\t%s\t%s\n", adapter.byId.c_str(), adapter.device.c_str(),
                status == PortStatus::Available ? "available" : "busy",
                PortDetails(adapter.device, adapters).c_str());
  }
  std::fflush(stdout);
  return kExitOk;
}

int RunInfo(Target& target) {
  const Session& s = target.session();
  std::printf("port: %s\n", target.Device().c_str());
  std::printf("baud: %d\n", target.Baud());
  std::printf("target: %s\n", s.TargetName.c_str());
  std::printf("firmware: %s\n", s.FirmwareVersion.c_str());
  std::printf("id: %s\n", HDPrev(s.TargetIdCode).c_str());
  std::printf("clock_hz: %ld\n", static_cast<long>(s.CoreClockHz));
  std::printf("clock_step_hz: %lld\n", static_cast<long long>(ClockStepHz(target.Baud())));
  std::printf("flash_bytes: %u\n", target.FlashBytes());
  std::fflush(stdout);
  return kExitOk;
}

}  // namespace varnel::cli
