// The port chooser's list, from the same probes the command line's port
// list makes.
#include "station/PortChoices.h"

#include <algorithm>
#include <cstdlib>

#include "link/PortList.h"
#include "link/PortNames.h"
#include "link/UsbAdapters.h"
#include "project/IniFile.h"
#include "project/UserStore.h"

namespace varnel::station {

const char kDialoutHint[] =
    "Serial ports belong to the group dialout; join it with \"sudo adduser $USER dialout\", "
    "then log out and in again.";

namespace {

PortChoice::State StateOf(const std::string& device) {
  if (ProbePort(device) == PortStatus::Available) return PortChoice::State::Available;
  return PortDenied(device) ? PortChoice::State::NoPermission : PortChoice::State::Busy;
}

std::string Detail(const std::string& vendor, const std::string& model) {
  if (vendor.empty()) return model;
  return model.empty() ? vendor : vendor + " " + model;
}

}  // namespace

std::vector<PortChoice> ListPortChoices() {
  SetComMapping(ReadComMapping(IniFile(UserStorePath())));
  std::vector<PortChoice> list;
  std::vector<std::string> shown;  // devices listed, links followed
  const auto add = [&](const std::string& name, const std::string& device, const std::string& detail) {
    const std::string real = DeviceOf(device);
    if (real.empty() || std::find(shown.begin(), shown.end(), real) != shown.end()) return;
    if (ProbePort(device) == PortStatus::Absent) return;
    shown.push_back(real);
    list.push_back({name, real, StateOf(device), detail});
  };
  for (const UsbAdapter& adapter : FindUsbAdapters()) {
    add(adapter.byId, adapter.device, Detail(adapter.vendor, adapter.model));
  }
  std::vector<std::string> names;
  BuildPortList(names, true);
  for (const std::string& name : names) {
    if (name == "None") continue;
    const std::string device = ResolvePortDevice(name);
    std::string vendor, model;
    DescribeTty(device, SysfsRoot(), vendor, model);
    // A COMn name is the window's; a station stores the device itself.
    add(name.rfind("COM", 0) == 0 ? device : name, device, Detail(vendor, model));
  }
  if (const std::string link = SimulatedTargetLink(); !link.empty()) {
    add(link, link, "boot-loader simulator");
  }
  return list;
}

std::string ShortPortName(const std::string& port) {
  const std::size_t slash = port.rfind('/');
  std::string name = slash == std::string::npos ? port : port.substr(slash + 1);
  // A by-id name: usb-<maker>_<model>_<serial>-if<NN>-port<N>.
  const std::size_t at = name.rfind("-if");
  if (name.rfind("usb-", 0) == 0 && at != std::string::npos) {
    const long interface = std::strtol(name.substr(at + 3, 2).c_str(), nullptr, 16);
    name.resize(at);
    if (const std::size_t u = name.rfind('_'); u != std::string::npos && u + 1 < name.size()) {
      name = name.substr(u + 1);
    }
    return interface > 0 ? name + " #" + std::to_string(interface) : name;
  }
  if (port.rfind("/dev/", 0) == 0) return port.substr(5);
  return name;
}

}  // namespace varnel::station
