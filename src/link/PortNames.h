// Port names as the user sees them and project files store them ("COM1".."COM8",
// "None"), and the device each stands for on this machine.
#pragma once

#include <map>
#include <string>

namespace varnel {

// COMn -> device path, as set in the per-user store. Names not in the
// mapping use the default COMn = /dev/ttyS<n-1>.
void SetComMapping(std::map<std::string, std::string> mapping);
std::map<std::string, std::string> ComMapping();

// The device a port name opens: a mapped or default COMn ("com1" too), or a
// device path used as it is. Empty for "None" and for names that are neither.
std::string ResolvePortDevice(const std::string& name);

}  // namespace varnel
