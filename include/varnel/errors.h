// How a run of libvarnel fails: one hierarchy of exceptions whose kind says
// what happened and decides a program's exit status. The message is for a
// person; a program looks at kind(), never at the text.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "varnel/export.h"

namespace varnel {

enum class ErrorKind {
  BadFile,       // a file, an image or an argument cannot be used: nothing was sent
  Refused,       // the boot loader said no (an erase, a record, a register write)
  VerifyFailed,  // the flash read back differs from the image
  NoAnswer,      // the boot loader did not answer in time
  Damaged,       // it answered, but never in a form that can be taken
  PortError,     // the port cannot be opened, or failed under the run
  RecordLost,    // a board's record could not be written
  Interrupted,   // the run was cancelled (Ctrl+C, cancel())
};

// The one mapping from an error kind to a program's exit status:
// BadFile 2, Refused 1, VerifyFailed 1, NoAnswer 3, Damaged 3, PortError 4,
// RecordLost 5, Interrupted 130.
VARNEL_API int exit_status(ErrorKind kind) noexcept;
// "BadFile", "Refused", ...: the kind as a log or a script names it.
VARNEL_API const char* kind_name(ErrorKind kind) noexcept;

// One address where the flash differs from the image.
struct Difference {
  std::uint32_t address = 0;
  std::uint8_t expected = 0;  // the image's byte
  std::uint8_t actual = 0;    // what the flash read back, every time it was read
  bool operator==(const Difference&) const = default;
};

class VARNEL_API Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, const std::string& message,
        std::optional<std::uint32_t> address = std::nullopt);
  ~Error() override;
  ErrorKind kind() const noexcept { return kind_; }
  int exit_status() const noexcept { return varnel::exit_status(kind_); }
  // The target address the failure concerns, where there is one.
  std::optional<std::uint32_t> address() const noexcept { return address_; }

 private:
  ErrorKind kind_;
  std::optional<std::uint32_t> address_;
};

#define VARNEL_ERROR_CLASS(Name)                                                      \
  class VARNEL_API Name : public Error {                                              \
   public:                                                                            \
    explicit Name(const std::string& message,                                         \
                  std::optional<std::uint32_t> address = std::nullopt)                \
        : Error(ErrorKind::Name, message, address) {}                                 \
    ~Name() override;                                                                 \
  };
VARNEL_ERROR_CLASS(BadFile)
VARNEL_ERROR_CLASS(Refused)
VARNEL_ERROR_CLASS(NoAnswer)
VARNEL_ERROR_CLASS(Damaged)
VARNEL_ERROR_CLASS(PortError)
VARNEL_ERROR_CLASS(RecordLost)
VARNEL_ERROR_CLASS(Interrupted)
#undef VARNEL_ERROR_CLASS

class VARNEL_API VerifyFailed : public Error {
 public:
  VerifyFailed(const std::string& message, std::vector<Difference> differences);
  ~VerifyFailed() override;
  // Every differing address, in address order.
  const std::vector<Difference>& differences() const noexcept { return differences_; }

 private:
  std::vector<Difference> differences_;
};

}  // namespace varnel
