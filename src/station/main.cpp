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
#include <memory>
#include <string_view>

#include "core/Version.h"
#include "station/LibraryRunner.h"
#include "station/StationWindow.h"

namespace {

int signalPipe[2] = {-1, -1};

void OnStopSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

// --help and --version need no screen: they are answered without one, so
// they work on a console and in a package check.
bool NeedsNoWindow(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help" || arg == "--help-all" || arg == "-v" || arg == "--version" ||
        arg == "-?") {
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace varnel::station;
  std::unique_ptr<QCoreApplication> application;
  if (NeedsNoWindow(argc, argv)) {
    application = std::make_unique<QCoreApplication>(argc, argv);
  } else {
    application = std::make_unique<QApplication>(argc, argv);
  }
  QCoreApplication& app = *application;
  QCoreApplication::setApplicationName(QStringLiteral("Varnel"));
  QCoreApplication::setOrganizationName(QStringLiteral("Varnel"));
  QCoreApplication::setApplicationVersion(QString::fromLatin1(varnel::kProgramVersion));

  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("The production station: MSC1210 boards programmed, numbered and recorded on several "
                     "ports, board after board."));
  parser.addHelpOption();
  const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")},
                                   QStringLiteral("Show the version and exit."));
  parser.addOption(version);
  const QCommandLineOption operatorMode(QStringLiteral("operator"),
                                        QStringLiteral("Show the job read-only: only Start, Stop and the counters."));
  const QCommandLineOption start(QStringLiteral("start"), QStringLiteral("Start the station at once."));
  parser.addOption(operatorMode);
  parser.addOption(start);
  parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The station file to open."));
  parser.process(app);
  if (parser.isSet(version)) {
    std::printf("varnel-station %s\n", varnel::kProgramVersion);
    return 0;
  }
  const QStringList files = parser.positionalArguments();
  if (files.size() > 1 || ((parser.isSet(operatorMode) || parser.isSet(start)) && files.isEmpty())) {
    std::fprintf(stderr, "varnel-station: %s\n",
                 files.size() > 1 ? "give one station file" : "--operator and --start need a station file");
    return 2;
  }

  // The look of a plain modern Qt program, in the desktop's own colours.
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QApplication::setDesktopFileName(QStringLiteral("varnel-station"));
  StationWindow window(std::make_unique<LibraryRunner>(),
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
