// A verify difference counts only when the target says it every time. A
// reply damaged into other valid digits looks like flash that differs, and
// one read cannot tell the two apart: the blocks that differ from the file
// are read kReadsAgain more times, and an address stays a difference only
// while every read of it differs.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "core/MemoryImages.h"
#include "programming/Verify.h"

namespace varnel {

class DifferenceCheck {
 public:
  static constexpr int kReadsAgain = 2;
  using Ranges = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

  // written must outlive the check.
  explicit DifferenceCheck(const std::map<std::uint32_t, std::uint8_t>& written)
      : written_(written) {}

  // The ranges to read first: every block the file writes into.
  Ranges First() const { return VerifyRanges(written_); }
  // After a read of the ranges asked for: compares them with the file and
  // returns the ranges to read again, none once the verdict stands.
  Ranges Compare(const MemoryImage& code);
  // The verdict: the differences every read showed, the target's byte from
  // the last read.
  VerifyReport Report(const MemoryImage& code) const;
  // Every difference of the verdict, in address order.
  std::vector<VerifyDifference> All(const MemoryImage& code) const;

 private:
  const std::map<std::uint32_t, std::uint8_t>& written_;
  std::set<std::uint32_t> differing_;
  int reads_ = 0;
};

}  // namespace varnel
