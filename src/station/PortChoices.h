// The ports a station can be given, as the port chooser lists them: USB
// adapters by their stable /dev/serial/by-id names first (they survive a
// replug into another socket of the hub), then the other serial devices,
// then a running simulator's link; each with what this user may do with it.
#pragma once

#include <string>
#include <vector>

namespace varnel::station {

struct PortChoice {
  std::string name;    // what the job stores: the by-id name where there is one
  std::string device;  // the device it opens now, links followed
  enum class State { Available, Busy, NoPermission } state = State::Available;
  std::string detail;  // the adapter's maker and model; empty when unknown
};

std::vector<PortChoice> ListPortChoices();

// Said beside a port this user may not open.
extern const char kDialoutHint[];

// A port's name short enough for a tile read from a metre away: the
// adapter's serial number of a by-id name (with its interface when not the
// first), the device name otherwise ("ttyUSB0", "pts/3").
std::string ShortPortName(const std::string& port);

}  // namespace varnel::station
