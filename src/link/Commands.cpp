// Spelling of the boot loader's commands.
#include "link/Commands.h"

#include "link/HexText.h"

namespace varnel::cmd {

std::string ReadSfr(int address) { return "RR" + HDPrev(address); }
std::string WriteSfr(int address, int value) { return "RW" + HDPrev(address) + HDPrev(value); }
std::string ReadCode(std::int64_t address) { return "CR" + HD16Prev(address); }
std::string ReadExtRam(std::int64_t address) { return "XR" + HD16Prev(address); }
std::string ReadIram(int address) { return "IR" + HDPrev(address); }
std::string ReadConfig(int offset) { return "F" + HDPrev(offset); }
std::string WriteConfig(std::int64_t address, int value) {
  return "CW" + HD16Prev(address) + HDPrev(value);
}
std::string Line(std::string_view record) { return "L" + std::string(record); }

std::int32_t AddressField(std::string_view command) {
  auto field = [&](std::size_t pos, std::size_t len) -> std::int32_t {
    if (command.size() < pos + len) return -1;
    return DecPrev(command.substr(pos, len));
  };
  if (command.empty()) return -1;
  const std::string_view two = command.substr(0, 2);
  if (two == "CR" || two == "XR" || two == "CW") return field(2, 4);
  if (two == "IR" || two == "RR") return field(2, 2);
  if (command[0] == 'F') return field(1, 2);
  if (command[0] == 'M') return field(1, 4);
  return -1;
}

std::size_t EchoLength(std::string_view command) {
  if (command.empty()) return 0;
  switch (command[0]) {
    case 'C':
    case 'X':
      return 6;
    case 'I':
    case 'F':
      return 4;
    default:
      return 0;
  }
}

}  // namespace varnel::cmd
