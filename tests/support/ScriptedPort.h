// An in-memory port for unit tests of the receive path: the test queues the
// bytes "received" and reads back everything written.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "link/CommPort.h"

namespace varnel::testing {

class ScriptedPort : public CommPort {
 public:
  std::string incoming;             // bytes waiting in the "driver"
  std::vector<std::string> writes;  // one entry per Write call
  bool open = true;
  bool failRead = false;
  bool dtr = false, rts = false, inBreak = false;
  std::vector<std::string> lines;   // every DTR, RTS and break call, in order
  std::string device = "COM1";
  TBaudrate baud = br9600;

  // Deliver everything queued as one receive event, as the port would.
  void Deliver(const std::string& bytes) {
    incoming += bytes;
    if (OnRxChar && !incoming.empty()) OnRxChar(*this, static_cast<int>(incoming.size()));
  }
  std::string Written() const {
    std::string all;
    for (const auto& w : writes) all += w;
    return all;
  }

  void Open() override { open = true; }
  void Close() override { open = false; }
  bool IsOpen() const override { return open; }
  int Write(const char* data, int count) override {
    writes.emplace_back(data, static_cast<std::size_t>(count));
    return count;
  }
  int Read(char* buffer, int count) override {
    if (failRead) throw ECommError("Read error", 5);
    const int n = std::min<int>(count, static_cast<int>(incoming.size()));
    std::memcpy(buffer, incoming.data(), static_cast<std::size_t>(n));
    incoming.erase(0, static_cast<std::size_t>(n));
    return n;
  }
  void SetDTR(bool on) override {
    dtr = on;
    lines.push_back(on ? "dtr=1" : "dtr=0");
  }
  void SetRTS(bool on) override {
    rts = on;
    lines.push_back(on ? "rts=1" : "rts=0");
  }
  void SetBreak(bool on) override {
    inBreak = on;
    lines.push_back(on ? "break on" : "break off");
  }
  std::string DeviceName() const override { return device; }
  void SetDeviceName(const std::string& name) override { device = name; }
  TBaudrate BaudRate() const override { return baud; }
  void SetBaudRate(TBaudrate rate) override { baud = rate; }
  int ReadBufSize() const override { return 4096; }
};

}  // namespace varnel::testing
