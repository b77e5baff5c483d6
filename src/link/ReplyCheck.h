// Strict reading of the boot loader's read replies. They carry no checksum,
// so a reply is taken only in its exact form: after the echo (which must
// name the address asked for) and the line ends, blanks and prompts, a block
// is exactly 32 upper-case hex digits and a register exactly 2. Anything
// else is a damaged reply, and nothing of it may be stored.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varnel {

struct CheckedReply {
  std::string digits;               // the data digits: 32 of a block, 2 of a register
  std::vector<std::uint8_t> bytes;  // their values: 16 or 1
  std::string fault;                // what was wrong; empty for a good reply
  bool Good() const { return fault.empty(); }
};

// True for the commands whose replies carry data: "CR", "XR", "IR", "F", "RR".
bool IsReadCommand(std::string_view command);
// Hex digits in a good reply to the command: 2 for "RR", 32 for the block
// reads, 0 for any other command.
std::size_t DataDigits(std::string_view command);

// The complete reply (terminator included, as the dispatcher hands it over)
// to the pending read command, read strictly. A damaged reply has no digits
// and no bytes, only its fault ("held 31 hex digits, not 32").
CheckedReply CheckReply(std::string_view command, std::string_view reply);

}  // namespace varnel
