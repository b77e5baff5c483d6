// The port list, as varnel-cli ports shows it.
#include <algorithm>

#include "core/Version.h"
#include "link/PortList.h"
#include "link/PortNames.h"
#include "link/UsbAdapters.h"
#include "varnel/ports.h"

namespace varnel {
namespace {

std::string StatusText(const std::string& device, PortStatus status) {
  if (status == PortStatus::Available) return "available";
  return PortDenied(device) ? "no permission" : "busy";
}

std::string Details(const std::string& device, const std::vector<UsbAdapter>& adapters,
                    std::string& byId) {
  std::string vendor, model;
  for (const UsbAdapter& adapter : adapters) {
    if (adapter.device == device) {
      byId = adapter.byId;
      vendor = adapter.vendor;
      model = adapter.model;
    }
  }
  if (byId.empty()) DescribeTty(device, SysfsRoot(), vendor, model);
  return vendor.empty() || model.empty() ? vendor + model : vendor + " " + model;
}

}  // namespace

std::vector<PortInfo> ports() {
  std::vector<std::string> names;
  BuildPortList(names, true);
  if (const std::string link = SimulatedTargetLink(); !link.empty()) names.push_back(link);
  const std::vector<UsbAdapter> adapters = FindUsbAdapters();
  for (const UsbAdapter& adapter : adapters) names.push_back(adapter.device);
  std::vector<PortInfo> list;
  for (const std::string& name : names) {
    if (name == "None") continue;
    const std::string device = DeviceOf(ResolvePortDevice(name));
    if (device.empty()) continue;
    if (std::any_of(list.begin(), list.end(), [&](const PortInfo& p) { return p.device == device; })) {
      continue;
    }
    const PortStatus status = ProbePort(device);
    if (status == PortStatus::Absent) continue;
    PortInfo info;
    info.device = device;
    info.status = StatusText(device, status);
    info.details = Details(device, adapters, info.by_id);
    list.push_back(std::move(info));
  }
  return list;
}

const char* version() noexcept { return kProgramVersion; }

}  // namespace varnel
