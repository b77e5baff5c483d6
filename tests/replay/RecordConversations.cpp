// The recorder: runs every scenario against the boot-loader simulator
// through the real serial component and writes what the port saw into
// tests/data/conversations. Disabled, because it rewrites the recordings;
// run it by hand when a sequence's conversation changes on purpose:
//   build/tests/replay/test_replay --gtest_also_run_disabled_tests
//       --gtest_filter='RecordConversations.*'
#include <gtest/gtest.h>

#include <fstream>

#include "link/CommInt.h"
#include "replay/Scenarios.h"
#include "support/EventLoop.h"
#include "target-sim/TargetSim.h"

namespace varnel::testing {
namespace {

sim::Memory SimMemory(MemoryKind kind) {
  switch (kind) {
    case MemoryKind::Code: return sim::Memory::Code;
    case MemoryKind::ExtRAM: return sim::Memory::ExtRam;
    case MemoryKind::IRAM: return sim::Memory::Iram;
    case MemoryKind::SFR: return sim::Memory::Sfr;
    case MemoryKind::Cfg: return sim::Memory::Config;
  }
  return sim::Memory::Code;
}

std::vector<std::string> Header(const Scenario& scenario) {
  return {
      std::string("Varnel talking to a simulated MSC1210Y5 boot loader at 38400 baud: ") +
          scenario.title + ".",
      "Upload ranges CODE 0000h-00FFh, Ext.RAM 0000h-007Fh, SFR E0h-FFh; program file",
      "program.hex with every programming step selected.",
      "",
      "A line \"<ms> > <bytes>\" is one write of the port, \"<ms> < <bytes>\" one read,",
      "the bytes escaped as the serial trace shows them. \"--\" starts the run after",
      "the handshake; \"@\" lines hold the cells the run fills, with the target's",
      "bytes; \"=\" lines the state the run left behind. tests/replay plays them back.",
      "",
      "To record again (rewrites every recording in this folder), build, then run",
      "  build/tests/replay/test_replay --gtest_also_run_disabled_tests \\",
      "      --gtest_filter='RecordConversations.*'",
  };
}

TEST(RecordConversations, DISABLED_FromTheSimulator) {
  EnsureApplication();
  for (const Scenario& scenario : Scenarios()) {
    SCOPED_TRACE(scenario.file);
    sim::TargetSimConfig config;
    config.refuseErase = scenario.refuseErase;
    sim::TargetSim target(config);
    LoadTargetMemories(target);

    TComm comm;
    comm.SetDeviceName(target.SlavePath());
    comm.SetBaudRate(br38400);
    comm.Open();
    ConversationRecorder recorder;
    comm.SetTraceTap(&recorder);
    ScenarioHost host(scenario, comm);

    host.Connect();
    ASSERT_TRUE(host.session.TargetConnected);
    if (scenario.run != Scenario::Run::ConnectOnly) recorder.MarkRun(scenario.title);
    host.RunSequence();
    ASSERT_FALSE(host.Busy());
    ASSERT_EQ(host.TimeOuts(), 0);
    comm.SetTraceTap(nullptr);
    comm.Close();

    Conversation& c = recorder.Recorded();
    c.comments = Header(scenario);
    for (const CellRange& range : FilledCells(scenario)) {
      const auto memory = target.Read(SimMemory(range.memory));
      for (std::int32_t a = range.first; a <= range.last; ++a) {
        c.cells[{range.memory, a}] = memory.at(static_cast<std::size_t>(a));
      }
    }
    c.result = host.Summary();
    // The live run read what the target holds, and nothing else.
    ASSERT_EQ(ImageFaults(host.session, c), "");

    std::ofstream out(ConversationPath(scenario), std::ios::binary);
    out << c.Text();
    ASSERT_TRUE(out.good()) << ConversationPath(scenario);
  }
}

}  // namespace
}  // namespace varnel::testing
