// One board's run, the serial numbers and the record of a board.
#include "cli/Board.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QThread>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "cli/CliSettings.h"
#include "cli/DbCommand.h"
#include "core/FileBytes.h"
#include "link/HexText.h"
#include "programming/IntelHex.h"
#include "link/ErrorText.h"

namespace varnel::cli {
namespace {

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

constexpr char kEndRecord[] = ":00000001FF\r\n";
// Its file could hold no next number.
constexpr std::uint64_t kLastSerial = ~std::uint64_t{0};

// A file cut at a line boundary, as an interrupted download or copy leaves
// it, passes every other check: without its end record it is taken only
// when the user says so.
void RefuseMissingEnd(const Options& o, const ProgramImage& image) {
  if (image.endRecord) return;
  const std::string what = o.file + " has no end record (:00000001FF) after its last line";
  if (!o.allowMissingEnd) {
    throw CliFailure(OutcomeKind::BadFile,
                     what + "; an interrupted download or copy leaves a file like this. Nothing "
                            "was sent. To " + CommandName(o.command) +
                            " it as it is, add --allow-missing-end.");
  }
  // program warns on every board, as it sends the end record itself.
  if (o.command == Command::Verify) {
    std::fprintf(stderr, "varnel-cli: warning: %s; only the data it holds is compared\n",
                 what.c_str());
  }
}

// Two threads on one device would mix their bytes on one line: a port given
// twice, also as a link and its device, is refused.
void CheckPortsDistinct(const std::vector<std::string>& ports) {
  std::map<std::string, std::string> seen;  // device -> the name given first
  for (const std::string& port : ports) {
    std::error_code error;
    std::string device = std::filesystem::canonical(port, error).string();
    if (error) device = port;
    const auto [it, fresh] = seen.emplace(device, port);
    if (fresh) continue;
    throw CliFailure(OutcomeKind::Refused,
                     it->second == port ? "the port " + port + " is given twice"
                                        : "the ports " + it->second + " and " + port +
                                              " are the same device, " + device);
  }
}

// The number goes where the file holds no code: it must never change the
// firmware the verify would then call correct. A byte of FFh there is an
// erased cell (a padded image, a slot the firmware keeps free for its
// number) and may take it.
void CheckSerialPlace(const SerialSpec& spec, const ProgramImage& image, const std::string& file) {
  const std::uint32_t first = spec.address, last = spec.address + spec.length - 1;
  auto hit = image.data.lower_bound(first);
  while (hit != image.data.end() && hit->first <= last && hit->second == 0xFF) ++hit;
  if (hit == image.data.end() || hit->first > last) return;
  // The run of adjacent data bytes the number would land in.
  auto low = std::make_reverse_iterator(std::next(hit));
  for (auto next = std::next(low); next != image.data.rend() && next->first + 1 == low->first;) {
    low = next++;
  }
  auto high = hit;
  for (auto next = std::next(high); next != image.data.end() && next->first == high->first + 1;) {
    high = next++;
  }
  throw CliFailure(OutcomeKind::Refused, "the serial number at " + HD16Prev(first) + "h-" +
                                             HD16Prev(last) + "h would overwrite data of " + file +
                                             " (" + HD16Prev(low->first) + "h-" +
                                             HD16Prev(high->first) + "h)");
}

// The counter file is replaced by a new file beside it, under a lock held
// on a companion file: both must be possible before a board is touched.
void CheckSerialFile(const std::string& path) {
  const std::string lockPath = path + ".lock";
  const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock < 0) {
    throw CliFailure(OutcomeKind::Refused, "cannot write " + lockPath + ": " + ErrorText(errno));
  }
  ::close(lock);
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  std::string probe = (parent.empty() ? std::filesystem::path(".") : parent) / ".varnel-XXXXXX";
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) {
    throw CliFailure(OutcomeKind::Refused, "cannot replace " + path + ": its folder takes no new file (" +
                                               ErrorText(errno) + ")");
  }
  ::close(fd);
  ::unlink(probe.c_str());
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
  CheckPortsDistinct(o.ports);
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
    RefuseMissingEnd(o, *p.image);
    p.fileSha256 = QCryptographicHash::hash(QByteArray::fromStdString(p.fileBytes),
                                            QCryptographicHash::Sha256)
                       .toHex()
                       .toStdString();
  }
  if (o.serial && p.image) CheckSerialPlace(*o.serial, *p.image, o.file);
  if (!o.db.empty()) PrepareDb(o);
  if (o.serial && o.db.empty()) {
    const std::uint64_t next = PeekSerial(o.serialFile);
    if (!SerialBytes(*o.serial, next)) {
      throw CliFailure(OutcomeKind::Refused, "the serial number " + std::to_string(next) + " of " +
                                                 o.serialFile + " does not fit " +
                                                 std::to_string(o.serial->length) + " bytes");
    }
    if (next == kLastSerial) {
      throw CliFailure(OutcomeKind::Refused, o.serialFile + " holds the last number there is");
    }
    CheckSerialFile(o.serialFile);
  }
  if (!o.log.empty()) CheckLog(o.log);
  return p;
}

namespace {

// Every command runs on the library's Target, with the settings resolved
// here.
Outcome RunOnTarget(const BoardRun& run, BoardFacts& facts) {
  const Options& o = *run.options;
  TargetPlan p;
  try {
    Session session;
    CliSettings settings(session, o);
    settings.LoadProperties();
    p.device = settings.CheckedDevice();
    settings.CheckResetSequence();
    const ProjectSettingsRecord& ps = session.ProjectSettings;
    // A port's name as given when it is a path; the device a COM name maps to.
    p.port = ps.PortName.front() == '/' ? ps.PortName : p.device;
    p.baud = std::stoi(ps.BaudText);
    p.reset = ps.ControlDTR ? ps.ResetSequence : "";
    p.crystalHz = static_cast<std::uint32_t>(std::max(ps.CrystalHz, 0));
  } catch (const CliFailure& f) {
    return f.outcome();
  }
  using C = TargetPlan::Command;
  p.command = o.command == Command::Info         ? C::Info
              : o.command == Command::Read       ? C::Read
              : o.command == Command::Verify     ? C::Verify
              : o.command == Command::BlankCheck ? C::BlankCheck
              : o.command == Command::Program    ? C::Program
                                                 : C::Erase;
  p.clockOption = o.clockHz;
  p.timeoutMs = o.timeoutMs;
  p.trace = o.trace;
  p.resetCommand = o.resetCommand;
  p.quiet = o.quiet;
  if (run.prepared->read) p.read = &*run.prepared->read;
  if (run.prepared->image) {
    p.data = &run.prepared->image->data;
    p.fileName = NameOf(o.file);
  }
  p.erase = o.eraseScope == EraseScope::CfgOnly   ? TargetPlan::Erase::CfgOnly
            : o.eraseScope == EraseScope::WithCfg ? TargetPlan::Erase::WithCfg
                                                  : TargetPlan::Erase::Flash;
  if (o.command == Command::Program) {
    p.programFile = run.prepared->snapshot;
    p.endRecord = run.prepared->image->endRecord;
    p.checkFlash = [file = p.programFile](std::uint32_t flash) { LoadProgramImage(file, flash); };
    p.verify = o.verify;
    p.sendAll = o.sendAll;
    p.massErase = !o.noMassErase;
    p.eraseConfig = !o.noEraseCfg;
    p.writeFlash = !o.noFlash;
    p.writeConfig = !o.noHcr;
    p.hcr0 = o.hcr0;
    p.hcr1 = o.hcr1;
    if (run.takeSerial) {
      const SerialSpec spec = *o.serial;
      p.serialAddress = spec.address;
      p.takeSerial = [take = run.takeSerial, spec] {
        const std::uint64_t number = take();
        return std::pair{number, *SerialBytes(spec, number)};
      };
    }
  }
  return RunTargetPlan(p, *run.screen, facts);
}

}  // namespace

Outcome RunBoard(const BoardRun& run, BoardFacts& facts) { return RunOnTarget(run, facts); }

// --- serial numbers ---

namespace {

std::uint64_t ReadSerial(const std::string& path) {
  // A serial-number file holds one short line; anything big is not one.
  const FileRead file = ReadWholeFile(path, 4096);
  if (file.fault == ReadFault::Missing) {
    throw CliFailure(OutcomeKind::Refused, "there is no serial-number file " + path +
                                               "; to start at 1000: echo 1000 > " + path);
  }
  if (file.fault != ReadFault::None) {
    const std::string why = file.fault == ReadFault::TooLarge ? "not a serial-number file"
                            : file.fault == ReadFault::NotAFile ? "not a file"
                                                                : ErrorText(file.code);
    throw CliFailure(OutcomeKind::Refused, "cannot read " + path + ": " + why);
  }
  return ParseCounterText(path, file.bytes);
}

}  // namespace

std::uint64_t PeekSerial(const std::string& path) { return ReadSerial(path); }

std::uint64_t TakeSerial(const std::string& path, const SerialSpec& spec) {
  // Taken once the board is erased: whatever stops it, the board is not
  // programmed, and it is no bad usage either.
  const auto fail = [&](const std::string& why) {
    return CliFailure(OutcomeKind::NotStored, "no serial number: " + why + "; the board was not programmed");
  };
  // The file itself is replaced on every number, so the lock is held on a
  // companion file that stays.
  const std::string lockPath = path + ".lock";
  const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock < 0) throw fail("cannot lock " + lockPath + ": " + ErrorText(errno));
  while (::flock(lock, LOCK_EX) != 0 && errno == EINTR) {
  }
  std::uint64_t number = 0;
  try {
    try {
      number = ReadSerial(path);
    } catch (const CliFailure& f) {
      throw fail(f.outcome().text);
    }
    if (!SerialBytes(spec, number)) {
      throw fail("the serial number " + std::to_string(number) + " of " + path + " does not fit " +
                 std::to_string(spec.length) + " bytes");
    }
    if (number == kLastSerial) throw fail(path + " holds the last number there is");
    std::string error;
    if (!ReplaceFileAtomically(path, std::to_string(number + 1) + "\n", &error)) {
      throw fail("cannot write " + path + ": " + error);
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

// Every byte as the character of that code (ISO 8859-1), in UTF-8: what the
// target sends is bytes, not text, and a noisy line sends any byte.
std::string Latin1(const std::string& bytes) {
  std::string text;
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      text += ch;
    } else {
      text += static_cast<char>(0xC0 | (c >> 6));
      text += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return text;
}

bool ValidUtf8(const std::string& text) {
  try {
    (void)nlohmann::json(text).dump();
    return true;
  } catch (const nlohmann::json::type_error&) {
    return false;
  }
}

// Text of ours, with names the user gave: kept when it is UTF-8, otherwise
// taken byte by byte as above.
std::string AsUtf8(const std::string& text) { return ValidUtf8(text) ? text : Latin1(text); }

// What a board that was done had done, for a message that it was.
const char* DoneText(const std::string& command) {
  if (command == "program") return "programmed";
  if (command == "verify") return "verified";
  if (command == "erase") return "erased";
  if (command == "blank-check") return "checked blank";
  return "identified";
}

}  // namespace

std::string LogLine(const LogEntry& e) {
  using Json = nlohmann::ordered_json;
  const BoardFacts& f = e.facts;
  const Outcome& o = e.outcome;
  const auto orNull = [](const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); };
  const char* result = o.Done() ? "ok" : o.kind == OutcomeKind::Interrupted ? "interrupted" : "failed";
  Json line;
  line["time"] = IsoTime(e.startedUnixMs);
  line["port"] = AsUtf8(e.port);
  line["command"] = e.command;
  line["target"] = orNull(Latin1(f.target));
  line["id"] = orNull(f.connected ? Latin1(f.id) : "");
  line["firmware"] = orNull(Latin1(f.firmware));
  line["clock_hz"] = f.connected ? Json(f.clockHz) : Json(nullptr);
  line["file"] = orNull(AsUtf8(e.file));
  line["file_sha256"] = orNull(e.fileSha256);
  line["serial"] = f.serial ? Json(*f.serial) : Json(nullptr);
  line["bytes_written"] = f.bytesWritten;
  line["bytes_sent"] = f.bytesSent;
  line["verified"] = f.verified;
  line["result"] = result;
  line["exit_status"] = ExitStatusOf(o.kind);
  line["message"] = AsUtf8(o.text);
  // Milliseconds: a run is timed no closer than that.
  line["seconds"] = std::round(e.seconds * 1000) / 1000;
  return line.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void CheckLog(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    throw CliFailure(OutcomeKind::Refused, "cannot write the log file " + path + ": " + ErrorText(errno));
  }
  ::close(fd);
}

std::optional<std::string> AppendLog(const std::string& path, const std::string& line) {
  // One write of a whole line to a file opened for appending: lines of
  // several writers never mix.
  const std::string whole = line + "\n";
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return ErrorText(errno);
  ssize_t n = -1;
  do {
    n = ::write(fd, whole.data(), whole.size());
  } while (n < 0 && errno == EINTR);
  int error = n < 0 ? errno : n != static_cast<ssize_t>(whole.size()) ? ENOSPC : 0;
  // A full disk may show only now. A device that cannot sync has no disk
  // behind it to wait for.
  if (!error && ::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) error = errno;
  if (::close(fd) != 0 && !error && errno != EINTR) error = errno;
  if (error) return ErrorText(error);
  return std::nullopt;
}

namespace {

Outcome RecordLost(Outcome outcome, const std::string& command, const std::string& log,
                   const std::string& why) {
  const std::string lost = "its record could not be written to " + log + ": " + why;
  if (outcome.Done()) {
    outcome.kind = OutcomeKind::NotStored;
    outcome.text = std::string(DoneText(command)) + ", but " + lost;
  } else {
    outcome.text += "; " + lost;
  }
  return outcome;
}

}  // namespace

Outcome Record(const std::string& log, const LogEntry& entry) {
  if (const auto why = AppendLog(log, LogLine(entry))) {
    return RecordLost(entry.outcome, entry.command, log, *why);
  }
  return entry.outcome;
}

}  // namespace varnel::cli
