// read --twice: every block read twice and compared, for the damage no
// single read can see (a digit turned into another digit). A block whose
// two reads differ is read a third time, and the two reads that agree win.
// Costs twice the line time.
#include <algorithm>
#include <vector>

#include "cli/Commands.h"
#include "link/HexText.h"

namespace varnel::cli {
namespace {

struct Piece {
  std::uint32_t first, last;  // target addresses
};

// The pieces first..last is read in: one register, or one 16-byte block
// (internal RAM counted from the first address, the others from 16-byte
// boundaries), cut to the range.
std::vector<Piece> Pieces(MemoryKind kind, std::uint32_t first, std::uint32_t last) {
  const std::uint32_t step = kind == MemoryKind::SFR ? 1 : 16;
  std::uint32_t at = kind == MemoryKind::IRAM || kind == MemoryKind::SFR ? first : first & ~0xFu;
  std::vector<Piece> pieces;
  for (; at <= last; at += step) pieces.push_back({std::max(at, first), std::min(at + step - 1, last)});
  return pieces;
}

std::vector<std::uint8_t> Cells(const MemoryImage& image, std::uint32_t base, Piece piece) {
  const auto begin = image.Cells().begin() + (piece.first - base);
  return {begin, begin + (piece.last - piece.first + 1)};
}

std::string Where(MemoryKind kind, std::uint32_t address) {
  const bool byteAddress = kind == MemoryKind::IRAM || kind == MemoryKind::SFR;
  return std::string(InfoOf(kind).name) + " at " +
         (byteAddress ? HDPrev(address) : HD16Prev(address)) + "h";
}

}  // namespace

void UploadTwice(Target& target, MemoryKind kind, std::uint32_t first, std::uint32_t last,
                 const std::string& label) {
  const std::uint32_t base = InfoOf(kind).targetBase;
  MemoryImage& image = target.session().Images.Of(kind);
  Upload(target, kind, first, last, label);
  const Piece whole{first, last};
  const std::vector<std::uint8_t> once = Cells(image, base, whole);
  Upload(target, kind, first, last, label + " again");
  std::vector<std::uint8_t> agreed = Cells(image, base, whole);

  for (const Piece& piece : Pieces(kind, first, last)) {
    const auto offset = static_cast<std::ptrdiff_t>(piece.first - first);
    const auto size = static_cast<std::ptrdiff_t>(piece.last - piece.first + 1);
    const auto a = once.begin() + offset;
    const auto b = agreed.begin() + offset;
    if (std::equal(a, a + size, b)) continue;
    Upload(target, kind, piece.first, piece.last,
           "reading " + Where(kind, piece.first) + " a third time");
    const std::vector<std::uint8_t> third = Cells(image, base, piece);
    if (!std::equal(a, a + size, third.begin()) && !std::equal(b, b + size, third.begin())) {
      Outcome damaged{OutcomeKind::DamagedReplies,
                      "no two of three reads of " + Where(kind, piece.first) +
                          " agree: the line changes the data on the way"};
      damaged.address = piece.first;
      damaged.memory = InfoOf(kind).name;
      throw CliFailure(damaged);
    }
    std::copy(third.begin(), third.end(), b);
  }
  // The image holds what the reads agree on.
  for (std::uint32_t at = first; at <= last; ++at) {
    image.Write(at - base, agreed[at - first]);
  }
}

}  // namespace varnel::cli
