// The ports offered to the user: COM1..COM8 as probed, then the USB and ACM
// serial adapters present, then "None".
#pragma once

#include <string>
#include <vector>

namespace varnel {

enum class PortStatus { Absent, Available, Busy };

constexpr int MaxPorts = 8;

// Probes one device: opened exclusively and closed again -> available; no
// such device (or no hardware behind the node) -> absent; held by another
// program or refused -> busy.
PortStatus ProbePort(const std::string& device);

// The device exists but this user may not open it (on Debian: not in the
// group that owns the serial devices). Asks without opening, so no line of
// the port moves.
bool PortDenied(const std::string& device);

// Fills list with "COM1".."COM8" that are available (and busy ones when
// includeBusy is on), then the adapters found in deviceFolder (ttyACM*,
// ttyUSB*, in number order, the same rule), each by its stable name in
// deviceFolder/serial/by-id when it has one and by its path otherwise, then
// "None", always. Either name opens the adapter.
void BuildPortList(std::vector<std::string>& list, bool includeBusy,
                   const std::string& deviceFolder = "/dev");

// The stable link a running boot-loader simulator keeps to its device:
// $XDG_RUNTIME_DIR/varnel-target, or /tmp/varnel-target-<uid>. Empty when
// no simulator keeps it now.
std::string SimulatedTargetLink();

// Result of the last BuildPortList for port number n (1..MaxPorts).
PortStatus LastPortStatus(int n);

}  // namespace varnel
