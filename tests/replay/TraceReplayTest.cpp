// The simulator's replay of a saved serial trace: the trace window's log of
// a programming run plays back to the window's engine with the same result,
// the host's bytes are taken however its writes split them, and a host that
// writes anything else is told where it left the trace.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <stdexcept>

#include "link/CommInt.h"
#include "replay/Scenarios.h"
#include "support/EventLoop.h"
#include "target-sim/TargetSim.h"
#include "target-sim/replay/TraceReplay.h"

namespace varnel::testing {
namespace {

using sim::ParseTrace;
using sim::TraceReplay;

// The line the host's port would open, opened raw by hand.
class HostEnd {
 public:
  explicit HostEnd(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
  ~HostEnd() {
    if (fd_ >= 0) ::close(fd_);
  }
  void Write(std::string_view bytes) const {
    ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // What comes until it ends with `last` or two seconds passed.
  std::string ReadUntil(char last) const {
    std::string got;
    for (int waits = 0; waits < 200 && (got.empty() || got.back() != last); ++waits) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      char buffer[256];
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }

 private:
  int fd_;
};

TEST(TraceReplay, ReadsSavedTracesAndNamesTheLineItCannotRead) {
  // Saved with CR LF line ends, with a comment and a blank line.
  const auto steps = ParseTrace("# bench trace\r\n\r\n0.250 > \\r\r\n1.500 < \\r\\nMSC\\x1A>\r\n");
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_EQ(steps[0].line, 3);
  EXPECT_TRUE(steps[0].fromHost);
  EXPECT_EQ(steps[0].bytes, "\r");
  EXPECT_EQ(steps[1].line, 4);
  EXPECT_FALSE(steps[1].fromHost);
  EXPECT_EQ(steps[1].bytes, "\r\nMSC\x1A>");
  EXPECT_EQ(steps[1].milliseconds, 1.5);
  EXPECT_EQ(steps[1].text, "1.500 < \\r\\nMSC\\x1A>");

  for (const char* bad : {"0.1 > CR\nCR0010\n", "0.1 > CR\n0.2 ? CR\n", "0.1 > CR\nx.y > CR\n",
                          "0.1 > CR\n0.2 < \\q\n", "0.1 > CR\n0.2 < \n"}) {
    try {
      ParseTrace(bad);
      ADD_FAILURE() << "read: " << bad;
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(std::string(e.what()).rfind("line 2 is no trace line", 0), 0u) << e.what();
    }
  }
}

TEST(TraceReplay, TakesTheHostsBytesHoweverItsWritesSplitThem) {
  TraceReplay replay(ParseTrace("0.000 > CR0010\n"
                                "0.100 > E\n"
                                "0.900 < CR0010 01 02\\r\\n>\n"
                                "1.000 < E \\r\\n>\n"
                                "2.000 > RRE9\n"
                                "2.100 < 03\\r\\n>\n"),
                     "split.trace");
  HostEnd host(replay.SlavePath());
  host.Write("CR00");
  host.Write("10E");  // the rest of one line and the whole next one
  std::string replies = host.ReadUntil('>');
  replies += host.ReadUntil('>');
  EXPECT_EQ(replies, "CR0010 01 02\r\n>E \r\n>");
  host.Write("R");
  host.Write("RE9");
  EXPECT_EQ(host.ReadUntil('>'), "03\r\n>");
  ASSERT_TRUE(replay.WaitUntilPlayed(std::chrono::seconds(10)));
  EXPECT_EQ(replay.Result(), TraceReplay::State::Finished);
  EXPECT_EQ(replay.Report(), "all 6 lines of split.trace played");

  // Nothing is left to say: whatever comes now is off the trace.
  host.Write("RRE9");
  for (int i = 0; i < 200 && replay.Result() != TraceReplay::State::Diverged; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(replay.Result(), TraceReplay::State::Diverged);
  EXPECT_EQ(replay.Report(),
            "the host wrote on after the last line of split.trace (line 6):\n"
            "  expected nothing\n  received \"RRE9\"");
}

TEST(TraceReplay, SaysWhereTheHostLeftTheTraceAndWhatCame) {
  TraceReplay replay(ParseTrace("# header\n0.000 > \\r\n0.300 < \\r\\nBoot\\r\\n>\n0.500 > CR0010\n"),
                     "left.trace");
  HostEnd host(replay.SlavePath());
  host.Write("\r");
  EXPECT_EQ(host.ReadUntil('>'), "\r\nBoot\r\n>");
  host.Write("CR00");
  host.Write("20");  // the first differing byte comes in a write of its own
  ASSERT_TRUE(replay.WaitUntilPlayed(std::chrono::seconds(10)));
  EXPECT_EQ(replay.Result(), TraceReplay::State::Diverged);
  EXPECT_EQ(replay.Report(),
            "the host left the trace at line 4 of left.trace:\n"
            "  line 4: 0.500 > CR0010\n"
            "  expected \"CR0010\"\n"
            "  received \"CR0020\"");
  EXPECT_EQ(replay.LinesPlayed(), 2u);
}

TEST(TraceReplay, TheTraceWindowsLogOfAProgrammingRunPlaysBackToTheWindowsEngine) {
  EnsureApplication();
  const Scenario* program = nullptr;
  for (const Scenario& s : Scenarios()) {
    if (s.run == Scenario::Run::Program && !s.refuseErase) program = &s;
  }
  ASSERT_NE(program, nullptr);

  // Live: the simulator, with the log the trace window keeps and saves.
  std::string saved;
  std::vector<std::string> live;
  {
    sim::TargetSim target;
    LoadTargetMemories(target);
    TComm comm;
    comm.SetDeviceName(target.SlavePath());
    comm.SetBaudRate(br38400);
    comm.Open();
    TraceLog log;
    comm.SetTraceTap(&log);
    ScenarioHost host(*program, comm);
    host.Connect();
    host.RunSequence();
    ASSERT_FALSE(host.Busy());
    comm.SetTraceTap(nullptr);
    saved = log.Text();
    live = host.Summary();
  }

  TraceReplay replay(ParseTrace(saved), "window.trace");
  TComm comm;
  comm.SetDeviceName(replay.SlavePath());
  comm.SetBaudRate(br38400);
  comm.Open();
  ScenarioHost host(*program, comm);
  host.Connect();
  host.RunSequence();
  // The run's last write may still be on its way to the player.
  ASSERT_TRUE(replay.WaitUntilPlayed(std::chrono::seconds(10))) << replay.Report();
  EXPECT_EQ(replay.Result(), TraceReplay::State::Finished) << replay.Report();
  EXPECT_EQ(host.Summary(), live);
  EXPECT_EQ(host.TimeOuts(), 0);
}

}  // namespace
}  // namespace varnel::testing
