// The counter file, the number's bytes, the record of a board and where it
// is kept.
#include "lib/Records.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <limits>
#include <nlohmann/json.hpp>

#include "core/FileBytes.h"
#include "link/ErrorText.h"
#include "link/HexText.h"
#include "store/BoardStore.h"
#include "store/Spool.h"
#include "store/StoreError.h"
#include "varnel/errors.h"

namespace varnel::lib {
namespace {

// Its file could hold no next number.
constexpr std::uint64_t kLastSerial = ~std::uint64_t{0};

std::uint64_t ReadSerial(const std::string& path) {
  // A serial-number file holds one short line; anything big is not one.
  const FileRead file = ReadWholeFile(path, 4096);
  if (file.fault == ReadFault::Missing) {
    throw BadFile("there is no serial-number file " + path + "; to start at 1000: echo 1000 > " + path);
  }
  if (file.fault != ReadFault::None) {
    const std::string why = file.fault == ReadFault::TooLarge ? "not a serial-number file"
                            : file.fault == ReadFault::NotAFile ? "not a file"
                                                                : ErrorText(file.code);
    throw BadFile("cannot read " + path + ": " + why);
  }
  return ParseCounterText(path, file.bytes);
}

std::string FitText(std::uint64_t number, const std::string& of, const SerialSpec& spec) {
  return "the serial number " + std::to_string(number) + " of " + of + " does not fit " +
         std::to_string(spec.length) + " bytes";
}

}  // namespace

std::uint64_t ParseCounterText(const std::string& path, const std::string& text) {
  const std::size_t end = text.find_last_not_of(" \t\r\n");
  const std::string digits = end == std::string::npos ? "" : text.substr(0, end + 1);
  bool ok = !digits.empty();
  for (const char c : digits) ok = ok && c >= '0' && c <= '9';
  std::uint64_t number = 0;
  // Up to the largest 64-bit number; one more digit would wrap.
  if (ok) ok = std::from_chars(digits.data(), digits.data() + digits.size(), number).ec == std::errc();
  if (!ok) throw BadFile(path + " holds no serial number (a decimal number alone on a line)");
  return number;
}

std::optional<std::string> SerialBytes(const SerialSpec& spec, std::uint64_t number) {
  if (spec.format == SerialSpec::Format::Ascii) {
    const std::string digits = std::to_string(number);
    if (digits.size() > spec.length) return std::nullopt;
    return std::string(spec.length - digits.size(), '0') + digits;
  }
  if (spec.length < 8 && (number >> (8 * spec.length)) != 0) return std::nullopt;
  std::string bytes;
  for (std::uint32_t i = 0; i < spec.length; ++i) {
    bytes += static_cast<char>(i < 8 ? (number >> (8 * i)) & 0xFF : 0);
  }
  if (spec.format == SerialSpec::Format::Be) std::reverse(bytes.begin(), bytes.end());
  return bytes;
}

std::uint64_t LargestSerial(const SerialSpec& spec) {
  constexpr std::uint64_t kAll = std::numeric_limits<std::uint64_t>::max();
  if (spec.format == SerialSpec::Format::Ascii) {
    std::uint64_t most = 9;
    for (std::uint32_t i = 1; i < spec.length && most <= kAll / 10; ++i) most = most * 10 + 9;
    return spec.length >= 20 ? kAll : most;
  }
  return spec.length >= 8 ? kAll : (std::uint64_t{1} << (8 * spec.length)) - 1;
}

// The counter file is replaced by a new file beside it, under a lock held
// on a companion file: both must be possible before a board is touched.
void CheckSerialFile(const std::string& path, const SerialSpec& spec) {
  const std::uint64_t next = ReadSerial(path);
  if (!SerialBytes(spec, next)) throw BadFile(FitText(next, path, spec));
  if (next == kLastSerial) throw BadFile(path + " holds the last number there is");
  const std::string lockPath = path + ".lock";
  const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock < 0) throw BadFile("cannot write " + lockPath + ": " + ErrorText(errno));
  ::close(lock);
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  std::string probe = (parent.empty() ? std::filesystem::path(".") : parent) / ".varnel-XXXXXX";
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) {
    throw BadFile("cannot replace " + path + ": its folder takes no new file (" + ErrorText(errno) + ")");
  }
  ::close(fd);
  ::unlink(probe.c_str());
}

std::uint64_t TakeSerial(const std::string& path, const SerialSpec& spec) {
  // Taken once the board is erased: whatever stops it, the board is not
  // programmed, and it is no bad usage either.
  const auto fail = [](const std::string& why) {
    return RecordLost("no serial number: " + why + "; the board was not programmed");
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
    } catch (const Error& e) {
      throw fail(e.what());
    }
    if (!SerialBytes(spec, number)) throw fail(FitText(number, path, spec));
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

}  // namespace

std::string LogLine(const BoardRecord& r) {
  using Json = nlohmann::ordered_json;
  const auto orNull = [](const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); };
  Json line;
  line["time"] = IsoTime(r.startedUnixMs);
  line["port"] = AsUtf8(r.port);
  line["command"] = r.command;
  line["target"] = r.info ? orNull(Latin1(r.info->chip)) : Json(nullptr);
  line["id"] = r.info ? Json(HDPrev(r.info->id)) : Json(nullptr);
  line["firmware"] = r.info ? orNull(Latin1(r.info->firmware)) : Json(nullptr);
  line["clock_hz"] = r.info ? Json(r.info->clock_hz) : Json(nullptr);
  line["file"] = orNull(AsUtf8(r.file));
  line["file_sha256"] = orNull(r.fileSha256);
  line["serial"] = r.serial ? Json(*r.serial) : Json(nullptr);
  line["bytes_written"] = r.bytesWritten;
  line["bytes_sent"] = r.bytesSent;
  line["verified"] = r.verified;
  line["result"] = r.result;
  line["exit_status"] = r.exitStatus;
  line["message"] = AsUtf8(r.message);
  // Milliseconds: a run is timed no closer than that.
  line["seconds"] = std::round(r.seconds * 1000) / 1000;
  return line.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void CheckLog(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) throw BadFile("cannot write the log file " + path + ": " + ErrorText(errno));
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

// --- the database ---

namespace {

using store::StoreError;

[[noreturn]] void Raise(const StoreError& e, const std::string& before = "") {
  if (e.kind() == StoreError::Kind::Refused) throw BadFile(before + e.what());
  throw RecordLost(before + e.what());
}

std::unique_ptr<store::BoardStore> Open(const std::string& conninfo) {
  try {
    return std::make_unique<store::BoardStore>(conninfo);
  } catch (const StoreError& e) {
    Raise(e);
  }
}

// Sends the spool, saying what happened; StoreError when the server went.
void SendAndSay(store::Spool& spool, store::BoardStore& db,
                const std::function<void(const std::string&)>& say) {
  if (spool.Empty()) return;
  const store::SpoolSent sent = spool.Send(db);
  if (sent.sent > 0) {
    say(std::to_string(sent.sent) + " record(s) from the spool " + spool.path() + " sent to the database");
  }
  if (sent.rejected > 0) {
    say("warning: the database refused " + std::to_string(sent.rejected) +
        " record(s) of the spool; they are kept in " + sent.rejectedPath);
  }
}

}  // namespace

void PrepareDb(const StationOptions& o, const std::function<void(const std::string&)>& warn) {
  const auto db = Open(o.db);
  store::Spool spool;
  try {
    spool.Check();
  } catch (const std::runtime_error& e) {
    throw BadFile(e.what());
  }
  const bool numbers = o.serial && o.command == StationCommand::Program;
  try {
    if (numbers) {
      const std::uint64_t next = db->PeekNumber(o.serial_counter);
      if (next > LargestSerial(*o.serial)) {
        throw BadFile(FitText(next, "counter '" + o.serial_counter + "'", *o.serial));
      }
    } else {
      db->Check();
    }
  } catch (const StoreError& e) {
    if (e.kind() == StoreError::Kind::Unreachable && !numbers) {
      warn("warning: " + std::string(e.what()) + "; the records wait in " + spool.path());
      return;
    }
    Raise(e, numbers && e.kind() != StoreError::Kind::Refused ? "no serial numbers: " : "");
  }
  try {
    SendAndSay(spool, *db, warn);
  } catch (const std::exception& e) {
    warn(std::string("warning: ") + e.what());
  }
}

DbRecords::DbRecords(const StationOptions& o, std::function<void(const std::string&)> warn)
    : o_(o), warn_(std::move(warn)), store_(Open(o.db)), spool_(std::make_unique<store::Spool>()) {}

DbRecords::~DbRecords() = default;

void DbRecords::SendSpool() {
  try {
    SendAndSay(*spool_, *store_, warn_);
  } catch (const StoreError&) {
    throw;
  } catch (const std::exception& e) {
    warn_(std::string("warning: ") + e.what());
  }
}

std::uint64_t DbRecords::TakeNumber(const SerialSpec& spec) {
  try {
    SendSpool();  // what waited goes first
    return store_->TakeNumber(o_.serial_counter, LargestSerial(spec));
  } catch (const StoreError& e) {
    if (e.kind() == StoreError::Kind::Refused) Raise(e);
    Raise(e, "no serial number: ");
  }
}

std::string DbRecords::Keep(const std::string& logLine) {
  const std::string record =
      store::TravellingRecord(logLine, store::NewRecordId(), store::StationName(), store_->Shown());
  std::string why;
  try {
    SendSpool();
    store_->Insert(record);
    return "";
  } catch (const std::exception& e) {
    why = e.what();
  }
  try {
    spool_->Append(record);
  } catch (const std::exception& e) {
    return why + "; " + e.what();
  }
  warn_("warning: " + why + "; the record waits in " + spool_->path());
  return "";
}

}  // namespace varnel::lib
