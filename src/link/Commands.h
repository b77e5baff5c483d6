// The boot loader's command set: every command the tool sends is spelled
// here, and the positions of the address fields inside a pending command.
// Commands carry no terminator; fields are fixed-width upper-case hex.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace varnel::cmd {

inline constexpr std::size_t kMaxCommandLength = 10;  // LastCommand holds no more

inline constexpr char kWake[] = "\r";          // wakes the loader; answered by banner or prompt
inline constexpr char kEchoOff[] = "E";        // sent once after a banner
inline constexpr char kEraseFlash[] = "M0000"; // mass erase of the flash
inline constexpr char kEraseConfig[] = "M8000";// erase of the configuration page
inline constexpr char kEndRecord[] = ":00000001FF";  // Intel HEX end-of-file record

// A reply is complete when a received chunk ends in one of these: "." (a
// line or write taken), "$" and ">" (the loader's prompts).
inline constexpr char kReplyTerminators[] = ".$>";
constexpr bool IsReplyTerminator(char c) { return c == '.' || c == '$' || c == '>'; }

std::string ReadSfr(int address);                // "RR" aa
std::string WriteSfr(int address, int value);    // "RW" aa vv
std::string ReadCode(std::int64_t address);      // "CR" aaaa
std::string ReadExtRam(std::int64_t address);    // "XR" aaaa
std::string ReadIram(int address);               // "IR" aa
std::string ReadConfig(int offset);              // "F" aa
std::string WriteConfig(std::int64_t address, int value);  // "CW" aaaa dd
std::string Line(std::string_view record);       // "L" + first record of the file

// Address carried by a pending command, read back at its fixed positions:
// CR/XR/CW characters 3-6, IR/RR 3-4, F 2-3, M 2-5 (1-based). Returns -1 for a
// command without an address field or one too short to hold it.
std::int32_t AddressField(std::string_view command);

// Characters a data reply loses at its front when it carries the echo of a
// read command (C/X: 6, I/F: 4), 0 for other commands.
std::size_t EchoLength(std::string_view command);

}  // namespace varnel::cmd
