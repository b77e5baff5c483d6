// verify: every address a program file writes read back through the
// engine's CODE upload and compared with the file.
#include <cstdio>

#include "cli/Commands.h"
#include "link/HexText.h"
#include "programming/Verify.h"
#include "programming/VerifyAgain.h"

namespace varnel::cli {
namespace {

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void RunVerify(Target& target, const ProgramImage& image) {
  // Every 16-byte block the file writes into, in runs of adjacent blocks;
  // then the blocks that differ, again, before a difference counts.
  const MemoryImage& code = target.session().Images.CodeImage;
  DifferenceCheck check(image.data);
  std::string again;
  for (auto ranges = check.First(); !ranges.empty(); ranges = check.Compare(code), again = " again") {
    for (const auto& [first, last] : ranges) {
      Upload(target, MemoryKind::Code, first, last,
             "verifying CODE " + HD16Prev(first) + "h-" + HD16Prev(last) + "h" + again);
    }
  }

  const VerifyReport report = check.Report(code);
  Outcome outcome = VerifyOutcome(report);
  Screen& screen = target.screen();
  for (const VerifyDifference& d : report.first) {
    screen.Print(HD16Prev(d.address) + "h: file " + HDPrev(d.file) + "h, target " +
                 HDPrev(d.target) + "h");
  }
  const std::size_t differ = report.differing;
  const std::string name = NameOf(image.path);
  if (differ == 0) {
    screen.Print("verify: " + std::to_string(image.data.size()) + " bytes match " + name);
    std::fflush(stdout);
    return;
  }
  screen.Print("verify: " + std::to_string(differ) + " of " + std::to_string(image.data.size()) +
               " bytes differ from " + name);
  std::fflush(stdout);
  outcome.text = "verify: " + std::to_string(differ) + " bytes differ from " + name;
  throw CliFailure(outcome);
}

}  // namespace varnel::cli
