// Parsing the flags of varnel-target-sim into the simulator's options.
#include "Options.h"

#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

namespace varnel::sim {

const char kUsage[] = R"(Usage: varnel-target-sim [OPTION]...
Simulates the MSC1210 serial boot loader on a pseudo-terminal. The first line
printed is the device path of the terminal; open it with Varnel like a serial
port, or type commands by hand with
  varnel-cli -p $XDG_RUNTIME_DIR/varnel-target terminal
(press Enter first for the banner; commands need no Enter: CR0000, RRE9, E).
Runs until interrupted (Ctrl+C or SIGTERM).

Chip:
  --variant Y2|Y3|Y4|Y5     flash of 4, 8, 16 or 32 KB (default Y5)
  --id HH                   identification register E9h in hex (default from
                            the variant: Y2 00 ... Y5 03; 04-07 is an MSC1211)
  --clock HZ                core clock in Hz (default 11059200)
  --baud N                  line rate for the baud-timer reload and pacing
                            (default: the rate the host sets on the line)
  --version TEXT            loader version after the ':' of the banner
Replies:
  --no-echo                 start with echo off ("E" turns it off anyway)
  --no-leading-crlf         data replies begin with the data, not CR LF
  --delay MS                wait MS milliseconds before each reply
  --paced                   send and receive at the line rate, 10 bits a byte
                            each way
  --chunk N[,GAP]           send replies in pieces of N bytes, GAP ms apart
                            (default 5)
Faults (commands count from the start; every carriage return, command and
programming line is one):
  --nul K[,POS[,keep]]      the reply to command K gets a NUL after POS bytes
                            (default 1); the rest of it is lost unless "keep"
  --silent-after N          answer nothing after N commands
  --refuse-erase            erase commands answer "x"
  --refuse-config-write     configuration writes answer "x"
  --line-error K,X|E|empty  programming line K of each download (1 = the line
                            sent with "L") is answered so
  --babble-after N          endless text without a prompt after N commands
  --hang-up-after N         close the line when command N+1 arrives
  --weak-cell ADDR[:MASK]   a programming line that writes the flash cell at
                            hex ADDR leaves the bits of hex MASK (default 01)
                            the opposite of what it wrote, and is answered "."
                            all the same; a read shows the difference
  --unerased-cell ADDR[:VALUE]  the erase of the flash leaves the cell at hex
                            ADDR at hex VALUE (default 00) instead of FFh
  --damage RATE[,FROM[,SEED]]  damage read replies (CR, XR, IR, F, RR) as a
                            noisy line does: each with probability RATE (0.01
                            is one in a hundred, 1 every one), from command
                            FROM on (default 1), the choices seeded with SEED
                            (default 1) so a run can be repeated; one data
                            digit of a damaged reply is lost, doubled, turned
                            into a letter that is no hex digit, or turned into
                            ">" with the reply then sent in two pieces
  --damage-ways LIST        the ways to damage, comma-separated: drop, double,
                            letter, prompt (the default: all four), and digit:
                            a digit turned into another digit, which only a
                            second read can reveal
Replay:
  --replay TRACE            play the target's side of a trace written by
                            varnel-cli --trace or the trace window's "Save...":
                            each time the host sends the bytes of the next
                            ">" line, the "<" lines after it follow with their
                            recorded timing. When the host sends something
                            else, the trace line, what it holds and what came
                            are reported and the simulator exits with status
                            1. No chip, reply, fault or memory option applies
Memories and files:
  --load MEM=FILE[@ADDR]    preload a memory from a binary file, at hex ADDR;
                            MEM is code, xram, iram, sfr or config
  --dump FILE               write all memories to FILE at exit and on SIGUSR1
  --link PATH               keep a symlink to the device at PATH
                            (default $XDG_RUNTIME_DIR/varnel-target; while
                            another simulator keeps that, varnel-target-2,
                            -3, ... and the one taken is said)
  --no-link                 keep no symlink
  -v, --verbose             log every command and reply on standard error
  -h, --help                show this help and exit
Signals: SIGINT and SIGTERM end the simulator, SIGUSR1 writes the dump,
SIGUSR2 resets the loader (it waits for a carriage return again), SIGRTMIN
takes the board away (the line falls silent and the --link disappears),
SIGRTMIN+2 unplugs board and adapter (the terminal closes: the host's reads
and writes fail) and SIGRTMIN+1 puts a new one in (fresh memories, the link
back; after an unplug on a new terminal). A replay
ended before its last line was played exits with status 1 and says where it
stood.
)";

namespace {

long long Number(std::string_view flag, std::string_view text, int base = 10) {
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc() || end != text.data() + text.size() || value < 0) {
    throw std::invalid_argument(std::string(flag) + " needs a " + (base == 16 ? "hex " : "") +
                                "number, not '" + std::string(text) + "'");
  }
  return value;
}

int Count(std::string_view flag, std::string_view text) {
  const long long value = Number(flag, text);
  if (value > 1'000'000'000) throw std::invalid_argument(std::string(flag) + " is too large");
  return static_cast<int>(value);
}

// Splits "a,b,c" at the commas.
std::vector<std::string_view> Fields(std::string_view text) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (std::size_t comma; (comma = text.find(',', start)) != std::string_view::npos; start = comma + 1) {
    fields.push_back(text.substr(start, comma - start));
  }
  fields.push_back(text.substr(start));
  return fields;
}

// A probability, 0 to 1.
double Rate(std::string_view flag, std::string_view text) {
  const std::string copy(text);
  char* end = nullptr;
  const double rate = std::strtod(copy.c_str(), &end);
  if (copy.empty() || end != copy.c_str() + copy.size() || !(rate >= 0 && rate <= 1)) {
    throw std::invalid_argument(std::string(flag) + " needs a rate from 0 to 1, not '" + copy + "'");
  }
  return rate;
}

unsigned DamageWays(std::string_view text) {
  unsigned ways = 0;
  for (std::string_view name : Fields(text)) {
    if (name == "drop") {
      ways |= kDamageDrop;
    } else if (name == "double") {
      ways |= kDamageDouble;
    } else if (name == "letter") {
      ways |= kDamageLetter;
    } else if (name == "prompt") {
      ways |= kDamagePrompt;
    } else if (name == "digit") {
      ways |= kDamageDigit;
    } else {
      throw std::invalid_argument("--damage-ways: unknown way '" + std::string(name) +
                                  "' (drop, double, letter, prompt or digit)");
    }
  }
  return ways;
}

Memory MemoryNamed(std::string_view name) {
  if (name == "code") return Memory::Code;
  if (name == "xram") return Memory::ExtRam;
  if (name == "iram") return Memory::Iram;
  if (name == "sfr") return Memory::Sfr;
  if (name == "config") return Memory::Config;
  throw std::invalid_argument("--load: unknown memory '" + std::string(name) +
                              "' (code, xram, iram, sfr or config)");
}

Preload ParsePreload(std::string_view text) {
  const std::size_t eq = text.find('=');
  if (eq == std::string_view::npos || eq + 1 == text.size()) {
    throw std::invalid_argument("--load needs MEM=FILE[@ADDR], not '" + std::string(text) + "'");
  }
  Preload preload{MemoryNamed(text.substr(0, eq)), std::string(text.substr(eq + 1)), 0};
  const std::size_t at = preload.file.rfind('@');
  if (at != std::string::npos) {
    preload.address = static_cast<std::size_t>(Number("--load", std::string_view(preload.file).substr(at + 1), 16));
    preload.file.resize(at);
  }
  return preload;
}

}  // namespace

std::string DefaultLinkPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') return std::string(runtime) + "/varnel-target";
  return "/tmp/varnel-target-" + std::to_string(getuid());
}

CliOptions ParseOptions(int argc, char** argv) {
  CliOptions options;
  options.link = DefaultLinkPath();
  TargetSimConfig& c = options.config;
  for (int i = 1; i < argc; ++i) {
    const std::string_view flag = argv[i];
    const auto value = [&]() -> std::string_view {
      if (i + 1 >= argc) throw std::invalid_argument(std::string(flag) + " needs a value");
      return argv[++i];
    };
    if (flag != "-h" && flag != "--help" && flag != "-v" && flag != "--verbose" &&
        flag != "--link" && flag != "--no-link" && flag != "--replay") {
      options.loaderOption = flag;
    }
    if (flag == "-h" || flag == "--help") {
      options.help = true;
    } else if (flag == "-v" || flag == "--verbose") {
      options.verbose = true;
    } else if (flag == "--variant") {
      const std::string_view v = value();
      const std::string_view digit = (v.size() == 2 && (v[0] == 'Y' || v[0] == 'y')) ? v.substr(1) : v;
      if (digit.size() != 1 || digit[0] < '2' || digit[0] > '5') {
        throw std::invalid_argument("--variant is one of Y2, Y3, Y4, Y5, not '" + std::string(v) + "'");
      }
      c.variant = digit[0] - '0';
    } else if (flag == "--id") {
      const long long id = Number(flag, value(), 16);
      if (id > 0xFF) throw std::invalid_argument("--id is a byte (00-FF)");
      c.idValue = static_cast<int>(id);
    } else if (flag == "--clock") {
      c.clockHz = Number(flag, value());
      if (c.clockHz <= 0 || c.clockHz > 100'000'000) throw std::invalid_argument("--clock is 1 Hz to 100 MHz");
    } else if (flag == "--baud") {
      c.baud = Count(flag, value());
    } else if (flag == "--version") {
      c.version = value();
    } else if (flag == "--no-echo") {
      c.echo = false;
    } else if (flag == "--no-leading-crlf") {
      c.leadingCrLf = false;
    } else if (flag == "--delay") {
      c.replyDelayMs = Count(flag, value());
    } else if (flag == "--paced") {
      c.paced = true;
    } else if (flag == "--chunk") {
      const auto f = Fields(value());
      if (f.size() > 2) throw std::invalid_argument("--chunk needs N or N,GAP");
      c.chunkSize = Count(flag, f[0]);
      if (f.size() == 2) c.chunkGapMs = Count(flag, f[1]);
    } else if (flag == "--nul") {
      const auto f = Fields(value());
      if (f.size() > 3 || (f.size() == 3 && f[2] != "keep")) {
        throw std::invalid_argument("--nul needs K, K,POS or K,POS,keep");
      }
      c.nulAtCommand = Count(flag, f[0]);
      if (f.size() >= 2) c.nulOffset = Count(flag, f[1]);
      c.nulTruncates = f.size() < 3;
    } else if (flag == "--silent-after") {
      c.silentAfter = Count(flag, value());
    } else if (flag == "--refuse-erase") {
      c.refuseErase = true;
    } else if (flag == "--refuse-config-write") {
      c.refuseConfigWrite = true;
    } else if (flag == "--line-error") {
      const auto f = Fields(value());
      if (f.size() != 2) throw std::invalid_argument("--line-error needs K,X or K,E or K,empty");
      c.lineErrorAt = Count(flag, f[0]);
      if (f[1] == "X") {
        c.lineError = LineError::WriteError;
      } else if (f[1] == "E") {
        c.lineError = LineError::ChecksumError;
      } else if (f[1] == "empty") {
        c.lineError = LineError::Empty;
      } else {
        throw std::invalid_argument("--line-error answers X, E or empty, not '" + std::string(f[1]) + "'");
      }
    } else if (flag == "--babble-after") {
      c.babbleAfter = Count(flag, value());
    } else if (flag == "--hang-up-after") {
      c.hangUpAfter = Count(flag, value());
    } else if (flag == "--weak-cell") {
      const std::string_view v = value();
      const std::size_t colon = v.find(':');
      const long long address = Number(flag, v.substr(0, colon), 16);
      if (address > 0x7FFF) throw std::invalid_argument("--weak-cell is a flash address (0000-7FFF)");
      c.weakCellAddress = static_cast<int>(address);
      if (colon != std::string_view::npos) {
        const long long mask = Number(flag, v.substr(colon + 1), 16);
        if (mask < 0x01 || mask > 0xFF) throw std::invalid_argument("--weak-cell mask is 01-FF");
        c.weakCellMask = static_cast<int>(mask);
      }
    } else if (flag == "--unerased-cell") {
      const std::string_view v = value();
      const std::size_t colon = v.find(':');
      const long long address = Number(flag, v.substr(0, colon), 16);
      if (address > 0x7FFF) throw std::invalid_argument("--unerased-cell is a flash address (0000-7FFF)");
      c.unerasedCellAddress = static_cast<int>(address);
      if (colon != std::string_view::npos) {
        const long long cell = Number(flag, v.substr(colon + 1), 16);
        if (cell > 0xFF) throw std::invalid_argument("--unerased-cell value is 00-FF");
        c.unerasedCellValue = static_cast<int>(cell);
      }
    } else if (flag == "--damage") {
      const std::string_view v = value();
      const auto f = Fields(v);
      if (f.size() > 3) throw std::invalid_argument("--damage needs RATE, RATE,FROM or RATE,FROM,SEED");
      c.damageRate = Rate(flag, f[0]);
      if (f.size() >= 2) c.damageFrom = Count(flag, f[1]);
      if (f.size() == 3) c.damageSeed = static_cast<unsigned>(Count(flag, f[2]));
    } else if (flag == "--damage-ways") {
      c.damageWays = DamageWays(value());
    } else if (flag == "--load") {
      options.preloads.push_back(ParsePreload(value()));
    } else if (flag == "--dump") {
      options.dumpFile = value();
    } else if (flag == "--link") {
      options.link = value();
      options.linkDefaulted = false;
    } else if (flag == "--no-link") {
      options.link.clear();
      options.linkDefaulted = false;
    } else if (flag == "--replay") {
      options.replay = value();
    } else {
      throw std::invalid_argument("unknown option '" + std::string(flag) + "' (see --help)");
    }
  }
  if (!options.replay.empty() && !options.loaderOption.empty()) {
    throw std::invalid_argument("--replay plays the trace as recorded; " + options.loaderOption +
                                " does not apply to it");
  }
  return options;
}

}  // namespace varnel::sim
