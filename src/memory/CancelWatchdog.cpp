// Stop request of the progress window and its reply guard.
#include "memory/CancelWatchdog.h"

#include <algorithm>

namespace varnel {

int CancelWatchdog::QuietMs() const { return s_.LineQuietMs(kQuietMs); }

int CancelWatchdog::Cancel() {
  s_.RequestStop();
  if (!s_.ProgrammingActive) s_.Ui().RefreshAllViews();
  const CommPort* port = s_.Port();
  if (!s_.PortOpen || !port || !port->IsOpen()) {
    s_.EndStoppedSequence();  // no reply can come through a closed port
    return 0;
  }
  repliesSeen_ = s_.ReplyCount;
  return QuietMs();
}

int CancelWatchdog::Check() {
  if (!s_.StopRequested) return 0;  // the stop branch has answered it
  if (s_.ReplyCount != repliesSeen_) {
    // A line download ends itself over a few more replies; keep watching.
    repliesSeen_ = s_.ReplyCount;
    return QuietMs();
  }
  s_.EndStoppedSequence();
  return 0;
}

}  // namespace varnel
