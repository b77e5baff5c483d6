// terminal: the loader by hand, without a terminal program. Keys go to the
// line as typed, one read at a time; what comes back is shown with its
// control bytes made visible, so that the loader's "\r\n" and a stray byte
// can be told apart. Nothing is sent of its own.
#include <signal.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "cli/CliSettings.h"
#include "cli/Commands.h"
#include "cli/ResetCommand.h"
#include "link/CommInt.h"
#include "link/Trace.h"
#include "link/ErrorText.h"

namespace varnel::cli {
namespace {

// Ctrl+]: ends the terminal; never sent.
constexpr char kEnd = 0x1D;

// The keyboard unbuffered and unechoed while the terminal runs, the
// terminal's own settings back afterwards. Output processing stays on, so
// a line break still starts a new line. Does nothing when standard input
// is no terminal.
class RawKeyboard {
 public:
  RawKeyboard() {
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &saved_) != 0) return;
    termios raw = saved_;
    // No line editing, no echo, no signals from Ctrl+C or Ctrl+Z, and Enter
    // stays the carriage return it is.
    raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON | IXOFF | ISTRIP | BRKINT);
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | ISIG | IEXTEN);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw) == 0) active_ = true;
  }
  ~RawKeyboard() {
    if (active_) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
  }
  RawKeyboard(const RawKeyboard&) = delete;
  RawKeyboard& operator=(const RawKeyboard&) = delete;

 private:
  termios saved_{};
  bool active_ = false;
};

// SIGINT, SIGTERM and SIGHUP as readable events, so the keyboard is put back
// before the terminal ends on one.
class Signals {
 public:
  Signals() {
    sigemptyset(&set_);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set_, s);
    ::sigprocmask(SIG_BLOCK, &set_, &previous_);
    fd_ = ::signalfd(-1, &set_, SFD_NONBLOCK | SFD_CLOEXEC);
  }
  ~Signals() {
    if (fd_ >= 0) ::close(fd_);
    ::sigprocmask(SIG_SETMASK, &previous_, nullptr);
  }
  Signals(const Signals&) = delete;
  Signals& operator=(const Signals&) = delete;

  int Fd() const { return fd_; }
  // The signal that came, 0 for none.
  int Take() const {
    signalfd_siginfo info{};
    return ::read(fd_, &info, sizeof info) == sizeof info ? static_cast<int>(info.ssi_signo) : 0;
  }

 private:
  sigset_t set_{}, previous_{};
  int fd_ = -1;
};

// Received bytes as the trace shows them; a line feed also breaks the line.
std::string Visible(std::string_view bytes) {
  std::string text;
  for (const char c : bytes) {
    text += TraceText(std::string_view(&c, 1));
    if (c == '\n') text += '\n';
  }
  return text;
}

void Show(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

// The line time of what was typed last is waited for at the end, so that
// closing the port (which empties its queues) loses none of it; at most
// this long.
constexpr int kDrainMs = 2000;

class Terminal {
 public:
  // Takes the port's receive and transmit-empty events; before the port
  // opens, so that the port watches its transmit queue.
  Terminal(TComm& port, int quietMs) : port_(port), quietMs_(quietMs) {
    port_.OnRxChar = [this](CommPort&, int count) { Received(count); };
    port_.OnTxEmpty = [this](CommPort&) { unsent_ = false; };
  }
  ~Terminal() {
    port_.OnRxChar = nullptr;
    port_.OnTxEmpty = nullptr;
  }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  // Runs until Ctrl+], the end of the input and a quiet line, a signal or
  // the port's end; returns how it ended.
  OutcomeKind Run(const Signals& stops) {
    QSocketNotifier keys(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&keys, &QSocketNotifier::activated, [&] { Typed(keys); });
    std::unique_ptr<QSocketNotifier> signalled;
    if (stops.Fd() >= 0) {
      signalled = std::make_unique<QSocketNotifier>(stops.Fd(), QSocketNotifier::Read);
      QObject::connect(signalled.get(), &QSocketNotifier::activated, [&] {
        if (stops.Take() != 0) End(OutcomeKind::Interrupted);
      });
    }
    quiet_.setSingleShot(true);
    QObject::connect(&quiet_, &QTimer::timeout, [this] { End(OutcomeKind::Finished); });
    // Wakes the loop now and then, so that a line that goes away while
    // nothing comes is noticed.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [] {});
    watch.start(200);

    while (!status_) {
      QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
      if (!status_ && port_.IsHungUp()) PortFailed("went away (line hung up)");
    }
    keys.setEnabled(false);
    QElapsedTimer drain;
    drain.start();
    while (unsent_ && !port_.IsHungUp() && drain.elapsed() < kDrainMs) {
      QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    if (lineOpen_) Show("\n");
    return *status_;
  }

 private:
  void Typed(QSocketNotifier& keys) {
    char buffer[256];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
      // The input ended: what was asked for still comes back.
      keys.setEnabled(false);
      inputEnded_ = true;
      quiet_.start(quietMs_);
      return;
    }
    const std::string_view typed(buffer, static_cast<std::size_t>(n));
    const std::size_t end = typed.find(kEnd);
    const std::string_view send = typed.substr(0, end);
    try {
      if (!send.empty() && port_.Write(send.data(), static_cast<int>(send.size())) < 0) {
        PortFailed("took nothing within its write time");
        return;
      }
      if (!send.empty()) unsent_ = true;
    } catch (const ECommError& e) {
      PortFailed(std::string("failed: ") + e.what());
      return;
    }
    if (end != std::string_view::npos) End(OutcomeKind::Finished);
  }

  void Received(int count) {
    std::string bytes(static_cast<std::size_t>(std::max(count, 0)), '\0');
    int n = 0;
    try {
      n = port_.Read(bytes.data(), count);
    } catch (const ECommError& e) {
      PortFailed(std::string("failed: ") + e.what());
      return;
    }
    if (n <= 0) return;
    bytes.resize(static_cast<std::size_t>(n));
    Show(Visible(bytes));
    lineOpen_ = bytes.back() != '\n';
    if (inputEnded_) quiet_.start(quietMs_);
  }

  void PortFailed(const std::string& what) {
    if (status_) return;
    if (lineOpen_) Show("\n");
    lineOpen_ = false;
    std::fprintf(stderr, "varnel-cli: the port %s %s\n", port_.DeviceName().c_str(), what.c_str());
    End(OutcomeKind::PortFailed);
  }

  void End(OutcomeKind status) {
    if (!status_) status_ = status;
  }

  TComm& port_;
  int quietMs_;
  QTimer quiet_;
  bool inputEnded_ = false;
  bool lineOpen_ = false;  // the last thing shown did not end its line
  bool unsent_ = false;    // typed bytes may still wait in the transmit queue
  std::optional<OutcomeKind> status_;
};

}  // namespace

OutcomeKind RunTerminal(const Options& options) {
  Session session;
  CliSettings settings(session, options);
  settings.LoadProperties();
  const std::string device = settings.CheckedDevice();
  const std::string& name = settings.PortName();

  std::unique_ptr<TraceFile> trace;
  if (!options.trace.empty()) {
    try {
      trace = std::make_unique<TraceFile>(options.trace);
    } catch (const std::runtime_error& e) {
      throw CliFailure(OutcomeKind::Refused, e.what());
    }
  }
  if (!options.resetCommand.empty()) {
    Screen screen(Screen::ModeFor(options.quiet));
    RunResetCommand(options.resetCommand, screen, options.quiet);
  }
  TComm port;
  port.SetTraceTap(trace.get());
  Terminal terminal(port, options.timeoutMs);
  try {
    port.SetDeviceName(name);
    port.SetBaudRate(settings.Rate());
    port.Open();
  } catch (const ECommError& e) {
    throw CliFailure(OutcomeKind::PortFailed, "cannot open the port " + device + ": " +
                                    (e.Code() > 0 ? ErrorText(e.Code()) : e.what()));
  }

  const Signals stops;
  const RawKeyboard keyboard;
  // Said once the keyboard is raw: from here on a key is sent as typed.
  if (!options.quiet) {
    std::fprintf(stderr, "varnel-cli: terminal on %s at %s baud; Ctrl+] ends it\n", device.c_str(),
                 settings.BaudText().c_str());
  }
  const OutcomeKind status = terminal.Run(stops);
  port.Close();
  return status;
}

}  // namespace varnel::cli
