// Port name to device mapping.
#include "link/PortNames.h"

#include <cctype>
#include <mutex>

namespace varnel {
namespace {

// Boards run side by side each read the settings, and with them the mapping.
std::mutex mappingMutex;

std::map<std::string, std::string>& Mapping() {
  static std::map<std::string, std::string> mapping;
  return mapping;
}

// "COM" + a number of 1..255, any case; 0 when the name is not of that form.
int ComNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 6) return 0;
  for (int i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
  }
  int n = 0;
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
    n = n * 10 + (name[i] - '0');
  }
  return (n >= 1 && n <= 255) ? n : 0;
}

}  // namespace

void SetComMapping(std::map<std::string, std::string> mapping) {
  std::lock_guard lock(mappingMutex);
  Mapping() = std::move(mapping);
}

std::map<std::string, std::string> ComMapping() {
  std::lock_guard lock(mappingMutex);
  return Mapping();
}

std::string ResolvePortDevice(const std::string& name) {
  if (!name.empty() && name.front() == '/') return name;
  const int n = ComNumber(name);
  if (n == 0) return {};
  const std::string key = "COM" + std::to_string(n);
  std::lock_guard lock(mappingMutex);
  auto it = Mapping().find(key);
  if (it != Mapping().end() && !it->second.empty()) return it->second;
  return "/dev/ttyS" + std::to_string(n - 1);
}

}  // namespace varnel
