// What varnel-cli's exit status says, and the failure that carries one up
// to main together with its message.
#pragma once

#include <stdexcept>
#include <string>

#include "core/TargetUi.h"

namespace varnel::cli {

enum ExitStatus : int {
  kExitOk = 0,
  kExitRefused = 1,      // the target refused something, or verify found differences
  kExitUsage = 2,        // bad usage or a bad file: nothing was sent
  kExitNoAnswer = 3,     // no answer in time
  kExitPort = 4,         // the port cannot be opened (or failed under us)
  kExitInterrupted = 130,
};

// Said after a port this user may not open: on Debian the serial devices
// belong to the group dialout.
inline constexpr char kDialoutRemedy[] =
    "Serial ports belong to the group dialout; join it with\n"
    "  sudo adduser $USER dialout\n"
    "then log out and in again.";

struct Failure {
  int status = kExitOk;
  std::string text;  // without the "varnel-cli: " prefix
};

// Thrown by the commands for a failure found before or between exchanges.
class CliFailure : public std::runtime_error {
 public:
  CliFailure(int status, const std::string& text) : std::runtime_error(text), status_(status) {}
  int Status() const { return status_; }

 private:
  int status_;
};

// The exit status of a run's outcome.
inline int StatusOf(RunOutcome::Kind kind) {
  switch (kind) {
    case RunOutcome::Kind::Finished: return kExitOk;
    case RunOutcome::Kind::Refused: return kExitUsage;  // the settings forbid the run: nothing sent
    case RunOutcome::Kind::Failed: return kExitRefused;
    case RunOutcome::Kind::Interrupted: return kExitInterrupted;
    case RunOutcome::Kind::NoAnswer: return kExitNoAnswer;
  }
  return kExitRefused;
}

}  // namespace varnel::cli
