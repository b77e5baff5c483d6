// What the link needs of a serial port. TComm implements it over termios;
// unit tests of the dispatcher plug in a scripted port.
#pragma once

#include <functional>
#include <string>

#include "link/CommTypes.h"
#include "link/Trace.h"

namespace varnel {

class CommPort {
 public:
  virtual ~CommPort() = default;

  virtual void Open() = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // Bytes written, or -1 when the write did not complete within WriteTimeout.
  virtual int Write(const char* data, int count) = 0;
  // Bytes taken from what is already received (at most count), or -1.
  virtual int Read(char* buffer, int count) = 0;
  // The device went away under an open port (adapter unplugged, line hung
  // up): the port stays open but carries nothing until it is reopened.
  virtual bool IsHungUp() const { return false; }
  virtual void SetDTR(bool on) = 0;
  virtual void SetRTS(bool on) = 0;
  // Holds the transmit line in break (on) or releases it. A port that
  // cannot raises ECommError as SetDTR does.
  virtual void SetBreak(bool on) {
    (void)on;
    throw ECommError("EscapeCommFunction failure", -1);
  }

  virtual std::string DeviceName() const = 0;
  virtual void SetDeviceName(const std::string& name) = 0;  // refused while open
  virtual TBaudrate BaudRate() const = 0;
  virtual void SetBaudRate(TBaudrate rate) = 0;             // applied at once when open
  virtual int ReadBufSize() const = 0;

  // Receive event: called on the main thread with the number of bytes
  // waiting (never 0), one at a time, never for a closed port.
  std::function<void(CommPort& sender, int count)> OnRxChar;

  // Every chunk written or read goes to the tap as well, when one listens.
  void SetTraceTap(TraceTap* tap) { trace_ = tap; }
  TraceTap* Tap() const { return trace_; }

 protected:
  void Trace(TraceDirection direction, const char* data, int count) {
    if (trace_ && count > 0) trace_->Chunk(direction, std::string_view(data, static_cast<std::size_t>(count)));
  }

 private:
  TraceTap* trace_ = nullptr;
};

}  // namespace varnel
