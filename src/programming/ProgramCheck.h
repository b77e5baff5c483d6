// The check of an Intel HEX program file before a run sends anything: every
// record well formed, every data byte inside the target's flash. A file that
// passes is handed on as the exact records to send and the bytes they write,
// so the download sends what was checked and the flash can be verified
// against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace varnel {

// Larger program files are refused unread: the largest flash of the family
// takes about 90 KB of Intel HEX.
inline constexpr std::size_t kMaxProgramFileSize = 8 * 1024 * 1024;

struct CheckedRecord {
  int line = 0;      // 1-based line number in the file
  std::string text;  // the line as it is in the file, without its line end
};

struct ProgramCheck {
  bool ok = false;
  // When not ok: names the file, the line and the fault, and ends with
  // " Nothing was sent.".
  std::string error;
  // The non-blank lines in file order, the end record included when the file
  // has one (nothing after it: a file holding more is refused).
  std::vector<CheckedRecord> records;
  // The file closes with its end record. A file cut at a line boundary (an
  // interrupted download or copy) passes every other check without it.
  bool endRecord = false;
  // Every address a data record writes, with its byte.
  std::map<std::uint32_t, std::uint8_t> data;
};

// Checks text, the content of the file named fileName (only its name is
// used, in messages), for a target whose flash holds flashSize bytes from
// address 0000h. One pass over the text.
ProgramCheck CheckProgramText(std::string_view text, std::string_view fileName,
                              std::uint32_t flashSize);

// The refusal of a file larger than kMaxProgramFileSize, unread.
ProgramCheck RefuseTooLarge(std::string_view fileName, std::uint64_t size);

// Reads path and checks it as above; a file larger than kMaxProgramFileSize
// or one that cannot be read is refused before it is read whole.
ProgramCheck CheckProgramFile(const std::string& path, std::uint32_t flashSize);

}  // namespace varnel
