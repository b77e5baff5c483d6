// An in-memory serial port with the simulator's boot-loader state machine at
// the other end: every write is fed to the loader at once; what the loader
// echoes and answers goes onto the wire, and reaches the host's receive path
// only in the pieces Arrive hands over.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "link/CommPort.h"
#include "target-sim/BootLoader.h"

namespace varnel::fuzz {

class LoaderPort : public CommPort, private sim::LoaderHooks {
 public:
  explicit LoaderPort(const sim::TargetSimConfig& config) : loader(config) {}

  sim::BootLoader loader;
  std::string wire;                   // sent by the loader, not yet arrived
  std::vector<std::string> commands;  // as the loader took them
  // One write was answered more than once (a program line holding more than
  // its record, the rest taken as commands).
  bool severalReplies = false;

  // The carriage return that wakes the loader, answered and forgotten, as
  // the handshake leaves it.
  void Wake() {
    loader.Feed('\r', *this);
    wire.clear();
    commands.clear();
  }

  // Hands the next count bytes of the wire to the host as one receive event.
  void Arrive(std::size_t count) {
    driver_ += wire.substr(0, count);
    wire.erase(0, std::min(count, wire.size()));
    if (OnRxChar && !driver_.empty()) OnRxChar(*this, static_cast<int>(driver_.size()));
  }

  void Open() override {}
  void Close() override {}
  // Closed as far as the flash timing's drain asks: it would wait for the
  // line to stay quiet on the real clock. The register writes' replies it
  // would throw away are dropped here instead (see Write).
  bool IsOpen() const override { return false; }
  int Write(const char* data, int count) override {
    const std::string text(data, static_cast<std::size_t>(count));
    const std::size_t before = wire.size();
    replies_ = 0;
    for (char c : text) loader.Feed(c, *this);
    if (text.starts_with("RW")) wire.resize(before);
    if (replies_ > 1) severalReplies = true;
    return count;
  }
  int Read(char* buffer, int count) override {
    const std::size_t n = std::min(static_cast<std::size_t>(std::max(count, 0)), driver_.size());
    std::memcpy(buffer, driver_.data(), n);
    driver_.erase(0, n);
    return static_cast<int>(n);
  }
  void SetDTR(bool) override {}
  void SetRTS(bool) override {}
  std::string DeviceName() const override { return "loader"; }
  void SetDeviceName(const std::string&) override {}
  TBaudrate BaudRate() const override { return br38400; }
  void SetBaudRate(TBaudrate) override {}
  int ReadBufSize() const override { return 4096; }

 private:
  bool Admit(const std::string& command) override {
    commands.push_back(command);
    return true;
  }
  void Echo(char c) override { wire += c; }
  void Reply(const std::string& text) override {
    wire += text;
    ++replies_;
  }

  std::string driver_;  // arrived, not yet read
  int replies_ = 0;     // answers to the write being fed
};

}  // namespace varnel::fuzz
