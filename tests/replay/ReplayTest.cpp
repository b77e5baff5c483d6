// The recorded conversations played back through a real pseudo-terminal
// into the session over the real TComm: the same sequences, the same bytes,
// in the pieces the live port read them and one byte at a time, must leave
// the same end result as the live run.
#include <gtest/gtest.h>


#include "link/CommInt.h"
#include "replay/ReplayTarget.h"
#include "replay/Scenarios.h"
#include "support/EventLoop.h"
#include "support/Files.h"
#include "support/PtyComm.h"

namespace varnel::testing {
namespace {

Conversation Load(const Scenario& scenario) {
  const std::string text = ReadFile(ConversationPath(scenario));
  std::string error;
  auto conversation = ParseConversation(text, error);
  EXPECT_TRUE(conversation.has_value()) << ConversationPath(scenario) << ": " << error;
  if (!conversation) return {};
  // What the file holds is what it reads as: no line the parser passes over.
  EXPECT_EQ(conversation->Text(), text) << ConversationPath(scenario);
  return *conversation;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  return text;
}

struct Case {
  std::size_t scenario;
  ReplayTarget::Pieces pieces;
};

void PrintTo(const Case& c, std::ostream* out) {
  *out << Scenarios()[c.scenario].file
       << (c.pieces == ReplayTarget::Pieces::ByteByByte ? " byte by byte" : " as recorded");
}

class Replay : public ::testing::TestWithParam<Case> {};

TEST_P(Replay, LeavesTheLiveRunsResult) {
  EnsureApplication();
  const Scenario& scenario = Scenarios()[GetParam().scenario];
  const Conversation recorded = Load(scenario);
  ASSERT_FALSE(recorded.chunks.empty());
  ASSERT_EQ(recorded.runName.empty(), scenario.run == Scenario::Run::ConnectOnly);

  LineWatch watch;
  PtyComm line(br38400);
  Pty& pty = line.pty;
  TComm& comm = line.comm;
  comm.Open();
  comm.SetTraceTap(&watch);
  ReplayTarget target(pty, watch, recorded.Exchanges(), GetParam().pieces);
  ScenarioHost host(scenario, comm);
  host.peerQuiet = [&] { return target.Quiet(200); };

  host.Connect();
  host.RunSequence();
  const std::string context = "replay " + target.Divergence() + "\nlast chunks:\n" + watch.Tail();
  EXPECT_FALSE(host.Busy()) << context;
  EXPECT_EQ(target.Divergence(), "") << context;
  EXPECT_TRUE(target.Finished()) << target.Played() << " exchanges played\n" << context;
  EXPECT_EQ(target.Repeats(), 0u);
  EXPECT_EQ(Joined(host.Summary()), Joined(recorded.result));
  EXPECT_EQ(ImageFaults(host.session, recorded), "");
  comm.SetTraceTap(nullptr);
}

std::vector<Case> Cases() {
  std::vector<Case> cases;
  for (std::size_t i = 0; i < Scenarios().size(); ++i) {
    cases.push_back({i, ReplayTarget::Pieces::AsRecorded});
    cases.push_back({i, ReplayTarget::Pieces::ByteByByte});
  }
  return cases;
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  std::string name = Scenarios()[info.param.scenario].file;
  for (char& c : name) {
    if (c == '-') c = '_';
  }
  return name + (info.param.pieces == ReplayTarget::Pieces::ByteByByte ? "_ByteByByte"
                                                                          : "_AsRecorded");
}

INSTANTIATE_TEST_SUITE_P(Recordings, Replay, ::testing::ValuesIn(Cases()), CaseName);

}  // namespace
}  // namespace varnel::testing
