// Verify ranges and the comparison.
#include "programming/Verify.h"

#include <algorithm>

#include "link/HexText.h"

namespace varnel {

std::vector<std::pair<std::uint32_t, std::uint32_t>> VerifyRanges(
    const std::map<std::uint32_t, std::uint8_t>& written) {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
  for (const auto& entry : written) {
    const std::uint32_t block = entry.first & ~0xFu;
    if (!ranges.empty() && block <= ranges.back().second + 1) {
      ranges.back().second = std::max(ranges.back().second, block + 15);
    } else {
      ranges.emplace_back(block, block + 15);
    }
  }
  return ranges;
}

std::string VerifyFailureText(const VerifyReport& report) {
  std::string text = "Verify failed: " + std::to_string(report.differing) + " of " +
                     std::to_string(report.compared) + " bytes differ from the file.";
  for (std::size_t i = 0; i < report.first.size(); ++i) {
    const VerifyDifference& d = report.first[i];
    text += "\n" + HD16Prev(d.address) + "h: file " + HDPrev(d.file) +
            "h, target " + HDPrev(d.target) + "h";
  }
  if (report.differing > report.first.size()) text += "\n...";
  return text;
}

Outcome VerifyOutcome(const VerifyReport& report) {
  Outcome outcome;
  outcome.memory = InfoOf(MemoryKind::Code).name;
  outcome.compared = report.compared;
  outcome.differing = report.differing;
  if (!report.ok()) {
    outcome.kind = OutcomeKind::VerifyDifferences;
    outcome.text = VerifyFailureText(report);
    outcome.address = report.first.front().address;
  }
  return outcome;
}

}  // namespace varnel
