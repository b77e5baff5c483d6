// The serial ports of this machine, as a caller offers them to choose from.
#pragma once

#include <string>
#include <vector>

#include "varnel/export.h"

namespace varnel {

struct PortInfo {
  std::string device;  // /dev/ttyUSB0
  std::string by_id;   // its stable name under /dev/serial/by-id, or empty
  std::string status;  // "available", "busy" or "no permission"
  std::string details; // the adapter's maker and model, where known
};

// COM1..COM8 as mapped, the USB and ACM adapters, and a running simulator's
// link; ports that do not exist are left out.
VARNEL_API std::vector<PortInfo> ports();

// The library's version, as varnel-cli --version says it.
VARNEL_API const char* version() noexcept;

}  // namespace varnel
