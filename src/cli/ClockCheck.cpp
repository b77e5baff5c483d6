// The estimate's step, the crystal option and the warnings about them.
#include "cli/ClockCheck.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace varnel::cli {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::int64_t ClockStepHz(int baud) { return 32LL * baud; }

std::optional<std::int32_t> ParseClock(const std::string& text) {
  std::string number = Lower(text);
  if (EndsWith(number, "hz")) number.resize(number.size() - 2);
  double scale = 1;
  if (EndsWith(number, "k")) scale = 1e3;
  if (EndsWith(number, "m")) scale = 1e6;
  if (scale != 1) number.pop_back();
  if (number.empty() || !std::isdigit(static_cast<unsigned char>(number.front()))) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(number.c_str(), &end);
  if (end != number.c_str() + number.size() || !std::isfinite(value)) return std::nullopt;
  const double hz = std::round(value * scale);
  if (hz < kMinCrystalHz || hz > kMaxCrystalHz) return std::nullopt;
  return static_cast<std::int32_t>(hz);
}

std::vector<std::string> ClockWarnings(std::int32_t estimateHz, int baud,
                                       std::optional<std::int32_t> crystalHz) {
  std::vector<std::string> warnings;
  const std::int64_t step = ClockStepHz(baud);
  const std::string atRate = " Hz at " + std::to_string(baud) + " baud";
  if (crystalHz) {
    if (std::llabs(static_cast<std::int64_t>(estimateHz) - *crystalHz) > step) {
      warnings.push_back("the clock estimate " + std::to_string(estimateHz) + " Hz disagrees with --clock " +
                         std::to_string(*crystalHz) + " Hz by more than one step (" +
                         std::to_string(step) + atRate + "): is the crystal or the rate wrong?");
    }
  } else if (estimateHz > 0 && step * 20 > estimateHz) {
    const auto percent = static_cast<int>(std::lround(100.0 * static_cast<double>(step) / estimateHz));
    warnings.push_back("the clock estimate " + std::to_string(estimateHz) + " Hz goes in steps of " +
                       std::to_string(step) + atRate + ", " + std::to_string(percent) +
                       "% of it: the flash timing may be off; give the crystal with --clock HZ "
                       "or connect at a lower rate");
  }
  return warnings;
}

}  // namespace varnel::cli
