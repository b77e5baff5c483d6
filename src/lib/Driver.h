// The verbs of one Target on its own thread: the connect driver, reads (also
// twice), programming, the verify and the blank check, each run to its end
// over the Line and ended with plain data or an Error. Neutral of the
// engine's headers, so the Target's side includes it beside the public API.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "varnel/errors.h"
#include "varnel/image.h"
#include "varnel/options.h"

namespace varnel::lib {

class Line;

// A programming run's steps, as the Target's options give them.
struct ProgramSteps {
  bool verify = false;
  bool eraseConfig = true;
  bool writeConfig = true;
  std::uint8_t hcr0 = 0xFF, hcr1 = 0xFF;
  Progress progress;
  // After the run's own erase, records of FFh alone are not sent.
  bool skipErased = false;
  bool massErase = true;
  bool writeFlash = true;
  // Called once the erase has succeeded, before the first record goes: may
  // change the image the records are made of (a serial number). Its Error
  // ends the run with nothing sent.
  std::function<void(Image&)> patch;
};

// What a programming run's download put into the flash, however it ended:
// data bytes the flash holds from the image (records left out as erased
// count), and of them those sent.
struct Downloaded {
  std::size_t held = 0;
  std::size_t sent = 0;
  std::size_t skipped = 0;
};

enum class EraseWhat { Flash, FlashAndConfig, Config };

class Driver {
 public:
  // Throws BadFile for options that cannot work (a rate, a reset sequence).
  Driver(const TargetOptions& options, const std::atomic<bool>& cancel);
  ~Driver();
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  void Open(const std::string& port);
  void Close();
  Info Connect();
  std::vector<std::uint8_t> Read(Memory memory, std::uint32_t first, std::uint32_t last,
                                 const ReadOptions& options);
  ProgramResult Program(const Image& image, const ProgramSteps& steps);
  std::vector<Difference> Verify(const Image& image, const Progress& progress);
  std::optional<std::uint32_t> BlankCheck(const Progress& progress);
  // Every address that does not hold FFh.
  std::vector<Difference> NotBlank(const Progress& progress);
  void Erase(EraseWhat what);
  const std::optional<Info>& Connected() const { return info_; }
  // Damaged replies read again since the last connect began.
  std::size_t RepliesReadAgain();
  // Of the last programming run.
  Downloaded LastDownload();
  // Whether a boot loader still answers a carriage return within ms; false
  // for a port that was closed, failed or whose device went away.
  bool Answers(int ms);

 private:
  template <typename Body>
  auto Guarded(Body body) -> decltype(body());
  std::vector<Difference> Compare(const std::map<std::uint32_t, std::uint8_t>& expected,
                                  const Progress& progress);
  void CheckFits(const Image& image) const;
  void Upload(int kind, std::uint32_t first, std::uint32_t last);
  void UploadTwice(int kind, std::uint32_t first, std::uint32_t last);
  std::uint32_t FlashBytes() const;

  TargetOptions options_;
  std::unique_ptr<Line> line_;
  std::optional<Info> info_;
  std::string verifyText_;  // what the last verify that found differences said
};

}  // namespace varnel::lib
