// The station: boards side by side, each on its own thread.
#include "cli/Station.h"

#include <poll.h>
#include <unistd.h>

#include <QMetaObject>
#include <QThread>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>

#include "cli/DbCommand.h"
#include "cli/StopSignals.h"

namespace varnel::cli {
namespace {

long long UnixMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// The progress of every board on standard error: on a terminal one line
// per port, rewritten in place; otherwise a line per step after its port.
class Display {
 public:
  Display(Screen::Mode mode, const std::vector<std::string>& ports)
      : mode_(mode), ports_(ports), lines_(ports.size()) {}

  void Show(std::size_t board, const std::string& text, bool rewrite) {
    std::lock_guard lock(mutex_);
    if (text.rfind("warning: ", 0) == 0) {
      Above(stderr, "varnel-cli: " + ports_[board] + ": " + text);
      return;
    }
    if (mode_ == Screen::Mode::Quiet) return;
    if (mode_ == Screen::Mode::Lines) {
      if (!rewrite) std::fprintf(stderr, "%s: %s\n", ports_[board].c_str(), text.c_str());
      std::fflush(stderr);
      return;
    }
    lines_[board] = text;
    Draw();
  }

  // A line of its own on standard output, above the progress lines.
  void Result(const std::string& line) {
    std::lock_guard lock(mutex_);
    Above(stdout, line);
  }

 private:
  void Above(std::FILE* out, const std::string& line) {
    if (mode_ == Screen::Mode::Terminal && drawn_) {
      std::fprintf(stderr, "\x1b[%zuA\r\x1b[J", lines_.size());
      std::fflush(stderr);
      drawn_ = false;
    }
    std::fprintf(out, "%s\n", line.c_str());
    std::fflush(out);
    if (mode_ == Screen::Mode::Terminal) Draw();
  }

  void Draw() {
    if (drawn_) std::fprintf(stderr, "\x1b[%zuA", lines_.size());
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      std::fprintf(stderr, "\r%s: %s\x1b[K\n", ports_[i].c_str(), lines_[i].c_str());
    }
    std::fflush(stderr);
    drawn_ = true;
  }

  std::mutex mutex_;
  Screen::Mode mode_;
  std::vector<std::string> ports_;
  std::vector<std::string> lines_;
  bool drawn_ = false;
};

struct Slot {
  std::string port;
  std::mutex linkMutex;
  Link* link = nullptr;
  Outcome outcome;  // of the board, without --loop
  std::optional<std::uint64_t> serial;  // the number the board took
  int ok = 0, failed = 0;
};

// "ok", "failed (exit S): MESSAGE", each with the number the board took.
std::string ResultText(const Outcome& outcome, const std::optional<std::uint64_t>& serial) {
  const std::string number = serial ? ", serial " + std::to_string(*serial) : "";
  if (outcome.Done()) return "ok" + number;
  return "failed (exit " + std::to_string(ExitStatusOf(outcome.kind)) + ")" + number + ": " +
         outcome.text;
}

class Station {
 public:
  Station(const Options& options, const Prepared& prepared)
      : o_(options), prepared_(prepared), display_(Screen::ModeFor(options.quiet), options.ports) {
    for (const std::string& port : options.ports) {
      auto slot = std::make_unique<Slot>();
      slot->port = port;
      slots_.push_back(std::move(slot));
    }
  }

  // How the station ended, for its exit status.
  OutcomeKind Run() {
    const int stops = StopSignalPipe();
    std::vector<std::unique_ptr<QThread>> threads;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      threads.emplace_back(QThread::create([this, i] { Guarded(i); }));
      threads.back()->start();
    }
    for (;;) {
      bool all = true;
      for (const auto& t : threads) all = all && t->isFinished();
      if (all) break;
      pollfd fd{stops, POLLIN, 0};
      if (::poll(&fd, 1, 50) > 0) {
        char byte = 0;
        while (::read(stops, &byte, 1) == 1) {
        }
        Stop();
      }
    }
    for (const auto& t : threads) t->wait();

    if (o_.loop) {
      int ok = 0, failed = 0;
      for (const auto& slot : slots_) {
        ok += slot->ok;
        failed += slot->failed;
      }
      std::printf("%d boards: %d ok, %d failed\n", ok + failed, ok, failed);
      std::fflush(stdout);
      // Ctrl+C is how a station is meant to end; its status says so.
      if (stop_) return OutcomeKind::Interrupted;
      // A series with a failed board ends as a refusal, whatever failed.
      return failed == 0 ? OutcomeKind::Finished : OutcomeKind::TargetRefused;
    }
    OutcomeKind kind = OutcomeKind::Finished;
    for (const auto& slot : slots_) {
      std::printf("%s: %s\n", slot->port.c_str(), ResultText(slot->outcome, slot->serial).c_str());
      if (kind == OutcomeKind::Finished) kind = slot->outcome.kind;
    }
    std::fflush(stdout);
    return kind;
  }

 private:
  void Stop() {
    stop_ = true;
    for (const auto& slot : slots_) {
      std::lock_guard lock(slot->linkMutex);
      if (Link* link = slot->link) {
        QMetaObject::invokeMethod(link->Context(), [link] { link->RequestStop(); },
                                  Qt::QueuedConnection);
      }
    }
  }

  // Nothing a port's thread meets ends the process: what escapes a board
  // ends that port's run as a failed board.
  void Guarded(std::size_t i) {
    try {
      Board(i);
    } catch (const std::exception& e) {
      Slot& slot = *slots_[i];
      slot.outcome = {OutcomeKind::PortFailed, e.what()};
      if (!o_.loop) return;
      slot.failed += 1;
      display_.Result(slot.port + ": " + ResultText(slot.outcome, slot.serial));
    }
  }

  // One port's thread: its board, or with --loop board after board.
  void Board(std::size_t i) {
    Slot& slot = *slots_[i];
    Options options = o_;
    options.port = slot.port;
    options.ports = {slot.port};
    Screen screen(Screen::ModeFor(o_.quiet),
                  [this, i](const std::string& text, bool rewrite) { display_.Show(i, text, rewrite); });
    // A command's own result lines are kept, after their port, whatever the
    // progress display does with its lines.
    screen.onPrint = [this, &slot](const std::string& line) { display_.Result(slot.port + ": " + line); };

    BoardRun run;
    run.options = &options;
    run.screen = &screen;
    // Every board programs the one copy of the file taken when it was
    // checked: a file rebuilt meanwhile reaches no board.
    run.prepared = &prepared_;
    run.watchSignals = false;
    run.stop = &stop_;
    run.waitForBoard = o_.loop;
    run.onLink = [&slot](Link* link) {
      std::lock_guard lock(slot.linkMutex);
      slot.link = link;
    };
    // Every board thread has its own connection to the database.
    std::unique_ptr<BoardRecords> records;
    if (!o_.db.empty()) records = std::make_unique<BoardRecords>(o_);
    if (o_.serial && records) {
      run.takeSerial = [this, &records] { return records->TakeNumber(*o_.serial); };
    } else if (o_.serial) {
      run.takeSerial = [this] { return TakeSerial(o_.serialFile, *o_.serial); };
    }
    for (int n = 1; !stop_ && (o_.count == 0 || n <= o_.count); ++n) {
      const long long started = UnixMs();
      const auto start = std::chrono::steady_clock::now();
      bool waiting = false;  // stopped while waiting for a board
      std::optional<Outcome> recorded;  // the board's end, its record written or not
      run.ended = [&](const Outcome& ran, const BoardFacts& facts, Target* target) {
        if (o_.loop && !facts.connected) {
          waiting = true;
          return;
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const LogEntry entry{slot.port, CommandName(o_.command), o_.file, prepared_.fileSha256,
                             facts, ran, seconds, started};
        Outcome outcome = ran;
        if (!o_.log.empty()) outcome = Record(o_.log, entry);
        if (records) outcome = WithRecord(outcome, records->Keep(LogLine(entry)));
        recorded = outcome;
        slot.serial = facts.serial;
        if (!o_.loop) return;
        (outcome.Done() ? slot.ok : slot.failed) += 1;
        display_.Result(slot.port + ": board " + std::to_string(n) + ": " +
                        ResultText(outcome, facts.serial));
        // The last board of a count ends the port's run; it need not go.
        if (target && (o_.count == 0 || n < o_.count)) WaitGone(options, *target);
      };
      BoardFacts facts;
      slot.outcome = RunBoard(run, facts);
      if (recorded) slot.outcome = *recorded;
      if (!o_.loop || waiting) break;
    }
  }

  // Until the board is gone: its port went away, or its loader did not
  // answer a carriage return within about a second. A port that fails in
  // any way meanwhile has no board behind it.
  void WaitGone(const Options& options, Target& target) {
    Screen quiet(Screen::Mode::Quiet);
    Options probeOptions = options;
    probeOptions.trace.clear();  // the board's own trace is not the probe's
    std::unique_ptr<Target> probe;
    Link* link = &target.link();
    try {
      while (!stop_) {
        // A device that went away took its board with it, even when one
        // is back on the same name already: that is the next board.
        if (link->Port().IsHungUp()) return;
        if (link->Failed()) {
          // A failed run's link sends nothing more: the board is asked on
          // a port of its own, once the run's port has let the device go.
          target.link().Close();
          probe.reset();
          probe = std::make_unique<Target>(probeOptions, quiet, false);
          probe->Open();
          link = &probe->link();
        }
        if (!link->Answers(kGoneMs)) return;
        for (int i = 0; i < 6 && !stop_; ++i) QThread::msleep(50);
      }
    } catch (const std::exception&) {
    }
  }

  static constexpr int kGoneMs = 1000;

  const Options& o_;
  const Prepared& prepared_;
  Display display_;
  std::vector<std::unique_ptr<Slot>> slots_;
  std::atomic<bool> stop_{false};
};

}  // namespace

OutcomeKind RunStation(const Options& options, const Prepared& prepared) {
  Station station(options, prepared);
  return station.Run();
}

}  // namespace varnel::cli
