// The recorded conversations replayed with damaged replies: for every seed
// one recording, one to three of its replies cut short, with a byte dropped,
// bytes repeated or bits flipped. Whatever the damage, the run must come to
// a clean end, and no byte may land where it does not belong.
//
// What is checked, for every seed:
//  - No crash and no sanitizer report; every seed ends within its deadline
//    (a hang aborts the program naming the seed).
//  - The run ends cleanly: by itself (with or without a message box or an
//    outcome), or, when it still waits for a reply that will never come,
//    through the progress window's Cancel and its watchdog. Afterwards
//    nothing is pending: no command, no stop request, no Upload All or
//    programming run, toolbars enabled, program file closed.
//  - Every box is one of the system's own texts.
//  - The host never leaves the recording: after the handshake every command
//    it writes is the recording's next one, or the pending one again (the
//    repeat after a reply with a NUL); it never asks for a wrong address or
//    sends a record out of turn. The connect recording is exempt: a damaged
//    banner legitimately takes the handshake down another path.
//  - The images: every cell holds the target's byte or is still FFh, unless
//    the reply the recording gives to a command reading that cell was
//    damaged. Such a reply may change its own block or its one register, and
//    nothing else: any other damage is refused and read again. Values inside
//    a damaged block are not checked: a digit flipped into another digit is
//    a wrong byte the loader's replies cannot reveal. In the connect recording the three
//    registers the handshake reads may hold anything: a damaged banner sends
//    it down the bare-prompt path, where it reads them out of echoed replies.
//
// Each reply goes to the host in one piece, as the loader writes it. A reply
// the host reads in several pieces, the first ending in a damaged byte that
// happens to be a terminator, is complete by the dispatcher's rule; the
// strict reading refuses it and lets the line go quiet, so its rest is not
// taken for the next reply. The simulator's damage of that kind is tested
// with the uploads and the command line; the replay leaves such splits out.
//
// VARNEL_CORRUPTION_SEEDS=N runs seeds 1..N (default 200);
// VARNEL_CORRUPTION_SEED=S runs seed S alone; VARNEL_CORRUPTION_VERBOSE=1
// prints each seed's damage and how its run ended, =2 the last chunks too.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "link/CommInt.h"
#include "link/Trace.h"
#include "replay/ReplayTarget.h"
#include "replay/Scenarios.h"
#include "support/EventLoop.h"
#include "support/Files.h"
#include "support/PtyComm.h"

namespace varnel::testing {
namespace {

constexpr int kDefaultSeeds = 200;
constexpr auto kSeedDeadline = std::chrono::seconds(30);

// Every text a box of these runs may show.
const std::set<std::string> kSystemTexts = {
    "Failed to connect target! Try reset it!",
    "Failed Erase target!",
    "Error connecting target or out of memory range!",
    "Line write error, programming terminated!",
    "Line checksum error, programming terminated!",
    "Programming mode may be not allowed by EPMA!",
    "Programming sequence interrupted by user!",
    "Error connecting target!",
    "Connecting error! Reset device and try connect again.",
};

// A command whose replies stayed damaged is named with its memory and address.
bool IsSystemText(const std::string& text) {
  return kSystemTexts.count(text) > 0 ||
         (text.starts_with("The target's replies for ") &&
          text.ends_with("); nothing of them was stored."));
}

Conversation Load(const Scenario& scenario) {
  const std::string text = ReadFile(ConversationPath(scenario));
  std::string error;
  auto conversation = ParseConversation(text, error);
  EXPECT_TRUE(conversation.has_value()) << error;
  return conversation.value_or(Conversation{});
}

int EnvNumber(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::atoi(text) : fallback;
}

struct Damage {
  std::vector<Exchange> played;    // the replies as the host gets them first
  std::set<std::size_t> damaged;   // exchanges whose reply was changed
  std::string description;
};

// One to three changes, each to the reply of an exchange of the run (of the
// handshake in the connect recording).
Damage DamageReplies(const std::vector<Exchange>& script, bool handshakeOnly, std::mt19937& rng) {
  Damage d{script, {}, {}};
  for (Exchange& e : d.played) {
    std::string whole;
    for (const auto& chunk : e.replies) whole += chunk;
    e.replies = {whole};
  }
  std::vector<std::size_t> eligible;
  for (std::size_t i = 0; i < script.size(); ++i) {
    if (!d.played[i].replies[0].empty() && script[i].afterHandshake != handshakeOnly) {
      eligible.push_back(i);
    }
  }
  if (eligible.empty()) return d;
  const int changes = std::uniform_int_distribution<int>(1, 3)(rng);
  for (int n = 0; n < changes; ++n) {
    const std::size_t i = eligible[std::uniform_int_distribution<std::size_t>(0, eligible.size() - 1)(rng)];
    std::string& reply = d.played[i].replies[0];
    if (reply.empty()) continue;
    const std::size_t at = std::uniform_int_distribution<std::size_t>(0, reply.size() - 1)(rng);
    const std::string before = reply;
    switch (std::uniform_int_distribution<int>(0, 3)(rng)) {
      case 0:
        reply.resize(at);
        d.description += "cut at " + std::to_string(at);
        break;
      case 1:
        reply.erase(at, 1);
        d.description += "dropped byte " + std::to_string(at);
        break;
      case 2: {
        const std::size_t length = std::uniform_int_distribution<std::size_t>(1, 4)(rng);
        reply.insert(at, reply.substr(at, length));
        d.description += "repeated " + std::to_string(length) + " at " + std::to_string(at);
        break;
      }
      default: {
        const int mask = std::uniform_int_distribution<int>(1, 255)(rng);
        reply[at] = static_cast<char>(reply[at] ^ mask);
        d.description += "flipped byte " + std::to_string(at) + " by " + std::to_string(mask);
        break;
      }
    }
    d.description += " of the reply to \"" + TraceText(script[i].sent) + "\" (\"" +
                     TraceText(before) + "\" -> \"" + TraceText(reply) + "\"); ";
    d.damaged.insert(i);
  }
  return d;
}

// Cells that a damaged reply may have changed.
std::set<std::pair<MemoryKind, std::int32_t>> Excused(const std::vector<Exchange>& script,
                                                      const std::set<std::size_t>& damaged) {
  std::set<std::pair<MemoryKind, std::int32_t>> cells;
  for (std::size_t i : damaged) {
    for (const CellRange& r : CellsAnsweredBy(script[i].sent)) {
      for (std::int32_t a = r.first; a <= r.last; ++a) cells.insert({r.memory, a});
    }
  }
  return cells;
}

std::string StrayCells(const Session& session, const Conversation& c,
                       const std::set<std::pair<MemoryKind, std::int32_t>>& excused) {
  std::string faults;
  for (MemoryKind kind : {MemoryKind::Code, MemoryKind::ExtRAM, MemoryKind::IRAM,
                          MemoryKind::SFR, MemoryKind::Cfg}) {
    const MemoryImage& image = session.Images.Of(kind);
    for (std::int32_t a = 0; a < static_cast<std::int32_t>(image.Size()); ++a) {
      const std::uint8_t held = image.Cells()[static_cast<std::size_t>(a)];
      if (held == 0xFF || excused.count({kind, a})) continue;
      const auto it = c.cells.find({kind, a});
      if (it != c.cells.end() && it->second == held) continue;
      char line[80];
      std::snprintf(line, sizeof line, "%s %04X holds %02X; ", CellMemoryName(kind), a, held);
      if (faults.size() < 400) faults += line;
    }
  }
  return faults;
}

// Aborts the program, naming the seed, when one seed runs past its deadline:
// a hang must not pass for a slow test.
class Deadline {
 public:
  Deadline() : thread_([this] { Watch(); }) {}
  ~Deadline() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  void Start(int seed) {
    std::lock_guard lock(mutex_);
    seed_ = seed;
    until_ = std::chrono::steady_clock::now() + kSeedDeadline;
  }

 private:
  void Watch() {
    std::unique_lock lock(mutex_);
    while (!done_) {
      wake_.wait_for(lock, std::chrono::milliseconds(200));
      if (!done_ && seed_ > 0 && std::chrono::steady_clock::now() > until_) {
        std::cerr << "seed " << seed_ << " did not end within its deadline\n";
        std::abort();
      }
    }
  }
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  int seed_ = 0;
  std::chrono::steady_clock::time_point until_;
  std::thread thread_;
};

struct Tally {
  int same = 0, box = 0, cancelled = 0, other = 0;
};

TEST(ReplayCorruption, DamagedRepliesEndCleanlyAndStoreNothingAstray) {
  EnsureApplication();
  std::vector<Conversation> recorded;
  for (const Scenario& s : Scenarios()) recorded.push_back(Load(s));
  ASSERT_FALSE(HasFailure());

  const int single = EnvNumber("VARNEL_CORRUPTION_SEED", 0);
  const int first = single > 0 ? single : 1;
  const int last = single > 0 ? single : EnvNumber("VARNEL_CORRUPTION_SEEDS", kDefaultSeeds);
  const int verbose = EnvNumber("VARNEL_CORRUPTION_VERBOSE", 0);
  Deadline deadline;
  Tally tally;
  for (int seed = first; seed <= last; ++seed) {
    deadline.Start(seed);
    std::mt19937 rng(static_cast<std::uint32_t>(seed));
    const std::size_t which = static_cast<std::size_t>(seed) % Scenarios().size();
    const Scenario& scenario = Scenarios()[which];
    const Conversation& c = recorded[which];
    const std::vector<Exchange> script = c.Exchanges();
    const bool connectOnly = scenario.run == Scenario::Run::ConnectOnly;
    const Damage damage = DamageReplies(script, connectOnly, rng);
    const std::string context = "seed " + std::to_string(seed) + ", " + scenario.file + ": " +
                                damage.description;

    LineWatch watch;
    PtyComm line(br38400);
    Pty& pty = line.pty;
    TComm& comm = line.comm;
    comm.Open();
    comm.SetTraceTap(&watch);
    ReplayTarget target(pty, watch, script, ReplayTarget::Pieces::WholeReplies, damage.played);
    ScenarioHost host(scenario, comm);
    host.peerQuiet = [&] { return target.Quiet(20); };

    host.Connect();
    host.RunSequence();
    const std::string divergence = target.Divergence();
    bool cancelled = false;
    if (host.Busy()) {
      host.Cancel();
      cancelled = true;
    }
    comm.SetTraceTap(nullptr);

    const Session& s = host.session;
    EXPECT_FALSE(host.Busy()) << context;
    EXPECT_TRUE(s.LastCommand.empty()) << context;
    EXPECT_FALSE(s.StopRequested) << context;
    EXPECT_TRUE(host.ui.toolBarsEnabled) << context;
    EXPECT_FALSE(host.program.LineFileOpen()) << context;
    for (const auto& box : host.ui.boxes) {
      EXPECT_TRUE(IsSystemText(box.text)) << context << "\nbox: " << box.text;
    }
    if (!connectOnly) {
      EXPECT_EQ(divergence, "") << context;
    }
    auto excused = Excused(script, damage.damaged);
    if (connectOnly) {
      for (std::int32_t a : {0xCA, 0xCB, 0xE9}) excused.insert({MemoryKind::SFR, a});
    }
    EXPECT_EQ(StrayCells(s, c, excused), "") << context;

    const char* end = "other clean end";
    if (host.Summary() == c.result && ImageFaults(s, c).empty()) {
      ++tally.same, end = "same result";
    } else if (cancelled) {
      ++tally.cancelled, end = "ended by Cancel";
    } else if (!host.ui.boxes.empty()) {
      ++tally.box, end = "ended with a box";
    } else {
      ++tally.other;
    }
    if (verbose) std::cout << context << "\n  " << end << "\n";
    if (verbose > 1) std::cout << watch.Tail() << divergence << "\n";
    if (HasFailure()) break;  // the first failing seed says enough
  }
  std::cout << "seeds " << first << "-" << last << ": " << tally.same << " same result, "
            << tally.box << " ended with a box, " << tally.cancelled << " ended by Cancel, "
            << tally.other << " other clean ends\n";
}

}  // namespace
}  // namespace varnel::testing
