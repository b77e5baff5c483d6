// Target memory images.
#include "core/MemoryImages.h"

#include <algorithm>

namespace varnel {

void MemoryImage::Fill(std::uint8_t value) { std::fill(cells_.begin(), cells_.end(), value); }

void MemoryImages::FillAll(std::uint8_t value) {
  for (auto* image : {&CodeImage, &ExtRAMImage, &IRAMImage, &SFRImage, &CfgImage}) {
    image->Fill(value);
  }
}

MemoryImage& MemoryImages::Of(MemoryKind kind) {
  return const_cast<MemoryImage&>(static_cast<const MemoryImages*>(this)->Of(kind));
}

const MemoryImage& MemoryImages::Of(MemoryKind kind) const {
  switch (kind) {
    case MemoryKind::Code: return CodeImage;
    case MemoryKind::ExtRAM: return ExtRAMImage;
    case MemoryKind::IRAM: return IRAMImage;
    case MemoryKind::SFR: return SFRImage;
    case MemoryKind::Cfg: break;
  }
  return CfgImage;
}

MemoryImage* MemoryImages::ByCommandLetter(char letter) {
  const MemoryInfo* entry = InfoByLetter(letter);
  return entry ? &Of(entry->kind) : nullptr;
}

}  // namespace varnel
