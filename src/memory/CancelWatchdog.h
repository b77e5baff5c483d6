// What Cancel in the progress window does to the session, and the guard
// that ends a sequence when no reply will ever answer the stop request (a
// silent target, a closed port): it then ends as the dispatcher's stop
// branch would.
#pragma once

#include <cstdint>

#include "core/Session.h"

namespace varnel {

class CancelWatchdog {
 public:
  // Without any reply for this long after Cancel the sequence is ended.
  static constexpr int kQuietMs = 1000;

  explicit CancelWatchdog(Session& session) : s_(session) {}

  // Btn_CancelClick's part on the session: the stop request, and the views
  // redisplayed unless a programming run is on. Returns the delay after
  // which Check must run, or 0 when the sequence could be ended at once.
  int Cancel();
  // Returns the delay for the next check (replies are still coming and the
  // stop is not yet answered), or 0 when nothing more is to be watched.
  int Check();

  // At very low rates a reply takes longer than a second on the wire.
  int QuietMs() const;

 private:
  Session& s_;
  std::uint64_t repliesSeen_ = 0;
};

}  // namespace varnel
