// varnel-cli: the window's engine driven from a shell. Checks what it was
// given, opens the port, connects, runs one command and says by its exit
// status how it went.
#include <QCoreApplication>
#include <cstdio>
#include <optional>

#include "cli/ClockCheck.h"
#include "cli/Commands.h"
#include "cli/PortChoice.h"
#include "cli/ResetCommand.h"

using namespace varnel::cli;

namespace {

int Fail(Screen* screen, int status, const std::string& text) {
  if (screen) screen->Break();
  std::fflush(stdout);
  std::fprintf(stderr, "varnel-cli: %s\n", text.c_str());
  return status;
}

int Execute(const Options& o, Screen& screen) {
  if (o.command == Command::Ports) return RunPorts();
  if (o.command == Command::Terminal) return RunTerminal(o);

  // Everything that can be checked without the target is, before the port opens.
  std::optional<ReadRequest> read;
  std::optional<ProgramImage> image;
  if (o.command == Command::Read) read = PrepareRead(o);
  if (o.command == Command::Program || o.command == Command::Verify) {
    image = LoadProgramImage(o.file, kLargestFlash);
  }
  Target target(o, screen);
  if (!o.resetCommand.empty()) RunResetCommand(o.resetCommand, screen, o.quiet);
  target.Open();
  target.Connect();
  // Said where the clock counts: info reports it, the flash timing uses it.
  if (o.command == Command::Info || o.command == Command::Program || o.command == Command::Erase) {
    for (const std::string& warning :
         ClockWarnings(target.session().CoreClockHz, target.Baud(), o.clockHz)) {
      screen.Break();
      std::fprintf(stderr, "varnel-cli: warning: %s\n", warning.c_str());
    }
  }

  switch (o.command) {
    case Command::Info: return RunInfo(target);
    case Command::Read: return RunRead(*read, target);
    case Command::Program: return RunProgram(o, target, *image);
    case Command::Verify: return RunVerify(target, *image);
    case Command::Erase: return RunErase(o, target);
    default: return kExitUsage;
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  try {
    options = ParseOptions(argc, argv);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "varnel-cli: %s\n", e.what());
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (options.version) {
    std::printf("varnel-cli 1.1\n");
    return kExitOk;
  }

  QCoreApplication app(argc, argv);
  Screen screen(Screen::ModeFor(options.quiet));
  try {
    if (options.port == "auto" && options.command != Command::Ports) {
      options.port = ChooseAutoPort(options.quiet);
    }
    return Execute(options, screen);
  } catch (const CliFailure& f) {
    return Fail(&screen, f.Status(), f.what());
  } catch (const std::exception& e) {
    return Fail(&screen, kExitRefused, e.what());
  }
}
