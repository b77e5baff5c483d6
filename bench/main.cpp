// varnel-bench: measures the figures named on the command line (all when
// none are named) and prints one "name: value unit" line per figure on
// standard output; diagnostics go to standard error.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
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

  std::set<std::string> wanted(argv + 1, argv + argc);
  std::set<std::string> known;
  for (const auto& b : Registry()) known.insert(b.figures.begin(), b.figures.end());
  for (const auto& name : wanted) {
    if (!known.count(name)) {
      std::fprintf(stderr, "varnel-bench: unknown figure '%s'\n", name.c_str());
      return 2;
    }
  }
  for (const auto& b : Registry()) {
    const bool any = wanted.empty() || std::any_of(b.figures.begin(), b.figures.end(),
                                                   [&](auto& f) { return wanted.count(f); });
    if (!any) continue;
    for (const auto& f : b.run()) {
      if (!wanted.empty() && !wanted.count(f.name)) continue;
      if (f.unit.empty()) {
        std::printf("%s: %.3f\n", f.name.c_str(), f.value);
      } else {
        std::printf("%s: %.3f %s\n", f.name.c_str(), f.value, f.unit.c_str());
      }
      std::fflush(stdout);
    }
  }
  return 0;
}
