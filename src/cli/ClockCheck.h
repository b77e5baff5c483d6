// The core clock a command line run works with. The handshake estimates it
// from the baud timer's reload, one count of which is 32 x baud Hz: at fast
// rates the estimate is coarse, and the user may give the crystal instead.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varnel::cli {

// The crystals an MSC121x runs from.
inline constexpr std::int32_t kMinCrystalHz = 500000;
inline constexpr std::int32_t kMaxCrystalHz = 40000000;

// One count of the reload: the step of the estimate at a rate.
std::int64_t ClockStepHz(int baud);

// The crystal as typed: Hz ("11059200"), or kHz/MHz with a suffix
// ("11059.2k", "11.0592M", "11.0592MHz"); none for anything else or a
// clock outside kMinCrystalHz..kMaxCrystalHz.
std::optional<std::int32_t> ParseClock(const std::string& text);

// What the user should know about the clock: without a crystal, that the
// estimate's step is more than 5% of it; with one, that the estimate
// differs from it by more than one step. Empty when all is well.
std::vector<std::string> ClockWarnings(std::int32_t estimateHz, int baud,
                                       std::optional<std::int32_t> crystalHz);

}  // namespace varnel::cli
