// Parsing the command line of varnel-cli, and its help text: both from the
// one set of option definitions below.
#include "cli/Options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <regex>
#include <span>
#include <string_view>
#include <tuple>
#include <vector>

#include "core/BaudRates.h"
#include "core/Memories.h"
#include "cli/ClockCheck.h"
#include "core/ResetSequence.h"

namespace varnel::cli {

namespace {

constexpr char kGlobal[] = "Options";  // the group of the options every command takes
constexpr std::size_t kWidth = 78;

// A command, and what its part of the help says beyond its own options:
// further forms of its synopsis and the words it takes (db's actions) or a
// mention of an option it shares with another command.
struct CommandInfo {
  Command command;
  std::string name, argument, text;
  std::vector<std::string> forms;
  std::vector<std::pair<std::string, std::string>> topics;
};

const std::vector<CommandInfo>& Commands() {
  static const std::vector<CommandInfo> commands = {
      {Command::Ports, "ports", "",
       "list the serial ports, one a line, tab-separated: name, device, available, busy or no "
       "permission (this user may not open it; on Debian join the group dialout: sudo adduser "
       "$USER dialout), the /dev/serial/by-id name, vendor and model of a USB adapter (\"-\" where "
       "unknown); a running simulator's link too",
       {}, {}},
      {Command::Info, "info", "",
       "print the target as \"key: value\" lines: port, baud, target, firmware (unknown when the "
       "loader was awake already), id (two hex digits), clock_hz, clock_step_hz, flash_bytes. "
       "clock_hz is estimated from the loader's baud timer, in steps of clock_step_hz (32 x "
       "baud); a warning says when a step is more than 5% of the estimate",
       {}, {}},
      {Command::Read, "read", "MEMORY",
       "read a memory: " + MemoryNames() +
           " (the configuration page at 8000h-807Fh, HCR1 at 807Eh, HCR0 at 807Fh); the range "
           "defaults to the whole memory (code: the flash of the connected chip)",
       {}, {}},
      {Command::Program, "program", "FILE",
       "erase, download FILE one record per command and write HCR1/HCR0, with the flash timing "
       "set from the measured clock (or --clock) first. FILE is Intel HEX (.hex, .ihx from SDCC) "
       "or a raw image (.bin, loaded at 0000h; converted in memory, nothing is written beside "
       "it). The file is checked before anything is sent: every record well formed, every "
       "checksum right, every data byte inside the flash, and its end record (:00000001FF) last. "
       "A file without one is what an interrupted download or copy leaves: it is refused (status "
       "2). After the erase of the flash, records whose data bytes are all FFh are not sent: the "
       "erased flash holds them already (the progress counts the bytes FILE holds and those sent)",
       {"[options] program FILE ... -p PORT [-p PORT ...] [--serial ADDR:LEN[:le|be|ascii] "
        "--serial-file FILE] [--loop [--count N]]",
        "[options] program FILE ... --db CONNINFO [--serial ADDR:LEN[:le|be|ascii] "
        "[--serial-counter NAME]]"},
       {}},
      {Command::Verify, "verify", "FILE",
       "read back every address FILE holds data for and compare; prints the first 10 "
       "differences and their count. A block that differs is read twice more: a difference "
       "counts only when every read shows it (also for program --verify). FILE is checked as "
       "for program",
       {},
       {{"--allow-missing-end", "compare with a file without its end record all the same"}}},
      {Command::Erase, "erase", "", "mass erase of the flash", {}, {}},
      {Command::BlankCheck, "blank-check", "",
       "read the whole flash: status 0 when every byte is FFh, otherwise 1 with the first 10 "
       "addresses that are not (\"ADDRh: XXh\") and their count",
       {}, {}},
      {Command::Db, "db", "ACTION", "the line's shared record in PostgreSQL (see --db)",
       {"--db CONNINFO db init [--counter NAME --start N]", "--db CONNINFO db flush",
        "--db CONNINFO db export [--since TIME] [--serial N]"},
       {{"init",
         "create the tables, or check them: running it again changes nothing; a database of a "
         "newer schema is refused"},
        {"flush", "send the records waiting in the spool now"},
        {"export",
         "write the records on standard output as JSON Lines, the fields of --log, oldest first"},
        {"--serial N", "export: the records of serial number N"}}},
      {Command::Terminal, "terminal", "",
       R"(talk to the loader by hand: what you type goes to it as typed, unbuffered and with nothing added (Enter sends a carriage return); what comes back is shown with control bytes made visible (\r, \n and a line break, \xNN, \\ for a backslash). Ctrl+] ends it. Nothing is sent of its own: press Enter for the banner and the prompt, then type commands without Enter (F70 lists the configuration bytes 8070h-807Fh). Standard input may be a pipe: at its end the terminal waits until the line has been quiet for the time-out, then ends)",
       {}, {}},
  };
  return commands;
}

const CommandInfo* CommandNamed(std::string_view name) {
  for (const CommandInfo& c : Commands()) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

const std::string& NameOf(Command command) {
  for (const CommandInfo& c : Commands()) {
    if (c.command == command) return c.name;
  }
  static const std::string none;
  return none;
}

// "a, b, c", the last name joined by lastJoin.
template <typename Rows, typename Name>
std::string Listed(const Rows& rows, Name name, std::string_view lastJoin) {
  std::string list;
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    if (i > 0) list += i + 1 == std::size(rows) ? lastJoin : ", ";
    list += name(rows[i]);
  }
  return list;
}

std::string RateList() {
  const auto text = [](const BaudRateInfo& r) { return std::string(r.text); };
  const auto offered = OfferedBaudRates();
  const auto beyond = std::span(kBaudRates).subspan(offered.size());
  return Listed(offered, text, ", ") + " (the window's rates), " + Listed(beyond, text, " or ");
}

// What the options hold before their values are checked.
struct Typed {
  std::vector<std::string> words;  // the command and its argument
  std::string resetSeq, clock, timeout, from, to, hcr0, hcr1, serial, count, start, since;
  bool withCfg = false, cfgOnly = false;
};

// Every option: its names, the label of its value, the command it belongs
// to (its group) and its help. An option without help shares the row of the
// one before it.
void Define(CLI::App& app, Options& o, Typed& t) {
  app.set_help_flag();
  app.allow_extras();  // named in our own words below
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_option("words", t.words)->group("");

  const auto value = [&](const char* names, std::string& into, const char* label, const char* group,
                         const std::string& text) {
    return app.add_option(names, into, text)->type_name(label)->group(group);
  };
  const auto flag = [&](const char* names, bool& into, const char* group, const std::string& text) {
    return app.add_flag(names, into, text)->group(group)->disable_flag_override();
  };

  value("-o,--output", o.output, "FILE", "read",
        "FILE.hex gets Intel HEX (16-byte records from the range's first address), FILE.bin the "
        "raw bytes; the file appears only when the read is complete. Without -o the hex dump "
        "lines go to standard output");
  value("--from", t.from, "ADDR", "read", "first and last address to read");
  value("--to", t.to, "ADDR", "read", "");
  flag("--twice", o.twice, "read",
       "read every block twice and compare; a block whose two reads differ is read a third time "
       "and the two reads that agree win (none agree: exit status 3). Catches the damage no "
       "single read can see, a digit turned into another digit; takes twice the line time");

  flag("--allow-missing-end", o.allowMissingEnd, "program",
       "program a file without its end record all the same (with a warning); the end record is "
       "sent after its last line");
  flag("--verify", o.verify, "program",
       "read back every address FILE wrote and compare (FFh bytes left out of the download "
       "included)");
  flag("--no-mass-erase", o.noMassErase, "program",
       "do not erase the flash (\"M0000\"); every record is sent");
  flag("--send-all", o.sendAll, "program", "send every record, also those of FFh bytes alone");
  flag("--no-erase-cfg", o.noEraseCfg, "program",
       "do not erase the configuration page (\"M8000\"); then HCR0 bit 7 (EPMA) must be set to "
       "allow programming");
  flag("--no-flash", o.noFlash, "program", "do not download FILE");
  flag("--no-hcr", o.noHcr, "program", "do not write HCR1/HCR0");
  value("--hcr0", t.hcr0, "HH", "program", "the register values to write (default: settings)");
  value("--hcr1", t.hcr1, "HH", "program", "");
  value("--serial", t.serial, "ADDR:LEN[:FORMAT]", "program",
        "write each board's serial number into the image at ADDR..ADDR+LEN-1, where FILE has no "
        "data, for the download and the verify; FORMAT le (binary, little-endian, the default), "
        "be, or ascii (decimal digits, zero-padded to LEN)");
  value("--serial-file", o.serialFile, "FILE", "program",
        "the number the next board gets, a decimal number alone on a line; FILE must exist (echo "
        "1000 > FILE starts at 1000). A board takes its number once its erase has succeeded, "
        "before its first record, under a lock, and FILE is replaced whole by the next, so no "
        "number is given twice, also by several processes at once; a board that fails before "
        "takes none. A number that does not fit LEN is refused (status 2) before anything is "
        "sent");
  value("--serial-counter", o.serialCounter, "NAME", "program",
        "with --db instead of --serial-file: the database's counter the numbers come from (one "
        "per product; default \"default\"), taken in one short transaction, so stations on "
        "several computers never share one");
  flag("--loop", o.loop, "program",
       "after each board, wait until it is gone (its port disappears or the loader is silent for "
       "about a second), then for the next; the port is reopened by the name given. Each board "
       "gets \"PORT: board N: ok\" or \"PORT: board N: failed (exit S): MESSAGE\" as it ends (\", "
       "serial N\" after ok or the status when it took a number); a port that vanishes, also "
       "mid-run, fails only its board. Ctrl+C ends the loop; at the end \"N boards: K ok, M "
       "failed\", status 0 when none failed, else 1, and 130 when Ctrl+C ended it");
  value("--count", t.count, "N", "program", "with --loop: N boards a port, then end");

  flag("--with-cfg", t.withCfg, "erase", "the configuration page too");
  flag("--cfg-only", t.cfgOnly, "erase", "the configuration page alone");

  value("--counter", o.counter, "NAME", "db",
        "init: create the serial-number counter NAME, whose first number is N (an existing one "
        "is left as it is)");
  value("--start", t.start, "N", "db", "");
  value("--since", t.since, "TIME", "db",
        "export: the records from TIME on (2026-03-01, or \"2026-03-01 14:00+01\")");

  app.add_option("-p,--port", o.ports,
                 "serial port: a device path (/dev/ttyUSB0) or a name COM1..COM8 as mapped in the "
                 "[Ports] section of the per-user store (default mapping: COMn = "
                 "/dev/ttyS<n-1>), or \"auto\": the one USB serial adapter in /dev/serial/by-id "
                 "(named on standard error; none or several is an error listing what was found). "
                 "Given more than once, or as PORT,PORT,...: info, program, verify, erase and "
                 "blank-check run on every port at the same time, one board each (a port given "
                 "twice, also as a link and its device, is refused); progress lines and each "
                 "command's own lines begin with their port, and at the end one line per board "
                 "on standard output, in the order given: \"PORT: ok\" or \"PORT: failed (exit "
                 "S): MESSAGE\"; the status is that of the first failed board")
      ->type_name("PORT")
      ->group(kGlobal)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  value("-b,--baud", o.baud, "RATE", kGlobal,
        RateList() +
            ". The loader takes the rate of the wake-up; the faster the line, the coarser the "
            "clock estimate (see info and --clock)");
  value("--project", o.project, "FILE.prj", kGlobal,
        "take the settings from this project file instead of the per-user store (the window's "
        "default project)");
  flag("--reset", o.reset, kGlobal,
       "reset the target first through DTR and RTS (also done when the settings have \"RTS/DTR "
       "control\" on), with the settings' reset sequence; without one the pulse DTR on, RTS on, "
       "40 ms, RTS off, 40 ms, RTS on, 400 ms");
  value("--reset-seq", t.resetSeq, "SEQ", kGlobal,
        "reset with SEQ instead (implies --reset): steps separated by commas, dtr=1, dtr=0, "
        "rts=1, rts=0, break=MS (the line held in break for MS ms) and MS alone (a wait), or a "
        "preset: pulse, pulse-inverted (every line the other way). A bad step is refused, named, "
        "before anything is sent");
  value("--reset-cmd", o.resetCommand, "COMMAND", kGlobal,
        "run COMMAND with /bin/sh before the wake-up (a relay or a USB hub that power-cycles the "
        "board); when it fails the run ends (status 4) with its exit status and output; it may "
        "take 60 s");
  value("--clock", t.clock, "HZ", kGlobal,
        "the crystal (11059200, 11.0592M): the flash timing is computed from it instead of from "
        "the estimate, and a warning names an estimate more than a step away");
  value("--timeout", t.timeout, "SECONDS", kGlobal,
        "time each reply may take beyond its own time on the line (default 3); the wake-up sends "
        "at most three carriage returns within it");
  value("--trace", o.trace, "FILE", kGlobal,
        R"(write every chunk sent (">") and received ("<"), one line each: milliseconds, direction, the bytes with \r \n \t \\ and \xNN escapes)");
  value("--log", o.log, "FILE", kGlobal,
        "append one JSON line per board and command to FILE: time (UTC), port, command, target, "
        "id, firmware, clock_hz, file, file_sha256, serial, bytes_written (data bytes the flash "
        "holds from FILE through records the loader took), bytes_sent (of them, those sent), "
        "verified, result (\"ok\", \"failed\" or \"interrupted\"), exit_status, message, seconds; "
        "in UTF-8, bytes from the loader as Latin-1 characters; each line with one write, so "
        "several processes can share the file. A record that cannot be written fails its board "
        "(status 5)");
  value("--db", o.db, "CONNINFO", kGlobal,
        "also store every board's record (and with --serial take its number) in a PostgreSQL "
        "database that the stations of a line share: a libpq connection string or URI "
        "(postgresql://station@db.line/varnel); a password comes from ~/.pgpass or PGPASSWORD, "
        "never from the command line, and is never shown. Instead of --serial-file and --log, or "
        "beside --log. Connecting and every statement time out after 5 s. When the server cannot "
        "be reached, a board that needs a number is not started (status 5) and a finished "
        "board's record waits in the spool ($XDG_STATE_HOME/varnel/spool.jsonl) to be sent, "
        "once, when the server answers again");
  flag("-q,--quiet", o.quiet, kGlobal, "no progress on standard error");
  flag("-h,--help", o.help, kGlobal, "show this help and exit");
  flag("--version", o.version, kGlobal, "show the version and exit");
}

// TEXT wrapped to the help's width after PREFIX, its further lines from
// column AT; what is in brackets stays on one line.
std::string Wrapped(std::string out, std::size_t at, const std::string& text) {
  std::size_t column = out.size();
  bool first = true;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = start;
    for (int depth = 0; end < text.size() && (text[end] != ' ' || depth > 0); ++end) {
      depth += text[end] == '[' ? 1 : text[end] == ']' ? -1 : 0;
    }
    const std::string_view word(text.data() + start, end - start);
    if (!first && column + 1 + word.size() > kWidth) {
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

// LABEL at INDENT, its text from column AT (two spaces after a label that
// reaches it).
std::string Row(int indent, const std::string& label, std::size_t at, const std::string& text) {
  std::string prefix = std::string(static_cast<std::size_t>(indent), ' ') + label;
  prefix.resize(std::max(prefix.size() + 2, at), ' ');
  return Wrapped(prefix, at, text);
}

// "-o, --output FILE", "--from ADDR".
std::string Label(const CLI::Option& opt) {
  std::string names;
  for (const std::string& s : opt.get_snames()) names += (names.empty() ? "-" : ", -") + s;
  for (const std::string& l : opt.get_lnames()) names += (names.empty() ? "--" : ", --") + l;
  const std::string type = opt.get_type_name();
  return type.empty() ? names : names + " " + type;
}

// "[-o FILE]": the first name of an option, in a synopsis.
std::string Usage(const CLI::Option& opt) {
  std::string name = opt.get_snames().empty() ? "--" + opt.get_lnames().front()
                                              : "-" + opt.get_snames().front();
  if (!opt.get_type_name().empty()) name += " " + opt.get_type_name();
  return "[" + name + "]";
}

bool Mentions(const std::vector<std::string>& forms, const std::string& name) {
  const std::regex word("(^|[^\\w-])" + name + "($|[^\\w-])");
  for (const std::string& form : forms) {
    if (std::regex_search(form, word)) return true;
  }
  return false;
}

// The options of a group, rows of two joined where the second has no help.
std::vector<std::pair<std::string, std::string>> OptionRows(const CLI::App& app,
                                                             const std::string& group) {
  std::vector<std::pair<std::string, std::string>> rows;
  for (const CLI::Option* opt : app.get_options()) {
    if (!opt->nonpositional() || opt->get_group() != group) continue;
    if (opt->get_description().empty() && !rows.empty()) {
      rows.back().first += ", " + Label(*opt);
    } else {
      rows.emplace_back(Label(*opt), opt->get_description());
    }
  }
  return rows;
}

constexpr char kIntro[] =
    R"(Talks to the serial boot loader of an MSC1210 (or MSC1211). Every command but
"ports" and "terminal" first wakes the loader with carriage returns, reads its
banner and identification and estimates the core clock, then does its work.
)";

constexpr char kFooter[] = R"(
Settings come from the options, then the project file (--project) or the
per-user store ($XDG_CONFIG_HOME/Varnel/Varnel.ini), then the built-in
defaults. ADDR and HH are hexadecimal: 7FFF, 0x7FFF or 7FFFh.
Progress goes to standard error (one self-rewriting line on a terminal, a
line per step otherwise), results to standard output, errors to standard
error prefixed "varnel-cli: ".

Exit status:
  0    success
  1    the target refused something, or verify found differences
  2    bad usage or a bad file (nothing was sent)
  3    no answer, or no valid answer, in time (a reply still damaged after
       3 tries: the message names the memory and the address)
  4    the port cannot be opened (or failed while in use), or the reset
       command failed
  5    the board's record or serial number could not be stored or taken
       (--log, --serial-file: a full disk, a folder that went read-only;
       --db: the database cannot be reached and the spool cannot be
       written); db: the database cannot be reached or refused
  130  interrupted (Ctrl+C or a stop signal; a download in progress is
       ended with the end record first)

Examples:
  varnel-cli -p /dev/ttyUSB0 -b 38400 program --verify firmware.ihx
  varnel-cli -p /dev/ttyUSB0 -b 38400 read code -o backup.hex
  varnel-cli -p auto -b 9600 terminal
  varnel-cli -b 38400 -p /dev/ttyUSB0,/dev/ttyUSB1 --serial 7FF0:4 \
             --serial-file serial.txt --log boards.jsonl --loop \
             program --verify fw.ihx
  varnel-cli -p auto -b 115200 --clock 11.0592M --reset-seq pulse-inverted info
)";

// The help: a synopsis per command, each command with its options, the
// options of every command; all from the definitions.
class Layout : public CLI::FormatterBase {
 public:
  std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
    std::string synopsis = "Usage:\n", commands = "\nCommands:\n";
    for (const CommandInfo& c : Commands()) {
      const std::string head = c.argument.empty() ? c.name : c.name + " " + c.argument;
      std::string line = "[options] " + head;
      bool own = false;
      for (const CLI::Option* opt : app->get_options()) {
        if (opt->get_group() != c.name || Mentions(c.forms, "--" + opt->get_lnames().front())) continue;
        line += " " + Usage(*opt);
        own = true;
      }
      for (const auto& [label, text] : c.topics) {
        if (label[0] != '-' || Mentions(c.forms, label.substr(0, label.find(' ')))) continue;
        line += " [" + label + "]";
        own = true;
      }
      if (own || c.forms.empty()) synopsis += Wrapped("  varnel-cli ", 13, line);
      for (const std::string& form : c.forms) synopsis += Wrapped("  varnel-cli ", 13, form);

      commands += Row(2, head, 20, c.text);
      for (const auto& [label, text] : c.topics) {
        if (label[0] != '-') commands += Row(4, label, 24, text);
      }
      for (const auto& [label, text] : OptionRows(*app, c.name)) commands += Row(4, label, 24, text);
      for (const auto& [label, text] : c.topics) {
        if (label[0] == '-') commands += Row(4, label, 24, text);
      }
    }
    std::string options = "\nOptions:\n";
    for (const auto& [label, text] : OptionRows(*app, kGlobal)) {
      options += Row(label.rfind("--", 0) == 0 ? 6 : 2, label, 24, text);
    }
    return synopsis + "\n" + kIntro + commands + options + kFooter;
  }
};


std::optional<std::uint8_t> ParseRegisterOption(const std::string& name, const std::string& text) {
  const auto v = ParseHex(text, 0xFF);
  if (!v) throw UsageError(name + " needs two hex digits (00 to FF), not '" + text + "'");
  return static_cast<std::uint8_t>(*v);
}

// A sequence is refused before anything is sent, naming the step.
std::string ParseResetOption(const std::string& text) {
  // An empty sequence would reset nothing while the user asked for a reset.
  if (text.find_first_not_of(" \t") == std::string::npos) {
    throw UsageError("--reset-seq needs steps (dtr=1, rts=0, break=MS, MS) or a preset (pulse, pulse-inverted)");
  }
  try {
    ParseResetSequence(text);
  } catch (const ResetSequenceError& e) {
    throw UsageError(std::string("--reset-seq: ") + e.what());
  }
  return text;
}

int ParseTimeout(const std::string& text) {
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(seconds) ||
      seconds < 0 || seconds > 3600) {
    throw UsageError("--timeout needs seconds (0 to 3600), not '" + text + "'");
  }
  return static_cast<int>(std::lround(seconds * 1000));
}

// A decimal number of at most 18 digits (a counter in the database is a
// bigint).
std::uint64_t ParseCount(const std::string& name, const std::string& text, const std::string& what) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
  if (text.empty() || text.size() > 18 || error != std::errc() || end != text.data() + text.size()) {
    throw UsageError(name + " needs " + what + " (a decimal number), not '" + text + "'");
  }
  return value;
}

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

}  // namespace

SerialSpec ParseSerialSpec(const std::string& text) {
  const auto bad = [&](const std::string& why) {
    return UsageError("--serial needs ADDR:LEN[:le|be|ascii]" + why + ", not '" + text + "'");
  };
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t colon; (colon = text.find(':', start)) != std::string::npos; start = colon + 1) {
    fields.push_back(text.substr(start, colon - start));
  }
  fields.push_back(text.substr(start));
  if (fields.size() < 2 || fields.size() > 3) throw bad("");
  SerialSpec spec;
  const auto address = ParseHex(fields[0], 0xFFFF);
  if (!address) throw bad(" (ADDR in hex)");
  spec.address = *address;
  char* end = nullptr;
  const long length = std::strtol(fields[1].c_str(), &end, 10);
  if (fields[1].empty() || *end != '\0' || length < 1) throw bad(" (LEN a count of bytes)");
  spec.length = static_cast<std::uint32_t>(length);
  if (fields.size() == 3) {
    if (fields[2] == "le") {
      spec.format = SerialSpec::Format::Le;
    } else if (fields[2] == "be") {
      spec.format = SerialSpec::Format::Be;
    } else if (fields[2] == "ascii") {
      spec.format = SerialSpec::Format::Ascii;
    } else {
      throw bad(" (FORMAT le, be or ascii)");
    }
  }
  const std::uint32_t most = spec.format == SerialSpec::Format::Ascii ? 20 : 8;
  if (spec.length > most) {
    throw bad(" (at most " + std::to_string(most) + " bytes in that format)");
  }
  if (spec.address + spec.length > 0x8000) throw bad(" (inside the flash, 0000h-7FFFh)");
  return spec;
}

std::string MemoryNames() {
  return Listed(kMemories, [](const MemoryInfo& m) { return m.shortName; }, " or ");
}

std::string UsageText() {
  Options o;
  Typed t;
  CLI::App app;
  Define(app, o, t);
  app.formatter(std::make_shared<Layout>());
  return app.help();
}

std::optional<std::uint32_t> ParseHex(std::string text, std::uint32_t max) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.erase(0, 2);
  } else if (!text.empty() && (text.back() == 'h' || text.back() == 'H')) {
    text.pop_back();
  }
  if (text.empty() || text.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (error != std::errc() || end != text.data() + text.size() || value > max) return std::nullopt;
  return value;
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  Typed t;
  CLI::App app;
  Define(app, o, t);
  // "--opt=" gives opt an empty value, not the argument after it.
  std::vector<std::string> args;
  for (int i = argc - 1; i > 0; --i) {
    const std::string arg = argv[i];
    const CLI::Option* opt = arg.size() > 3 && arg.rfind("--", 0) == 0 && arg.back() == '='
                                 ? app.get_option_no_throw(arg.substr(0, arg.size() - 1))
                                 : nullptr;
    if (opt != nullptr && !opt->get_type_name().empty()) {
      args.emplace_back();
      args.push_back(arg.substr(0, arg.size() - 1));
    } else {
      args.push_back(arg);
    }
  }
  try {
    app.parse(args);  // takes them last first
  } catch (const CLI::ParseError& e) {
    throw UsageError(InOurWords(e));
  }
  for (const std::string& extra : app.remaining()) {
    if (extra != "--") throw UsageError("unknown option '" + extra + "' (see --help)");
  }
  const auto given = [&](const char* name) { return app.count(name) > 0; };

  // Every -p, and PORT,PORT,... apart.
  std::vector<std::string> ports;
  for (const std::string& value : o.ports) {
    for (std::size_t start = 0, comma; start <= value.size(); start = comma + 1) {
      comma = std::min(value.find(',', start), value.size());
      if (comma == start) throw UsageError("--port needs a port name, not '" + value + "'");
      ports.push_back(value.substr(start, comma - start));
    }
  }
  o.ports = ports;
  if (!ports.empty()) o.port = ports.front();
  if (given("--reset-seq")) {
    o.resetSequence = ParseResetOption(t.resetSeq);
    o.reset = true;
  }
  if (given("--reset-cmd") && o.resetCommand.empty()) throw UsageError("--reset-cmd needs a command");
  if (given("--clock")) {
    o.clockHz = ParseClock(t.clock);
    if (!o.clockHz) {
      throw UsageError("--clock needs the crystal in Hz, " + std::to_string(kMinCrystalHz) + " to " +
                       std::to_string(kMaxCrystalHz) + " (or 11.0592M), not '" + t.clock + "'");
    }
  }
  if (given("--timeout")) o.timeoutMs = ParseTimeout(t.timeout);
  if (given("--db") && o.db.empty()) throw UsageError("--db needs a connection string or URI");
  if (o.help || o.version) return o;

  if (t.words.empty()) throw UsageError("no command given (see --help)");
  const CommandInfo* command = CommandNamed(t.words[0]);
  if (command == nullptr) throw UsageError("unknown command '" + t.words[0] + "' (see --help)");
  o.command = command->command;
  const std::size_t wanted = command->argument.empty() ? 1 : 2;
  if (t.words.size() < wanted) {
    throw UsageError(o.command == Command::Read ? "read needs a MEMORY: " + MemoryNames()
                     : o.command == Command::Db ? "db needs an action: init, flush or export"
                                                : t.words[0] + " needs a FILE");
  }
  if (t.words.size() > wanted) throw UsageError("unexpected argument '" + t.words[wanted] + "'");
  if (o.command == Command::Read) o.memory = t.words[1];
  if (o.command == Command::Program || o.command == Command::Verify) o.file = t.words[1];
  if (o.command == Command::Db) {
    o.dbAction = t.words[1];
    if (o.dbAction != "init" && o.dbAction != "flush" && o.dbAction != "export") {
      throw UsageError("unknown db action '" + o.dbAction + "': init, flush or export");
    }
  }

  // An option of one command, with another: named in the order typed.
  for (const CLI::Option* opt : app.parse_order()) {
    const std::string& group = opt->get_group();
    const std::string name = opt->get_name();
    if (group == kGlobal || group.empty()) continue;
    if (name == "--allow-missing-end") {
      if (o.command != Command::Program && o.command != Command::Verify) {
        throw UsageError(name + " belongs to the program and verify commands");
      }
    } else if (group == "db" || (name == "--serial" && o.command == Command::Db)) {
      if (o.command != Command::Db) throw UsageError(name + " belongs to the db command");
      const std::string action = name == "--since" || name == "--serial" ? "export" : "init";
      if (o.dbAction != action) throw UsageError(name + " belongs to db " + action);
    } else if (group != NameOf(o.command)) {
      throw UsageError(name + " belongs to the " + group + " command");
    }
  }

  for (auto [name, text, into] : {std::tuple{"--from", &t.from, &o.from}, {"--to", &t.to, &o.to}}) {
    if (!given(name)) continue;
    *into = ParseHex(*text, 0xFFFF);
    if (!*into) {
      throw UsageError(std::string(name) + " needs a hex address (0 to FFFF), not '" + *text + "'");
    }
  }
  if (given("--hcr0")) o.hcr0 = ParseRegisterOption("--hcr0", t.hcr0);
  if (given("--hcr1")) o.hcr1 = ParseRegisterOption("--hcr1", t.hcr1);
  if (given("--serial") && o.command == Command::Db) {
    o.exportSerial = ParseCount("--serial", t.serial, "a serial number");
  } else if (given("--serial")) {
    o.serial = ParseSerialSpec(t.serial);
  }
  if (given("--serial-counter") && o.serialCounter.empty()) {
    throw UsageError("--serial-counter needs a counter's name");
  }
  if (given("--counter") && o.counter.empty()) throw UsageError("--counter needs a counter's name");
  if (given("--start")) o.counterStart = ParseCount("--start", t.start, "the counter's first number");
  if (given("--since")) o.since = t.since;
  if (given("--count")) {
    char* end = nullptr;
    const long n = std::strtol(t.count.c_str(), &end, 10);
    if (t.count.empty() || *end != '\0' || n < 1 || n > 1000000) {
      throw UsageError("--count needs a number of boards (1 or more), not '" + t.count + "'");
    }
    o.count = static_cast<int>(n);
  }

  if (!o.serialFile.empty() && !o.db.empty()) {
    throw UsageError("--serial-file and --db exclude each other: the numbers come from one place");
  }
  if (!o.serialFile.empty() != o.serial.has_value() && (o.db.empty() || !o.serialFile.empty())) {
    throw UsageError("--serial and --serial-file go together (or --serial with --db)");
  }
  if (!o.serialCounter.empty() && (o.db.empty() || !o.serial)) {
    throw UsageError("--serial-counter belongs to --serial with --db");
  }
  if (o.serial && !o.db.empty() && o.serialCounter.empty()) o.serialCounter = "default";
  if (o.command == Command::Db && o.db.empty()) throw UsageError("db needs --db CONNINFO");
  if (o.counter.empty() != !o.counterStart) throw UsageError("--counter and --start go together");
  if (o.count > 0 && !o.loop) throw UsageError("--count belongs to --loop");
  if (o.ports.size() > 1 && o.command != Command::Program && o.command != Command::Verify &&
      o.command != Command::Erase && o.command != Command::BlankCheck &&
      o.command != Command::Info) {
    throw UsageError("several ports work with info, program, verify, erase and blank-check");
  }
  if (t.cfgOnly && t.withCfg) throw UsageError("--cfg-only and --with-cfg exclude each other");
  if (o.command == Command::Terminal && o.reset) {
    throw UsageError("the terminal sends nothing of its own: reset the target by hand, not with " +
                     std::string(o.resetSequence ? "--reset-seq" : "--reset"));
  }
  o.eraseScope = t.cfgOnly ? EraseScope::CfgOnly : t.withCfg ? EraseScope::WithCfg : EraseScope::Flash;
  return o;
}

}  // namespace varnel::cli
