// Running the Qt event loop in tests that have no application of their own:
// one QCoreApplication for the test program, and a pump that runs the loop
// until a condition holds.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>

namespace varnel::testing {

inline void EnsureApplication() {
  if (QCoreApplication::instance()) return;
  static int argc = 1;
  static char name[] = "varnel-test";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
}

// Runs the event loop until done() holds (true) or timeoutMs passed (false).
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 2000) {
  EnsureApplication();
  QTimer wake;  // the loop waits for events; this bounds each wait
  wake.start(5);
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// Runs the event loop for a while (to see that nothing more happens).
inline void PumpFor(int ms) {
  PumpUntil([] { return false; }, ms);
}

}  // namespace varnel::testing
