// The strict reply reading.
#include "link/ReplyCheck.h"

#include "link/HexText.h"
#include "link/Trace.h"

namespace varnel {
namespace {

constexpr std::size_t kBlockDigits = 32;
constexpr std::size_t kRegisterDigits = 2;

int Nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Letters that name the command: one for "F", two for the others.
std::size_t LetterCount(std::string_view command) {
  return !command.empty() && command[0] == 'F' ? 1 : 2;
}

CheckedReply Damaged(std::string fault) {
  CheckedReply reply;
  reply.fault = std::move(fault);
  return reply;
}

// Whether the stripped reply begins with the echo of the command. The "R"
// of a two-letter command is no hex digit, so its letters tell; "F" is, so
// an echoed configuration reply is told by its length as well.
bool HasEcho(std::string_view command, std::string_view stripped, std::size_t digits) {
  const std::string_view letters = command.substr(0, LetterCount(command));
  if (!stripped.starts_with(letters)) return false;
  if (letters.size() == 2) return true;
  return stripped.size() > digits + 1;
}

}  // namespace

bool IsReadCommand(std::string_view command) { return DataDigits(command) > 0; }

std::size_t DataDigits(std::string_view command) {
  if (command.empty()) return 0;
  if (command[0] == 'F') return kBlockDigits;
  const std::string_view letters = command.substr(0, 2);
  if (letters == "CR" || letters == "XR" || letters == "IR") return kBlockDigits;
  if (letters == "RR") return kRegisterDigits;
  return 0;
}

CheckedReply CheckReply(std::string_view command, std::string_view reply) {
  const std::size_t wanted = DataDigits(command);
  if (wanted == 0) return Damaged("answered " + std::string(command) + ", which reads nothing");
  std::string data = SeparateChar(reply);

  if (HasEcho(command, data, wanted)) {
    // Out of step with what was asked: another block's data, not this one's.
    const std::size_t echo = std::min(command.size(), data.size());
    if (data.compare(0, echo, command) != 0 || echo < command.size()) {
      return Damaged("echoed " + TraceText(data.substr(0, command.size())) + ", not " +
                     std::string(command));
    }
    data.erase(0, echo);
  }
  if (data.empty()) return Damaged("held no data");
  if (data == "?") return Damaged("was \"?\": the loader did not take the command");
  for (char c : data) {
    if (Nibble(c) < 0) {
      return Damaged("held \"" + TraceText(std::string_view(&c, 1)) +
                     "\" where only hex digits belong");
    }
  }
  if (data.size() != wanted) {
    return Damaged("held " + std::to_string(data.size()) +
                   (data.size() == 1 ? " hex digit, not " : " hex digits, not ") +
                   std::to_string(wanted));
  }
  CheckedReply good;
  good.bytes.reserve(wanted / 2);
  for (std::size_t i = 0; i < wanted; i += 2) {
    good.bytes.push_back(static_cast<std::uint8_t>(Nibble(data[i]) * 16 + Nibble(data[i + 1])));
  }
  good.digits = std::move(data);
  return good;
}

}  // namespace varnel
