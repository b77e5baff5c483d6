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

void RunBlankCheck(Target& target) {
  const std::uint32_t flash = target.FlashBytes();
  Upload(target, MemoryKind::Code, 0, flash - 1,
         "reading CODE 0000h-" + HD16Prev(flash - 1) + "h");
  // An erased cell reads FFh: compare the flash with an all-FFh image.
  std::map<std::uint32_t, std::uint8_t> erased;
  for (std::uint32_t a = 0; a < flash; ++a) erased.emplace_hint(erased.end(), a, 0xFF);
  // A cell that reads other than FFh is read twice more before it counts,
  // as a verify does: noise on the line is no programmed cell.
  const MemoryImage& code = target.session().Images.CodeImage;
  DifferenceCheck check(erased);
  for (auto ranges = check.Compare(code); !ranges.empty(); ranges = check.Compare(code)) {
    for (const auto& [first, last] : ranges) {
      Upload(target, MemoryKind::Code, first, last,
             "reading CODE " + HD16Prev(first) + "h-" + HD16Prev(last) + "h again");
    }
  }
  const VerifyReport report = check.Report(code);
  Screen& screen = target.screen();
  for (const VerifyDifference& d : report.first) {
    screen.Print(HD16Prev(d.address) + "h: " + HDPrev(d.target) + "h");
  }
  if (report.ok()) {
    screen.Print("blank-check: all " + std::to_string(flash) + " bytes are FFh");
    std::fflush(stdout);
    return;
  }
  const std::string text = "blank-check: " + std::to_string(report.differing) + " of " +
                           std::to_string(flash) + " bytes are not FFh";
  screen.Print(text);
  std::fflush(stdout);
  Outcome outcome{OutcomeKind::VerifyDifferences, text};
  outcome.compared = report.compared;
  outcome.differing = report.differing;
  throw CliFailure(outcome);
}

}  // namespace varnel::cli
