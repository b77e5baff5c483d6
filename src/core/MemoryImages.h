// The five target memory images the tool keeps: what uploads fill, what the
// views show and where programming takes HCR1/HCR0 from.
#pragma once

#include <cstdint>
#include <vector>

#include "core/Memories.h"

namespace varnel {

class MemoryImage {
 public:
  explicit MemoryImage(std::size_t size, std::uint8_t fill = 0xFF) : cells_(size, fill) {}

  std::size_t Size() const { return cells_.size(); }
  bool Contains(std::int64_t index) const {
    return index >= 0 && static_cast<std::uint64_t>(index) < cells_.size();
  }
  // Reads outside the image give FFh, as an erased cell would.
  std::uint8_t Read(std::int64_t index) const {
    return Contains(index) ? cells_[static_cast<std::size_t>(index)] : 0xFF;
  }
  // A write outside the image stores nothing.
  void Write(std::int64_t index, std::uint8_t value) {
    if (Contains(index)) cells_[static_cast<std::size_t>(index)] = value;
  }
  void Fill(std::uint8_t value);
  const std::vector<std::uint8_t>& Cells() const { return cells_; }

 private:
  std::vector<std::uint8_t> cells_;
};

struct MemoryImages {
  static constexpr std::size_t kCodeSize = InfoOf(MemoryKind::Code).size;     // 0000h-7FFFh
  static constexpr std::size_t kExtRAMSize = InfoOf(MemoryKind::ExtRAM).size; // 0000h-07FFh
  static constexpr std::size_t kIRAMSize = InfoOf(MemoryKind::IRAM).size;
  static constexpr std::size_t kSFRSize = InfoOf(MemoryKind::SFR).size;  // by register address
  static constexpr std::size_t kCfgSize = InfoOf(MemoryKind::Cfg).size;  // target 8000h-807Fh
  static constexpr int kHCR1Offset = varnel::kHCR1Offset;
  static constexpr int kHCR0Offset = varnel::kHCR0Offset;

  MemoryImage CodeImage{kCodeSize};
  MemoryImage ExtRAMImage{kExtRAMSize};
  MemoryImage IRAMImage{kIRAMSize};
  MemoryImage SFRImage{kSFRSize};
  MemoryImage CfgImage{kCfgSize};

  void FillAll(std::uint8_t value = 0xFF);
  MemoryImage& Of(MemoryKind kind);
  const MemoryImage& Of(MemoryKind kind) const;
  // The image a read command fills, named by its first letter: C, X, I, F, R.
  // nullptr for any other letter.
  MemoryImage* ByCommandLetter(char letter);
};

}  // namespace varnel
