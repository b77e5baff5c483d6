// A target that talks without end: the cost of a received 16-byte chunk in
// the first and in the eighth megabyte of babble, with a command pending and
// without, through the session's receive path (no port, no screen).
#include <chrono>
#include <cstring>
#include <string>

#include "Bench.h"
#include "core/Session.h"

namespace varnel::bench {
namespace {

// Hands the session exactly the chunk it is given, as a port's read would.
class ChunkPort : public CommPort {
 public:
  void Deliver(const std::string& bytes) {
    incoming_ = bytes;
    OnRxChar(*this, static_cast<int>(incoming_.size()));
  }
  void Open() override {}
  void Close() override {}
  bool IsOpen() const override { return true; }
  int Write(const char*, int count) override { return count; }
  int Read(char* buffer, int count) override {
    const int n = std::min<int>(count, static_cast<int>(incoming_.size()));
    std::memcpy(buffer, incoming_.data(), static_cast<std::size_t>(n));
    incoming_.erase(0, static_cast<std::size_t>(n));
    return n;
  }
  void SetDTR(bool) override {}
  void SetRTS(bool) override {}
  std::string DeviceName() const override { return "babble"; }
  void SetDeviceName(const std::string&) override {}
  TBaudrate BaudRate() const override { return br38400; }
  void SetBaudRate(TBaudrate) override {}
  int ReadBufSize() const override { return 4096; }

 private:
  std::string incoming_;
};

std::vector<Figure> Babble() {
  std::vector<Figure> figures;
  for (const bool pending : {true, false}) {
    Session session;
    ChunkPort port;
    session.AttachPort(&port);
    session.NotePortOpened();
    if (pending) session.Await("CR0000");
    const std::string chunk = "0123456789ABCDE ";
    constexpr int kChunksPerMb = 65536;
    double firstUs = 0, eighthUs = 0;
    for (int mb = 1; mb <= 8; ++mb) {
      const auto start = std::chrono::steady_clock::now();
      for (int i = 0; i < kChunksPerMb; ++i) port.Deliver(chunk);
      const double us = std::chrono::duration<double, std::micro>(
                            std::chrono::steady_clock::now() - start).count() / kChunksPerMb;
      if (mb == 1) firstUs = us;
      if (mb == 8) eighthUs = us;
    }
    const std::string tag = pending ? "pending" : "idle";
    figures.push_back({"babble_chunk_us_first_mb_" + tag, firstUs, "us"});
    figures.push_back({"babble_chunk_us_eighth_mb_" + tag, eighthUs, "us"});
    figures.push_back({"babble_rx_buffer_kb_" + tag, session.RxBuffer.capacity() / 1024.0, "KB"});
  }
  return figures;
}

Registrar babble({"babble_chunk_us_first_mb_pending", "babble_chunk_us_eighth_mb_pending",
                  "babble_rx_buffer_kb_pending", "babble_chunk_us_first_mb_idle",
                  "babble_chunk_us_eighth_mb_idle", "babble_rx_buffer_kb_idle"},
                 Babble);

}  // namespace
}  // namespace varnel::bench
