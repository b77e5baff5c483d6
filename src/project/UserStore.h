// The per-user store: the default project and the working folder, kept in
// an INI file in the user's configuration folder
// ($XDG_CONFIG_HOME/Varnel/Varnel.ini, usually ~/.config/Varnel/Varnel.ini).
// It also says which device each port name COM1..COMn stands for:
//
//   [Ports]
//   COM1=/dev/ttyUSB0
//   COM2=ttyACM0        (a bare name means /dev/ttyACM0)
#pragma once

#include <map>
#include <string>

#include "project/IniFile.h"

namespace varnel {

inline constexpr char kPortsSection[] = "Ports";

// Where the per-user store lives for this user.
std::string UserStorePath();

// Makes the store's folder exist (the first start creates it); false when
// it cannot be created, in which case reads give the defaults.
bool EnsureUserStoreFolder(const std::string& storePath);

// The "Ports" section as a COMn -> device mapping: keys "COM<n>" in any
// case (n 1..255), empty values left out.
std::map<std::string, std::string> ReadComMapping(const IniFile& store);

}  // namespace varnel
