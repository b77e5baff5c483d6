// What varnel-cli's exit status says, and the failure that carries an
// outcome up to main. The status is chosen from the outcome's kind here and
// nowhere else, never from a message text: main returns ExitStatusOf of how
// a single run, a station or the terminal ended.
#pragma once

#include <stdexcept>
#include <string>

#include "core/Outcome.h"

namespace varnel::cli {

enum ExitStatus : int {
  kExitOk = 0,
  kExitRefused = 1,      // the target refused something, or verify found differences
  kExitUsage = 2,        // bad usage or a bad file: nothing was sent
  kExitNoAnswer = 3,     // no answer, or no valid answer, in time
  kExitPort = 4,         // the port cannot be opened (or failed under us)
  kExitNotStored = 5,    // a record or serial number could not be stored or taken
  kExitInterrupted = 130,
};

// Said after a port this user may not open: on Debian the serial devices
// belong to the group dialout.
inline constexpr char kDialoutRemedy[] =
    "Serial ports belong to the group dialout; join it with\n"
    "  sudo adduser $USER dialout\n"
    "then log out and in again.";

// The one mapping from how a run ended to the exit status.
inline int ExitStatusOf(OutcomeKind kind) {
  switch (kind) {
    case OutcomeKind::Finished: return kExitOk;
    case OutcomeKind::TargetRefused:
    case OutcomeKind::VerifyDifferences: return kExitRefused;
    case OutcomeKind::Refused:  // bad usage, or the settings forbid the run
    case OutcomeKind::BadFile: return kExitUsage;
    case OutcomeKind::NoAnswer:
    case OutcomeKind::DamagedReplies: return kExitNoAnswer;
    case OutcomeKind::PortFailed: return kExitPort;
    case OutcomeKind::Interrupted: return kExitInterrupted;
    case OutcomeKind::NotStored: return kExitNotStored;
  }
  return kExitRefused;
}

// Thrown by the commands for an end found before or between exchanges; the
// text is without the "varnel-cli: " prefix.
class CliFailure : public std::runtime_error {
 public:
  explicit CliFailure(Outcome outcome)
      : std::runtime_error(outcome.text), outcome_(std::move(outcome)) {}
  CliFailure(OutcomeKind kind, const std::string& text) : CliFailure(Outcome{kind, text}) {}
  const Outcome& outcome() const { return outcome_; }

 private:
  Outcome outcome_;
};

}  // namespace varnel::cli
