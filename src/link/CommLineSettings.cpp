// Line settings of the serial port: raw transfer at open, rate, frame,
// parity, flow control and options, and the settings put back at close.
// The kernel's termios2 interface is used throughout, because it carries any
// rate (14400, 56000, 128000 and 256000 have no standard code).
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "link/CommInt.h"

namespace varnel {

struct TCustomComm::SavedLine {
  termios2 tio;
};

void TCustomComm::SavedLineDeleter::operator()(SavedLine* line) const { delete line; }

namespace {

// Standard rate codes; other rates go by number.
speed_t RateCode(int baud) {
  switch (baud) {
    case 110: return B110;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return BOTHER;
  }
}

[[noreturn]] void LineError(int code) { throw ECommError("Error updating DataControlBlock", code); }

}  // namespace

template <typename T>
void TCustomComm::SetLineProperty(T& field, T value) {
  if (field == value) return;
  const T old = field;
  field = value;
  if (!IsOpen()) return;
  try {
    ApplyLineSettings();
  } catch (...) {
    // Keep property and line in step: the line keeps its last good setting.
    field = old;
    try {
      ApplyLineSettings();
    } catch (...) {
    }
    throw;
  }
}

void TCustomComm::SetBaudRate(TBaudrate rate) { SetLineProperty(baudRate_, rate); }
void TCustomComm::SetParity(TParity parity) { SetLineProperty(parity_, parity); }
void TCustomComm::SetStopbits(TStopbits stopbits) { SetLineProperty(stopbits_, stopbits); }
void TCustomComm::SetDatabits(TDatabits databits) { SetLineProperty(databits_, databits); }
void TCustomComm::SetEventChars(const TCommEventChars& chars) {
  SetLineProperty(eventChars_, chars);
}
void TCustomComm::SetOptions(TCommOptions options) { SetLineProperty(options_, options); }
void TCustomComm::SetFlowControl(TFlowControl flow) { SetLineProperty(flowControl_, flow); }

void TCustomComm::SaveLineAndSetRaw() {
  std::unique_ptr<SavedLine, SavedLineDeleter> saved(new SavedLine{});
  if (::ioctl(fd_, TCGETS2, &saved->tio) != 0) {
    throw ECommError("Error updating CommTimeouts", errno);
  }
  // Raw 8-bit transfer; a read returns at once with what has arrived. Breaks
  // are counted by the driver rather than read as NUL bytes, and the modem
  // lines do not gate the port.
  termios2 t = saved->tio;
  t.c_iflag &= ~(BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IUCLC | IMAXBEL);
  t.c_iflag |= IGNBRK;
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~(CSIZE | PARENB);
  t.c_cflag |= CS8 | CREAD | CLOCAL;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (::ioctl(fd_, TCSETS2, &t) != 0) throw ECommError("Error updating CommTimeouts", errno);
  savedLine_ = std::move(saved);
}

void TCustomComm::RestoreLine() {
  if (savedLine_) ::ioctl(fd_, TCSETS2, &savedLine_->tio);
  savedLine_.reset();
}

void TCustomComm::PurgeQueues() {
  if (::ioctl(fd_, TCFLSH, TCIOFLUSH) != 0) {
    throw ECommError("Error initializing Read/Write Buffers", errno);
  }
}

void TCustomComm::ApplyLineSettings() {
  if (!IsOpen()) return;

  // What the line cannot do here is refused rather than approximated: five
  // data bits and more only, 1.5 stop bits only with five data bits (and 2
  // not with five, which the UART would turn into 1.5), no receive gating
  // by DSR, no DTR handshake.
  if (databits_ == da4) LineError(-1);
  if (stopbits_ == sb15 && databits_ != da5) LineError(-1);
  if (stopbits_ == sb20 && databits_ == da5) LineError(-1);
  if (options_.Contains(coDsrSensitivity)) LineError(-1);
  if (flowControl_ == fcDTR) LineError(-1);

  termios2 t{};
  if (::ioctl(fd_, TCGETS2, &t) != 0) LineError(errno);

  const int baud = BaudRateValue(baudRate_);
  t.c_cflag &= ~(CBAUD | CIBAUD);  // input rate follows the output rate
  t.c_cflag |= RateCode(baud);
  t.c_ispeed = t.c_ospeed = static_cast<speed_t>(baud);

  static constexpr tcflag_t kSize[] = {CS5, CS5, CS6, CS7, CS8};
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
  t.c_cflag |= kSize[databits_];
  switch (parity_) {
    case paNone: break;
    case paOdd: t.c_cflag |= PARENB | PARODD; break;
    case paEven: t.c_cflag |= PARENB; break;
    case paMark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case paSpace: t.c_cflag |= PARENB | CMSPAR; break;
  }
  if (stopbits_ != sb10) t.c_cflag |= CSTOPB;  // with five data bits: 1.5

  t.c_cc[VSTART] = static_cast<cc_t>(eventChars_.XonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(eventChars_.XoffChar);

  if (flowControl_ != fcDefault) {
    t.c_cflag &= ~CRTSCTS;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (flowControl_ == fcCTS) t.c_cflag |= CRTSCTS;
    if (flowControl_ == fcSoftware) t.c_iflag |= IXON | IXOFF;
  }

  // Parity checking has the driver mark bad bytes (the receive path decodes
  // the marks, and replaces the byte when error-character replacement is on).
  // This side keeps transmitting after it sent XOFF whatever coIgnoreXOff
  // says: the tty layer has no other mode.
  t.c_iflag &= ~(INPCK | PARMRK | IGNPAR);
  if (options_.Contains(coParityCheck)) t.c_iflag |= INPCK | PARMRK;

  if (::ioctl(fd_, TCSETS2, &t) != 0) LineError(errno);

  // A driver that silently drops what it cannot do (mark/space parity on
  // some adapters) would leave the line other than asked.
  termios2 back{};
  if (::ioctl(fd_, TCGETS2, &back) != 0) LineError(errno);
  constexpr tcflag_t kFrame = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
  if ((back.c_cflag & kFrame) != (t.c_cflag & kFrame)) LineError(-1);
}

}  // namespace varnel
