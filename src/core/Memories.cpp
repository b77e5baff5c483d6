// Look-ups in the memory table.
#include "core/Memories.h"

namespace varnel {

const MemoryInfo* InfoByLetter(char letter) {
  for (const MemoryInfo& entry : kMemories) {
    if (entry.letter == letter) return &entry;
  }
  return nullptr;
}

const MemoryInfo* InfoByShortName(std::string_view name) {
  for (const MemoryInfo& entry : kMemories) {
    if (name == entry.shortName) return &entry;
  }
  return nullptr;
}

}  // namespace varnel
