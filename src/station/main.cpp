// varnel-station: the production station's window.
//   varnel-station [--operator] [--start] [FILE]
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QSocketNotifier>
#include <QStyleFactory>
#include <cstdio>

#include "core/Version.h"
#include "station/CommandLineRunner.h"
#include "station/StationWindow.h"

namespace {

int signalPipe[2] = {-1, -1};

void OnStopSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace varnel::station;
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Varnel"));
  QApplication::setOrganizationName(QStringLiteral("Varnel"));
  QApplication::setApplicationVersion(QString::fromLatin1(varnel::kProgramVersion));
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QApplication::setDesktopFileName(QStringLiteral("varnel-station"));

  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("The production station: MSC1210 boards programmed, numbered and recorded on several "
                     "ports, board after board."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption operatorMode(QStringLiteral("operator"),
                                        QStringLiteral("Show the job read-only: only Start, Stop and the counters."));
  const QCommandLineOption start(QStringLiteral("start"), QStringLiteral("Start the station at once."));
  parser.addOption(operatorMode);
  parser.addOption(start);
  parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The station file to open."));
  parser.process(app);
  const QStringList files = parser.positionalArguments();
  if (files.size() > 1 || ((parser.isSet(operatorMode) || parser.isSet(start)) && files.isEmpty())) {
    std::fprintf(stderr, "varnel-station: %s\n",
                 files.size() > 1 ? "give one station file" : "--operator and --start need a station file");
    return 2;
  }

  StationWindow window(std::make_unique<CommandLineRunner>(CommandLineRunner::FindProgram()),
                       parser.isSet(operatorMode) ? StationWindow::Mode::Operator : StationWindow::Mode::Edit);
  const bool opened = files.isEmpty() || window.OpenJob(files.first());
  window.show();
  if (opened && parser.isSet(start)) window.Start();

  // SIGTERM and SIGINT stop as Stop does: downloads end with the end
  // record, then the window closes.
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
      char byte;
      while (::read(signalPipe[0], &byte, 1) == 1) {
      }
      window.StopAndQuit();
    });
  }
  return app.exec();
}
