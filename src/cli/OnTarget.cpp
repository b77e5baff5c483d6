// One board's run of every command through the library's Target: the
// settings the command line resolves, the connect, the command, and what
// the screen shows of it. Ctrl+C cancels the run as the library does.
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <varnel/errors.h>
#include <varnel/target.h>

#include "cli/ClockCheck.h"
#include "cli/ExitStatus.h"
#include "cli/ResetCommand.h"
#include "cli/StopSignals.h"
#include "cli/TargetPlan.h"
#include "core/FileBytes.h"
#include "core/ReadAgain.h"
#include "link/HexText.h"
#include "memory/DumpLine.h"
#include "programming/IntelHex.h"

namespace varnel::cli {
namespace {

OutcomeKind KindOf(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::BadFile: return OutcomeKind::BadFile;
    case ErrorKind::Refused: return OutcomeKind::TargetRefused;
    case ErrorKind::VerifyFailed: return OutcomeKind::VerifyDifferences;
    case ErrorKind::NoAnswer: return OutcomeKind::NoAnswer;
    case ErrorKind::Damaged: return OutcomeKind::DamagedReplies;
    case ErrorKind::PortError: return OutcomeKind::PortFailed;
    case ErrorKind::RecordLost: return OutcomeKind::NotStored;
    case ErrorKind::Interrupted: return OutcomeKind::Interrupted;
  }
  return OutcomeKind::TargetRefused;
}

// Until it goes, a stop signal cancels the target's run in flight.
class StopWatch {
 public:
  explicit StopWatch(varnel::Target& target)
      : thread_([this, &target, stops = StopSignalPipe()] {
          while (!done_) {
            pollfd fd{stops, POLLIN, 0};
            if (stops >= 0 && ::poll(&fd, 1, 50) > 0) {
              char byte = 0;
              while (::read(stops, &byte, 1) == 1) {
              }
              target.cancel();
            } else if (stops < 0) {
              ::usleep(50000);
            }
          }
        }) {}
  ~StopWatch() {
    done_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> done_{false};
  std::thread thread_;
};

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


varnel::Memory MemoryOf(MemoryKind kind) {
  switch (kind) {
    case MemoryKind::ExtRAM: return varnel::Memory::Xdata;
    case MemoryKind::IRAM: return varnel::Memory::Iram;
    case MemoryKind::SFR: return varnel::Memory::Sfr;
    case MemoryKind::Cfg: return varnel::Memory::Config;
    default: return varnel::Memory::Code;
  }
}

std::string Address(std::uint32_t address) { return HD16Prev(address) + "h"; }

// info: the target as "key: value" lines.
void RunInfo(const varnel::Info& info, const TargetPlan& p) {
  std::printf("port: %s\n", p.device.c_str());
  std::printf("baud: %d\n", p.baud);
  std::printf("target: %s\n", info.chip.c_str());
  // A loader that was awake already answers with its prompt, not its banner.
  std::printf("firmware: %s\n", info.firmware.empty() ? "unknown" : info.firmware.c_str());
  std::printf("id: %s\n", HDPrev(info.id).c_str());
  std::printf("clock_hz: %u\n", info.clock_hz);
  std::printf("clock_step_hz: %u\n", info.clock_step_hz);
  std::printf("flash_bytes: %u\n", info.flash_bytes);
  std::fflush(stdout);
}

// read: the range from the connected target into the request's file, or
// dumped on standard output.
void RunRead(const ReadRequest& r, varnel::Target& target, StepLines& steps, Screen& screen) {
  const MemoryInfo& entry = *r.entry;
  const varnel::Info& info = *target.info();
  std::uint32_t to = r.to;
  if (entry.kind == MemoryKind::Code) {
    const std::uint32_t flash = info.flash_bytes;
    if (!r.toGiven) to = flash - 1;
    if (to >= flash || r.from > to) {
      throw CliFailure(OutcomeKind::Refused, "the range " + Address(r.from) + "-" + Address(to) +
                                                 " lies beyond the " + std::to_string(flash / 1024) +
                                                 " KB flash of the " + info.chip);
    }
  }
  varnel::ReadOptions options;
  options.twice = r.twice;
  options.progress = [&steps](std::size_t done, std::size_t) { steps.Move(done); };
  const std::vector<std::uint8_t> bytes = target.read(MemoryOf(entry.kind), r.from, to, options);
  steps.End();

  if (r.format == ReadRequest::Format::Dump) {
    MemoryImage image(static_cast<std::size_t>(entry.size));
    for (std::uint32_t at = r.from; at <= to; ++at) image.Write(at - entry.targetBase, bytes[at - r.from]);
    PrintDump(image, entry, r.from, to);
    std::fflush(stdout);
    return;
  }
  const std::string text = r.format == ReadRequest::Format::Hex
                               ? WriteIntelHex(bytes, r.from)
                               : std::string(bytes.begin(), bytes.end());
  std::string error;
  if (!ReplaceFileAtomically(r.output, text, &error)) {
    throw CliFailure(OutcomeKind::BadFile, "cannot write " + r.output + ": " + error);
  }
  screen.Note("wrote " + std::to_string(bytes.size()) + " bytes of " + entry.name + " (" +
              Address(r.from) + "-" + Address(to) + ") to " + r.output);
}

// The first differing addresses, one a line, and how many there are.
constexpr std::size_t kShown = 10;

// verify: every address the file writes read back and compared.
void RunVerify(const TargetPlan& p, varnel::Target& target, StepLines& steps, BoardFacts& facts) {
  varnel::Image image;
  for (auto it = p.data->begin(); it != p.data->end();) {
    const std::uint32_t first = it->first;
    std::vector<std::uint8_t> run;
    for (std::uint32_t next = first; it != p.data->end() && it->first == next; ++it, ++next) {
      run.push_back(it->second);
    }
    image.put(first, run);
  }
  const auto found = target.verify(image, [&steps](std::size_t done, std::size_t) { steps.Move(done); });
  steps.End();
  for (std::size_t k = 0; k < found.size() && k < kShown; ++k) {
    std::printf("%sh: file %sh, target %sh\n", HD16Prev(found[k].address).c_str(),
                HDPrev(found[k].expected).c_str(), HDPrev(found[k].actual).c_str());
  }
  const std::string size = std::to_string(image.size());
  if (found.empty()) {
    std::printf("verify: %s bytes match %s\n", size.c_str(), p.fileName.c_str());
    std::fflush(stdout);
    facts.verified = true;
    return;
  }
  const std::string differ = std::to_string(found.size());
  std::printf("verify: %s of %s bytes differ from %s\n", differ.c_str(), size.c_str(), p.fileName.c_str());
  std::fflush(stdout);
  Outcome outcome{OutcomeKind::VerifyDifferences, "verify: " + differ + " bytes differ from " + p.fileName};
  outcome.address = found.front().address;
  outcome.compared = image.size();
  outcome.differing = found.size();
  throw CliFailure(outcome);
}

// blank-check: the whole flash read; every byte FFh, or the first
// differing addresses and their count. A cell that reads other than FFh is
// read twice more before it counts, as a verify does.
void RunBlankCheck(varnel::Target& target, StepLines& steps) {
  const std::uint32_t flash = target.info()->flash_bytes;
  const auto found = target.verify(varnel::Image::from_bytes(std::vector<std::uint8_t>(flash, 0xFF)),
                                   [&steps](std::size_t done, std::size_t) { steps.Move(done); });
  steps.End();
  for (std::size_t k = 0; k < found.size() && k < kShown; ++k) {
    std::printf("%sh: %sh\n", HD16Prev(found[k].address).c_str(), HDPrev(found[k].actual).c_str());
  }
  if (found.empty()) {
    std::printf("blank-check: all %u bytes are FFh\n", flash);
    std::fflush(stdout);
    return;
  }
  const std::string text = "blank-check: " + std::to_string(found.size()) + " of " +
                           std::to_string(flash) + " bytes are not FFh";
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
  Outcome outcome{OutcomeKind::VerifyDifferences, text};
  outcome.compared = flash;
  outcome.differing = found.size();
  throw CliFailure(outcome);
}

// program: the file as loaded once, its download with the erased records
// left out unless asked, a serial number taken only once the board is
// erased, and --verify's read-back with its own report.
void RunProgram(const TargetPlan& p, varnel::Target& target, StepLines& steps, Screen& screen,
                BoardFacts& facts) {
  if (p.checkFlash) p.checkFlash(target.info()->flash_bytes);
  varnel::Image image = varnel::Image::load(p.programFile);
  if (!p.endRecord) {
    screen.Warn(image.name() + " has no end record; \":00000001FF\" is sent after its last line");
  }
  varnel::ProgramOptions options;
  options.verify = false;  // read back below, with the verify's own report
  options.mass_erase = p.massErase;
  options.erase_config = p.eraseConfig;
  options.write_flash = p.writeFlash;
  options.write_config = p.writeConfig;
  options.hcr0 = p.hcr0;
  options.hcr1 = p.hcr1;
  options.skip_erased = !p.sendAll;
  // The line opens with the download, after the erase.
  const std::string label = "programming " + image.name();
  bool open = false;
  options.progress = [&](std::size_t done, std::size_t total) {
    if (!open) {
      steps.Start(label, total);
      open = true;
    }
    steps.Move(done);
  };
  std::optional<std::string> number;
  if (p.takeSerial) {
    options.before_download = [&](varnel::Image& sent) {
      try {
        const auto [serial, bytes] = p.takeSerial();
        facts.serial = serial;  // the board has it now, however its run ends
        number = bytes;
        sent.put(p.serialAddress, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
      } catch (const CliFailure& f) {
        const Outcome& o = f.outcome();
        if (o.kind == OutcomeKind::BadFile) throw varnel::BadFile(o.text);
        if (o.kind == OutcomeKind::NotStored) throw varnel::RecordLost(o.text);
        throw varnel::Refused(o.text);
      }
    };
  }
  // However the run ends, the record says what its download put into the
  // flash, and an open line shows its final figures.
  const auto counted = [&] {
    try {
      const varnel::ProgramResult d = target.last_download();
      facts.bytesWritten = d.bytes_written;
      facts.bytesSent = d.bytes_sent;
      return d;
    } catch (const std::exception&) {
      return varnel::ProgramResult{};
    }
  };
  try {
    target.program(image, options);
  } catch (...) {
    counted();
    steps.End();
    throw;
  }
  const varnel::ProgramResult d = counted();
  std::string detail = ", " + std::to_string(d.bytes_sent) + " sent";
  if (d.bytes_skipped > 0) detail += " (" + std::to_string(d.bytes_skipped) + " erased bytes skipped)";
  steps.End(detail);
  steps.Restart();
  if (!p.verify) return;
  if (number) image.put(p.serialAddress, std::vector<std::uint8_t>(number->begin(), number->end()));
  TargetPlan check = p;
  check.fileName = image.name();
  std::map<std::uint32_t, std::uint8_t> data;
  for (const varnel::Range& run : image.ranges()) {
    const std::vector<std::uint8_t> bytes = image.get(run.first, run.last - run.first + 1);
    for (std::uint32_t at = run.first; at <= run.last; ++at) data[at] = bytes[at - run.first];
  }
  check.data = &data;
  RunVerify(check, target, steps, facts);
}

}  // namespace

Outcome RunTargetPlan(const TargetPlan& p, Screen& screen, BoardFacts& facts) {
  StepLines steps(screen);  // outlives the target, whose messages it takes
  std::unique_ptr<varnel::Target> target;
  Outcome outcome;
  try {
    // The user's own power cycle, once per board, before its wake-up.
    if (!p.resetCommand.empty()) RunResetCommand(p.resetCommand, screen, p.quiet);
    varnel::TargetOptions options;
    options.baud = p.baud;
    options.reset = p.reset;
    options.clock_hz = p.crystalHz;
    options.timeout_ms = p.timeoutMs;
    options.trace_path = p.trace;
    options.on_message = [&screen, &steps, &p](const varnel::Message& m) {
      switch (m.kind) {
        case varnel::Message::Kind::Step:
          // A blank check reads the flash back against an erased image.
          if (p.command == TargetPlan::Command::BlankCheck && m.text.rfind("verifying ", 0) == 0) {
            steps.Start("reading " + m.text.substr(10), m.bytes);
          } else {
            steps.Start(m.text, m.bytes);
          }
          break;
        case varnel::Message::Kind::Notice: screen.Note(m.text); break;
        case varnel::Message::Kind::Warning: screen.Warn(m.text); break;
      }
    };
    target = std::make_unique<varnel::Target>(p.port, options);
    const StopWatch stops(*target);
    const varnel::Info info = target->connect();
    facts.connected = true;
    facts.target = info.chip;
    facts.id = HDPrev(info.id);
    facts.firmware = info.firmware;
    facts.clockHz = static_cast<long>(info.clock_hz);
    char clock[32];
    std::snprintf(clock, sizeof clock, "%.2f", info.clock_hz / 1e6);
    // A loader that was awake already answers with its prompt, not its banner.
    const std::string loader = info.firmware.empty() ? "loader awake already" : "loader " + info.firmware;
    screen.Note("connected: " + info.chip + " on " + p.device + " at " + std::to_string(p.baud) + " baud, " + loader +
                ", clock about " + clock + " MHz");
    // Said where the clock counts: info reports it, the flash timing uses it.
    using C = TargetPlan::Command;
    if (p.command == C::Info || p.command == C::Erase || p.command == C::Program) {
      for (const std::string& warning :
           ClockWarnings(static_cast<std::int32_t>(info.clock_hz), p.baud, p.clockOption)) {
        screen.Warn(warning);
      }
    }

    using E = TargetPlan::Erase;
    switch (p.command) {
      case C::Info:
        RunInfo(info, p);
        if (info.firmware.empty()) {
          screen.Note("the loader was awake already; resetting the board shows its banner with the firmware version");
        }
        break;
      case C::Read: RunRead(*p.read, *target, steps, screen); break;
      case C::Verify: RunVerify(p, *target, steps, facts); break;
      case C::BlankCheck: RunBlankCheck(*target, steps); break;
      case C::Program: RunProgram(p, *target, steps, screen, facts); break;
      case C::Erase:
        target->erase(p.erase == E::CfgOnly   ? varnel::EraseScope::Config
                      : p.erase == E::WithCfg ? varnel::EraseScope::FlashAndConfig
                                              : varnel::EraseScope::Flash);
        screen.Note(p.erase == E::Flash     ? "erased the flash"
                    : p.erase == E::CfgOnly ? "erased the configuration page"
                                            : "erased the flash and the configuration page");
        break;
    }
  } catch (const CliFailure& f) {
    outcome = f.outcome();
  } catch (const varnel::Error& e) {
    outcome = {KindOf(e.kind()), e.what()};
    outcome.address = e.address();
  } catch (const std::exception& e) {
    outcome = {OutcomeKind::TargetRefused, e.what()};
  }
  steps.End();
  // However a run ends, it says how many damaged replies it read again.
  if (target) {
    try {
      const std::string again = ReadAgainText(target->replies_read_again());
      if (!again.empty()) screen.Note(again);
    } catch (const std::exception&) {
    }
  }
  return outcome;
}

}  // namespace varnel::cli
