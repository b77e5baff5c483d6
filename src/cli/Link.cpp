// The command line's event loop over the port and the session.
#include "cli/Link.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>

#include "cli/StopSignals.h"
#include "link/Commands.h"
#include "link/PortNames.h"
#include "link/Trace.h"
#include "link/ErrorText.h"

namespace varnel::cli {
namespace {

// A reply's own line time is counted for this many characters: more than
// any reply of the loader (a 16-byte block with its echo and line ends).
constexpr std::size_t kLongReply = 64;
// Waits with nothing to wait for still yield this long, so a caller that
// polls in a loop does not spin.
constexpr int kIdleSliceMs = 5;
// Received text quoted in a time-out message.
constexpr std::size_t kQuoted = 40;

using Clock = std::chrono::steady_clock;

// False for a file, a folder or a device that takes no line settings; true
// also when it cannot be looked at (the open's own error then says why).
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

// Sees every chunk the port writes or reads.
class Link::Tap : public TraceTap {
 public:
  explicit Tap(Link& link) : link_(link) {}
  void Chunk(TraceDirection direction, std::string_view bytes) override {
    link_.Chunk(direction, bytes);
  }
  Clock::time_point start = Clock::now();

 private:
  Link& link_;
};

Link::Link(Screen& screen, int timeoutMs, bool watchSignals)
    : screen_(screen), timeoutMs_(timeoutMs), tap_(std::make_unique<Tap>(*this)) {
  // The loader's replies may carry NUL bytes from a glitch; the window's
  // port drops them too.
  TCommOptions options;
  options.Include(coNullStrip);
  comm_.SetOptions(options);
  comm_.SetTraceTap(tap_.get());
  session_.AttachUi(&screen_);
  session_.AttachPort(&comm_);

  screen_.onMessage = [this](MessageKind kind, const std::string& text) { OnBox(kind, text); };
  screen_.onRunEnded = [this](const Outcome& outcome) { OnRunEnded(outcome); };
  screen_.onSleep = [this](int ms) { Wait(ms); };

  watchdog_.setSingleShot(true);
  QObject::connect(&watchdog_, &QTimer::timeout, [this] { NoAnswer(); });

  if (!watchSignals) return;
  if (const int stops = StopSignalPipe(); stops >= 0) {
    signals_ = new QSocketNotifier(stops, QSocketNotifier::Read);
    QObject::connect(signals_, &QSocketNotifier::activated, [this, stops] {
      char byte = 0;
      while (::read(stops, &byte, 1) == 1) Interrupted(byte);
    });
  }
}

Link::~Link() {
  Close();
  delete signals_;
  if (trace_) std::fclose(trace_);
  screen_.onMessage = nullptr;
  screen_.onRunEnded = nullptr;
  screen_.onSleep = nullptr;
}

void Link::OpenTrace(const std::string& path) {
  trace_ = std::fopen(path.c_str(), "we");
  if (!trace_) {
    throw CliFailure(OutcomeKind::Refused,
                     "cannot write the trace file " + path + ": " + ErrorText(errno));
  }
  tap_->start = Clock::now();
}

void Link::Open(const std::string& name, TBaudrate rate) {
  try {
    comm_.SetDeviceName(name);
    comm_.SetBaudRate(rate);
    comm_.Open();
  } catch (const ECommError& e) {
    const std::string device = ResolvePortDevice(name);
    if (!device.empty() && !IsSerialPort(device)) {
      throw CliFailure(OutcomeKind::PortFailed, device + " is not a serial port");
    }
    std::string why = e.Code() > 0 ? ErrorText(e.Code()) : e.what();
    if (e.Code() == EBUSY) why += " (another program holds it)";
    if (e.Code() == EACCES || e.Code() == EPERM) why += std::string(". ") + kDialoutRemedy;
    throw CliFailure(OutcomeKind::PortFailed,
                     "cannot open the port " + (device.empty() ? name : device) + ": " + why);
  }
  session_.NotePortOpened();
}

void Link::Close() {
  watchdog_.stop();
  session_.NotePortClosed();
  comm_.Close();  // the line settings the port had before are restored
  if (trace_) std::fflush(trace_);
}

int Link::ExchangeMs(std::size_t commandBytes) const {
  const int baud = BaudRateValue(comm_.BaudRate());
  const double lineMs = static_cast<double>(commandBytes + kLongReply) * 10.0 * 1000.0 / baud;
  return timeoutMs_ + static_cast<int>(std::ceil(lineMs));
}

void Link::Chunk(TraceDirection direction, std::string_view bytes) {
  if (trace_) {
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - tap_->start).count();
    const std::string line = TraceLine(ms, direction, bytes) + "\n";
    std::fwrite(line.data(), 1, line.size(), trace_);
  }
  if (direction == TraceDirection::Sent) {
    bytesSent_ += static_cast<long long>(bytes.size());
    lastSent_.assign(bytes);
    sinceSent_.clear();
    if (session_.LastCommand.empty()) ++awaitedPrompts_;
    // Every command must be answered in time, whoever waits for it.
    watchdog_.start(ExchangeMs(bytes.size()));
    return;
  }
  bytesReceived_ += static_cast<long long>(bytes.size());
  if (sinceSent_.size() < kQuoted) sinceSent_.append(bytes.substr(0, kQuoted - sinceSent_.size()));
  const auto prompts = static_cast<int>(std::count(bytes.begin(), bytes.end(), '>'));
  awaitedPrompts_ = std::max(0, awaitedPrompts_ - prompts);
}

bool Link::RunUntil(const std::function<bool()>& done, int maxMs) {
  bool expired = false;
  QTimer bound;
  if (maxMs >= 0) {
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, [&expired] { expired = true; });
    bound.start(maxMs);
  }
  while (!failure_ && !expired && !done()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (comm_.IsOpen() && comm_.IsHungUp()) {
      Fail({OutcomeKind::PortFailed, "the port " + comm_.DeviceName() + " went away (line hung up)"});
    }
  }
  return !failure_ && done();
}

void Link::Wait(int ms) {
  if (failure_) return;
  if (realWaits_) {
    RunUntil([] { return false; }, ms);
  } else if (awaitedPrompts_ > 0) {
    // The window sleeps while replies come in; here the wait ends as soon
    // as they are all in (or the time-out ends the run).
    RunUntil([this] { return awaitedPrompts_ == 0; });
  } else if (session_.LastCommand.empty()) {
    RunUntil([] { return false; }, std::min(ms, kIdleSliceMs));
  }
  // A sequence waiting through the dispatcher gets its reply from the
  // event loop once the caller returns.
}

void Link::Fail(const Outcome& outcome) {
  if (failure_) return;
  failure_ = outcome;
  watchdog_.stop();
  session_.NotePortClosed();  // nothing more goes out
}

void Link::NoAnswer() {
  const int seconds = (timeoutMs_ + 999) / 1000;
  std::string text = "no answer to \"" + TraceText(lastSent_) + "\" within " +
                     std::to_string(seconds) + " s";
  if (!sinceSent_.empty()) text += " (received only \"" + TraceText(sinceSent_) + "\")";
  Outcome silent{OutcomeKind::NoAnswer, text};
  silent.command = lastSent_;
  Fail(silent);
}

void Link::Interrupted(int) {
  const bool downloading = session_.ProgrammingActive && session_.LastCommand.front() == 'L';
  if (ending_ || !downloading || failure_) {
    Fail({OutcomeKind::Interrupted, "interrupted"});
    return;
  }
  // The loader stays in its line mode until it sees the end record: send
  // it now, after the record in flight, and give the loader the time its
  // answer needs. Nothing else is sent.
  ending_ = true;
  session_.AbandonPending();
  session_.ClearRx();
  try {
    session_.SendString(cmd::kEndRecord);
  } catch (const ECommError&) {
    // Called from the event loop, where nothing may be thrown: a port
    // that went away takes no end record, and the stop is all that is left.
    ending_ = false;
    Fail({OutcomeKind::Interrupted, "interrupted"});
    return;
  }
  RunUntil([this] { return session_.RxBuffer.find('>') != std::string::npos; },
           ExchangeMs(2 * 64));
  ending_ = false;
  Fail({OutcomeKind::Interrupted, "interrupted; the download was ended with the end record"});
}

void Link::OnBox(MessageKind kind, const std::string& text) {
  // The engine asks nothing of the user; a box is only ever a remark.
  if (kind == MessageKind::Information) {
    screen_.Note(text);
  } else {
    screen_.Warn(text);
  }
}

void Link::OnRunEnded(const Outcome& outcome) {
  if (outcome.Done()) return;  // its notice was shown
  Fail(outcome);
}

}  // namespace varnel::cli
