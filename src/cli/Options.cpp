// Parsing the command line of varnel-cli, and its help text.
#include "cli/Options.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "core/BaudRates.h"
#include "core/Memories.h"
#include "cli/ClockCheck.h"
#include "core/ResetSequence.h"

namespace varnel::cli {

namespace {

constexpr char kUsage[] = R"(Usage:
  varnel-cli [options] ports
  varnel-cli [options] info
  varnel-cli [options] read MEMORY [-o FILE] [--from ADDR] [--to ADDR] [--twice]
  varnel-cli [options] program FILE [--verify] [--no-mass-erase]
             [--no-erase-cfg] [--no-flash] [--no-hcr] [--hcr0 HH] [--hcr1 HH]
             [--send-all] [--allow-missing-end]
  varnel-cli [options] verify FILE [--allow-missing-end]
  varnel-cli [options] erase [--cfg-only | --with-cfg]
  varnel-cli [options] blank-check
  varnel-cli [options] terminal
  varnel-cli [options] program FILE [--verify] ... -p PORT [-p PORT ...]
             [--serial ADDR:LEN[:le|be|ascii] --serial-file FILE]
             [--loop [--count N]]
  varnel-cli [options] program FILE ... --db CONNINFO
             [--serial ADDR:LEN[:le|be|ascii] [--serial-counter NAME]]
  varnel-cli --db CONNINFO db init [--counter NAME --start N]
  varnel-cli --db CONNINFO db flush
  varnel-cli --db CONNINFO db export [--since TIME] [--serial N]

Talks to the serial boot loader of an MSC1210 (or MSC1211). Every command but
"ports" and "terminal" first wakes the loader with carriage returns, reads its
banner and identification and estimates the core clock, then does its work.

Commands:
  ports             list the serial ports, one a line, tab-separated: name,
                    device, available, busy or no permission (this user may
                    not open it; on Debian join the group dialout: sudo
                    adduser $USER dialout), the /dev/serial/by-id name,
                    vendor and model of a USB adapter ("-" where unknown); a
                    running simulator's link too
  info              print the target as "key: value" lines: port, baud, target,
                    firmware (unknown when the loader was awake already),
                    id (two hex digits), clock_hz, clock_step_hz,
                    flash_bytes. clock_hz is estimated from the loader's baud
                    timer, in steps of clock_step_hz (32 x baud); a warning
                    says when a step is more than 5% of the estimate
  read MEMORY       read a memory: {MEMORIES} (the
                    configuration page at 8000h-807Fh, HCR1 at 807Eh, HCR0 at
                    807Fh); the range defaults to the whole memory (code: the
                    flash of the connected chip)
    -o, --output FILE   FILE.hex gets Intel HEX (16-byte records from the
                        range's first address), FILE.bin the raw bytes; the
                        file appears only when the read is complete. Without
                        -o the hex dump lines go to standard output
    --from ADDR, --to ADDR   first and last address to read
    --twice             read every block twice and compare; a block whose
                        two reads differ is read a third time and the two
                        reads that agree win (none agree: exit status 3).
                        Catches the damage no single read can see, a digit
                        turned into another digit; takes twice the line time
  program FILE      erase, download FILE one record per command and write
                    HCR1/HCR0, with the flash timing set from the measured
                    clock (or --clock) first. FILE is Intel HEX (.hex,
                    .ihx from SDCC) or a raw image (.bin, loaded at 0000h;
                    converted in memory, nothing is written beside it). The
                    file is checked before anything is sent: every record
                    well formed, every checksum right, every data byte
                    inside the flash, and its end record (:00000001FF)
                    last. A file without one is what an interrupted
                    inside the flash, and its end record (:00000001FF)
                    last. A file without one is what an interrupted
                    download or copy leaves: it is refused (status 2).
                    After the erase of the flash, records whose data bytes
                    are all FFh are not sent: the erased flash holds them
                    already (the progress counts the bytes FILE holds and
                    those sent)
    --allow-missing-end  program a file without its end record all the
                        same (with a warning); the end record is sent after
                        its last line
    --verify            read back every address FILE wrote and compare
                        (FFh bytes left out of the download included)
    --no-mass-erase     do not erase the flash ("M0000"); every record is
                        sent
    --send-all          send every record, also those of FFh bytes alone
    --no-erase-cfg      do not erase the configuration page ("M8000"); then
                        HCR0 bit 7 (EPMA) must be set to allow programming
    --no-flash          do not download FILE
    --no-hcr            do not write HCR1/HCR0
    --hcr0 HH, --hcr1 HH  the register values to write (default: settings)
    --serial ADDR:LEN[:FORMAT]  write each board's serial number into the
                        image at ADDR..ADDR+LEN-1, where FILE has no data,
                        for the download and the verify; FORMAT le (binary,
                        little-endian, the default), be, or ascii (decimal
                        digits, zero-padded to LEN)
    --serial-file FILE  the number the next board gets, a decimal number
                        alone on a line; FILE must exist (echo 1000 > FILE
                        starts at 1000). A board takes its number once its
                        erase has succeeded, before its first record, under
                        a lock, and FILE is replaced whole by the next, so
                        no number is given twice, also by several processes
                        at once; a board that fails before takes none. A
                        number that does not fit LEN is refused (status 2)
                        before anything is sent
    --serial-counter NAME  with --db instead of --serial-file: the database's
                        counter the numbers come from (one per product;
                        default "default"), taken in one short transaction,
                        so stations on several computers never share one
    --loop              after each board, wait until it is gone (its port
                        disappears or the loader is silent for about a
                        second), then for the next; the port is reopened by
                        the name given. Each board gets "PORT: board N: ok"
                        or "PORT: board N: failed (exit S): MESSAGE" as it
                        ends (", serial N" after ok or the status when it
                        took a number); a port that vanishes, also mid-run,
                        fails only its board. Ctrl+C ends the loop; at the
                        end "N boards: K ok, M failed", status 0 when none
                        failed, else 1, and 130 when Ctrl+C ended it
    --count N           with --loop: N boards a port, then end
  verify FILE       read back every address FILE holds data for and compare;
                    prints the first 10 differences and their count. A block
                    that differs is read twice more: a difference counts only
                    when every read shows it (also for program --verify).
                    FILE is checked as for program
    --allow-missing-end  compare with a file without its end record all the
                        same
  erase             mass erase of the flash
    --with-cfg          the configuration page too
    --cfg-only          the configuration page alone
  blank-check       read the whole flash: status 0 when every byte is FFh,
                    otherwise 1 with the first 10 addresses that are not
                    ("ADDRh: XXh") and their count
  db ACTION         the line's shared record in PostgreSQL (see --db)
    init                create the tables, or check them: running it again
                        changes nothing; a database of a newer schema is
                        refused
    --counter NAME --start N  init: create the serial-number counter NAME,
                        whose first number is N (an existing one is left
                        as it is)
    flush               send the records waiting in the spool now
    export              write the records on standard output as JSON Lines,
                        the fields of --log, oldest first
    --since TIME        export: the records from TIME on (2026-03-01, or
                        "2026-03-01 14:00+01")
    --serial N          export: the records of serial number N
  terminal          talk to the loader by hand: what you type goes to it as
                    typed, unbuffered and with nothing added (Enter sends a
                    carriage return); what comes back is shown with control
                    bytes made visible (\r, \n and a line break, \xNN,
                    \\ for a backslash). Ctrl+] ends it. Nothing is sent of
                    its own: press Enter for the banner and the prompt, then
                    type commands without Enter (F70 lists the configuration
                    bytes 8070h-807Fh). Standard input may be a pipe: at its
                    end the terminal waits until the line has been quiet for
                    the time-out, then ends

Options:
  -p, --port PORT       serial port: a device path (/dev/ttyUSB0) or a name
                        COM1..COM8 as mapped in the [Ports] section of the
                        per-user store (default mapping: COMn = /dev/ttyS<n-1>),
                        or "auto": the one USB serial adapter in
                        /dev/serial/by-id (named on standard error; none or
                        several is an error listing what was found).
                        Given more than once, or as PORT,PORT,...: info,
                        program, verify, erase and blank-check run on every
                        port at the same time, one board each (a port given
                        twice, also as a link and its device, is refused);
                        progress lines and each command's own lines begin
                        with their port, and at the end one line per board
                        on standard output, in the order given: "PORT: ok"
                        or "PORT: failed (exit S): MESSAGE"; the status is
                        that of the first failed board
  -b, --baud RATE       110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200,
                        38400 (the window's rates), 56000, 57600, 115200,
                        128000 or 256000. The loader takes the rate of the
                        wake-up; the faster the line, the coarser the clock
                        estimate (see info and --clock)
      --project FILE.prj  take the settings from this project file instead of
                        the per-user store (the window's default project)
      --reset           reset the target first through DTR and RTS (also done
                        when the settings have "RTS/DTR control" on), with
                        the settings' reset sequence; without one the pulse
                        DTR on, RTS on, 40 ms, RTS off, 40 ms, RTS on, 400 ms
      --reset-seq SEQ   reset with SEQ instead (implies --reset): steps
                        separated by commas, dtr=1, dtr=0, rts=1, rts=0,
                        break=MS (the line held in break for MS ms) and MS
                        alone (a wait), or a preset: pulse, pulse-inverted
                        (every line the other way). A bad step is refused,
                        named, before anything is sent
      --reset-cmd COMMAND  run COMMAND with /bin/sh before the wake-up (a
                        relay or a USB hub that power-cycles the board);
                        when it fails the run ends (status 4) with its exit
                        status and output; it may take 60 s
      --clock HZ        the crystal (11059200, 11.0592M): the flash timing is
                        computed from it instead of from the estimate, and a
                        warning names an estimate more than a step away
      --timeout SECONDS time each reply may take beyond its own time on the
                        line (default 3); the wake-up sends at most three
                        carriage returns within it
      --trace FILE      write every chunk sent (">") and received ("<"), one
                        line each: milliseconds, direction, the bytes with
                        \r \n \t \\ and \xNN escapes
      --log FILE        append one JSON line per board and command to FILE:
                        time (UTC), port, command, target, id, firmware,
                        clock_hz, file, file_sha256, serial, bytes_written
                        (data bytes the flash holds from FILE through
                        records the loader took), bytes_sent (of them,
                        those sent), verified, result ("ok", "failed" or
                        "interrupted"), exit_status, message, seconds; in
                        UTF-8, bytes from the loader as Latin-1 characters;
                        each line with one write, so several processes can
                        share the file. A record that cannot be written
                        fails its board (status 5)
      --db CONNINFO     also store every board's record (and with --serial
                        take its number) in a PostgreSQL database that the
                        stations of a line share: a libpq connection string
                        or URI (postgresql://station@db.line/varnel); a
                        password comes from ~/.pgpass or PGPASSWORD, never
                        from the command line, and is never shown. Instead
                        of --serial-file and --log, or beside --log.
                        Connecting and every statement time out after 5 s.
                        When the server cannot be reached, a board that
                        needs a number is not started (status 5) and a
                        finished board's record waits in the spool
                        ($XDG_STATE_HOME/varnel/spool.jsonl) to be sent,
                        once, when the server answers again
  -q, --quiet           no progress on standard error
  -h, --help            show this help and exit
      --version         show the version and exit

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

struct Parser {
  std::vector<std::string> args;
  std::size_t at = 0;
  std::vector<std::string> positional;
  Options o;

  // The value of an option: "--opt=value", or the next argument.
  std::string Value(const std::string& name, std::optional<std::string>& inline_) {
    if (inline_) {
      std::string v = *inline_;
      inline_.reset();
      return v;
    }
    if (at + 1 >= args.size()) throw UsageError(name + " needs a value");
    return args[++at];
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

Command CommandNamed(const std::string& word) {
  if (word == "ports") return Command::Ports;
  if (word == "info") return Command::Info;
  if (word == "read") return Command::Read;
  if (word == "program") return Command::Program;
  if (word == "verify") return Command::Verify;
  if (word == "erase") return Command::Erase;
  if (word == "terminal") return Command::Terminal;
  if (word == "blank-check") return Command::BlankCheck;
  if (word == "db") return Command::Db;
  throw UsageError("unknown command '" + word + "' (see --help)");
}

// Options that belong to one command only.
void Require(const Options& o, Command command, const std::string& option) {
  if (o.command != command) {
    static const char* kNames[] = {"",       "ports", "info",     "read",        "program",
                                   "verify", "erase", "terminal", "blank-check", "db"};
    throw UsageError(option + " belongs to the " + kNames[static_cast<int>(command)] +
                     " command");
  }
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
  std::string text = kUsage;
  const std::string_view placeholder = "{MEMORIES}";
  text.replace(text.find(placeholder), placeholder.size(), MemoryNames());
  return text;
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
  Parser p;
  for (int i = 1; i < argc; ++i) p.args.emplace_back(argv[i]);
  std::vector<std::pair<std::string, std::string>> commandOptions;  // checked once the command is known
  bool endOfOptions = false;

  for (; p.at < p.args.size(); ++p.at) {
    const std::string& arg = p.args[p.at];
    if (endOfOptions || arg.empty() || arg[0] != '-' || arg == "-") {
      p.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      endOfOptions = true;
      continue;
    }
    std::string name = arg;
    std::optional<std::string> inlineValue;
    if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      inlineValue = arg.substr(eq + 1);
    }
    Options& o = p.o;
    if (name == "-p" || name == "--port") {
      const std::string value = p.Value(name, inlineValue);
      std::size_t start = 0;
      for (std::size_t comma; start <= value.size(); start = comma + 1) {
        comma = value.find(',', start);
        if (comma == std::string::npos) comma = value.size();
        const std::string one = value.substr(start, comma - start);
        if (one.empty()) throw UsageError(name + " needs a port name, not '" + value + "'");
        o.ports.push_back(one);
      }
      o.port = o.ports.front();
    } else if (name == "-b" || name == "--baud") {
      o.baud = p.Value(name, inlineValue);
    } else if (name == "--project") {
      o.project = p.Value(name, inlineValue);
    } else if (name == "--reset") {
      o.reset = true;
    } else if (name == "--reset-seq") {
      o.resetSequence = ParseResetOption(p.Value(name, inlineValue));
      o.reset = true;
    } else if (name == "--reset-cmd") {
      o.resetCommand = p.Value(name, inlineValue);
      if (o.resetCommand.empty()) throw UsageError("--reset-cmd needs a command");
    } else if (name == "--clock") {
      const std::string text = p.Value(name, inlineValue);
      o.clockHz = ParseClock(text);
      if (!o.clockHz) {
        throw UsageError("--clock needs the crystal in Hz, " + std::to_string(kMinCrystalHz) +
                         " to " + std::to_string(kMaxCrystalHz) + " (or 11.0592M), not '" + text + "'");
      }
    } else if (name == "--timeout") {
      o.timeoutMs = ParseTimeout(p.Value(name, inlineValue));
    } else if (name == "--trace") {
      o.trace = p.Value(name, inlineValue);
    } else if (name == "-q" || name == "--quiet") {
      o.quiet = true;
    } else if (name == "-h" || name == "--help") {
      o.help = true;
    } else if (name == "--version") {
      o.version = true;
    } else if (name == "--log") {
      o.log = p.Value(name, inlineValue);
    } else if (name == "--db") {
      o.db = p.Value(name, inlineValue);
      if (o.db.empty()) throw UsageError("--db needs a connection string or URI");
    } else if (name == "-o" || name == "--output" || name == "--from" || name == "--to" ||
               name == "--hcr0" || name == "--hcr1" || name == "--serial" ||
               name == "--serial-file" || name == "--count" || name == "--serial-counter" ||
               name == "--counter" || name == "--start" || name == "--since") {
      commandOptions.emplace_back(name, p.Value(name, inlineValue));
    } else if (name == "--verify" || name == "--no-mass-erase" || name == "--no-erase-cfg" ||
               name == "--no-flash" || name == "--no-hcr" || name == "--cfg-only" ||
               name == "--with-cfg" || name == "--loop" || name == "--twice" ||
               name == "--allow-missing-end" || name == "--send-all") {
      commandOptions.emplace_back(name, "");
    } else {
      throw UsageError("unknown option '" + arg + "' (see --help)");
    }
    if (inlineValue) throw UsageError(name + " takes no value");
  }

  Options& o = p.o;
  if (o.help || o.version) return o;
  if (p.positional.empty()) throw UsageError("no command given (see --help)");
  o.command = CommandNamed(p.positional[0]);
  const std::size_t wanted = (o.command == Command::Read || o.command == Command::Program ||
                              o.command == Command::Verify || o.command == Command::Db)
                                 ? 2 : 1;
  if (p.positional.size() < wanted) {
    throw UsageError(o.command == Command::Read ? "read needs a MEMORY: " + MemoryNames()
                     : o.command == Command::Db ? "db needs an action: init, flush or export"
                                                : p.positional[0] + " needs a FILE");
  }
  if (p.positional.size() > wanted) {
    throw UsageError("unexpected argument '" + p.positional[wanted] + "'");
  }
  if (o.command == Command::Read) o.memory = p.positional[1];
  if (o.command == Command::Program || o.command == Command::Verify) o.file = p.positional[1];
  if (o.command == Command::Db) {
    o.dbAction = p.positional[1];
    if (o.dbAction != "init" && o.dbAction != "flush" && o.dbAction != "export") {
      throw UsageError("unknown db action '" + o.dbAction + "': init, flush or export");
    }
  }
  const auto dbAction = [&](const std::string& name, const char* action) {
    Require(o, Command::Db, name);
    if (o.dbAction != action) throw UsageError(name + " belongs to db " + action);
  };
  bool cfgOnly = false, withCfg = false;
  for (const auto& [name, value] : commandOptions) {
    if (name == "-o" || name == "--output") {
      Require(o, Command::Read, name);
      o.output = value;
    } else if (name == "--from" || name == "--to") {
      Require(o, Command::Read, name);
      const auto address = ParseHex(value, 0xFFFF);
      if (!address) throw UsageError(name + " needs a hex address (0 to FFFF), not '" + value + "'");
      (name == "--from" ? o.from : o.to) = *address;
    } else if (name == "--hcr0" || name == "--hcr1") {
      Require(o, Command::Program, name);
      (name == "--hcr0" ? o.hcr0 : o.hcr1) = ParseRegisterOption(name, value);
    } else if (name == "--twice") {
      Require(o, Command::Read, name);
      o.twice = true;
    } else if (name == "--serial" && o.command == Command::Db) {
      dbAction(name, "export");
      o.exportSerial = ParseCount(name, value, "a serial number");
    } else if (name == "--serial") {
      Require(o, Command::Program, name);
      o.serial = ParseSerialSpec(value);
    } else if (name == "--serial-counter") {
      Require(o, Command::Program, name);
      o.serialCounter = value;
      if (value.empty()) throw UsageError("--serial-counter needs a counter's name");
    } else if (name == "--counter") {
      dbAction(name, "init");
      o.counter = value;
      if (value.empty()) throw UsageError("--counter needs a counter's name");
    } else if (name == "--start") {
      dbAction(name, "init");
      o.counterStart = ParseCount(name, value, "the counter's first number");
    } else if (name == "--since") {
      dbAction(name, "export");
      o.since = value;
    } else if (name == "--serial-file") {
      Require(o, Command::Program, name);
      o.serialFile = value;
    } else if (name == "--loop") {
      Require(o, Command::Program, name);
      o.loop = true;
    } else if (name == "--count") {
      Require(o, Command::Program, name);
      char* end = nullptr;
      const long n = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || n < 1 || n > 1000000) {
        throw UsageError("--count needs a number of boards (1 or more), not '" + value + "'");
      }
      o.count = static_cast<int>(n);
    } else if (name == "--allow-missing-end") {
      if (o.command != Command::Program && o.command != Command::Verify) {
        throw UsageError(name + " belongs to the program and verify commands");
      }
      o.allowMissingEnd = true;
    } else if (name == "--cfg-only" || name == "--with-cfg") {
      Require(o, Command::Erase, name);
      (name == "--cfg-only" ? cfgOnly : withCfg) = true;
    } else {
      Require(o, Command::Program, name);
      if (name == "--verify") o.verify = true;
      if (name == "--no-mass-erase") o.noMassErase = true;
      if (name == "--no-erase-cfg") o.noEraseCfg = true;
      if (name == "--no-flash") o.noFlash = true;
      if (name == "--no-hcr") o.noHcr = true;
      if (name == "--send-all") o.sendAll = true;
    }
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
  if (cfgOnly && withCfg) throw UsageError("--cfg-only and --with-cfg exclude each other");
  if (o.command == Command::Terminal && o.reset) {
    throw UsageError("the terminal sends nothing of its own: reset the target by hand, not with " +
                     std::string(o.resetSequence ? "--reset-seq" : "--reset"));
  }
  o.eraseScope = cfgOnly ? EraseScope::CfgOnly : withCfg ? EraseScope::WithCfg : EraseScope::Flash;
  return o;
}

}  // namespace varnel::cli
