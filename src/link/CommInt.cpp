// The serial port component: opening and closing the device, reads, writes
// and the modem control lines.
#include "link/CommInt.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "link/PortNames.h"

namespace varnel {

TCustomComm::TCustomComm() : lifeToken_(std::make_shared<int>(0)) {}

TCustomComm::~TCustomComm() { Close(); }

void TCustomComm::SetDeviceName(const std::string& name) {
  if (IsOpen()) throw ECommError("Port already assigned (open)", -1);
  deviceName_ = name;
}

void TCustomComm::SetReadBufSize(int size) {
  if (IsOpen()) throw ECommError("Port already assigned (open)", -1);
  readBufSize_ = std::max(size, 1);
}

void TCustomComm::SetWriteBufSize(int size) {
  if (IsOpen()) throw ECommError("Port already assigned (open)", -1);
  writeBufSize_ = std::max(size, 1);
}

void TCustomComm::SetMonitorEvents(TCommEventTypes events) {
  if (IsOpen()) throw ECommError("Port already assigned (open)", -1);
  monitorEvents_ = events;
}

void TCustomComm::Open() {
  if (IsOpen()) throw ECommError("Port already assigned (open)", -1);
  OpenDevice(ResolvePortDevice(deviceName_));
  try {
    SaveLineAndSetRaw();
    ApplyLineSettings();
    PurgeQueues();
  } catch (...) {
    ReleaseDevice();
    throw;
  }
  RequestLowLatency();
  hungUp_ = false;
  pending_.clear();
  markCarry_.clear();
  ++generation_;
  StartDelivery();
}

void TCustomComm::OpenDevice(const std::string& device) {
  // A name that is neither a port nor a path names no device.
  if (device.empty()) throw ECommError("Error accessing specified device", ENOENT);
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw ECommError("Error accessing specified device", errno);

  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
    ::close(fd);
    throw ECommError("Invalid device handle, access denied", -1);
  }
  // The port belongs to one program at a time: the advisory lock is what
  // another instance of this program sees (exclusive mode does not hold
  // back a privileged user), exclusive mode keeps other tools out.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int code = (errno == EWOULDBLOCK) ? EBUSY : errno;
    ::close(fd);
    throw ECommError("Error accessing specified device", code);
  }
  ::ioctl(fd, TIOCEXCL);  // not a tty: the line setup that follows says so
  fd_ = fd;
}

void TCustomComm::ReleaseDevice() {
  std::lock_guard<std::mutex> lock(ioLock_);
  if (fd_ < 0) return;
  ::ioctl(fd_, TIOCNXCL);
  ::close(fd_);  // also drops the advisory lock
  fd_ = -1;
}

void TCustomComm::Close() {
  if (!IsOpen()) return;
  StopDelivery();
  ++generation_;
  // Nothing queued survives the port: a pending reply or an unsent command
  // belongs to the session that is ending.
  ::ioctl(fd_, TCFLSH, 2 /* both queues */);
  RestoreLine();
  RestoreLowLatency();
  ReleaseDevice();
  pending_.clear();
  markCarry_.clear();
  hungUp_ = false;
  txPending_ = false;
}

void TCustomComm::RequestLowLatency() {
  // USB adapters otherwise hold received bytes up to 16 ms before passing
  // them on, longer than a whole reply takes on the wire. A driver without
  // the setting is fine as it is.
  savedSerialFlags_ = -1;
  serial_struct ss {};
  if (::ioctl(fd_, TIOCGSERIAL, &ss) != 0) return;
  if (ss.flags & ASYNC_LOW_LATENCY) return;
  const int old = ss.flags;
  ss.flags |= ASYNC_LOW_LATENCY;
  if (::ioctl(fd_, TIOCSSERIAL, &ss) == 0) savedSerialFlags_ = old;
}

void TCustomComm::RestoreLowLatency() {
  if (savedSerialFlags_ < 0) return;
  serial_struct ss {};
  if (::ioctl(fd_, TIOCGSERIAL, &ss) == 0) {
    ss.flags = savedSerialFlags_;
    ::ioctl(fd_, TIOCSSERIAL, &ss);
  }
  savedSerialFlags_ = -1;
}

bool TCustomComm::IsHungUp() const {
  if (hungUp_) return true;
  if (fd_ < 0) return false;
  pollfd p{fd_, 0, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

int TCustomComm::Write(const char* data, int count) {
  std::lock_guard<std::mutex> lock(ioLock_);
  if (fd_ < 0) throw ECommError("Write error", -1);
  if (count <= 0) return 0;

  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(writeTimeout_, 0));
  int done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd_, data + done, static_cast<std::size_t>(count - done));
    if (n > 0) {
      done += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) throw ECommError("Write error", errno);

    // The transmit queue is full: wait for room, but not beyond the time-out.
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return -1;
    pollfd p{fd_, POLLOUT, 0};
    if (::poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR) {
      throw ECommError("Write error", errno);
    }
  }
  if (monitorEvents_.Contains(evTxEmpty) && OnTxEmpty) txPending_ = true;
  Trace(TraceDirection::Sent, data, done);
  return done;
}

int TCustomComm::Read(char* buffer, int count) {
  std::lock_guard<std::mutex> lock(ioLock_);
  if (fd_ < 0) throw ECommError("Read error", -1);
  if (count <= 0) return 0;

  int failure = hungUp_ ? EIO : 0;
  if (static_cast<int>(pending_.size()) < count && !hungUp_) {
    unsigned ignored = 0;
    failure = Pull(static_cast<std::size_t>(count) - pending_.size(), ignored);
    if (failure != 0) HangUp();
  }
  // What arrived before the line went away is still handed out.
  if (pending_.empty() && failure != 0) throw ECommError("Read error", failure);

  const int n = std::min(count, static_cast<int>(pending_.size()));
  std::copy_n(pending_.data(), n, buffer);
  pending_.erase(0, static_cast<std::size_t>(n));
  Trace(TraceDirection::Received, buffer, n);
  if (n > 0) ResumeAfterRead();
  return n;
}

void TCustomComm::SetDTR(bool on) { SetModemLine(TIOCM_DTR, on); }

void TCustomComm::SetRTS(bool on) { SetModemLine(TIOCM_RTS, on); }

void TCustomComm::SetBreak(bool on) {
  if (!IsOpen()) throw ECommError("Port not open, unable to complete operation", -1);
  // Held until released, so the caller times the break with its own wait.
  if (::ioctl(fd_, on ? TIOCSBRK : TIOCCBRK) != 0) {
    throw ECommError("EscapeCommFunction failure", errno);
  }
}

void TCustomComm::SetModemLine(int bit, bool on) {
  if (!IsOpen()) throw ECommError("Port not open, unable to complete operation", -1);
  if (::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit) != 0) {
    throw ECommError("EscapeCommFunction failure", errno);
  }
}

}  // namespace varnel
