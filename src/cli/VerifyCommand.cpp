// verify: every address a program file writes read back through the
// window's CODE upload and compared with the file.
#include <cstdio>

#include "cli/Commands.h"
#include "link/HexText.h"

namespace varnel::cli {
namespace {

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int RunVerify(Target& target, const ProgramImage& image) {
  // Every 16-byte block the file writes into, in runs of adjacent blocks.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
  for (const auto& [address, value] : image.data) {
    const std::uint32_t block = address & ~0xFu;
    if (!ranges.empty() && block <= ranges.back().second + 1) {
      ranges.back().second = std::max(ranges.back().second, block + 15);
    } else {
      ranges.emplace_back(block, block + 15);
    }
  }
  for (const auto& [first, last] : ranges) {
    Upload(target, MemoryKind::Code, first, last,
           "verifying CODE " + HD16Prev(first) + "h-" + HD16Prev(last) + "h");
  }

  const MemoryImage& code = target.session().Images.CodeImage;
  std::size_t differ = 0;
  for (const auto& [address, expected] : image.data) {
    const std::uint8_t actual = code.Read(address);
    if (actual == expected) continue;
    if (++differ <= 10) {
      std::printf("%sh: file %sh, target %sh\n", HD16Prev(address).c_str(),
                  HDPrev(expected).c_str(), HDPrev(actual).c_str());
    }
  }
  const std::string name = NameOf(image.path);
  if (differ == 0) {
    std::printf("verify: %zu bytes match %s\n", image.data.size(), name.c_str());
    std::fflush(stdout);
    return kExitOk;
  }
  std::printf("verify: %zu of %zu bytes differ from %s\n", differ, image.data.size(), name.c_str());
  std::fflush(stdout);
  throw CliFailure(kExitRefused, "verify: " + std::to_string(differ) + " bytes differ from " + name);
}

}  // namespace varnel::cli
