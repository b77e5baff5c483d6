// One board on one serial port: the boot loader's verbs, each of which
// returns when its run has ended, with plain data or an Error. The port,
// its events and its timers live on a thread the Target owns, so a caller
// needs no event loop of its own; several Targets work side by side, one
// per port, from as many threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "varnel/errors.h"
#include "varnel/export.h"
#include "varnel/image.h"
#include "varnel/options.h"

namespace varnel {
namespace lib {
struct TargetAccess;
}  // namespace lib

struct ProgramOptions {
  bool verify = false;        // read the flash back and compare (VerifyFailed)
  bool erase_config = true;   // erase the configuration page with the flash
  bool write_config = true;   // write HCR1 and HCR0 after the download
  std::optional<std::uint8_t> hcr0{}, hcr1{};  // none: FFh
  bool mass_erase = true;     // erase the flash before the download
  bool write_flash = true;    // the download itself
  bool skip_erased = false;   // after the run's erase, records of FFh alone are not sent
  // Called once the erase has succeeded, just before the first record goes:
  // may change the image the records are made of (a serial number taken
  // only for a board that was erased). Its Error ends the run, nothing sent.
  std::function<void(Image&)> before_download{};
  Progress progress{};
};

enum class EraseScope { Flash, FlashAndConfig, Config };

class VARNEL_API Target {
 public:
  // Opens the port (PortError when it cannot). Nothing is sent yet.
  explicit Target(const std::string& port, const TargetOptions& options = {});
  ~Target();  // closes the port; a run still going is cancelled first
  Target(const Target&) = delete;
  Target& operator=(const Target&) = delete;

  // Resets the board when the options say so, wakes the boot loader and
  // identifies the chip. Every verb below needs it first (BadFile otherwise).
  Info connect();
  // Target addresses first..last of a memory (for sfr 80h..FFh). Every
  // reply is taken only in its exact form; a damaged one is asked again.
  std::vector<std::uint8_t> read(Memory memory, std::uint32_t first, std::uint32_t last,
                                 const ReadOptions& options = {});
  // Erases, downloads the image record by record, writes the configuration;
  // the image is checked against the chip's flash before anything is sent.
  ProgramResult program(const Image& image, const ProgramOptions& options = {});
  // Every address the image writes, read back and compared; empty when the
  // flash holds the image. A difference counts only when every read shows it.
  std::vector<Difference> verify(const Image& image, const Progress& progress = {});
  // The first address that does not hold FFh; none when the flash is blank.
  std::optional<std::uint32_t> blank_check(const Progress& progress = {});
  void erase(EraseScope scope = EraseScope::Flash);
  // From any thread: ends the run in flight as Ctrl+C does (a download gets
  // its end record first); the verb then throws Interrupted. Nothing when
  // no run goes.
  void cancel() noexcept;

  // Closes the port now (the destructor does too); later verbs throw PortError.
  void close();

  // Damaged replies asked for again since the last connect began, by every
  // verb since, however it ended.
  std::size_t replies_read_again();
  // What the last programming run's download put into the flash, however
  // that run ended (verified stays false).
  ProgramResult last_download();

  const std::string& port() const;
  // The facts of the last connect, none before one.
  const std::optional<Info>& info() const;

 private:
  friend struct lib::TargetAccess;
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace varnel
