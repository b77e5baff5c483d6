// Which port: "-p auto" resolved to the one USB serial adapter present, and
// what the port list says about each port beyond its name.
#pragma once

#include <string>
#include <vector>

#include "link/UsbAdapters.h"

namespace varnel::cli {

// The by-id name of the one USB serial adapter present, said on standard
// error unless quiet. Throws CliFailure (bad usage) listing what was found
// when there is none or more than one.
std::string ChooseAutoPort(bool quiet);

// The port list's columns after the status for a device: its by-id name,
// vendor and model, tab-separated, "-" for each one not known.
std::string PortDetails(const std::string& device, const std::vector<UsbAdapter>& adapters);

}  // namespace varnel::cli
