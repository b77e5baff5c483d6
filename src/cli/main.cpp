// varnel-cli: the engine driven from a shell. Checks what it was given,
// opens the port, connects, runs one command and says by its exit status
// how it went: the status comes from the kind of the outcome that ended the
// run or the terminal (ExitStatusOf), or from the library's station, which
// maps its boards' errors the same way.
#include <QCoreApplication>
#include <cstdio>
#include <chrono>
#include <optional>

#include "cli/Board.h"
#include "cli/Commands.h"
#include "cli/DbCommand.h"
#include "cli/Station.h"
#include "cli/PortChoice.h"
#include "core/Version.h"
#include "link/CommTypes.h"

using namespace varnel::cli;

namespace {

int Fail(Screen* screen, const varnel::Outcome& outcome) {
  if (screen) screen->Break();
  std::fflush(stdout);
  std::fprintf(stderr, "varnel-cli: %s\n", outcome.text.c_str());
  return ExitStatusOf(outcome.kind);
}

// One board, as varnel-cli has always run it; its record when --log asks.
varnel::Outcome RunOne(const Options& o, const Prepared& prepared, Screen& screen) {
  BoardRun run;
  run.options = &o;
  run.screen = &screen;
  run.prepared = &prepared;
  std::unique_ptr<BoardRecords> records;
  if (!o.db.empty()) records = std::make_unique<BoardRecords>(o);
  if (o.serial && records) {
    run.takeSerial = [&o, &records] { return records->TakeNumber(*o.serial); };
  } else if (o.serial) {
    run.takeSerial = [&o] { return TakeSerial(o.serialFile, *o.serial); };
  }
  BoardFacts facts;
  const auto started = std::chrono::system_clock::now();
  const auto start = std::chrono::steady_clock::now();
  const varnel::Outcome outcome = RunBoard(run, facts);
  if (o.log.empty() && !records) return outcome;
  const LogEntry entry{o.port, CommandName(o.command), o.file, prepared.fileSha256, facts, outcome,
                       std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                       std::chrono::duration_cast<std::chrono::milliseconds>(
                           started.time_since_epoch()).count()};
  varnel::Outcome recorded = o.log.empty() ? outcome : Record(o.log, entry);
  if (records) recorded = WithRecord(recorded, records->Keep(LogLine(entry)));
  return recorded;
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
    std::fputs(UsageText().c_str(), stdout);
    return ExitStatusOf(varnel::OutcomeKind::Finished);
  }
  if (options.version) {
    std::printf("varnel-cli %s\n", varnel::kProgramVersion);
    return ExitStatusOf(varnel::OutcomeKind::Finished);
  }

  QCoreApplication app(argc, argv);
  Screen screen(Screen::ModeFor(options.quiet));
  try {
    if (options.port == "auto" && options.command != Command::Ports) {
      options.port = ChooseAutoPort(options.quiet);
      options.ports.front() = options.port;
    }
    // The terminal has no run of the engine's; it says how it ended.
    if (options.command == Command::Terminal) return ExitStatusOf(RunTerminal(options));
    if (options.command == Command::Db) {
      RunDb(options);
      return ExitStatusOf(varnel::OutcomeKind::Finished);
    }
    if (options.command == Command::Ports) {
      RunPorts();
      return ExitStatusOf(varnel::OutcomeKind::Finished);
    }
    // A station checks everything it can without the targets itself,
    // before any port opens.
    if (options.ports.size() > 1 || options.loop) return RunStation(options);
    // As does a single run.
    const Prepared prepared = Prepare(options);
    const varnel::Outcome outcome = RunOne(options, prepared, screen);
    if (!outcome.Done()) return Fail(&screen, outcome);
    return ExitStatusOf(outcome.kind);
  } catch (const CliFailure& f) {
    return Fail(&screen, f.outcome());
  } catch (const varnel::ECommError& e) {
    // The port's exception, met outside a run.
    return Fail(&screen, {varnel::OutcomeKind::PortFailed, e.what()});
  } catch (const std::exception& e) {
    return Fail(&screen, {varnel::OutcomeKind::TargetRefused, e.what()});
  }
}
