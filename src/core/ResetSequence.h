// How a board is reset through the adapter's control lines: a sequence of
// steps on DTR and RTS, breaks and waits, written as text in the settings
// ("ResetSequence") or on the command line. Boards differ in how DTR and
// RTS reach the chip's reset and boot-select pins, so the pulse is theirs
// to describe; the empty text is the usual pulse.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/TargetUi.h"
#include "link/CommPort.h"

namespace varnel {

struct ResetStep {
  enum class Kind { Dtr, Rts, Break, Wait };
  Kind kind = Kind::Wait;
  bool on = false;  // Dtr, Rts: the line's new level
  int ms = 0;       // Break: how long the line is held in break; Wait: the wait

  bool operator==(const ResetStep&) const = default;
};

// The named sequences a text may use, whole or as one of its steps.
inline constexpr char kResetPulse[] = "pulse";
inline constexpr char kResetPulseInverted[] = "pulse-inverted";
// What a preset stands for: DTR on, RTS on, 40 ms, RTS off, 40 ms, RTS on,
// 400 ms; the inverted form drives every line the other way, for adapters
// that reach the pins through an inverting transistor.
inline constexpr char kResetPulseSteps[] = "dtr=1,rts=1,40,rts=0,40,rts=1,400";
inline constexpr char kResetPulseInvertedSteps[] = "dtr=0,rts=0,40,rts=1,40,rts=0,400";

// Waits and breaks are at most this long: a reset that takes longer is a
// typing error, and the user could not leave it.
inline constexpr int kMaxResetStepMs = 10000;

// A sequence that cannot be run; what() names the step and what is wrong.
class ResetSequenceError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// Comma-separated steps: "dtr=1", "dtr=0", "rts=1", "rts=0", "break=MS", a
// bare number of milliseconds to wait, or a preset's name. Blanks around a
// step and upper case are allowed. The empty text is the preset "pulse".
// Throws ResetSequenceError.
std::vector<ResetStep> ParseResetSequence(std::string_view text);

// The steps written back as text, in the form the parser reads.
std::string ResetSequenceText(const std::vector<ResetStep>& steps);

// Runs the steps on the port, waiting through the screen. The line is never
// left in break, also when a step fails. Throws ECommError as the port's
// line calls do.
void RunResetSequence(const std::vector<ResetStep>& steps, CommPort& port, TargetUi& ui);

}  // namespace varnel
