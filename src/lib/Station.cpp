// The station: a thread per port, each with its own Target, board after
// board; the serial number taken after the erase, the record of every
// board, and the events a window, a script or the command line shows.
#include "varnel/station.h"

#include <pthread.h>
#include <signal.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "core/FileBytes.h"
#include "lib/Driver.h"
#include "lib/Records.h"
#include "lib/TargetAccess.h"
#include "link/HexText.h"
#include "programming/ProgramCheck.h"
#include "programming/ProgramFile.h"

namespace varnel {
namespace {

using Clock = std::chrono::steady_clock;

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

const char* CommandName(StationCommand command) {
  switch (command) {
    case StationCommand::Program: return "program";
    case StationCommand::Verify: return "verify";
    case StationCommand::Erase: return "erase";
    case StationCommand::BlankCheck: return "blank-check";
    case StationCommand::Info: return "info";
  }
  return "";
}

// What a board that was done had done, for a message that it was.
const char* DoneText(StationCommand command) {
  switch (command) {
    case StationCommand::Program: return "programmed";
    case StationCommand::Verify: return "verified";
    case StationCommand::Erase: return "erased";
    case StationCommand::BlankCheck: return "checked blank";
    case StationCommand::Info: return "identified";
  }
  return "done";
}

bool Absent(ErrorKind kind) {
  return kind == ErrorKind::NoAnswer || kind == ErrorKind::PortError || kind == ErrorKind::Damaged;
}

// Two threads on one device would mix their bytes on one line: a port given
// twice, also as a link and its device, is refused.
void CheckPortsDistinct(const std::vector<std::string>& ports) {
  if (ports.empty()) throw BadFile("a station needs at least one port");
  std::map<std::string, std::string> seen;  // device -> the name given first
  for (const std::string& port : ports) {
    std::error_code error;
    std::string device = std::filesystem::canonical(port, error).string();
    if (error) device = port;
    const auto [it, fresh] = seen.emplace(device, port);
    if (fresh) continue;
    throw BadFile(it->second == port ? "the port " + port + " is given twice"
                                     : "the ports " + it->second + " and " + port +
                                           " are the same device, " + device);
  }
}

// The number goes where the file holds no code: it must never change the
// firmware the verify would then call correct. A byte of FFh there is an
// erased cell (a padded image, a slot the firmware keeps free for its
// number) and may take it.
void CheckSerialPlace(const SerialSpec& spec, const Image& image, const std::string& file) {
  if (spec.length == 0 || spec.address + spec.length > Image::kFlashBytes) {
    throw BadFile("the serial number's place lies outside the flash");
  }
  const auto& data = image.bytes();
  const std::uint32_t first = spec.address, last = spec.address + spec.length - 1;
  auto hit = data.lower_bound(first);
  while (hit != data.end() && hit->first <= last && hit->second == 0xFF) ++hit;
  if (hit == data.end() || hit->first > last) return;
  for (const Range& run : image.ranges()) {
    if (run.last < hit->first || run.first > hit->first) continue;
    throw BadFile("the serial number at " + HD16Prev(first) + "h-" + HD16Prev(last) +
                  "h would overwrite data of " + file + " (" + HD16Prev(run.first) + "h-" +
                  HD16Prev(run.last) + "h)");
  }
}

}  // namespace

class Station::Impl {
 public:
  explicit Impl(StationOptions options) : o_(std::move(options)) {
    CheckPortsDistinct(o_.ports);
    const bool needsImage = o_.command == StationCommand::Program || o_.command == StationCommand::Verify;
    if (needsImage) LoadImage();
    const bool numbers = o_.serial && o_.command == StationCommand::Program;
    if (numbers) CheckSerialPlace(*o_.serial, image_, o_.file.empty() ? image_.name() : o_.file);
    if (!o_.db.empty()) {
      lib::PrepareDb(o_, [this](const std::string& text) { Said("", 0, text); });
    } else if (numbers) {
      if (o_.serial_file.empty()) throw BadFile("a serial number needs a serial-number file or a database");
      lib::CheckSerialFile(o_.serial_file, *o_.serial);
    }
    if (!o_.log_path.empty()) lib::CheckLog(o_.log_path);
    slots_.resize(o_.ports.size());
  }

  int Run() {
    {
      std::lock_guard lock(events_);
      if (callback_) {
        for (const BoardEvent& e : early_) callback_(e);
      }
      early_.clear();
    }
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < o_.ports.size(); ++i) {
      threads.emplace_back([this, i] {
        // Stop signals are the caller's, who stops the station with stop().
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, nullptr);
        Guarded(i);
      });
    }
    for (auto& t : threads) t.join();
    if (o_.loop) {
      if (stop_) return 130;
      for (const Slot& slot : slots_) {
        if (slot.failed > 0) return 1;
      }
      return 0;
    }
    for (const Slot& slot : slots_) {
      if (slot.status != 0) return slot.status;
    }
    return 0;
  }

  void Stop() noexcept {
    stop_ = true;
    std::lock_guard lock(targets_);
    for (Slot& slot : slots_) {
      if (slot.target) slot.target->cancel();
    }
  }

  std::function<void(const BoardEvent&)> callback_;
  std::string sha_;

 private:
  struct Slot {
    Target* target = nullptr;  // the board's, while one is open
    int status = 0;            // of the last board
    int failed = 0;
  };

  // What a board ended with.
  struct Board {
    std::optional<Info> info;
    std::optional<std::uint64_t> serial;
    lib::Downloaded downloaded;
    bool verified = false;
    int status = 0;
    std::string message;
  };

  void LoadImage() {
    if (o_.file.empty()) {
      if (!o_.image || o_.image->empty()) throw BadFile("a station needs a program file or an image");
      image_ = *o_.image;
      sha_ = image_.sha256();
      return;
    }
    // Read once: every board gets these bytes, whatever happens to the
    // file during the run.
    const FileRead file = ReadWholeFile(o_.file, kMaxProgramFileSize);
    image_ = Image::load(o_.file);
    sha_ = image_.sha256();
    const std::string read = QCryptographicHash::hash(QByteArray::fromStdString(file.bytes),
                                                      QCryptographicHash::Sha256)
                                 .toHex()
                                 .toStdString();
    if (file.fault != ReadFault::None || read != sha_) {
      throw BadFile(o_.file + " changed while it was read; nothing was sent");
    }
    if (FileTypeOf(o_.file) == ProgramFileType::RawImage) return;
    // A file cut at a line boundary, as an interrupted download or copy
    // leaves it, passes every other check.
    const ProgramCheck check = CheckProgramText(file.bytes, NameOf(o_.file), Image::kFlashBytes);
    endRecord_ = !check.records.empty() &&
                 std::string_view(check.records.back().text).substr(7, 2) == "01";
    if (endRecord_ || o_.allow_missing_end) return;
    throw BadFile(o_.file + " has no end record (:00000001FF) after its last line; an interrupted "
                  "download or copy leaves a file like this. Nothing was sent. To " +
                  std::string(CommandName(o_.command)) + " it as it is, add --allow-missing-end.");
  }

  void Emit(BoardEvent event) {
    std::lock_guard lock(events_);
    // What the checks said before a callback was there comes first.
    if (!callback_) {
      early_.push_back(std::move(event));
      return;
    }
    for (const BoardEvent& e : early_) callback_(e);
    early_.clear();
    callback_(event);
  }
  void Said(const std::string& port, int board, const std::string& text) {
    BoardEvent e;
    e.port = port;
    e.board = board;
    e.state = BoardEvent::State::Output;
    e.message = text;
    Emit(e);
  }

  // Nothing a port's thread meets ends the process: what escapes a board
  // ends that port's run as a failed board.
  void Guarded(std::size_t i) {
    try {
      PortRun(i);
    } catch (const std::exception& e) {
      slots_[i].status = 4;
      slots_[i].failed += 1;
      BoardEvent event;
      event.port = o_.ports[i];
      event.state = BoardEvent::State::Failed;
      event.exit_status = 4;
      event.message = e.what();
      Emit(event);
    }
  }

  void PortRun(std::size_t i) {
    // Every port has its own connection to the database.
    std::unique_ptr<lib::DbRecords> db;
    if (!o_.db.empty()) {
      db = std::make_unique<lib::DbRecords>(o_, [this](const std::string& t) { Said("", 0, t); });
    }
    for (int n = 1; !stop_ && (!o_.loop || o_.count == 0 || n <= o_.count); ++n) {
      std::unique_ptr<Target> target;
      if (!OneBoard(i, n, db.get(), target)) break;  // stopped while waiting
      // The last board of a count ends the port's run; it need not go.
      if (!o_.loop) break;
      // Options no board can work with (a rate, a reset sequence) fail
      // every board alike: the port is done.
      if (!target && slots_[i].status == exit_status(ErrorKind::BadFile)) break;
      if (target && (o_.count == 0 || n < o_.count)) WaitGone(*target);
      Hold(i, nullptr);
    }
  }

  void Hold(std::size_t i, Target* target) {
    std::lock_guard lock(targets_);
    slots_[i].target = target;
    if (target && stop_) target->cancel();
  }

  void Sleep(int ms) {
    for (int waited = 0; waited < ms && !stop_; waited += 50) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  void Call(Target& target, const std::function<void(lib::Driver&)>& job) {
    lib::TargetAccess::Run(target, job, stop_);
  }

  // One board on port i; false when the station stopped before one came.
  bool OneBoard(std::size_t i, int n, lib::DbRecords* db, std::unique_ptr<Target>& target) {
    const std::string& port = o_.ports[i];
    const auto started = std::chrono::system_clock::now();
    const auto start = Clock::now();
    BoardEvent event;
    event.port = port;
    event.board = n;
    const auto state = [&](BoardEvent::State s, int percent) {
      event.state = s;
      event.percent = percent;
      Emit(event);
    };
    const auto progress = [&](BoardEvent::State s) {
      return [&, s, last = -1](std::size_t done, std::size_t total) mutable {
        const int percent = static_cast<int>(total ? done * 100 / total : 100);
        if (percent == last && event.state == s) return;
        last = percent;
        event.done = done;
        event.total = total;
        state(s, percent);
        event.done = event.total = 0;
      };
    };
    Board b;
    TargetOptions options;
    options.baud = o_.baud;
    options.reset = o_.reset;
    options.reset_command = o_.reset_command;
    options.clock_hz = o_.clock_hz;
    options.timeout_ms = o_.timeout_ms;
    options.trace_path = o_.trace_path;
    try {
      state(o_.loop ? BoardEvent::State::Waiting : BoardEvent::State::Connecting, 0);
      for (;;) {
        try {
          target = std::make_unique<Target>(port, options);
          Hold(i, target.get());
          Call(*target, [&](lib::Driver& d) { b.info = d.Connect(); });
          break;
        } catch (const Error& e) {
          if (!o_.loop || stop_ || !Absent(e.kind())) throw;
        }
        Hold(i, nullptr);
        target.reset();
        // The user's own reset goes once per board, not on every try.
        options.reset_command.clear();
        Sleep(300);
        if (stop_) return false;
      }
      event.target = b.info;
      event.message = b.info->chip + " on " + port + " at " + std::to_string(o_.baud) + " baud";
      state(BoardEvent::State::Connecting, 100);
      event.message.clear();
      if (stop_) throw Interrupted("interrupted");
      Work(*target, db, b, event, state, progress);
    } catch (const Error& e) {
      b.status = e.exit_status();
      b.message = e.what();
    } catch (const std::exception& e) {
      b.status = 1;
      b.message = e.what();
    }
    if (o_.loop && !b.info && stop_) return false;

    lib::BoardRecord record;
    record.port = port;
    record.command = CommandName(o_.command);
    record.file = o_.file;
    record.fileSha256 = sha_;
    record.info = b.info;
    record.serial = b.serial;
    record.bytesWritten = b.downloaded.held;
    record.bytesSent = b.downloaded.sent;
    record.verified = b.verified;
    record.result = b.status == 0 ? "ok" : b.status == 130 ? "interrupted" : "failed";
    record.exitStatus = b.status;
    record.message = b.message;
    record.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    record.startedUnixMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(started.time_since_epoch()).count();
    if (!o_.log_path.empty()) {
      if (const auto why = lib::AppendLog(o_.log_path, lib::LogLine(record))) {
        const std::string lost = "its record could not be written to " + o_.log_path + ": " + *why;
        if (b.status == 0) {
          b.status = 5;
          b.message = std::string(DoneText(o_.command)) + ", but " + lost;
        } else {
          b.message += "; " + lost;
        }
      }
    }
    if (db) {
      const std::string lost = db->Keep(lib::LogLine(record));
      if (!lost.empty() && b.status == 0) {
        b.status = 5;
        b.message = "done, but its record could not be stored: " + lost;
      }
    }
    Slot& slot = slots_[i];
    slot.status = b.status;
    if (b.status != 0) slot.failed += 1;
    event.serial = b.serial;
    event.exit_status = b.status;
    event.message = b.message;
    state(b.status == 0 ? BoardEvent::State::Ok : BoardEvent::State::Failed, 100);
    if (!b.info) {
      Hold(i, nullptr);
      target.reset();
    }
    return true;
  }

  template <typename State, typename Progress>
  void Work(Target& target, lib::DbRecords* db, Board& b, BoardEvent& event, const State& state,
            const Progress& progress) {
    const std::string& port = event.port;
    const int n = event.board;
    switch (o_.command) {
      case StationCommand::Info: {
        const Info& info = *b.info;
        Said(port, n, "port: " + port);
        Said(port, n, "baud: " + std::to_string(o_.baud));
        Said(port, n, "target: " + info.chip);
        Said(port, n, "firmware: " + (info.firmware.empty() ? std::string("unknown") : info.firmware));
        Said(port, n, "id: " + HDPrev(info.id));
        Said(port, n, "clock_hz: " + std::to_string(info.clock_hz));
        Said(port, n, "clock_step_hz: " + std::to_string(info.clock_step_hz));
        Said(port, n, "flash_bytes: " + std::to_string(info.flash_bytes));
        return;
      }
      case StationCommand::Erase: {
        const lib::EraseWhat what = o_.erase_scope == EraseScope::Flash    ? lib::EraseWhat::Flash
                                    : o_.erase_scope == EraseScope::Config ? lib::EraseWhat::Config
                                                                           : lib::EraseWhat::FlashAndConfig;
        state(BoardEvent::State::Erasing, 0);
        Call(target, [&](lib::Driver& d) { d.Erase(what); });
        return;
      }
      case StationCommand::BlankCheck: {
        std::vector<Difference> found;
        auto report = progress(BoardEvent::State::Verifying);
        Call(target, [&](lib::Driver& d) { found = d.NotBlank(report); });
        const std::uint32_t flash = b.info->flash_bytes;
        for (std::size_t k = 0; k < found.size() && k < kShown; ++k) {
          Said(port, n, HD16Prev(found[k].address) + "h: " + HDPrev(found[k].actual) + "h");
        }
        if (found.empty()) {
          Said(port, n, "blank-check: all " + std::to_string(flash) + " bytes are FFh");
          return;
        }
        const std::string text = "blank-check: " + std::to_string(found.size()) + " of " +
                                 std::to_string(flash) + " bytes are not FFh";
        Said(port, n, text);
        throw VerifyFailed(text, std::move(found));
      }
      case StationCommand::Verify:
        Compare(target, image_, b, event, progress);
        return;
      case StationCommand::Program: break;
    }
    if (!endRecord_) {
      Said(port, n, "warning: " + NameOf(o_.file) + " has no end record; \":00000001FF\" is sent after its last line");
    }
    Image image = image_;
    lib::ProgramSteps steps;
    steps.skipErased = !o_.send_all;
    steps.massErase = o_.mass_erase;
    steps.writeFlash = o_.write_flash;
    steps.eraseConfig = o_.erase_config;
    steps.writeConfig = o_.write_config;
    steps.hcr0 = o_.hcr0.value_or(0xFF);
    steps.hcr1 = o_.hcr1.value_or(0xFF);
    steps.progress = progress(BoardEvent::State::Programming);
    std::optional<std::string> number;
    if (o_.serial) {
      const SerialSpec spec = *o_.serial;
      // The records hold a number from the start: the same records go, so
      // the progress counts them.
      image.put(spec.address, std::vector<std::uint8_t>(spec.length, 0));
      steps.patch = [&, spec](Image& sent) {
        const std::uint64_t serial = db ? db->TakeNumber(spec) : lib::TakeSerial(o_.serial_file, spec);
        b.serial = serial;  // the board has it now, however its run ends
        event.serial = serial;
        number = *lib::SerialBytes(spec, serial);
        sent.put(spec.address, std::vector<std::uint8_t>(number->begin(), number->end()));
      };
    }
    state(BoardEvent::State::Erasing, 0);
    Call(target, [&](lib::Driver& d) {
      try {
        d.Program(image, steps);
      } catch (...) {
        b.downloaded = d.LastDownload();
        throw;
      }
      b.downloaded = d.LastDownload();
    });
    if (number) image.put(o_.serial->address, std::vector<std::uint8_t>(number->begin(), number->end()));
    if (o_.verify) Compare(target, image, b, event, progress);
  }

  template <typename Progress>
  void Compare(Target& target, const Image& image, Board& b, const BoardEvent& event,
               const Progress& progress) {
    std::vector<Difference> found;
    auto report = progress(BoardEvent::State::Verifying);
    Call(target, [&](lib::Driver& d) { found = d.Verify(image, report); });
    const std::string name = o_.file.empty() ? image.name() : NameOf(o_.file);
    for (std::size_t k = 0; k < found.size() && k < kShown; ++k) {
      Said(event.port, event.board, HD16Prev(found[k].address) + "h: file " + HDPrev(found[k].expected) +
                                        "h, target " + HDPrev(found[k].actual) + "h");
    }
    const std::string size = std::to_string(image.size());
    if (found.empty()) {
      Said(event.port, event.board, "verify: " + size + " bytes match " + name);
      b.verified = true;
      return;
    }
    const std::string differ = std::to_string(found.size());
    Said(event.port, event.board, "verify: " + differ + " of " + size + " bytes differ from " + name);
    throw VerifyFailed("verify: " + differ + " bytes differ from " + name, std::move(found));
  }

  // Until the board is gone: its port went away, or its loader did not
  // answer a carriage return within about a second. A port that fails in
  // any way meanwhile has no board behind it.
  void WaitGone(Target& target) {
    try {
      while (!stop_) {
        bool answered = false;
        Call(target, [&](lib::Driver& d) { answered = d.Answers(kGoneMs); });
        if (!answered) return;
        Sleep(300);
      }
    } catch (const std::exception&) {
    }
  }

  static constexpr int kGoneMs = 1000;
  // Differing addresses a report names one by one.
  static constexpr std::size_t kShown = 10;

  StationOptions o_;
  Image image_;
  bool endRecord_ = true;
  std::vector<Slot> slots_;
  std::mutex targets_;
  std::mutex events_;
  std::vector<BoardEvent> early_;
  std::atomic<bool> stop_{false};
};

Station::Station(StationOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}
Station::~Station() = default;

void Station::on_event(std::function<void(const BoardEvent&)> callback) {
  impl_->callback_ = std::move(callback);
}

int Station::run() { return impl_->Run(); }

void Station::stop() noexcept { impl_->Stop(); }

const std::string& Station::file_sha256() const { return impl_->sha_; }

}  // namespace varnel
