// varnel-target-sim: the simulated boot loader as a program a user starts by
// hand. Prints the device path first, keeps a stable symlink to it, and runs
// until interrupted.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>

#include "Options.h"
#include "target-sim/replay/TraceReplay.h"

namespace {

using varnel::sim::CliOptions;
using varnel::sim::TargetSim;
using varnel::sim::TraceReplay;

// Control characters made visible for the log.
std::string Visible(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

void Preload(TargetSim& sim, const CliOptions& options) {
  for (const auto& preload : options.preloads) {
    std::ifstream in(preload.file, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + preload.file + ": " + std::strerror(errno));
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    try {
      sim.Load(preload.memory, preload.address, bytes);
    } catch (const std::out_of_range& e) {
      throw std::runtime_error(preload.file + ": " + e.what());
    }
  }
}

void Dump(const TargetSim& sim, const std::string& file) {
  if (file.empty()) return;
  std::ofstream out(file, std::ios::trunc);
  out << sim.DumpText();
  out.close();
  if (!out) std::cerr << "varnel-target-sim: cannot write " << file << "\n";
}

// Points link at target, replacing an older symlink but never a real file.
bool MakeLink(const std::string& link, const std::string& target) {
  char existing[4096];
  if (access(link.c_str(), F_OK) == 0 && readlink(link.c_str(), existing, sizeof existing) < 0) {
    std::cerr << "varnel-target-sim: " << link << " exists and is no symlink; keeping no link\n";
    return false;
  }
  const std::string temporary = link + ".new" + std::to_string(getpid());
  if (symlink(target.c_str(), temporary.c_str()) != 0 || rename(temporary.c_str(), link.c_str()) != 0) {
    std::cerr << "varnel-target-sim: cannot link " << link << ": " << std::strerror(errno) << "\n";
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

// A link that still leads to a terminal is another running simulator's.
bool LinkInUse(const std::string& link) {
  struct stat st {};
  return stat(link.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

// Where this simulator keeps its link: the path asked for, or, while
// another simulator keeps the default one, the first of DEFAULT-2,
// DEFAULT-3, ... that none keeps. Empty (with the reason told) when there
// is none to take: a link asked for by name is never taken from another.
std::string ChooseLink(const CliOptions& options, const std::string& target) {
  if (options.link.empty()) return {};
  if (!options.linkDefaulted) {
    if (!LinkInUse(options.link)) return MakeLink(options.link, target) ? options.link : "";
    throw std::runtime_error(options.link + " leads to another running simulator's terminal; "
                             "give another --link or --no-link");
  }
  for (int n = 1; n < 100; ++n) {
    const std::string link = n == 1 ? options.link : options.link + "-" + std::to_string(n);
    if (LinkInUse(link)) continue;
    struct stat st {};
    if (lstat(link.c_str(), &st) != 0) {
      // Made where nothing is, so that two simulators starting at once
      // never take the same name.
      if (symlink(target.c_str(), link.c_str()) != 0) {
        if (errno == EEXIST) continue;
        std::cerr << "varnel-target-sim: cannot link " << link << ": " << std::strerror(errno) << "\n";
        return {};
      }
    } else if (!MakeLink(link, target)) {
      return {};  // a left-over link replaced, or a real file kept
    }
    if (n > 1) {
      std::cerr << "varnel-target-sim: " << options.link << " is another simulator's; this one's link is "
                << link << "\n";
    }
    return link;
  }
  std::cerr << "varnel-target-sim: every link from " << options.link << " to " << options.link
            << "-99 is another simulator's; keeping no link\n";
  return {};
}

// Removes the link only while it still points at our device (a newer
// simulator may have taken it over).
void RemoveLink(const std::string& link, const std::string& target) {
  char existing[4096];
  const ssize_t n = readlink(link.c_str(), existing, sizeof existing - 1);
  if (n >= 0 && std::string(existing, static_cast<std::size_t>(n)) == target) unlink(link.c_str());
}

// Plays a trace until its host leaves it (status 1), or until a signal: 0
// when every line was played by then, 1 when lines were left.
int Replay(const CliOptions& options, const sigset_t& signals) {
  std::ifstream in(options.replay, std::ios::binary);
  if (!in) {
    std::cerr << "varnel-target-sim: cannot read " << options.replay << ": " << std::strerror(errno) << "\n";
    return 2;
  }
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  std::vector<varnel::sim::TraceStep> steps;
  try {
    steps = varnel::sim::ParseTrace(text);
  } catch (const std::invalid_argument& e) {
    std::cerr << "varnel-target-sim: " << options.replay << ": " << e.what() << "\n";
    return 2;
  }
  TraceReplay replay(std::move(steps), options.replay);
  if (options.verbose) {
    replay.SetLogger([](const varnel::sim::TraceStep& step) {
      std::cerr << (step.fromHost ? "<- " : "-> ") << "line " << step.line << ": "
                << Visible(step.bytes) << "\n";
    });
  }
  const std::string link = ChooseLink(options, replay.SlavePath());
  std::cout << replay.SlavePath() << std::endl;  // first line, flushed
  if (!link.empty()) std::cerr << "varnel-target-sim: " << link << " -> " << replay.SlavePath() << "\n";

  const timespec tick{0, 50'000'000};
  bool finishedTold = false;
  while (replay.Result() != TraceReplay::State::Diverged) {
    if (!finishedTold && replay.Result() == TraceReplay::State::Finished) {
      std::cerr << "varnel-target-sim: " << replay.Report() << "\n";
      finishedTold = true;
    }
    const int s = sigtimedwait(&signals, nullptr, &tick);
    if (s == SIGINT || s == SIGTERM || s == SIGHUP) break;
  }
  replay.Stop();
  if (!link.empty()) RemoveLink(link, replay.SlavePath());
  const TraceReplay::State result = replay.Result();
  if (result != TraceReplay::State::Finished || !finishedTold) {
    std::cerr << "varnel-target-sim: " << replay.Report() << "\n";
  }
  return result == TraceReplay::State::Finished ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  CliOptions options;
  try {
    options = varnel::sim::ParseOptions(argc, argv);
  } catch (const std::invalid_argument& e) {
    std::cerr << "varnel-target-sim: " << e.what() << "\n";
    return 2;
  }
  if (options.help) {
    std::cout << varnel::sim::UsageText();
    return 0;
  }

  // Signals are taken by sigwait below; block them before the loader
  // thread starts so it inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2, SIGRTMIN, SIGRTMIN + 1, SIGRTMIN + 2}) {
    sigaddset(&signals, s);
  }
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  try {
    if (!options.replay.empty()) return Replay(options, signals);
    TargetSim sim(options.config);
    Preload(sim, options);
    if (options.verbose) {
      sim.SetLogger([](std::string_view direction, std::string_view text) {
        std::cerr << (direction == "in" ? "<- " : direction == "out" ? "-> " : "-- ") << Visible(text)
                  << (direction == "in" || direction == "out" ? "" : std::string(direction)) << "\n";
      });
    }
    // The link is in place before the path is printed, so whoever reads the
    // first line can use either.
    const std::string link = ChooseLink(options, sim.SlavePath());
    std::cout << sim.SlavePath() << std::endl;  // first line, flushed
    if (!link.empty()) std::cerr << "varnel-target-sim: " << link << " -> " << sim.SlavePath() << "\n";

    const timespec tick{0, 200'000'000};
    while (sim.Running()) {
      const int s = sigtimedwait(&signals, nullptr, &tick);
      if (s == SIGUSR1) {
        Dump(sim, options.dumpFile);
      } else if (s == SIGUSR2) {
        sim.Reset();
      } else if (s == SIGRTMIN) {
        // The board taken away: its port disappears (the link) and falls silent.
        sim.TakeAway();
        if (!link.empty()) RemoveLink(link, sim.SlavePath());
        std::cerr << "varnel-target-sim: board taken away\n";
      } else if (s == SIGRTMIN + 2) {
        // Board and adapter pulled out: the terminal itself closes, and
        // only then its name goes, so whoever sees the name gone finds the
        // line dead too.
        sim.Unplug();
        if (!link.empty()) RemoveLink(link, sim.SlavePath());
        std::cerr << "varnel-target-sim: board unplugged\n";
      } else if (s == SIGRTMIN + 1) {
        sim.PutNew();
        if (!link.empty()) MakeLink(link, sim.SlavePath());
        std::cerr << "varnel-target-sim: a new board on " << sim.SlavePath() << "\n";
      } else if (s == SIGINT || s == SIGTERM || s == SIGHUP) {
        break;
      }
    }
    if (sim.HungUp()) std::cerr << "varnel-target-sim: the line was hung up\n";
    sim.Stop();
    if (!link.empty()) RemoveLink(link, sim.SlavePath());
    Dump(sim, options.dumpFile);
  } catch (const std::exception& e) {
    std::cerr << "varnel-target-sim: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
