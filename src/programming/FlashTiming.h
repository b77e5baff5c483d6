// Flash timing: before every programming run the target's flash write and
// erase timers are set from the core clock measured at connect, through four
// register writes.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace varnel {

class Session;

// Nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
double RoundHalfEven(double value);

// The four register writes for a clock, in the order they are sent:
// EFh := A5h; FBh := whole MHz - 1; FCh/FDh := low/high byte of MHz*1000 - 1.
std::array<std::string, 4> FlashTimingCommands(std::int32_t coreClockHz);

inline constexpr int kFlashTimingGapMs = 100;

// The clock the writes are computed from: the crystal the user gave, when
// one was (ProjectSettings.CrystalHz), else the estimate from the connect.
std::int32_t FlashTimingClock(const Session& session);

// Sends the four writes 100 ms apart and throws their replies away, also
// those still under way when the last wait ends, so that the next reply
// examined is that of the first erase command.
void SetupFlashTime(Session& session);

}  // namespace varnel
