// Whole-file reads and atomic whole-file replacement: the one way the
// settings store, program files, saved views and traces reach the disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace varnel {

// Why a whole-file read gave no bytes.
enum class ReadFault { None, Missing, CannotOpen, NotAFile, TooLarge, CannotRead };

struct FileRead {
  ReadFault fault = ReadFault::None;
  int code = 0;            // errno of Missing, CannotOpen and CannotRead
  std::uint64_t size = 0;  // TooLarge: the file's size, or what was read when it grew
  bool grew = false;       // TooLarge: the file passed the limit while being read
  std::string bytes;       // the whole file when fault is None, else empty
};

// Reads the regular file at path whole, refusing one larger than maxBytes
// before reading it (and one that grows past it while being read).
FileRead ReadWholeFile(const std::string& path,
                       std::size_t maxBytes = std::numeric_limits<std::size_t>::max());

enum class ReadOutcome { Read, Missing, Failed };

// The largest settings file read. Far beyond what the program writes (a
// project file is under 1 KB); a bigger file is not a settings file and
// reads as unreadable.
inline constexpr std::size_t kMaxSettingsFileSize = 64 * 1024;

// Reads the whole file into bytes. Missing: no such file (or folder).
// Failed: it exists but cannot be read, or is larger than
// kMaxSettingsFileSize; error then says why.
ReadOutcome ReadFileBytes(const std::string& path, std::string& bytes, std::string* error);

// Replaces the file's content with bytes through a temporary file in the
// same folder renamed over it, so readers see the old or the new content,
// never a part. An existing file keeps its permission bits (and owner, when
// allowed); a symbolic link is followed and its target replaced. Refuses,
// leaving the file untouched, when the file is not a regular file or cannot
// be opened for writing. False with error set on any failure.
bool ReplaceFileAtomically(const std::string& path, std::string_view bytes, std::string* error);

}  // namespace varnel
