// The five target memories in one table: what reads each, how big its image
// is, the range an upload covers by default, and the names the screens and
// files show. Every other place takes these facts from here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace varnel {

enum class MemoryKind { Code, ExtRAM, IRAM, SFR, Cfg };

struct MemoryInfo {
  MemoryKind kind;
  char letter;               // first letter of its read command: C, X, I, R, F
  std::size_t size;          // image size in bytes
  std::int32_t firstDefault; // range an upload covers with the default selection
  std::int32_t lastDefault;
  std::uint32_t targetBase;  // target address of image offset 0 (8000h for the page)
  const char* name;          // shown by the progress window ("CODE")
  const char* caption;       // caption of its memory view ("CODE memory")
  const char* shortName;     // as the command line names it ("code")
};

inline constexpr MemoryInfo kMemories[] = {
    {MemoryKind::Code, 'C', 32768, 0x0000, 0x7FFF, 0x0000, "CODE", "CODE memory", "code"},
    {MemoryKind::ExtRAM, 'X', 2048, 0x0000, 0x03FF, 0x0000, "Ext.RAM", "Ext.RAM memory", "xdata"},
    {MemoryKind::IRAM, 'I', 256, 0x00, 0xFF, 0x00, "Int.RAM", "Int.RAM", "iram"},
    {MemoryKind::SFR, 'R', 256, 0x80, 0xFF, 0x00, "SFR", "SFR", "sfr"},
    {MemoryKind::Cfg, 'F', 128, 0x00, 0x7F, 0x8000, "PS1 cfg", "PS1 config", "cfg"},
};

// The table is in MemoryKind order.
constexpr const MemoryInfo& InfoOf(MemoryKind kind) { return kMemories[static_cast<int>(kind)]; }
static_assert(InfoOf(MemoryKind::Cfg).kind == MemoryKind::Cfg);

// A default range end as the settings store it and the dialog shows it:
// upper-case hex digits, four for the 64 KB address spaces and two for the
// 256-byte ones ("7FFF", "80").
struct AddressText {
  char digits[5] = {};  // null-terminated
  std::size_t width = 0;
  constexpr std::string_view View() const { return {digits, width}; }
};
constexpr AddressText DefaultAddressText(const MemoryInfo& memory, std::int32_t value) {
  constexpr char kHex[] = "0123456789ABCDEF";
  const int width = memory.size > 0x100 ? 4 : 2;
  AddressText text;
  text.width = static_cast<std::size_t>(width);
  for (int i = 0; i < width; ++i) text.digits[i] = kHex[(value >> (4 * (width - 1 - i))) & 0xF];
  return text;
}
struct RangeTexts {
  AddressText first, last;
};
constexpr auto MakeDefaultRangeTexts() {
  std::array<RangeTexts, std::size(kMemories)> texts{};
  for (const MemoryInfo& m : kMemories) {
    texts[static_cast<int>(m.kind)] = {DefaultAddressText(m, m.firstDefault),
                                       DefaultAddressText(m, m.lastDefault)};
  }
  return texts;
}
inline constexpr auto kDefaultRangeTexts = MakeDefaultRangeTexts();

// The texts of a memory's default range; null-terminated, so data() serves
// as a C string.
constexpr std::string_view DefaultFirstText(MemoryKind kind) {
  return kDefaultRangeTexts[static_cast<int>(kind)].first.View();
}
constexpr std::string_view DefaultLastText(MemoryKind kind) {
  return kDefaultRangeTexts[static_cast<int>(kind)].last.View();
}

// The memory a read command fills, by its first letter; nullptr for others.
const MemoryInfo* InfoByLetter(char letter);
// By the command line's name; nullptr for an unknown name.
const MemoryInfo* InfoByShortName(std::string_view name);

// Flash size in bytes the identification value names (the Y digit: Y2 4 KB
// ... Y5 32 KB; the MSC1211, codes 4-7, counts the same way), or 0 when the
// value names none.
constexpr std::int32_t FlashSizeFor(int targetIdCode) {
  if (targetIdCode < 0 || targetIdCode > 7) return 0;
  return 0x1000 << (targetIdCode % 4);
}

// Configuration page registers, as offsets into its image.
inline constexpr int kHCR1Offset = 0x7E;  // target 807Eh
inline constexpr int kHCR0Offset = 0x7F;  // target 807Fh

}  // namespace varnel
