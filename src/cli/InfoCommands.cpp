// ports and info: what the machine offers and what the target is.
#include <cstdio>

#include "cli/Commands.h"
#include "link/HexText.h"
#include "link/PortList.h"
#include "link/PortNames.h"
#include "project/IniFile.h"
#include "project/UserStore.h"

namespace varnel::cli {

void RunPorts() {
  SetComMapping(ReadComMapping(IniFile(UserStorePath())));
  std::vector<std::string> names;
  BuildPortList(names, true);
  for (const std::string& name : names) {
    if (name == "None") continue;
    const std::string device = ResolvePortDevice(name);
    const PortStatus status = ProbePort(device);
    if (status == PortStatus::Absent) continue;
    std::printf("%s\t%s\t%s\n", name.c_str(), device.c_str(),
                status == PortStatus::Available ? "available" : "busy");
  }
  std::fflush(stdout);
}

void RunInfo(Target& target) {
  const Session& s = target.session();
  std::printf("port: %s\n", target.Device().c_str());
  std::printf("baud: %d\n", target.Baud());
  std::printf("target: %s\n", s.TargetName.c_str());
  std::printf("firmware: %s\n", s.FirmwareVersion.c_str());
  std::printf("id: %s\n", HDPrev(s.TargetIdCode).c_str());
  std::printf("clock_hz: %ld\n", static_cast<long>(s.CoreClockHz));
  std::printf("flash_bytes: %u\n", target.FlashBytes());
  std::fflush(stdout);
}

}  // namespace varnel::cli
