// Program entry: the main window runs start-up when it is created; the event
// loop runs until it closes.
#include <QApplication>

#include "app/Pictures.h"
#include "app/TF_Main.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Varnel"));
  QApplication::setOrganizationName(QStringLiteral("Varnel"));
  // Every window without an icon of its own (all of them) shows this one.
  QApplication::setWindowIcon(varnel::ProgramIcon());
  varnel::TF_Main main;
  main.show();
  return app.exec();
}
