// read: a memory of the target into an Intel HEX file, a raw image or the
// memory view's dump lines, through the engine's upload of a range.
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>

#include "cli/Commands.h"
#include "core/FileBytes.h"
#include "link/HexText.h"
#include "memory/DumpLine.h"
#include "programming/IntelHex.h"
#include "link/ErrorText.h"

namespace varnel::cli {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Address(std::uint32_t address) { return HD16Prev(address) + "h"; }

// The registers live at 80h-FFh; every other memory starts with its image.
std::uint32_t Lowest(const MemoryInfo& entry) {
  return entry.targetBase + static_cast<std::uint32_t>(entry.firstDefault);
}
std::uint32_t Highest(const MemoryInfo& entry) {
  return entry.targetBase + static_cast<std::uint32_t>(entry.size) - 1;
}

// The file must be writable where it goes, so that a read is not made in
// vain; nothing is written there before the read is complete.
// The folder is tried with a file of its own, created and removed again: its
// modes alone do not tell (a superuser ignores them, /sys refuses anyone).
void CheckOutput(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    throw CliFailure(OutcomeKind::Refused, path + " is not a file");
  }
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  std::string probe = folder + "/.varnel-XXXXXX";
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) {
    throw CliFailure(OutcomeKind::Refused,
                     "cannot write into the folder " + folder + ": " + ErrorText(errno));
  }
  ::close(fd);
  ::unlink(probe.c_str());
}

// The view's character column for a terminal: Latin-1 as UTF-8, control
// characters (which the view shows as boxes) as '.'.
std::string TerminalText(std::string_view column) {
  std::string out;
  for (const char ch : column) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
      out += '.';
    } else if (c < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

void PrintDump(const MemoryImage& image, const MemoryInfo& entry, std::uint32_t from,
               std::uint32_t to) {
  constexpr std::size_t kCharColumn = kDumpLineLength - kDumpCellsPerLine;
  for (std::uint32_t line = from & ~0xFu; line <= to; line += 16) {
    const std::string dump = DumpLine(image, static_cast<std::int32_t>(line - entry.targetBase));
    // The view counts the page from 0; the line shows the target address.
    const std::string text = HD16Prev(line) + dump.substr(4, kCharColumn - 4) +
                             TerminalText(std::string_view(dump).substr(kCharColumn));
    std::printf("%s\n", text.c_str());
  }
}

}  // namespace

ReadRequest PrepareRead(const Options& o) {
  ReadRequest r;
  r.entry = InfoByShortName(o.memory);
  if (!r.entry) {
    throw CliFailure(OutcomeKind::Refused, "unknown memory '" + o.memory + "': " + MemoryNames());
  }
  const std::uint32_t lowest = Lowest(*r.entry), highest = Highest(*r.entry);
  r.from = o.from.value_or(lowest);
  r.to = o.to.value_or(highest);
  r.toGiven = o.to.has_value();
  r.twice = o.twice;
  if (o.from && o.to && *o.from > *o.to) {
    throw CliFailure(OutcomeKind::Refused, "--from " + Address(*o.from) + " is greater than --to " +
                                               Address(*o.to));
  }
  if (r.from < lowest || r.to > highest || r.from > r.to) {
    throw CliFailure(OutcomeKind::Refused, "the range " + Address(r.from) + "-" + Address(r.to) +
                                     " does not lie within " + o.memory + " (" + Address(lowest) +
                                     "-" + Address(highest) + ")");
  }
  if (!o.output.empty()) {
    const std::string name = Lower(o.output);
    if (name.ends_with(".hex")) {
      r.format = ReadRequest::Format::Hex;
    } else if (name.ends_with(".bin")) {
      r.format = ReadRequest::Format::Bin;
    } else {
      throw CliFailure(OutcomeKind::Refused, "the output file must end in .hex or .bin: " + o.output);
    }
    r.output = o.output;
    CheckOutput(r.output);
  }
  return r;
}

void Upload(Target& target, MemoryKind kind, std::uint32_t first, std::uint32_t last,
            const std::string& label) {
  const auto lo = static_cast<std::int32_t>(first - InfoOf(kind).targetBase);
  // The bar stands at the address of the block just stored.
  const int step = kind == MemoryKind::SFR ? 1 : 16;
  ProgressPlan plan;
  plan.label = label;
  plan.total = last - first + 1;
  plan.doneAt = [lo, step](int position) {
    return static_cast<std::size_t>(std::max(position - lo + step, 0));
  };
  target.screen().SetPlan(std::move(plan));
  target.Run([&](Engine& engine) { return engine.UploadRange(kind, first, last); });
}

void RunRead(const ReadRequest& r, Target& target) {
  const MemoryInfo& entry = *r.entry;
  std::uint32_t to = r.to;
  if (entry.kind == MemoryKind::Code) {
    const std::uint32_t flash = target.FlashBytes();
    if (!r.toGiven) to = flash - 1;
    if (to >= flash || r.from > to) {
      throw CliFailure(OutcomeKind::Refused, "the range " + Address(r.from) + "-" + Address(to) +
                                       " lies beyond the " + std::to_string(flash / 1024) +
                                       " KB flash of the " + target.session().TargetName);
    }
  }
  (r.twice ? UploadTwice : Upload)(target, entry.kind, r.from, to,
                                   std::string("reading ") + entry.name + " " + Address(r.from) +
                                       "-" + Address(to));

  const MemoryImage& image = target.session().Images.Of(entry.kind);
  if (r.format == ReadRequest::Format::Dump) {
    PrintDump(image, entry, r.from, to);
    std::fflush(stdout);
    return;
  }
  const auto begin = image.Cells().begin() + (r.from - entry.targetBase);
  const std::vector<std::uint8_t> bytes(begin, begin + (to - r.from + 1));
  const std::string text = r.format == ReadRequest::Format::Hex
                               ? WriteIntelHex(bytes, r.from)
                               : std::string(bytes.begin(), bytes.end());
  std::string error;
  if (!ReplaceFileAtomically(r.output, text, &error)) {
    throw CliFailure(OutcomeKind::BadFile, "cannot write " + r.output + ": " + error);
  }
  target.screen().Note("wrote " + std::to_string(bytes.size()) + " bytes of " + entry.name + " (" +
                       Address(r.from) + "-" + Address(to) + ") to " + r.output);
}

}  // namespace varnel::cli
