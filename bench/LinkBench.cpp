// Figures of the link core that need no port.
#include <chrono>

#include "Bench.h"
#include "link/HexText.h"

namespace varnel::bench {
namespace {

// Decoding one echoed 16-byte data reply: strip and convert every digit pair.
std::vector<Figure> DecodeReply() {
  const std::string reply = "CR0000 02 00 30 75 81 2F 12 00 40 80 FE 00 FF C0 C1 7F\r\n>";
  constexpr int kRounds = 200000;
  volatile std::int32_t sink = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int r = 0; r < kRounds; ++r) {
    const std::string data = SeparateChar(std::string_view(reply).substr(6));
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
      sink = sink + DecPrev(std::string_view(data).substr(i, 2));
    }
  }
  const double ns =
      std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
  return {{"decode_reply_ns", ns / kRounds, "ns"}};
}

Registrar decodeReply({"decode_reply_ns"}, DecodeReply);

}  // namespace
}  // namespace varnel::bench
