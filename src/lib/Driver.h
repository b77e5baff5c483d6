// The verbs of one Target on its own thread: the connect driver, reads (also
// twice), programming, the verify and the blank check, each run to its end
// over the Line and ended with plain data or an Error. Neutral of the
// engine's headers, so the Target's side includes it beside the public API.
#pragma once

#include <atomic>
#include <cstdint>
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
  void Erase(EraseWhat what);
  const std::optional<Info>& Connected() const { return info_; }

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
