// Inside the library: a Target's driver, on the Target's own thread, for
// what the public verbs do not reach (the station's serial number after the
// erase, the download's counts, whether a board is still there).
#pragma once

#include <atomic>
#include <functional>

#include "varnel/target.h"

namespace varnel::lib {

class Driver;

struct TargetAccess {
  // Runs job on the target's thread and waits for it; its exception is the
  // caller's. stopped set, now or while the job runs, cancels it.
  static void Run(Target& target, const std::function<void(Driver&)>& job,
                  const std::atomic<bool>& stopped);
};

}  // namespace varnel::lib
