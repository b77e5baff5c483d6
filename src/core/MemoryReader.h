// Reading a range of a target memory back on behalf of another run (the
// verify after programming): the uploads implement it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/Memories.h"
#include "core/Outcome.h"

namespace varnel {

// The reason a read-back gives when the user stopped it.
inline constexpr char kReadBackStopped[] = "stopped by the user";

class MemoryReader {
 public:
  // Finished: every block of the range was stored; otherwise the outcome
  // says why not (a refused reply, a stop request).
  using Done = std::function<void(const Outcome& outcome)>;
  virtual ~MemoryReader() = default;
  // Reads first..last (image offsets) into the memory's image, the progress
  // display showing name; done is called once, when the read ends.
  virtual void ReadBack(MemoryKind kind, std::int32_t first, std::int32_t last,
                        const std::string& name, Done done) = 0;
};

}  // namespace varnel
