// Parsing the flags of varnel-target-sim into the simulator's options, and
// its help: both from the one set of option definitions below.
#include "Options.h"

#include <unistd.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string_view>

namespace varnel::sim {

namespace {

constexpr char kChip[] = "Chip", kReplies[] = "Replies",
               kFaults[] = "Faults (commands count from the start; every carriage return, command "
                           "and programming line is one)",
               kReplay[] = "Replay", kFiles[] = "Memories and files";

// Every option: its names, the label of its value, its group and its help.
// The values land in text, by option name, and are checked once all are in.
void Define(CLI::App& app, CliOptions& options, std::map<std::string, std::string>& text,
            std::vector<std::string>& loads) {
  app.set_help_flag();
  app.allow_extras();  // named in our own words
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  const auto value = [&](const std::string& name, const char* label, const char* group,
                         const char* help) {
    app.add_option(name, text[name], help)->type_name(label)->group(group);
  };
  const auto flag = [&](const std::string& name, const char* group, const char* help) {
    app.add_flag(name)->description(help)->group(group)->disable_flag_override();
  };
  value("--variant", "Y2|Y3|Y4|Y5", kChip, "flash of 4, 8, 16 or 32 KB (default Y5)");
  value("--id", "HH", kChip,
        "identification register E9h in hex (default from the variant: Y2 00 ... Y5 03; 04-07 "
        "is an MSC1211)");
  value("--clock", "HZ", kChip, "core clock in Hz (default 11059200)");
  value("--baud", "N", kChip,
        "line rate for the baud-timer reload and pacing (default: the rate the host sets on the "
        "line)");
  value("--version", "TEXT", kChip, "loader version after the ':' of the banner");
  flag("--no-echo", kReplies, "start with echo off (\"E\" turns it off anyway)");
  flag("--no-leading-crlf", kReplies, "data replies begin with the data, not CR LF");
  value("--delay", "MS", kReplies, "wait MS milliseconds before each reply");
  flag("--paced", kReplies, "send and receive at the line rate, 10 bits a byte each way");
  value("--chunk", "N[,GAP]", kReplies, "send replies in pieces of N bytes, GAP ms apart (default 5)");
  value("--nul", "K[,POS[,keep]]", kFaults,
        "the reply to command K gets a NUL after POS bytes (default 1); the rest of it is lost "
        "unless \"keep\"");
  value("--silent-after", "N", kFaults, "answer nothing after N commands");
  flag("--refuse-erase", kFaults, "erase commands answer \"x\"");
  flag("--refuse-config-write", kFaults, "configuration writes answer \"x\"");
  value("--line-error", "K,X|E|empty", kFaults,
        "programming line K of each download (1 = the line sent with \"L\") is answered so");
  value("--babble-after", "N", kFaults, "endless text without a prompt after N commands");
  value("--hang-up-after", "N", kFaults, "close the line when command N+1 arrives");
  value("--weak-cell", "ADDR[:MASK]", kFaults,
        "a programming line that writes the flash cell at hex ADDR leaves the bits of hex MASK "
        "(default 01) the opposite of what it wrote, and is answered \".\" all the same; a read "
        "shows the difference");
  value("--unerased-cell", "ADDR[:VALUE]", kFaults,
        "the erase of the flash leaves the cell at hex ADDR at hex VALUE (default 00) instead of "
        "FFh");
  value("--damage", "RATE[,FROM[,SEED]]", kFaults,
        "damage read replies (CR, XR, IR, F, RR) as a noisy line does: each with probability "
        "RATE (0.01 is one in a hundred, 1 every one), from command FROM on (default 1), the "
        "choices seeded with SEED (default 1) so a run can be repeated; one data digit of a "
        "damaged reply is lost, doubled, turned into a letter that is no hex digit, or turned "
        "into \">\" with the reply then sent in two pieces");
  value("--damage-ways", "LIST", kFaults,
        "the ways to damage, comma-separated: drop, double, letter, prompt (the default: all "
        "four), and digit: a digit turned into another digit, which only a second read can "
        "reveal");
  value("--replay", "TRACE", kReplay,
        "play the target's side of a trace written by varnel-cli --trace or the trace window's "
        "\"Save...\": each time the host sends the bytes of the next \">\" line, the \"<\" lines "
        "after it follow with their recorded timing. When the host sends something else, the "
        "trace line, what it holds and what came are reported and the simulator exits with "
        "status 1. No chip, reply, fault or memory option applies");
  app.add_option("--load", loads,
                 "preload a memory from a binary file, at hex ADDR; MEM is code, xram, iram, sfr "
                 "or config")
      ->type_name("MEM=FILE[@ADDR]")
      ->group(kFiles)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  value("--dump", "FILE", kFiles, "write all memories to FILE at exit and on SIGUSR1");
  value("--link", "PATH", kFiles,
        "keep a symlink to the device at PATH (default $XDG_RUNTIME_DIR/varnel-target; while "
        "another simulator keeps that, varnel-target-2, -3, ... and the one taken is said)");
  flag("--no-link", kFiles, "keep no symlink");
  app.add_flag("-v,--verbose", options.verbose, "log every command and reply on standard error")
      ->group(kFiles)
      ->disable_flag_override();
  app.add_flag("-h,--help", options.help, "show this help and exit")
      ->group(kFiles)
      ->disable_flag_override();
}

// TEXT wrapped to the help's width after PREFIX, its further lines from
// column AT.
std::string Wrapped(std::string out, std::size_t at, std::string_view text) {
  std::size_t column = out.size();
  bool first = true;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find(' ', start), text.size());
    const std::string_view word = text.substr(start, end - start);
    if (!first && column + 1 + word.size() > 78) {
      out += '\n' + std::string(at, ' ');
      column = at;
    } else if (!first) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    first = false;
    start = end + 1;
  }
  return out + '\n';
}

constexpr char kIntro[] = R"(Usage: varnel-target-sim [OPTION]...
Simulates the MSC1210 serial boot loader on a pseudo-terminal. The first line
printed is the device path of the terminal; open it with Varnel like a serial
port, or type commands by hand with
  varnel-cli -p $XDG_RUNTIME_DIR/varnel-target terminal
(press Enter first for the banner; commands need no Enter: CR0000, RRE9, E).
Runs until interrupted (Ctrl+C or SIGTERM).

)";

constexpr char kSignals[] =
    "Signals: SIGINT and SIGTERM end the simulator, SIGUSR1 writes the dump, SIGUSR2 resets the "
    "loader (it waits for a carriage return again), SIGRTMIN takes the board away (the line "
    "falls silent and the --link disappears), SIGRTMIN+2 unplugs board and adapter (the "
    "terminal closes: the host's reads and writes fail) and SIGRTMIN+1 puts a new one in (fresh "
    "memories, the link back; after an unplug on a new terminal). A replay ended before its last "
    "line was played exits with status 1 and says where it stood.";

// The help: each group of options under its heading.
class Layout : public CLI::FormatterBase {
 public:
  std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
    std::string help = kIntro, group;
    for (const CLI::Option* opt : app->get_options()) {
      if (opt->get_group() != group) {
        group = opt->get_group();
        help += Wrapped("", 0, group + ":");
      }
      std::string label;
      for (const std::string& s : opt->get_snames()) label += (label.empty() ? "  -" : ", -") + s;
      for (const std::string& l : opt->get_lnames()) label += (label.empty() ? "  --" : ", --") + l;
      if (const std::string type = opt->get_type_name(); !type.empty()) label += " " + type;
      label.resize(std::max<std::size_t>(label.size() + 2, 28), ' ');
      help += Wrapped(label, 28, opt->get_description());
    }
    return help + Wrapped("", 0, kSignals);
  }
};

// CLI11's own words for a malformed command line, in ours.
std::string InOurWords(const CLI::ParseError& e) {
  const std::string what = e.what();
  if (const auto at = what.find(" was given a disallowed flag override"); at != std::string::npos) {
    return "--" + what.substr(0, at) + " takes no value";
  }
  if (const auto colon = what.find(':'); colon != std::string::npos &&
                                         what.find(" required ") != std::string::npos) {
    return what.substr(0, colon) + " needs a value";
  }
  return what + " (see --help)";
}


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

std::string UsageText() {
  CliOptions options;
  std::map<std::string, std::string> text;
  std::vector<std::string> loads;
  CLI::App app;
  Define(app, options, text, loads);
  app.formatter(std::make_shared<Layout>());
  return app.help();
}

CliOptions ParseOptions(int argc, char** argv) {
  CliOptions options;
  std::map<std::string, std::string> text;
  std::vector<std::string> loads;
  CLI::App app;
  Define(app, options, text, loads);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    throw std::invalid_argument(InOurWords(e));
  }
  if (const std::vector<std::string> extra = app.remaining(); !extra.empty()) {
    throw std::invalid_argument("unknown option '" + extra.front() + "' (see --help)");
  }

  options.link = DefaultLinkPath();
  TargetSimConfig& c = options.config;
  const auto given = [&](const char* flag) { return app.count(flag) > 0; };
  if (given("--variant")) {
    const std::string_view v = text["--variant"];
    const std::string_view digit = (v.size() == 2 && (v[0] == 'Y' || v[0] == 'y')) ? v.substr(1) : v;
    if (digit.size() != 1 || digit[0] < '2' || digit[0] > '5') {
      throw std::invalid_argument("--variant is one of Y2, Y3, Y4, Y5, not '" + std::string(v) + "'");
    }
    c.variant = digit[0] - '0';
  }
  if (given("--id")) {
    const long long id = Number("--id", text["--id"], 16);
    if (id > 0xFF) throw std::invalid_argument("--id is a byte (00-FF)");
    c.idValue = static_cast<int>(id);
  }
  if (given("--clock")) {
    c.clockHz = Number("--clock", text["--clock"]);
    if (c.clockHz <= 0 || c.clockHz > 100'000'000) throw std::invalid_argument("--clock is 1 Hz to 100 MHz");
  }
  if (given("--baud")) c.baud = Count("--baud", text["--baud"]);
  if (given("--version")) c.version = text["--version"];
  if (given("--no-echo")) c.echo = false;
  if (given("--no-leading-crlf")) c.leadingCrLf = false;
  if (given("--delay")) c.replyDelayMs = Count("--delay", text["--delay"]);
  if (given("--paced")) c.paced = true;
  if (given("--chunk")) {
    const auto f = Fields(text["--chunk"]);
    if (f.size() > 2) throw std::invalid_argument("--chunk needs N or N,GAP");
    c.chunkSize = Count("--chunk", f[0]);
    if (f.size() == 2) c.chunkGapMs = Count("--chunk", f[1]);
  }
  if (given("--nul")) {
    const auto f = Fields(text["--nul"]);
    if (f.size() > 3 || (f.size() == 3 && f[2] != "keep")) {
      throw std::invalid_argument("--nul needs K, K,POS or K,POS,keep");
    }
    c.nulAtCommand = Count("--nul", f[0]);
    if (f.size() >= 2) c.nulOffset = Count("--nul", f[1]);
    c.nulTruncates = f.size() < 3;
  }
  if (given("--silent-after")) c.silentAfter = Count("--silent-after", text["--silent-after"]);
  if (given("--refuse-erase")) c.refuseErase = true;
  if (given("--refuse-config-write")) c.refuseConfigWrite = true;
  if (given("--line-error")) {
    const auto f = Fields(text["--line-error"]);
    if (f.size() != 2) throw std::invalid_argument("--line-error needs K,X or K,E or K,empty");
    c.lineErrorAt = Count("--line-error", f[0]);
    if (f[1] == "X") {
      c.lineError = LineError::WriteError;
    } else if (f[1] == "E") {
      c.lineError = LineError::ChecksumError;
    } else if (f[1] == "empty") {
      c.lineError = LineError::Empty;
    } else {
      throw std::invalid_argument("--line-error answers X, E or empty, not '" + std::string(f[1]) + "'");
    }
  }
  if (given("--babble-after")) c.babbleAfter = Count("--babble-after", text["--babble-after"]);
  if (given("--hang-up-after")) c.hangUpAfter = Count("--hang-up-after", text["--hang-up-after"]);
  if (given("--weak-cell")) {
    const std::string_view v = text["--weak-cell"];
    const std::size_t colon = v.find(':');
    const long long address = Number("--weak-cell", v.substr(0, colon), 16);
    if (address > 0x7FFF) throw std::invalid_argument("--weak-cell is a flash address (0000-7FFF)");
    c.weakCellAddress = static_cast<int>(address);
    if (colon != std::string_view::npos) {
      const long long mask = Number("--weak-cell", v.substr(colon + 1), 16);
      if (mask < 0x01 || mask > 0xFF) throw std::invalid_argument("--weak-cell mask is 01-FF");
      c.weakCellMask = static_cast<int>(mask);
    }
  }
  if (given("--unerased-cell")) {
    const std::string_view v = text["--unerased-cell"];
    const std::size_t colon = v.find(':');
    const long long address = Number("--unerased-cell", v.substr(0, colon), 16);
    if (address > 0x7FFF) throw std::invalid_argument("--unerased-cell is a flash address (0000-7FFF)");
    c.unerasedCellAddress = static_cast<int>(address);
    if (colon != std::string_view::npos) {
      const long long cell = Number("--unerased-cell", v.substr(colon + 1), 16);
      if (cell > 0xFF) throw std::invalid_argument("--unerased-cell value is 00-FF");
      c.unerasedCellValue = static_cast<int>(cell);
    }
  }
  if (given("--damage")) {
    const auto f = Fields(text["--damage"]);
    if (f.size() > 3) throw std::invalid_argument("--damage needs RATE, RATE,FROM or RATE,FROM,SEED");
    c.damageRate = Rate("--damage", f[0]);
    if (f.size() >= 2) c.damageFrom = Count("--damage", f[1]);
    if (f.size() == 3) c.damageSeed = static_cast<unsigned>(Count("--damage", f[2]));
  }
  if (given("--damage-ways")) c.damageWays = DamageWays(text["--damage-ways"]);
  for (const std::string& load : loads) options.preloads.push_back(ParsePreload(load));
  if (given("--dump")) options.dumpFile = text["--dump"];
  if (given("--replay")) options.replay = text["--replay"];

  // Of --link and --no-link the last given counts; the loader's options are
  // named by the last one typed.
  for (const CLI::Option* opt : app.parse_order()) {
    const std::string name = opt->get_name();
    if (name == "--link") options.link = text["--link"];
    if (name == "--no-link") options.link.clear();
    if (name == "--link" || name == "--no-link") options.linkDefaulted = false;
    if (opt->get_group() != kReplay && opt->get_group() != kFiles) options.loaderOption = name;
    if (name == "--load" || name == "--dump") options.loaderOption = name;
  }
  if (!options.replay.empty() && !options.loaderOption.empty()) {
    throw std::invalid_argument("--replay plays the trace as recorded; " + options.loaderOption +
                                " does not apply to it");
  }
  return options;
}

}  // namespace varnel::sim
