// Comparing what a program file writes with what the flash holds after it
// was read back (DifferenceCheck makes the comparison).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/MemoryImages.h"
#include "core/Outcome.h"

namespace varnel {

// The 16-byte blocks the file writes into, joined into runs of adjacent
// blocks: what a read-back must cover.
std::vector<std::pair<std::uint32_t, std::uint32_t>> VerifyRanges(
    const std::map<std::uint32_t, std::uint8_t>& written);

struct VerifyDifference {
  std::uint32_t address;
  std::uint8_t file;
  std::uint8_t target;
};

struct VerifyReport {
  std::size_t compared = 0;
  std::size_t differing = 0;
  std::vector<VerifyDifference> first;  // at most kShown
  static constexpr std::size_t kShown = 10;
  bool ok() const { return differing == 0; }
};

// "3 of 144 bytes differ from the file; first: 0010h file 02h, target 03h; ..."
std::string VerifyFailureText(const VerifyReport& report);

// The report as an outcome: Finished, or VerifyDifferences with the failure
// text and the first differing address; both with the counts.
Outcome VerifyOutcome(const VerifyReport& report);

}  // namespace varnel
