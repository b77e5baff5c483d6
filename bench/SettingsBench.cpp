// Figures of the settings store: a reload before every command and a
// confirmed properties dialog, both against a project file on disk, and a
// reload of a project file just under the size the store still reads.
#include <chrono>
#include <fstream>
#include <iterator>

#include <QTemporaryDir>

#include "Bench.h"
#include "core/FileBytes.h"
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

// Every key of a saved project behind a section of notes that brings the
// file to one line short of the limit: each look-up has the whole file to
// pass.
std::vector<Figure> LargeProjectFigures() {
  QTemporaryDir dir;
  Session session;
  Settings settings(session, (dir.path() + "/Varnel.ini").toStdString());
  session.ProjectFile = (dir.path() + "/large.prj").toStdString();
  PropertyValues values;
  values.Default = false;
  settings.SaveProperties(values);
  std::string keys;
  {
    std::ifstream in(session.ProjectFile, std::ios::binary);
    keys.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::string text = "[Notes]\n";
  for (int n = 0; text.size() + keys.size() + 32 < kMaxSettingsFileSize; ++n) {
    text += "Note" + std::to_string(n) + "=bench line " + std::to_string(n) + "\n";
  }
  text += "\n" + keys;
  std::ofstream(session.ProjectFile, std::ios::binary) << text;

  constexpr int kLoads = 20;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kLoads; ++i) settings.LoadProperties();
  const double loadMs = MsSince(start) / kLoads;
  return {{"settings_load_large_project_ms", loadMs, "ms"},
          {"settings_large_project_bytes", static_cast<double>(text.size()), "bytes"}};
}

Registrar largeProjectFigures({"settings_load_large_project_ms", "settings_large_project_bytes"},
                              LargeProjectFigures);

}  // namespace
}  // namespace varnel::bench
