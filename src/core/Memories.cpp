// Look-ups in the memory table.
#include "core/Memories.h"

namespace varnel {

const MemorySpec* SpecByLetter(char letter) {
  for (const MemorySpec& spec : kMemories) {
    if (spec.letter == letter) return &spec;
  }
  return nullptr;
}

const MemorySpec* SpecByShortName(std::string_view name) {
  for (const MemorySpec& spec : kMemories) {
    if (name == spec.shortName) return &spec;
  }
  return nullptr;
}

}  // namespace varnel
