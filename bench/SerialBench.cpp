// One command/reply exchange over a pseudo-terminal through the real serial
// port component, the event loop and the receive path: six bytes out, a
// 16-byte data reply of 57 bytes back from a peer thread on the far end.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "Bench.h"
#include "link/CommInt.h"
#include "core/Session.h"

namespace varnel::bench {
namespace {

constexpr int kWarmup = 200;
constexpr int kRounds = 3000;

// The far end: answers every six-byte command with one data reply.
void Peer(int master, const std::atomic<bool>& stop) {
  static const std::string reply = "CR0000 02 00 30 75 81 2F 12 00 40 80 FE 00 FF C0 C1 7F\r\n>";
  std::size_t got = 0;
  char buf[256];
  while (!stop) {
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n <= 0) return;
    got += static_cast<std::size_t>(n);
    while (got >= 6) {
      got -= 6;
      if (::write(master, reply.data(), reply.size()) < 0) return;
    }
  }
}

std::vector<Figure> Exchange() {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128];
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
      ::ptsname_r(master, name, sizeof name) != 0) {
    std::fprintf(stderr, "exchange: no pseudo-terminal\n");
    return {};
  }

  TComm comm;
  comm.SetDeviceName(name);
  comm.SetBaudRate(br115200);
  comm.SetOptions({coNullStrip});
  comm.Open();

  Session session;
  session.AttachPort(&comm);
  session.NotePortOpened();
  QEventLoop loop;
  session.RegisterHandler("CR", [&](const std::string&) {
    session.EndSequence();
    loop.quit();
  });

  std::atomic<bool> stop{false};
  std::thread peer(Peer, master, std::cref(stop));

  // A reply that never comes ends the measurement instead of hanging it.
  bool lost = false;
  QTimer watchdog;
  watchdog.setSingleShot(true);
  watchdog.setInterval(2000);
  QObject::connect(&watchdog, &QTimer::timeout, [&] {
    lost = true;
    loop.quit();
  });

  std::vector<double> us;
  us.reserve(kRounds);
  for (int round = 0; round < kWarmup + kRounds && !lost; ++round) {
    watchdog.start();
    const auto start = std::chrono::steady_clock::now();
    session.SendCommand("CR0000");
    loop.exec();
    const auto end = std::chrono::steady_clock::now();
    if (round >= kWarmup) us.push_back(std::chrono::duration<double, std::micro>(end - start).count());
  }

  stop = true;
  peer.join();
  comm.Close();
  ::close(master);

  if (lost || us.empty()) {
    std::fprintf(stderr, "exchange: a reply did not come\n");
    return {};
  }
  std::sort(us.begin(), us.end());
  const double median = us[us.size() / 2];
  const double p95 = us[std::min(us.size() - 1, us.size() * 95 / 100)];
  return {{"exchange_us_median", median, "us"}, {"exchange_us_p95", p95, "us"}};
}

Registrar exchange({"exchange_us_median", "exchange_us_p95"}, Exchange);

}  // namespace
}  // namespace varnel::bench
