// One QApplication for all widget tests of a test program (offscreen).
#pragma once

#include <QApplication>
#include <QStandardPaths>

namespace varnel::testing {

inline QApplication& GuiApp() {
  static int argc = 1;
  static char name[] = "varnel-gui-test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);  // never the user's own settings
    auto* a = new QApplication(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Varnel"));
    QApplication::setOrganizationName(QStringLiteral("Varnel"));
    return a;
  }();
  return *app;
}

}  // namespace varnel::testing
