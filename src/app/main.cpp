// Program entry: the main window runs start-up when it is created; the event
// loop runs until it closes.
#include <QApplication>

#include "app/TF_Main.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Varnel"));
  QApplication::setOrganizationName(QStringLiteral("Varnel"));
  varnel::TF_Main main;
  main.show();
  return app.exec();
}
