// Figures of the settings store: a reload before every command and a
// confirmed properties dialog, both against a project file on disk.
#include <chrono>

#include <QTemporaryDir>

#include "Bench.h"
#include "project/Settings.h"

namespace varnel::bench {
namespace {

double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

std::vector<Figure> SettingsFigures() {
  QTemporaryDir dir;
  Session session;  // no port, no window: only the store is measured
  Settings settings(session, (dir.path() + "/Varnel.ini").toStdString());
  session.ProjectFile = (dir.path() + "/demo.prj").toStdString();
  PropertyValues values;
  values.Default = false;

  constexpr int kSaves = 5;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kSaves; ++i) settings.SaveProperties(values);
  const double saveMs = MsSince(start) / kSaves;

  constexpr int kLoads = 500;
  start = std::chrono::steady_clock::now();
  for (int i = 0; i < kLoads; ++i) settings.LoadProperties();
  const double loadUs = MsSince(start) * 1000.0 / kLoads;

  return {{"settings_save_all_keys_ms", saveMs, "ms"},
          {"settings_load_properties_us", loadUs, "us"}};
}

Registrar settingsFigures({"settings_save_all_keys_ms", "settings_load_properties_us"},
                          SettingsFigures);

}  // namespace
}  // namespace varnel::bench
