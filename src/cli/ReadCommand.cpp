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

}  // namespace varnel::cli
