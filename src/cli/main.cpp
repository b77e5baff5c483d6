// varnel-cli: the engine driven from a shell. Checks what it was given,
// opens the port, connects, runs one command and says by its exit status
// how it went: the status comes from the kind of the outcome that ended the
// run (ExitStatusOf), here and nowhere else.
#include <QCoreApplication>
#include <cstdio>
#include <optional>

#include "cli/Commands.h"
#include "cli/PortChoice.h"
#include "link/CommTypes.h"

using namespace varnel::cli;

namespace {

int Fail(Screen* screen, const varnel::Outcome& outcome) {
  if (screen) screen->Break();
  std::fflush(stdout);
  std::fprintf(stderr, "varnel-cli: %s\n", outcome.text.c_str());
  return ExitStatusOf(outcome.kind);
}

void Execute(const Options& o, Screen& screen) {
  if (o.command == Command::Ports) {
    RunPorts();
    return;
  }

  // Everything that can be checked without the target is, before the port opens.
  std::optional<ReadRequest> read;
  std::optional<ProgramImage> image;
  if (o.command == Command::Read) read = PrepareRead(o);
  if (o.command == Command::Program || o.command == Command::Verify) {
    image = LoadProgramImage(o.file, kLargestFlash);
  }
  Target target(o, screen);
  target.Open();
  target.Connect();

  switch (o.command) {
    case Command::Info: RunInfo(target); break;
    case Command::Read: RunRead(*read, target); break;
    case Command::Program: RunProgram(o, target, *image); break;
    case Command::Verify: RunVerify(target, *image); break;
    case Command::Erase: RunErase(o, target); break;
    default: throw CliFailure(varnel::OutcomeKind::Refused, "no command");
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  try {
    options = ParseOptions(argc, argv);
  } catch (const UsageError& e) {
    return Fail(nullptr, {varnel::OutcomeKind::Refused, e.what()});
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return ExitStatusOf(varnel::OutcomeKind::Finished);
  }
  if (options.version) {
    std::printf("varnel-cli 1.1\n");
    return ExitStatusOf(varnel::OutcomeKind::Finished);
  }

  QCoreApplication app(argc, argv);
  Screen screen(Screen::ModeFor(options.quiet));
  try {
    if (options.port == "auto" && options.command != Command::Ports) {
      options.port = ChooseAutoPort(options.quiet);
    }
    // The terminal has no run of the engine's: its status is its own.
    if (options.command == Command::Terminal) return RunTerminal(options);
    Execute(options, screen);
    return ExitStatusOf(varnel::OutcomeKind::Finished);
  } catch (const CliFailure& f) {
    return Fail(&screen, f.outcome());
  } catch (const varnel::ECommError& e) {
    // The port's exception, met outside a run.
    return Fail(&screen, {varnel::OutcomeKind::PortFailed, e.what()});
  } catch (const std::exception& e) {
    return Fail(&screen, {varnel::OutcomeKind::TargetRefused, e.what()});
  }
}
