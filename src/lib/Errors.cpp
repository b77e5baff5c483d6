// The error hierarchy and the one mapping from an error kind to an exit
// status; the engine's outcomes become these errors in RaiseOutcome.
#include "lib/Errors.h"

namespace varnel {

int exit_status(ErrorKind kind) noexcept {
  switch (kind) {
    case ErrorKind::Refused:
    case ErrorKind::VerifyFailed: return 1;
    case ErrorKind::BadFile: return 2;
    case ErrorKind::NoAnswer:
    case ErrorKind::Damaged: return 3;
    case ErrorKind::PortError: return 4;
    case ErrorKind::RecordLost: return 5;
    case ErrorKind::Interrupted: return 130;
  }
  return 1;
}

const char* kind_name(ErrorKind kind) noexcept {
  switch (kind) {
    case ErrorKind::BadFile: return "BadFile";
    case ErrorKind::Refused: return "Refused";
    case ErrorKind::VerifyFailed: return "VerifyFailed";
    case ErrorKind::NoAnswer: return "NoAnswer";
    case ErrorKind::Damaged: return "Damaged";
    case ErrorKind::PortError: return "PortError";
    case ErrorKind::RecordLost: return "RecordLost";
    case ErrorKind::Interrupted: return "Interrupted";
  }
  return "Error";
}

Error::Error(ErrorKind kind, const std::string& message, std::optional<std::uint32_t> address)
    : std::runtime_error(message), kind_(kind), address_(address) {}
Error::~Error() = default;
BadFile::~BadFile() = default;
Refused::~Refused() = default;
NoAnswer::~NoAnswer() = default;
Damaged::~Damaged() = default;
PortError::~PortError() = default;
RecordLost::~RecordLost() = default;
Interrupted::~Interrupted() = default;

VerifyFailed::VerifyFailed(const std::string& message, std::vector<Difference> differences)
    : Error(ErrorKind::VerifyFailed, message,
            differences.empty() ? std::nullopt
                                : std::optional<std::uint32_t>(differences.front().address)),
      differences_(std::move(differences)) {}
VerifyFailed::~VerifyFailed() = default;

namespace lib {

void RaiseOutcome(const Outcome& outcome) {
  const std::string& text = outcome.text;
  const auto at = outcome.address;
  switch (outcome.kind) {
    case OutcomeKind::Finished: return;
    // The session or its settings forbid the run: what was asked cannot be
    // done, and nothing went out for it.
    case OutcomeKind::Refused:
    case OutcomeKind::BadFile: throw BadFile(text, at);
    case OutcomeKind::TargetRefused: throw Refused(text, at);
    case OutcomeKind::NoAnswer: throw NoAnswer(text, at);
    case OutcomeKind::DamagedReplies: throw Damaged(text, at);
    case OutcomeKind::PortFailed: throw PortError(text, at);
    case OutcomeKind::Interrupted: throw Interrupted(text, at);
    case OutcomeKind::VerifyDifferences: throw VerifyFailed(text, {});
    case OutcomeKind::NotStored: throw RecordLost(text, at);
  }
  throw Refused(text, at);
}

}  // namespace lib
}  // namespace varnel
