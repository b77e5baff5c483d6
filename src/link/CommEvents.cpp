// Event delivery of the serial port. The port's descriptor sits in the main
// thread's event loop: when bytes arrive they are taken from the driver
// (filtered), and the handlers run on the main thread in the fixed order
// break, CTS, DSR, error, ring, RLSD, receive, event character, transmit
// queue empty. One event is handled at a time: the descriptor is not watched
// while a handler runs (the receive handler lets the GUI process events),
// and watching resumes when the handler returns.
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <QtGlobal>
#include <cerrno>
#include <exception>

#include "link/CommInt.h"
#include "link/CommRxFilter.h"

namespace varnel {
namespace {

constexpr unsigned Bit(TCommEventType e) { return 1u << static_cast<unsigned>(e); }

// Modem lines and error counters have no descriptor event; they are sampled.
constexpr int kLinePollMs = 10;

}  // namespace

bool TCustomComm::Watching() const {
  const auto watched = [this](TCommEventType e, bool assigned) {
    return assigned && monitorEvents_.Contains(e);
  };
  return watched(evBreak, bool(OnBreak)) || watched(evCts, bool(OnCts)) ||
         watched(evDsr, bool(OnDsr)) || watched(evError, bool(OnError)) ||
         watched(evRing, bool(OnRing)) || watched(evRlsd, bool(OnRlsd)) ||
         watched(evTxEmpty, bool(OnTxEmpty));
}

void TCustomComm::StartDelivery() {
  stalled_ = false;
  // Without an event loop in this thread nothing is delivered; reads still
  // take whatever has arrived.
  if (!QAbstractEventDispatcher::instance()) return;

  context_ = new QObject;
  notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, context_);
  QObject::connect(notifier_, &QSocketNotifier::activated, context_, [this] { OnReadable(); });

  if (Watching()) {
    int modem = 0;
    haveModem_ = ::ioctl(fd_, TIOCMGET, &modem) == 0;
    lastModem_ = modem;
    serial_icounter_struct ic{};
    haveCounters_ = ::ioctl(fd_, TIOCGICOUNT, &ic) == 0;
    lastCounters_ = {ic.brk, ic.frame, ic.overrun, ic.parity, ic.buf_overrun};
    lineTimer_ = new QTimer(context_);
    lineTimer_->setInterval(kLinePollMs);
    QObject::connect(lineTimer_, &QTimer::timeout, context_, [this] { PollLine(); });
    lineTimer_->start();
  }
}

void TCustomComm::StopDelivery() {
  if (!context_) return;
  notifier_->setEnabled(false);
  if (lineTimer_) lineTimer_->stop();
  // Inside a handler the notifier is still emitting: let the loop delete it.
  if (dispatching_) {
    context_->deleteLater();
  } else {
    delete context_;
  }
  context_ = nullptr;
  notifier_ = nullptr;
  lineTimer_ = nullptr;
}

void TCustomComm::OnReadable() {
  if (!notifier_) return;
  notifier_->setEnabled(false);
  // A port reopened inside a handler: the running dispatch resumes delivery
  // for it when it returns.
  if (dispatching_) return;
  Deliver();
}

void TCustomComm::PollLine() {
  if (dispatching_ || !notifier_ || hungUp_) return;
  notifier_->setEnabled(false);
  Deliver();
}

void TCustomComm::Deliver() {
  unsigned mask = 0;
  int errors = 0;
  if (lineTimer_) mask |= SampleLine(errors);
  if (!hungUp_ && static_cast<int>(pending_.size()) < readBufSize_) {
    if (Pull(static_cast<std::size_t>(readBufSize_) - pending_.size(), mask) != 0) HangUp();
  }
  if (!pending_.empty()) mask |= Bit(evRxChar);
  for (int e = evBreak; e <= evTxEmpty; ++e) {
    if (!monitorEvents_.Contains(static_cast<TCommEventType>(e))) mask &= ~(1u << e);
  }

  const std::size_t before = pending_.size();
  if (mask != 0) {
    const std::weak_ptr<int> alive = lifeToken_;
    dispatching_ = true;
    try {
      Dispatch(mask, errors);
    } catch (const std::exception& e) {
      // Nothing above the event loop could take it; the port carries on.
      qWarning("%s", e.what());
    } catch (...) {
      qWarning("Receive handler failed");
    }
    if (alive.expired()) return;  // a handler destroyed the component
    dispatching_ = false;
  }
  ResumeDelivery(pending_.size() < before);
}

void TCustomComm::Dispatch(unsigned mask, int errors) {
  const std::weak_ptr<int> alive = lifeToken_;
  const unsigned generation = generation_;
  // Once a handler closed the port, no further handler runs for it.
  const auto stillOpen = [&] { return !alive.expired() && generation == generation_; };
  const auto notify = [&](TCommEventType e, const Notify& handler) {
    if ((mask & Bit(e)) && stillOpen() && handler) handler(*this);
  };

  notify(evBreak, OnBreak);
  notify(evCts, OnCts);
  notify(evDsr, OnDsr);
  if ((mask & Bit(evError)) && stillOpen() && OnError) OnError(*this, errors);
  notify(evRing, OnRing);
  notify(evRlsd, OnRlsd);
  if ((mask & Bit(evRxChar)) && stillOpen() && OnRxChar && !pending_.empty()) {
    OnRxChar(*this, static_cast<int>(pending_.size()));
  }
  notify(evRxFlag, OnRxFlag);
  notify(evTxEmpty, OnTxEmpty);
}

void TCustomComm::ResumeDelivery(bool progressed) {
  stalled_ = false;
  if (!context_) return;  // closed by a handler
  if (!pending_.empty() && progressed && OnRxChar && monitorEvents_.Contains(evRxChar)) {
    // The handler left bytes it was told about: they make the next event.
    const unsigned generation = generation_;
    QTimer::singleShot(0, context_, [this, generation] {
      if (generation != generation_ || dispatching_ || !notifier_) return;
      notifier_->setEnabled(false);
      Deliver();
    });
    return;
  }
  if (hungUp_) return;
  if (static_cast<int>(pending_.size()) >= readBufSize_) {
    stalled_ = true;  // nobody reads: watching again would only spin
    return;
  }
  notifier_->setEnabled(true);
}

void TCustomComm::ResumeAfterRead() {
  if (!stalled_ || dispatching_ || !notifier_ || hungUp_) return;
  stalled_ = false;
  notifier_->setEnabled(true);
}

void TCustomComm::HangUp() {
  // The device is gone for good (a pseudo-terminal's master closed, an
  // adapter unplugged): its descriptor would report readable forever.
  const bool first = !hungUp_;
  hungUp_ = true;
  if (notifier_) notifier_->setEnabled(false);
  if (lineTimer_) lineTimer_->stop();
  if (first && OnHangUp) OnHangUp(*this);
}

int TCustomComm::Pull(std::size_t maxRaw, unsigned& mask) {
  if (maxRaw == 0) return 0;
  if (rawBuf_.size() < maxRaw) rawBuf_.resize(maxRaw);
  for (;;) {
    const ssize_t n = ::read(fd_, rawBuf_.data(), maxRaw);
    if (n > 0) {
      CommRxFilter filter;
      filter.errorMarks = options_.Contains(coParityCheck);
      filter.replaceErrors = options_.Contains(coErrorChar);
      filter.errorChar = eventChars_.ErrorChar;
      filter.stripNul = options_.Contains(coNullStrip);
      filter.evtChar = eventChars_.EvtChar;
      const auto result =
          filter.Apply({rawBuf_.data(), static_cast<std::size_t>(n)}, markCarry_, pending_);
      if (result.evtCharSeen) mask |= Bit(evRxFlag);
      return 0;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno == EAGAIN ? 0 : errno;
    // Nothing arrived, or the line hung up: a hung-up tty reads as empty.
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) return EIO;
    return 0;
  }
}

unsigned TCustomComm::SampleLine(int& errors) {
  unsigned mask = 0;
  if (haveModem_) {
    int modem = 0;
    if (::ioctl(fd_, TIOCMGET, &modem) == 0) {
      const int changed = modem ^ lastModem_;
      if (changed & TIOCM_CTS) mask |= Bit(evCts);
      if (changed & TIOCM_DSR) mask |= Bit(evDsr);
      if (changed & modem & TIOCM_RNG) mask |= Bit(evRing);
      if (changed & TIOCM_CD) mask |= Bit(evRlsd);
      lastModem_ = modem;
    }
  }
  if (haveCounters_) {
    serial_icounter_struct ic{};
    if (::ioctl(fd_, TIOCGICOUNT, &ic) == 0) {
      if (ic.brk != lastCounters_.brk) {
        mask |= Bit(evBreak);
        errors |= kCommErrBreak;
      }
      if (ic.buf_overrun != lastCounters_.bufOverrun) errors |= kCommErrRxOver;
      if (ic.overrun != lastCounters_.overrun) errors |= kCommErrOverrun;
      if (ic.parity != lastCounters_.parity) errors |= kCommErrRxParity;
      if (ic.frame != lastCounters_.frame) errors |= kCommErrFrame;
      if (errors & ~kCommErrBreak) mask |= Bit(evError);
      lastCounters_ = {ic.brk, ic.frame, ic.overrun, ic.parity, ic.buf_overrun};
    }
  }
  if (txPending_) {
    int queued = 0;
    if (::ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued == 0) {
      txPending_ = false;
      mask |= Bit(evTxEmpty);
    }
  }
  return mask;
}

}  // namespace varnel
