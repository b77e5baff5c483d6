// Location and port mapping of the per-user store.
#include "project/UserStore.h"

#include <QDir>
#include <QStandardPaths>

#include "project/IniDocument.h"

namespace varnel {
namespace {

// "COM<n>" with n in 1..255, any case; 0 otherwise.
int ComNumber(std::string_view name) {
  if (name.size() < 4 || name.size() > 6 || !EqualsNoCase(name.substr(0, 3), "COM")) return 0;
  int n = 0;
  for (char c : name.substr(3)) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + (c - '0');
  }
  return (n >= 1 && n <= 255) ? n : 0;
}

}  // namespace

std::string UserStorePath() {
  // The generic folder plus our own name rather than the application's
  // configured names, so the place does not move with them.
  const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  return (base + "/Varnel/Varnel.ini").toStdString();
}

bool EnsureUserStoreFolder(const std::string& storePath) {
  const auto slash = storePath.rfind('/');
  if (slash == std::string::npos || slash == 0) return true;
  return QDir().mkpath(QString::fromStdString(storePath.substr(0, slash)));
}

std::map<std::string, std::string> ReadComMapping(const IniFile& store) {
  std::map<std::string, std::string> mapping;
  const IniDocument doc = store.Load();
  for (const std::string& key : doc.Keys(kPortsSection)) {
    const int n = ComNumber(key);
    if (n == 0) continue;
    const std::string name = "COM" + std::to_string(n);
    if (mapping.count(name)) continue;  // the first entry wins, as on reads
    std::string device = doc.Value(kPortsSection, key).value_or("");
    if (device.empty()) continue;
    if (device.front() != '/') device = "/dev/" + device;
    mapping[name] = device;
  }
  return mapping;
}

}  // namespace varnel
