// The serial port component: TCustomComm holds the port state and does the
// work over the host's tty interface; TComm is the instance the program uses.
// Receive and line events are delivered on the main thread from its event
// loop, one at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/CommPort.h"
#include "link/CommTypes.h"

class QObject;
class QSocketNotifier;
class QTimer;

namespace varnel {

// A set of enumeration values, as the component's set-typed properties use.
template <typename E>
class EnumSet {
 public:
  constexpr EnumSet() = default;
  constexpr EnumSet(std::initializer_list<E> values) {
    for (E v : values) bits_ |= Bit(v);
  }
  constexpr bool Contains(E v) const { return (bits_ & Bit(v)) != 0; }
  constexpr void Include(E v) { bits_ |= Bit(v); }
  constexpr void Exclude(E v) { bits_ &= ~Bit(v); }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr bool operator==(const EnumSet&) const = default;

 private:
  static constexpr std::uint32_t Bit(E v) { return 1u << static_cast<unsigned>(v); }
  std::uint32_t bits_ = 0;
};

using TCommEventTypes = EnumSet<TCommEventType>;
using TCommOptions = EnumSet<TCommOption>;

// The special characters of the line: XON/XOFF for software flow control,
// the replacement for bytes received with a parity or framing error, the end
// character (kept for completeness; binary transfer ignores it) and the
// character whose arrival raises the RxFlag event.
struct TCommEventChars {
  char XonChar = 17;
  char XoffChar = 19;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  bool operator==(const TCommEventChars&) const = default;
};

// Bits of the Errors argument of OnError.
constexpr int kCommErrRxOver = 0x0001;    // receive queue overflowed
constexpr int kCommErrOverrun = 0x0002;   // the UART lost a byte
constexpr int kCommErrRxParity = 0x0004;  // parity error
constexpr int kCommErrFrame = 0x0008;     // framing error
constexpr int kCommErrBreak = 0x0010;     // break condition

class TCustomComm : public CommPort {
 public:
  using Notify = std::function<void(CommPort& sender)>;

  TCustomComm();
  TCustomComm(const TCustomComm&) = delete;
  TCustomComm& operator=(const TCustomComm&) = delete;
  ~TCustomComm() override;

  // Operations.
  void Open() override;
  void Close() override;
  bool IsOpen() const override { return fd_ >= 0; }
  int Write(const char* data, int count) override;
  int Read(char* buffer, int count) override;
  void SetDTR(bool on) override;
  void SetRTS(bool on) override;
  void SetBreak(bool on) override;

  // True after the other end went away (a USB adapter unplugged, a pseudo-
  // terminal's master closed). The port stays open until closed, delivers no
  // more events, and writes fail with the platform's error.
  // Also true when the line went away and no receive event has told yet.
  bool IsHungUp() const override;

  // Properties that may not change while open.
  std::string DeviceName() const override { return deviceName_; }
  void SetDeviceName(const std::string& name) override;
  int ReadBufSize() const override { return readBufSize_; }
  void SetReadBufSize(int size);
  int WriteBufSize() const { return writeBufSize_; }
  void SetWriteBufSize(int size);
  TCommEventTypes MonitorEvents() const { return monitorEvents_; }
  void SetMonitorEvents(TCommEventTypes events);

  // Properties used per operation.
  int ReadTimeout() const { return readTimeout_; }
  void SetReadTimeout(int ms) { readTimeout_ = ms; }
  int WriteTimeout() const { return writeTimeout_; }
  void SetWriteTimeout(int ms) { writeTimeout_ = ms; }

  // Line settings, applied at once while open. A value the line cannot take
  // raises ECommError and leaves the previous value in place.
  TBaudrate BaudRate() const override { return baudRate_; }
  void SetBaudRate(TBaudrate rate) override;
  TParity Parity() const { return parity_; }
  void SetParity(TParity parity);
  TStopbits Stopbits() const { return stopbits_; }
  void SetStopbits(TStopbits stopbits);
  TDatabits Databits() const { return databits_; }
  void SetDatabits(TDatabits databits);
  TCommEventChars EventChars() const { return eventChars_; }
  void SetEventChars(const TCommEventChars& chars);
  TCommOptions Options() const { return options_; }
  void SetOptions(TCommOptions options);
  TFlowControl FlowControl() const { return flowControl_; }
  void SetFlowControl(TFlowControl flow);

  // Line events besides OnRxChar. They are sampled while the port is open
  // when a handler for them is assigned before Open.
  Notify OnBreak, OnCts, OnDsr, OnRing, OnRlsd, OnRxFlag, OnTxEmpty;
  std::function<void(CommPort& sender, int errors)> OnError;
  // The device went away for good (adapter unplugged, pseudo-terminal's
  // master closed): called once, from the receive path; the port stays
  // open until its owner closes it.
  Notify OnHangUp;

 private:
  struct SavedLine;  // the tty settings found at open, restored at close
  struct SavedLineDeleter {
    void operator()(SavedLine* line) const;
  };

  // Open steps and line settings.
  void OpenDevice(const std::string& device);
  void ReleaseDevice();
  void SaveLineAndSetRaw();
  void RestoreLine();
  void ApplyLineSettings();
  void PurgeQueues();
  void RequestLowLatency();
  void RestoreLowLatency();
  template <typename T>
  void SetLineProperty(T& field, T value);
  void SetModemLine(int bit, bool on);

  // Event delivery (main thread).
  void StartDelivery();
  void StopDelivery();
  void OnReadable();
  void PollLine();
  void Deliver();
  void Dispatch(unsigned mask, int errors);
  void ResumeDelivery(bool progressed);
  void ResumeAfterRead();
  unsigned SampleLine(int& errors);
  bool Watching() const;
  void HangUp();
  // Takes what the driver holds (at most maxRaw bytes) into pending_; 0, or
  // the error that says the device is gone.
  int Pull(std::size_t maxRaw, unsigned& mask);

  // Properties.
  std::string deviceName_ = "Com2";
  int readTimeout_ = 1000;
  int writeTimeout_ = 1000;
  int readBufSize_ = 4096;
  int writeBufSize_ = 2048;
  TCommEventTypes monitorEvents_{evBreak, evCts,  evDsr,    evError,  evRing,
                                 evRlsd,  evRxChar, evRxFlag, evTxEmpty};
  TBaudrate baudRate_ = kDefaultBaudRate;
  TParity parity_ = paNone;
  TStopbits stopbits_ = sb10;
  TDatabits databits_ = da8;
  TCommEventChars eventChars_;
  TCommOptions options_;
  TFlowControl flowControl_ = fcDefault;

  // Port state.
  std::shared_ptr<int> lifeToken_;  // lets a dispatch notice the component is gone
  int fd_ = -1;
  bool hungUp_ = false;
  std::unique_ptr<SavedLine, SavedLineDeleter> savedLine_;
  int savedSerialFlags_ = -1;  // driver flags before low latency was asked for
  std::mutex ioLock_;          // serialises reads and writes

  // Receive path: bytes already taken from the driver (NULs stripped, error
  // marks decoded) and not yet read, and the half of an error mark that a
  // driver read ended in.
  std::string pending_;
  std::string markCarry_;
  std::vector<char> rawBuf_;

  // Delivery state. The generation changes on every open and close, so a
  // handler that closed (or reopened) the port is noticed on its return.
  QObject* context_ = nullptr;
  QSocketNotifier* notifier_ = nullptr;
  QTimer* lineTimer_ = nullptr;
  unsigned generation_ = 0;
  bool dispatching_ = false;
  bool stalled_ = false;  // pending_ is full and nobody reads: wait for a read
  bool txPending_ = false;
  int lastModem_ = 0;
  struct Counters {
    int brk = 0, frame = 0, overrun = 0, parity = 0, bufOverrun = 0;
  } lastCounters_;
  bool haveModem_ = false;
  bool haveCounters_ = false;
};

// The component as the main window holds it (Comm1).
class TComm final : public TCustomComm {
 public:
  TComm() = default;
};

}  // namespace varnel
