// Messages for refusals, named by the command the target answered "x" to.
#include "cli/OutcomeText.h"

#include "link/Commands.h"
#include "link/HexText.h"

namespace varnel::cli {
namespace {

std::string Address(std::uint32_t address) { return HD16Prev(address) + "h"; }

// "HCR1 (807Eh)", or the address alone for another configuration byte.
std::string ConfigByte(std::uint32_t address) {
  if (address == 0x807E) return "HCR1 (" + Address(address) + ")";
  if (address == 0x807F) return "HCR0 (" + Address(address) + ")";
  return "the configuration byte at " + Address(address);
}

}  // namespace

Outcome Explained(Outcome outcome) {
  if (outcome.kind != OutcomeKind::TargetRefused || outcome.command.empty()) return outcome;
  const std::string& command = outcome.command;
  const std::string quoted = "\"" + command + "\"";
  if (command.rfind("CW", 0) == 0 && command.size() >= 6) {
    const std::int32_t address = cmd::AddressField(command);
    outcome.text = "the target refused to write " + ConfigByte(static_cast<std::uint32_t>(address)) +
                   ": it answered " + quoted + " with \"x\"";
  } else if (command == cmd::kEraseFlash || command == cmd::kEraseConfig) {
    outcome.text += std::string(" The target refused the erase of the ") +
                    (command == cmd::kEraseFlash ? "flash" : "configuration page") +
                    ": it answered " + quoted + " with \"x\".";
  } else if (command.front() == ':' || command.rfind("L:", 0) == 0) {
    const std::string record = command.front() == 'L' ? command.substr(1) : command;
    outcome.text += " The target refused the record \"" + record + "\".";
  }
  return outcome;
}

}  // namespace varnel::cli
