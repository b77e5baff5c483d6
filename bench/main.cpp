// varnel-bench: measures the figures named on the command line (all when
// none are named) and prints one "name: value unit" line per figure on
// standard output; diagnostics go to standard error.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "Bench.h"

namespace varnel::bench {
std::vector<Benchmark>& Registry() {
  static std::vector<Benchmark> registry;
  return registry;
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs, int wakeMs) {
  QTimer wake;
  wake.start(wakeMs);
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  return true;
}
}  // namespace varnel::bench

int main(int argc, char** argv) {
  using namespace varnel::bench;
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);  // some figures need an event loop or widgets

  // Figures derived from two measured ones: the tool's time over the bare
  // loop's for the same exchanges (both ratios count the same bytes).
  struct Derived {
    const char* name;
    const char* tool;
    const char* floor;
  };
  const Derived derived[] = {
      {"upload_code_vs_floor", "upload_code_38400_ratio", "floor_upload_code_38400_ratio"},
      {"program_32k_vs_floor", "program_32k_38400_ratio", "floor_program_32k_38400_ratio"},
  };

  std::set<std::string> wanted(argv + 1, argv + argc);
  std::set<std::string> known;
  for (const auto& b : Registry()) known.insert(b.figures.begin(), b.figures.end());
  for (const auto& d : derived) known.insert(d.name);
  for (const auto& name : wanted) {
    if (!known.count(name)) {
      std::fprintf(stderr, "varnel-bench: unknown figure '%s'\n", name.c_str());
      return 2;
    }
  }
  std::set<std::string> measure = wanted;
  for (const auto& d : derived) {
    if (wanted.count(d.name)) measure.insert({d.tool, d.floor});
  }
  auto print = [](const std::string& name, double value, const std::string& unit) {
    if (unit.empty()) {
      std::printf("%s: %.3f\n", name.c_str(), value);
    } else {
      std::printf("%s: %.3f %s\n", name.c_str(), value, unit.c_str());
    }
    std::fflush(stdout);
  };
  std::map<std::string, double> values;
  for (const auto& b : Registry()) {
    const bool any = measure.empty() || std::any_of(b.figures.begin(), b.figures.end(),
                                                    [&](auto& f) { return measure.count(f); });
    if (!any) continue;
    for (const auto& f : b.run()) {
      values[f.name] = f.value;
      if (!wanted.empty() && !wanted.count(f.name)) continue;
      print(f.name, f.value, f.unit);
    }
  }
  for (const auto& d : derived) {
    if (!wanted.empty() && !wanted.count(d.name)) continue;
    if (values.count(d.tool) && values.count(d.floor) && values[d.floor] > 0) {
      print(d.name, values[d.tool] / values[d.floor], "");
    }
  }
  return 0;
}
