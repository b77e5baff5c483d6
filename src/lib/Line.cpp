// The library's event loop over the port and the session.
#include "lib/Line.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>

#include "lib/Errors.h"
#include "link/Commands.h"
#include "link/PortNames.h"
#include "link/Trace.h"

extern char** environ;

namespace varnel::lib {
namespace {

// A reply's own line time is counted for this many characters: more than
// any reply of the loader (a 16-byte block with its echo and line ends).
constexpr std::size_t kLongReply = 64;
// Waits with nothing to wait for still yield this long.
constexpr int kIdleSliceMs = 5;
// Received text quoted in a time-out message.
constexpr std::size_t kQuoted = 40;
// The longest a reset command may take.
constexpr int kResetCommandLimitMs = 60000;

using Clock = std::chrono::steady_clock;

// False for a file, a folder or a device that takes no line settings.
bool IsSerialPort(const std::string& device) {
  struct stat st {};
  if (::stat(device.c_str(), &st) != 0) return true;
  if (!S_ISCHR(st.st_mode)) return false;
  const int fd = ::open(device.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return true;
  const bool tty = ::isatty(fd) != 0;
  ::close(fd);
  return tty;
}

}  // namespace

void FixedSettings::LoadProperties() {
  ProjectSettingsRecord ps;
  ps.PortName = port_;
  ps.BaudText = std::to_string(options_.baud);
  ps.ControlDTR = !options_.reset.empty();
  ps.ResetSequence = options_.reset;
  ps.CrystalHz = static_cast<std::int32_t>(options_.clock_hz);
  session_.ProjectSettings = ps;
  // Unless a run says otherwise, the configuration registers are written
  // as an erased page holds them.
  session_.Images.CfgImage.Write(MemoryImages::kHCR1Offset, 0xFF);
  session_.Images.CfgImage.Write(MemoryImages::kHCR0Offset, 0xFF);
}

// Sees every chunk the port writes or reads.
class Line::Tap : public TraceTap {
 public:
  explicit Tap(Line& line) : line_(line) {}
  void Chunk(TraceDirection direction, std::string_view bytes) override {
    line_.Chunk(direction, bytes);
  }
  Clock::time_point start = Clock::now();

 private:
  Line& line_;
};

Line::Line(const TargetOptions& options, const std::atomic<bool>& cancel)
    : options_(options), cancel_(cancel), tap_(std::make_unique<Tap>(*this)) {
  // The loader's replies may carry NUL bytes from a glitch; the window's
  // port drops them too.
  TCommOptions portOptions;
  portOptions.Include(coNullStrip);
  comm_.SetOptions(portOptions);
  comm_.SetTraceTap(tap_.get());
  watchdog_.setSingleShot(true);
  QObject::connect(&watchdog_, &QTimer::timeout, [this] { NoAnswer(); });
}

Line::~Line() {
  Close();
  if (trace_) std::fclose(trace_);
}

void Line::Close() {
  watchdog_.stop();
  if (session_) session_->NotePortClosed();
  comm_.Close();  // the line settings the port had before are restored
  if (trace_) std::fflush(trace_);
}

void Line::Open(const std::string& port) {
  if (!options_.trace_path.empty()) {
    trace_ = std::fopen(options_.trace_path.c_str(), "we");
    if (!trace_) {
      throw BadFile("cannot write the trace file " + options_.trace_path + ": " +
                    std::strerror(errno));
    }
    tap_->start = Clock::now();
  }
  device_ = ResolvePortDevice(port);
  if (device_.empty()) device_ = port;
  try {
    comm_.SetDeviceName(port);
    comm_.SetBaudRate(*LineRate(options_.baud));
    comm_.Open();
  } catch (const ECommError& e) {
    if (!IsSerialPort(device_)) throw PortError(device_ + " is not a serial port");
    std::string why = e.Code() > 0 ? std::strerror(e.Code()) : e.what();
    if (e.Code() == EBUSY) why += " (another program holds it)";
    if (e.Code() == EACCES || e.Code() == EPERM) {
      why += ". Serial ports belong to the group dialout; join it with\n"
             "  sudo adduser $USER dialout\n"
             "then log out and in again.";
    }
    throw PortError("cannot open the port " + device_ + ": " + why);
  }
  Renew();
}

std::optional<TBaudrate> Line::LineRate(int baud) {
  for (const BaudRateInfo& row : kBaudRates) {
    if (row.baud == baud) return row.rate;
  }
  return std::nullopt;
}

void Line::Renew() {
  engine_.reset();
  settings_.reset();
  session_ = std::make_unique<Session>();
  settings_ = std::make_unique<FixedSettings>(*session_, options_, comm_.DeviceName());
  engine_ = std::make_unique<Engine>(*session_, *settings_);
  session_->AttachUi(this);
  session_->AttachPort(&comm_);
  session_->AddOutcomeListener([this](const Outcome&) { ++outcomes_; });
  settings_->LoadProperties();
  if (comm_.IsOpen()) session_->NotePortOpened();
  failure_.reset();
  awaitedPrompts_ = 0;
  ending_ = false;
}

int Line::ExchangeMs(std::size_t commandBytes) const {
  const int baud = BaudRateValue(comm_.BaudRate());
  const double lineMs = static_cast<double>(commandBytes + kLongReply) * 10.0 * 1000.0 / baud;
  return options_.timeout_ms + static_cast<int>(std::ceil(lineMs));
}

void Line::Chunk(TraceDirection direction, std::string_view bytes) {
  if (trace_) {
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - tap_->start).count();
    const std::string line = TraceLine(ms, direction, bytes) + "\n";
    std::fwrite(line.data(), 1, line.size(), trace_);
    std::fflush(trace_);  // whole lines in the file whenever it is looked at
  }
  if (direction == TraceDirection::Sent) {
    lastSent_.assign(bytes);
    sinceSent_.clear();
    if (session_ && session_->LastCommand.empty()) ++awaitedPrompts_;
    // Every command must be answered in time, whoever waits for it.
    watchdog_.start(ExchangeMs(bytes.size()));
    return;
  }
  if (sinceSent_.size() < kQuoted) sinceSent_.append(bytes.substr(0, kQuoted - sinceSent_.size()));
  const auto prompts = static_cast<int>(std::count(bytes.begin(), bytes.end(), '>'));
  awaitedPrompts_ = std::max(0, awaitedPrompts_ - prompts);
}

bool Line::RunUntil(const std::function<bool()>& done, int maxMs) {
  bool expired = false;
  QTimer bound;
  if (maxMs >= 0) {
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, [&expired] { expired = true; });
    bound.start(maxMs);
  }
  while (!failure_ && !expired && !done()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (cancel_.load() && !ending_) Interrupted();
    if (comm_.IsOpen() && comm_.IsHungUp()) {
      Fail({OutcomeKind::PortFailed, "the port " + device_ + " went away (line hung up)"});
    }
  }
  return !failure_ && done();
}

void Line::BeginVerb() {
  failure_.reset();
  progressError_ = nullptr;
  ending_ = false;
  if (comm_.IsOpen()) session_->NotePortOpened();
}

void Line::Run(const std::function<bool(Engine&)>& verb) {
  const std::uint64_t before = outcomes_;
  if (!verb(*engine_)) throw BadFile("the target is busy or not connected; nothing was sent");
  RunUntil([&] { return outcomes_ != before && !engine_->Busy(); });
  Check();
  if (const auto& outcome = session_->LastOutcome(); outcome && !outcome->Done()) {
    RaiseOutcome(*outcome);
  }
}

void Line::Check() {
  if (progressError_) {
    std::exception_ptr error = std::exchange(progressError_, nullptr);
    std::rethrow_exception(error);
  }
  if (failure_) RaiseOutcome(*failure_);
}

void Line::Sleep(int ms) {
  if (failure_) return;
  if (realWaits_) {
    RunUntil([] { return false; }, ms);
  } else if (awaitedPrompts_ > 0) {
    // The window sleeps while replies come in; here the wait ends as soon
    // as they are all in (or the time-out ends the run).
    RunUntil([this] { return awaitedPrompts_ == 0; });
  } else if (session_->LastCommand.empty()) {
    RunUntil([] { return false; }, std::min(ms, kIdleSliceMs));
  }
}

void Line::Fail(const Outcome& outcome) {
  if (failure_) return;
  failure_ = outcome;
  watchdog_.stop();
  session_->NotePortClosed();  // nothing more goes out
}

void Line::NoAnswer() {
  const int seconds = (options_.timeout_ms + 999) / 1000;
  std::string text = "no answer to \"" + TraceText(lastSent_) + "\" within " +
                     std::to_string(seconds) + " s";
  if (!sinceSent_.empty()) text += " (received only \"" + TraceText(sinceSent_) + "\")";
  Outcome silent{OutcomeKind::NoAnswer, text};
  silent.command = lastSent_;
  Fail(silent);
}

void Line::Interrupted() {
  Session& s = *session_;
  const bool downloading = s.ProgrammingActive && s.LastCommand.front() == 'L';
  if (!downloading || failure_) {
    Fail({OutcomeKind::Interrupted, "interrupted"});
    return;
  }
  // The loader stays in its line mode until it sees the end record: send
  // it now, after the record in flight, and give the loader the time its
  // answer needs. Nothing else is sent.
  ending_ = true;
  s.AbandonPending();
  s.ClearRx();
  s.SendString(cmd::kEndRecord);
  RunUntil([&s] { return s.RxBuffer.find('>') != std::string::npos; }, ExchangeMs(2 * 64));
  ending_ = false;
  Fail({OutcomeKind::Interrupted, "interrupted; the download was ended with the end record"});
}

void Line::RunEnded(const Outcome& outcome) {
  if (!outcome.Done()) Fail(outcome);
}

void Line::ShowNotice(const std::string&, const std::string& text, const std::string&) {
  Say(Message::Kind::Notice, text);
}

void Line::MessageBox(MessageKind kind, const std::string& text) {
  // The engine asks nothing of the caller; a box is only ever a remark.
  Say(kind == MessageKind::Information ? Message::Kind::Notice : Message::Kind::Warning, text);
}

void Line::Say(Message::Kind kind, const std::string& text, std::size_t bytes) {
  if (!options_.on_message || progressError_) return;
  try {
    options_.on_message(Message{kind, text, bytes});
  } catch (...) {
    // As with a progress function that fails: the run ends with its error.
    progressError_ = std::current_exception();
    Fail({OutcomeKind::Interrupted, "the message function failed"});
  }
}

// --- progress ---

void Line::SetProgress(Progress progress, std::size_t total,
                       std::function<std::size_t(int)> doneAt) {
  progress_ = std::move(progress);
  total_ = total;
  doneAt_ = std::move(doneAt);
  doneBefore_ = doneNow_ = 0;
}

void Line::Report(std::size_t done) {
  if (!progress_ || progressError_) return;
  try {
    progress_(std::min(done, total_), total_);
  } catch (...) {
    // The caller's function failed: the run ends, and its error is what
    // the verb throws.
    progressError_ = std::current_exception();
    Fail({OutcomeKind::Interrupted, "the progress function failed"});
  }
}

void Line::StartProgress(const ProgressStart& how) {
  // A display that replaces an open one: what it counted stays counted.
  if (progressOpen_) doneBefore_ += doneNow_;
  progressOpen_ = true;
  minimum_ = how.minimum;
  position_ = how.position;
  doneNow_ = 0;
}

void Line::StepProgress(int position, const std::string&) {
  if (!progressOpen_) return;
  position_ = position;
  doneNow_ = doneAt_ ? doneAt_(position - minimum_) : 0;
  Report(doneBefore_ + doneNow_);
}

void Line::EndProgress() {
  if (!progressOpen_) return;
  progressOpen_ = false;
  doneBefore_ += doneNow_;
  doneNow_ = 0;
}

void Line::EndProgressReport(bool finished) {
  if (finished) Report(total_);
  progress_ = nullptr;
  doneAt_ = nullptr;
}

// --- the reset command ---

void Line::RunResetCommand(const std::string& command) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw PortError("cannot run the reset command: no pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, out[1], 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // The library's threads block the stop signals; the command gets them.
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, "/bin/sh", &actions, &attributes,
                                    const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(out[1]);
  if (spawned != 0) {
    ::close(out[0]);
    throw PortError("cannot run the reset command: " + std::string(std::strerror(spawned)));
  }
  std::string output;
  const auto limit = Clock::now() + std::chrono::milliseconds(kResetCommandLimitMs);
  int status = 0;
  bool ended = false;
  const char* stop = nullptr;
  while (!ended) {
    pollfd p{out[0], POLLIN, 0};
    if (::poll(&p, 1, 20) > 0) {
      char buffer[512];
      const ssize_t n = ::read(out[0], buffer, sizeof buffer);
      if (n > 0 && output.size() < 4096) output.append(buffer, static_cast<std::size_t>(n));
    }
    ended = ::waitpid(pid, &status, WNOHANG) == pid;
    if (ended) break;
    if (cancel_.load()) stop = "interrupted";
    if (Clock::now() > limit) stop = "took too long";
    if (stop) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
  }
  ::close(out[0]);
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
  if (stop && cancel_.load()) throw varnel::Interrupted("interrupted during the reset command");
  if (stop) throw PortError("the reset command took more than 60 s: " + command);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    throw PortError("the reset command failed (status " + std::to_string(code) + ")" +
                    (output.empty() ? "" : ": " + output));
  }
}

}  // namespace varnel::lib
