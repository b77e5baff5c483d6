// One board's run, the serial numbers and the record of a board.
#include "cli/Board.h"

#include "core/ReadAgain.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QThread>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "cli/ClockCheck.h"
#include "cli/DbCommand.h"
#include "cli/ResetCommand.h"
#include "core/FileBytes.h"
#include "link/HexText.h"
#include "programming/IntelHex.h"

namespace varnel::cli {
namespace {

// A board that is not there yet, or not awake: worth another try.
bool Absent(OutcomeKind kind) {
  return kind == OutcomeKind::NoAnswer || kind == OutcomeKind::PortFailed ||
         kind == OutcomeKind::DamagedReplies;
}

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

constexpr char kEndRecord[] = ":00000001FF\r\n";

void Fill(BoardFacts& facts, const Session& s) {
  facts.connected = true;
  facts.target = s.TargetName;
  facts.id = HDPrev(s.TargetIdCode);
  facts.firmware = s.FirmwareVersion;
  facts.clockHz = static_cast<long>(s.CoreClockHz);
}

}  // namespace

const char* CommandName(Command command) {
  switch (command) {
    case Command::Ports: return "ports";
    case Command::Info: return "info";
    case Command::Read: return "read";
    case Command::Program: return "program";
    case Command::Verify: return "verify";
    case Command::Erase: return "erase";
    case Command::Terminal: return "terminal";
    case Command::BlankCheck: return "blank-check";
    case Command::Db: return "db";
    case Command::None: break;
  }
  return "";
}

Prepared Prepare(const Options& o) {
  Prepared p;
  if (o.command == Command::Read) p.read = PrepareRead(o);
  if (o.command == Command::Program || o.command == Command::Verify) {
    p.image = LoadProgramImage(o.file, kLargestFlash);
    const FileRead file = ReadWholeFile(o.file);
    if (file.fault != ReadFault::None) throw CliFailure(OutcomeKind::BadFile, "cannot read " + o.file);
    p.fileBytes = file.bytes;
    p.snapshotFolder = std::make_shared<QTemporaryDir>();
    p.snapshot = p.snapshotFolder->filePath(QString::fromStdString(NameOf(o.file))).toStdString();
    std::string error;
    if (!p.snapshotFolder->isValid() ||
        !ReplaceFileAtomically(p.snapshot, p.fileBytes, &error)) {
      throw CliFailure(OutcomeKind::BadFile, "cannot keep a copy of " + o.file + ": " +
                                                 (error.empty() ? "no temporary folder" : error));
    }
    // Checked again as copied: the file may have changed since its check.
    p.image = LoadProgramImage(p.snapshot, kLargestFlash);
    p.fileSha256 = QCryptographicHash::hash(QByteArray::fromStdString(p.fileBytes),
                                            QCryptographicHash::Sha256)
                       .toHex()
                       .toStdString();
  }
  if (!o.db.empty()) PrepareDb(o);
  if (o.serial && o.db.empty()) {
    const std::uint64_t next = PeekSerial(o.serialFile);
    if (!SerialBytes(*o.serial, next)) {
      throw CliFailure(OutcomeKind::Refused, "the serial number " + std::to_string(next) + " of " +
                                                 o.serialFile + " does not fit " +
                                                 std::to_string(o.serial->length) + " bytes");
    }
  }
  if (!o.log.empty()) CheckLog(o.log);
  return p;
}

Outcome RunBoard(const BoardRun& run, BoardFacts& facts) {
  Options o = *run.options;  // the target reads its file from here
  if (!run.prepared->snapshot.empty()) o.file = run.prepared->snapshot;
  std::unique_ptr<Target> target;
  const auto release = [&] {
    if (target && run.onLink) run.onLink(nullptr);
    target.reset();
  };
  const auto stopped = [&] { return run.stop && run.stop->load(); };
  Outcome outcome;
  try {
    // The user's own power cycle, once per board, before its wake-up.
    if (!o.resetCommand.empty()) RunResetCommand(o.resetCommand, *run.screen, o.quiet);
    for (;;) {
      target = std::make_unique<Target>(o, *run.screen, run.watchSignals);
      if (run.onLink) run.onLink(&target->link());
      try {
        target->Open();
        target->Connect();
        break;
      } catch (const CliFailure& f) {
        if (!run.waitForBoard || stopped() || !Absent(f.outcome().kind)) throw;
      }
      release();
      for (int i = 0; i < 6 && !stopped(); ++i) QThread::msleep(50);
      if (stopped()) throw CliFailure(OutcomeKind::Interrupted, "interrupted");
    }
    Fill(facts, target->session());
    if (stopped()) throw CliFailure(OutcomeKind::Interrupted, "interrupted");
    // Said where the clock counts: info reports it, the flash timing uses it.
    if (o.command == Command::Info || o.command == Command::Program ||
        o.command == Command::Erase) {
      for (const std::string& warning :
           ClockWarnings(target->session().CoreClockHz, target->Baud(), o.clockHz)) {
        run.screen->Warn(warning);
      }
    }

    switch (o.command) {
      case Command::Info: RunInfo(*target); break;
      case Command::Read: RunRead(*run.prepared->read, *target); break;
      case Command::Program: {
        ProgramImage image = *run.prepared->image;
        QTemporaryDir scratch;
        if (run.takeSerial) {
          // The number goes into the image before the check and the
          // download, so both (and the verify) cover it.
          facts.serial = run.takeSerial();
          const std::string text = ImageWithSerial(image, *o.serial, *facts.serial);
          std::string name = NameOf(o.file);
          if (const auto dot = name.rfind('.'); dot != std::string::npos) name.resize(dot);
          const std::string path = scratch.filePath(QString::fromStdString(name + ".hex")).toStdString();
          std::string error;
          if (!scratch.isValid() || !ReplaceFileAtomically(path, text, &error)) {
            throw CliFailure(OutcomeKind::BadFile, "cannot write the image with the serial number: " + error);
          }
          o.file = path;
          image = LoadProgramImage(path, kLargestFlash);
        }
        RunProgram(o, *target, image);
        facts.bytesWritten = o.noFlash ? 0 : image.data.size();
        facts.verified = o.verify;
        break;
      }
      case Command::Verify:
        RunVerify(*target, *run.prepared->image);
        facts.verified = true;
        break;
      case Command::Erase: RunErase(o, *target); break;
      case Command::BlankCheck: RunBlankCheck(*target); break;
      default: throw CliFailure(OutcomeKind::Refused, "no command");
    }
  } catch (const CliFailure& f) {
    outcome = f.outcome();
  } catch (const ECommError& e) {
    // The port's exception, met outside a run.
    outcome = {OutcomeKind::PortFailed, e.what()};
  } catch (const std::exception& e) {
    outcome = {OutcomeKind::TargetRefused, e.what()};
  }
  // However a run ends, it says how many damaged replies it read again.
  if (target) {
    const std::string again = ReadAgainText(target->session().RepliesReadAgain);
    if (!again.empty()) run.screen->Note(again);
  }
  if (run.ended) run.ended(outcome, facts, facts.connected ? target.get() : nullptr);
  release();
  return outcome;
}

// --- serial numbers ---

std::optional<std::string> SerialBytes(const SerialSpec& spec, std::uint64_t number) {
  std::string bytes;
  if (spec.format == SerialSpec::Format::Ascii) {
    const std::string digits = std::to_string(number);
    if (digits.size() > spec.length) return std::nullopt;
    return std::string(spec.length - digits.size(), '0') + digits;
  }
  if (spec.length < 8 && (number >> (8 * spec.length)) != 0) return std::nullopt;
  for (std::uint32_t i = 0; i < spec.length; ++i) {
    bytes += static_cast<char>((number >> (8 * i)) & 0xFF);
  }
  if (spec.format == SerialSpec::Format::Be) std::reverse(bytes.begin(), bytes.end());
  return bytes;
}

namespace {

std::uint64_t ParseSerialText(const std::string& path, const std::string& text) {
  std::size_t end = text.find_last_not_of(" \t\r\n");
  const std::string digits = end == std::string::npos ? "" : text.substr(0, end + 1);
  std::uint64_t value = 0;
  bool ok = !digits.empty() && digits.size() <= 19;
  for (const char c : digits) ok = ok && c >= '0' && c <= '9';
  if (ok) value = std::stoull(digits);
  if (!ok) {
    throw CliFailure(OutcomeKind::Refused,
                     path + " holds no serial number (a decimal number alone on a line)");
  }
  return value;
}

std::uint64_t ReadSerial(const std::string& path) {
  // A serial-number file holds one short line; anything big is not one.
  const FileRead file = ReadWholeFile(path, 4096);
  if (file.fault == ReadFault::Missing) return 1;
  if (file.fault != ReadFault::None) {
    const std::string why = file.fault == ReadFault::TooLarge ? "not a serial-number file"
                            : file.fault == ReadFault::NotAFile ? "not a file"
                                                                : std::strerror(file.code);
    throw CliFailure(OutcomeKind::Refused, "cannot read " + path + ": " + why);
  }
  return ParseSerialText(path, file.bytes);
}

}  // namespace

std::uint64_t PeekSerial(const std::string& path) { return ReadSerial(path); }

std::uint64_t TakeSerial(const std::string& path, const SerialSpec& spec) {
  // The file itself is replaced on every number, so the lock is held on a
  // companion file that stays.
  const std::string lockPath = path + ".lock";
  const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock < 0) {
    throw CliFailure(OutcomeKind::Refused, "cannot lock " + lockPath + ": " + std::strerror(errno));
  }
  while (::flock(lock, LOCK_EX) != 0 && errno == EINTR) {
  }
  std::uint64_t number = 0;
  try {
    number = ReadSerial(path);
    if (!SerialBytes(spec, number)) {
      throw CliFailure(OutcomeKind::Refused, "the serial number " + std::to_string(number) +
                                                 " does not fit " + std::to_string(spec.length) +
                                                 " bytes; nothing was sent");
    }
    std::string error;
    if (!ReplaceFileAtomically(path, std::to_string(number + 1) + "\n", &error)) {
      throw CliFailure(OutcomeKind::Refused, "cannot write " + path + ": " + error);
    }
  } catch (...) {
    ::close(lock);
    throw;
  }
  ::close(lock);  // releases the lock
  return number;
}

std::string ImageWithSerial(const ProgramImage& image, const SerialSpec& spec,
                            std::uint64_t number) {
  std::map<std::uint32_t, std::uint8_t> data = image.data;
  const std::string bytes = *SerialBytes(spec, number);
  for (std::uint32_t i = 0; i < spec.length; ++i) {
    data[spec.address + i] = static_cast<std::uint8_t>(bytes[i]);
  }
  // Runs of adjacent addresses, each as the records of its bytes.
  std::string text;
  for (auto it = data.begin(); it != data.end();) {
    const std::uint32_t base = it->first;
    std::vector<std::uint8_t> run;
    for (std::uint32_t next = base; it != data.end() && it->first == next; ++it, ++next) {
      run.push_back(it->second);
    }
    std::string records = WriteIntelHex(run, base);
    records.resize(records.size() - std::strlen(kEndRecord));
    text += records;
  }
  return text + kEndRecord;
}

// --- the record ---

namespace {

std::string Json(const std::string& text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

std::string IsoTime(long long unixMs) {
  const std::time_t seconds = static_cast<std::time_t>(unixMs / 1000);
  std::tm utc{};
  ::gmtime_r(&seconds, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(unixMs % 1000));
  return text;
}

}  // namespace

std::string LogLine(const LogEntry& e) {
  const BoardFacts& f = e.facts;
  const Outcome& o = e.outcome;
  const auto orNull = [](const std::string& text) { return text.empty() ? "null" : Json(text); };
  const char* result = o.Done() ? "ok" : o.kind == OutcomeKind::Interrupted ? "interrupted" : "failed";
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", e.seconds);
  std::string line = "{";
  line += "\"time\":" + Json(IsoTime(e.startedUnixMs));
  line += ",\"port\":" + Json(e.port);
  line += ",\"command\":" + Json(e.command);
  line += ",\"target\":" + orNull(f.target);
  line += ",\"id\":" + orNull(f.connected ? f.id : "");
  line += ",\"firmware\":" + orNull(f.firmware);
  line += ",\"clock_hz\":" + (f.connected ? std::to_string(f.clockHz) : std::string("null"));
  line += ",\"file\":" + orNull(e.file);
  line += ",\"file_sha256\":" + orNull(e.fileSha256);
  line += ",\"serial\":" + (f.serial ? std::to_string(*f.serial) : std::string("null"));
  line += ",\"bytes_written\":" + std::to_string(f.bytesWritten);
  line += std::string(",\"verified\":") + (f.verified ? "true" : "false");
  line += std::string(",\"result\":\"") + result + "\"";
  line += ",\"exit_status\":" + std::to_string(ExitStatusOf(o.kind));
  line += ",\"message\":" + Json(o.text);
  line += std::string(",\"seconds\":") + seconds;
  return line + "}";
}

void CheckLog(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    throw CliFailure(OutcomeKind::Refused, "cannot write the log file " + path + ": " + std::strerror(errno));
  }
  ::close(fd);
}

bool AppendLog(const std::string& path, const std::string& line) {
  // One write of a whole line to a file opened for appending: lines of
  // several writers never mix.
  const std::string whole = line + "\n";
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  ssize_t n = -1;
  if (fd >= 0) {
    do {
      n = ::write(fd, whole.data(), whole.size());
    } while (n < 0 && errno == EINTR);
    ::close(fd);
  }
  if (n != static_cast<ssize_t>(whole.size())) {
    std::fprintf(stderr, "varnel-cli: warning: cannot append to the log file %s\n", path.c_str());
    return false;
  }
  return true;
}

}  // namespace varnel::cli
