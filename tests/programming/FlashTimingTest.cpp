#include "programming/FlashTiming.h"

#include <gtest/gtest.h>

#include "core/Session.h"
#include "support/RecordingUi.h"
#include "support/ScriptedPort.h"

namespace varnel {
namespace {

using Commands = std::array<std::string, 4>;

TEST(FlashTiming, WorkedValuesRoundHalvesToEven) {
  EXPECT_EQ(FlashTimingCommands(11059200), (Commands{"RWEFA5", "RWFB0A", "RWFCF7", "RWFD2A"}));
  EXPECT_EQ(FlashTimingCommands(4000000), (Commands{"RWEFA5", "RWFB03", "RWFC9F", "RWFD0F"}));
  EXPECT_EQ(FlashTimingCommands(3500000), (Commands{"RWEFA5", "RWFB02", "RWFC9F", "RWFD0F"}));
  EXPECT_EQ(FlashTimingCommands(2500000), (Commands{"RWEFA5", "RWFB02", "RWFCCF", "RWFD07"}));
  EXPECT_EQ(FlashTimingCommands(0), (Commands{"RWEFA5", "RWFBFF", "RWFCFF", "RWFD00"}));
  // Above 65.5 MHz only the low byte of the high part reaches FDh.
  EXPECT_EQ(FlashTimingCommands(70000000)[3], "RWFD11");
  EXPECT_EQ(RoundHalfEven(-0.5), 0.0);
  EXPECT_EQ(RoundHalfEven(-1.5), -2.0);
}

TEST(FlashTiming, WritesAreSpacedAndEveryReplyIsDiscardedHoweverLate) {
  Session session;
  testing::RecordingUi ui;
  testing::ScriptedPort port;
  session.AttachUi(&ui);
  session.AttachPort(&port);
  session.NotePortOpened();
  session.CoreClockHz = 11059200;
  port.Deliver("stale");  // no command waits: it stays in the buffer
  // Each reply arrives only during a later wait, the last ones after the
  // fourth wait is over.
  int sleeps = 0;
  std::vector<int> gaps;
  ui.onSleep = [&](int ms) {
    gaps.push_back(ms);
    if (++sleeps >= 2 && sleeps <= 7) port.incoming += "RW ok\r\n>";
  };
  SetupFlashTime(session);
  EXPECT_EQ(port.writes, (std::vector<std::string>{"RWEFA5", "RWFB0A", "RWFCF7", "RWFD2A"}));
  ASSERT_GE(gaps.size(), 4u);
  EXPECT_EQ(std::vector<int>(gaps.begin(), gaps.begin() + 4), (std::vector<int>(4, 100)));
  EXPECT_TRUE(port.incoming.empty());
  EXPECT_TRUE(session.RxBuffer.empty());
  EXPECT_EQ(ui.panels[Session::kStatusReceive], "");
  EXPECT_FALSE(session.ShowRxProgress);
}

}  // namespace
}  // namespace varnel
