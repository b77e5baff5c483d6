// The station: the library's, with the command line's display and result
// lines.
#include "cli/StationPlan.h"

#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <varnel/station.h>

#include "cli/ClockCheck.h"
#include "cli/ExitStatus.h"
#include "cli/Screen.h"
#include "cli/StopSignals.h"

namespace varnel::cli {
namespace {

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

  // A line of its own above the progress lines: on standard output, or a
  // message of the program's on standard error.
  void Result(const std::string& line, std::FILE* out = stdout) {
    std::lock_guard lock(mutex_);
    Above(out, line);
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

// "ok", "failed (exit S): MESSAGE", each with the number the board took.
std::string ResultText(const BoardEvent& e) {
  const std::string number = e.serial ? ", serial " + std::to_string(*e.serial) : "";
  if (e.state == BoardEvent::State::Ok) return "ok" + number;
  return "failed (exit " + std::to_string(e.exit_status) + ")" + number + ": " + e.message;
}

StationOptions OptionsOf(const StationPlan& p) {
  StationOptions s;
  using C = StationPlan::Command;
  s.command = p.command == C::Verify       ? StationCommand::Verify
              : p.command == C::Erase      ? StationCommand::Erase
              : p.command == C::BlankCheck ? StationCommand::BlankCheck
              : p.command == C::Info       ? StationCommand::Info
                                           : StationCommand::Program;
  // A port's name as given when it is a path; the device a COM name maps to.
  for (std::size_t i = 0; i < p.ports.size(); ++i) {
    s.ports.push_back(p.ports[i].front() == '/' ? p.ports[i] : p.devices[i]);
  }
  s.file = p.file;
  s.allow_missing_end = p.allowMissingEnd;
  s.baud = p.baud;
  s.reset = p.reset;
  s.reset_command = p.resetCommand;
  s.clock_hz = p.crystalHz;
  s.timeout_ms = p.timeoutMs;
  s.trace_path = p.trace;
  s.verify = p.verify;
  s.send_all = p.sendAll;
  s.erase_scope = p.erase == StationPlan::Erase::CfgOnly   ? varnel::EraseScope::Config
                  : p.erase == StationPlan::Erase::WithCfg ? varnel::EraseScope::FlashAndConfig
                                                           : varnel::EraseScope::Flash;
  s.mass_erase = p.massErase;
  s.erase_config = p.eraseConfig;
  s.write_flash = p.writeFlash;
  s.write_config = p.writeConfig;
  s.hcr0 = p.hcr0;
  s.hcr1 = p.hcr1;
  if (p.serial) {
    using F = StationPlan::Serial::Format;
    s.serial = varnel::SerialSpec{p.serial->address, p.serial->length,
                                  p.serial->format == F::Be      ? varnel::SerialSpec::Format::Be
                                  : p.serial->format == F::Ascii ? varnel::SerialSpec::Format::Ascii
                                                                 : varnel::SerialSpec::Format::Le};
  }
  s.serial_file = p.serialFile;
  s.db = p.db;
  if (!p.serialCounter.empty()) s.serial_counter = p.serialCounter;
  s.log_path = p.log;
  s.loop = p.loop;
  s.count = p.count;
  return s;
}

std::string ProgressText(const BoardEvent& e, const std::string& file) {
  const std::string percent =
      e.total ? ": " + std::to_string(e.done) + "/" + std::to_string(e.total) + " bytes"
              : ": " + std::to_string(e.percent) + "%";
  switch (e.state) {
    case BoardEvent::State::Waiting: return "waiting for a board";
    case BoardEvent::State::Connecting: return "connecting";
    case BoardEvent::State::Erasing: return "erasing";
    case BoardEvent::State::Programming: return "programming " + file + percent;
    case BoardEvent::State::Verifying: return "verifying" + percent;
    default: return "";
  }
}

}  // namespace

int RunStationPlan(const StationPlan& o) {
  const std::vector<std::string>& devices = o.devices;
  const StationOptions options = OptionsOf(o);
  std::unique_ptr<varnel::Station> station;
  try {
    station = std::make_unique<varnel::Station>(options);
  } catch (const varnel::Error& e) {
    throw CliFailure(e.exit_status() == kExitNotStored ? OutcomeKind::NotStored : OutcomeKind::Refused,
                     e.what());
  }
  std::map<std::string, std::size_t> index;
  for (std::size_t i = 0; i < options.ports.size(); ++i) index[options.ports[i]] = i;
  Display display(Screen::ModeFor(o.quiet), o.ports);
  const std::size_t slash = o.file.rfind('/');
  const std::string file = slash == std::string::npos ? o.file : o.file.substr(slash + 1);
  struct Slot {
    std::optional<BoardEvent> last;  // of the board, without --loop
    BoardEvent::State shown = BoardEvent::State::Ok;  // the state its display line is of
  };
  std::vector<Slot> slots(options.ports.size());
  int ok = 0, failed = 0;
  station->on_event([&](const BoardEvent& e) {
    const auto at = index.find(e.port);
    if (at == index.end()) {
      // The station's own word, before or between boards.
      display.Result("varnel-cli: " + e.message, stderr);
      return;
    }
    const std::size_t i = at->second;
    Slot& slot = slots[i];
    switch (e.state) {
      case BoardEvent::State::Output:
        if (e.message.rfind("warning: ", 0) == 0) {
          display.Show(i, e.message, false);
        } else {
          display.Result(o.ports[i] + ": " + e.message);
        }
        return;
      case BoardEvent::State::Ok:
      case BoardEvent::State::Failed:
        slot.shown = e.state;
        if (!o.loop) {
          slot.last = e;
          return;
        }
        (e.state == BoardEvent::State::Ok ? ok : failed) += 1;
        display.Result(o.ports[i] + ": board " + std::to_string(e.board) + ": " + ResultText(e));
        return;
      case BoardEvent::State::Connecting:
        if (e.percent == 100 && e.target) {
          const Info& t = *e.target;
          char clock[32];
          std::snprintf(clock, sizeof clock, "%.2f", t.clock_hz / 1e6);
          // A loader that was awake already answers with its prompt, not its banner.
          const std::string loader = t.firmware.empty() ? "loader awake already" : "loader " + t.firmware;
          display.Show(i, "connected: " + t.chip + " on " + devices[i] + " at " + std::to_string(options.baud) +
                              " baud, " + loader + ", clock about " + clock + " MHz",
                       false);
          // Said where the clock counts: info reports it, the flash timing uses it.
          if (options.command != StationCommand::Verify && options.command != StationCommand::BlankCheck) {
            for (const std::string& w : ClockWarnings(static_cast<std::int32_t>(t.clock_hz), options.baud, o.clockOption)) {
              display.Show(i, "warning: " + w, false);
            }
          }
          slot.shown = e.state;
          return;
        }
        [[fallthrough]];
      default:
        display.Show(i, ProgressText(e, file), slot.shown == e.state);
        slot.shown = e.state;
    }
  });

  // Ctrl+C (and the other stop signals) stop the station: every board in
  // flight ends as a single run does, a download with its end record.
  const int stops = StopSignalPipe();
  int status = 0;
  std::thread runner([&] { status = station->run(); });
  std::atomic<bool> done{false};
  std::thread watcher([&] {
    while (!done) {
      pollfd fd{stops, POLLIN, 0};
      if (stops >= 0 && ::poll(&fd, 1, 50) > 0) {
        char byte = 0;
        while (::read(stops, &byte, 1) == 1) {
        }
        station->stop();
      } else if (stops < 0) {
        ::usleep(50000);
      }
    }
  });
  runner.join();
  done = true;
  watcher.join();

  if (o.loop) {
    std::printf("%d boards: %d ok, %d failed\n", ok + failed, ok, failed);
  } else {
    for (std::size_t i = 0; i < slots.size(); ++i) {
      if (slots[i].last) std::printf("%s: %s\n", o.ports[i].c_str(), ResultText(*slots[i].last).c_str());
    }
  }
  std::fflush(stdout);
  return status;
}

}  // namespace varnel::cli
