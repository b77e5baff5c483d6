// The error hierarchy and the one mapping from an error kind to an exit
// status; the engine's outcomes become these errors in RaiseOutcome.
#include "lib/Errors.h"

#include "link/Commands.h"
#include "link/HexText.h"

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
namespace {

std::string Address(std::uint32_t address) { return HD16Prev(address) + "h"; }

// "HCR1 (807Eh)", or the address alone for another configuration byte.
std::string ConfigByte(std::uint32_t address) {
  if (address == 0x807E) return "HCR1 (" + Address(address) + ")";
  if (address == 0x807F) return "HCR0 (" + Address(address) + ")";
  return "the configuration byte at " + Address(address);
}

// A refusal names what the target refused (the command it answered "x"
// to) rather than a caption of the window's.
std::string Explained(const Outcome& outcome) {
  std::string text = outcome.text;
  if (outcome.kind != OutcomeKind::TargetRefused || outcome.command.empty()) return text;
  const std::string& command = outcome.command;
  const std::string quoted = "\"" + command + "\"";
  if (command.rfind("CW", 0) == 0 && command.size() >= 6) {
    const std::int32_t address = cmd::AddressField(command);
    return "the target refused to write " + ConfigByte(static_cast<std::uint32_t>(address)) +
           ": it answered " + quoted + " with \"x\"";
  }
  if (command == cmd::kEraseFlash || command == cmd::kEraseConfig) {
    return text + " The target refused the erase of the " +
           (command == cmd::kEraseFlash ? "flash" : "configuration page") + ": it answered " +
           quoted + " with \"x\".";
  }
  if (command.front() == ':' || command.rfind("L:", 0) == 0) {
    const std::string record = command.front() == 'L' ? command.substr(1) : command;
    return text + " The target refused the record \"" + record + "\".";
  }
  return text;
}

}  // namespace

void RaiseOutcome(const Outcome& outcome) {
  const std::string text = Explained(outcome);
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
