// Choosing the adapter for "-p auto" and describing ports.
#include "cli/PortChoice.h"

#include <cstdio>

#include "cli/ExitStatus.h"

namespace varnel::cli {
namespace {

// "/dev/serial/by-id/usb-... (/dev/ttyUSB0, FTDI FT232R USB UART)"
std::string Described(const UsbAdapter& adapter) {
  std::string text = adapter.byId + " (" + adapter.device;
  if (!adapter.vendor.empty()) text += ", " + adapter.vendor;
  if (!adapter.model.empty()) text += " " + adapter.model;
  return text + ")";
}

std::string OrDash(const std::string& text) { return text.empty() ? "-" : text; }

}  // namespace

std::string ChooseAutoPort(bool quiet) {
  const std::string folder = SerialByIdFolder();
  const std::vector<UsbAdapter> adapters = FindUsbAdapters(folder);
  if (adapters.empty()) {
    throw CliFailure(OutcomeKind::Refused, "-p auto found no USB serial adapter in " + folder +
                                     "; name the port with -p (\"varnel-cli ports\" lists them)");
  }
  if (adapters.size() > 1) {
    std::string text = "-p auto found " + std::to_string(adapters.size()) +
                       " USB serial adapters in " + folder + "; choose one with -p:";
    for (const UsbAdapter& adapter : adapters) text += "\n  " + Described(adapter);
    throw CliFailure(OutcomeKind::Refused, text);
  }
  if (!quiet) std::fprintf(stderr, "varnel-cli: -p auto: %s\n", Described(adapters.front()).c_str());
  return adapters.front().byId;
}

std::string PortDetails(const std::string& device, const std::vector<UsbAdapter>& adapters) {
  const std::string resolved = DeviceOf(device);
  for (const UsbAdapter& adapter : adapters) {
    if (adapter.device == resolved) {
      return adapter.byId + "\t" + OrDash(adapter.vendor) + "\t" + OrDash(adapter.model);
    }
  }
  std::string vendor, model;
  DescribeTty(device, SysfsRoot(), vendor, model);
  return "-\t" + OrDash(vendor) + "\t" + OrDash(model);
}

}  // namespace varnel::cli
