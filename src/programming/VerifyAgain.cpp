// Reading differences again before they count.
#include "programming/VerifyAgain.h"

namespace varnel {

DifferenceCheck::Ranges DifferenceCheck::Compare(const MemoryImage& code) {
  if (reads_++ == 0) {
    for (const auto& [address, expected] : written_) {
      if (code.Read(address) != expected) differing_.insert(address);
    }
  } else {
    std::erase_if(differing_, [&](std::uint32_t a) { return code.Read(a) == written_.at(a); });
  }
  if (differing_.empty() || reads_ > kReadsAgain) return {};
  std::map<std::uint32_t, std::uint8_t> again;
  for (std::uint32_t a : differing_) again.emplace(a, written_.at(a));
  return VerifyRanges(again);
}

VerifyReport DifferenceCheck::Report(const MemoryImage& code) const {
  VerifyReport report;
  report.compared = written_.size();
  report.differing = differing_.size();
  for (std::uint32_t a : differing_) {
    if (report.first.size() == VerifyReport::kShown) break;
    report.first.push_back({a, written_.at(a), code.Read(a)});
  }
  return report;
}

std::vector<VerifyDifference> DifferenceCheck::All(const MemoryImage& code) const {
  std::vector<VerifyDifference> all;
  for (std::uint32_t a : differing_) all.push_back({a, written_.at(a), code.Read(a)});
  return all;
}

}  // namespace varnel
