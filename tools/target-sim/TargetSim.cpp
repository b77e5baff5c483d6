// The simulator's line: a pseudo-terminal whose master side the loader
// thread reads and writes. The loader state machine runs under the lock; the
// output faults (delay, pacing, pieces, NUL, silence, babble, hang-up) are
// applied here, outside it, so tests can look and switch options meanwhile.
#include "target-sim/TargetSim.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "target-sim/LineSpeed.h"
#include "target-sim/PtyLine.h"

namespace varnel::sim {
namespace {

// Endless text without any reply terminator (".", "$" or ">").
constexpr std::string_view kBabble = "#~ 5A A5 C3 3C line noise 0F F0 ~#\r\n";

// Commands whose replies carry data: CR, XR, IR, RR and F.
bool IsReadCommand(const std::string& command) {
  if (command.empty()) return false;
  const auto upper = [&](std::size_t i) {
    return i < command.size() ? static_cast<char>(std::toupper(static_cast<unsigned char>(command[i])))
                              : '\0';
  };
  if (upper(0) == 'F') return true;
  return upper(1) == 'R' && (upper(0) == 'C' || upper(0) == 'X' || upper(0) == 'I' || upper(0) == 'R');
}

// Letters a noisy line may make of a digit: none of them a hex digit.
constexpr std::string_view kNotHex = "GHJKLMNPQRSTUVWXYZ";

// How long count bytes take on a line at baud: a UART sends 10 bits a byte
// (start, 8 data, stop). Counted from the start of a burst, so the times
// do not drift by a rounded byte time each.
std::chrono::nanoseconds ByteTimes(long long count, int baud) {
  return std::chrono::nanoseconds(count * 10'000'000'000LL / std::max(baud, 1));
}

}  // namespace

class TargetSim::Hooks : public LoaderHooks {
 public:
  Hooks(TargetSim& sim, std::vector<Output>& outputs) : sim_(sim), outputs_(outputs) {}

  bool Admit(const std::string& command) override {
    auto& transcript = sim_.transcript_;
    transcript.push_back(command);
    if (transcript.size() > kKeep) transcript.erase(transcript.begin(), transcript.begin() + kKeep / 2);
    const auto n = static_cast<long long>(++sim_.commandCount_);
    if (sim_.logger_) sim_.logger_("in", command);
    const TargetSimConfig& c = sim_.config_;
    if (c.hangUpAfter != kNever && n > c.hangUpAfter) {
      sim_.hangUpPending_ = true;
      return false;
    }
    if (c.babbleAfter != kNever && n > c.babbleAfter) return false;
    if (c.silentAfter != kNever && n > c.silentAfter) return false;
    if (n == c.nulAtCommand) sim_.nulPending_ = true;
    sim_.damageDue_ = c.damageRate > 0 && n >= c.damageFrom && IsReadCommand(command);
    return true;
  }

  void Echo(char c) override {
    if (sim_.Muted()) return;
    if (!outputs_.empty() && !outputs_.back().reply) {
      outputs_.back().text += c;
    } else {
      outputs_.push_back({false, std::string(1, c), false});
    }
  }

  void Reply(const std::string& text) override {
    outputs_.push_back({true, text, sim_.nulPending_});
    sim_.nulPending_ = false;
    if (sim_.damageDue_) sim_.Damage(outputs_.back());
    sim_.damageDue_ = false;
    if (sim_.logger_) sim_.logger_("out", outputs_.back().text);
  }

 private:
  TargetSim& sim_;
  std::vector<Output>& outputs_;
};

TargetSim::TargetSim(const TargetSimConfig& config) : config_(config), loader_(config) {
  SeedDamage();
  loader_.SetLineBaud(LineBaud(line_.Slave()));
  loader_.Reset();
  slavePath_ = line_.SlavePath();
  running_ = true;
  StartLoader();
}

TargetSim::~TargetSim() { Stop(); }

void TargetSim::StartLoader() {
  stopping_ = false;
  thread_ = std::thread(&TargetSim::Run, this);
}

void TargetSim::Stop() {
  stopping_ = true;
  line_.Wake();
  if (thread_.joinable()) thread_.join();
  running_ = false;
}

std::string TargetSim::SlavePath() const {
  std::lock_guard lock(pathMutex_);
  return slavePath_;
}

void TargetSim::Unplug() {
  if (unplugged_ || !running_) return;
  unplugged_ = true;  // the loader thread ends, the simulator runs on
  away_ = true;
  stopping_ = true;
  line_.Wake();
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mutex_);
  if (logger_) logger_("unplugged", "");
  line_.HangUp();
}

void TargetSim::Reset() {
  std::lock_guard lock(mutex_);
  loader_.Reset();
  nulPending_ = false;
}

void TargetSim::TakeAway() { away_ = true; }

void TargetSim::PutNew() {
  std::unique_lock lock(mutex_);
  if (unplugged_) {
    // The new adapter: a pseudo-terminal of its own, and a receiver and
    // transmitter with nothing in them.
    line_.Reopen();
    {
      std::lock_guard path(pathMutex_);
      slavePath_ = line_.SlavePath();
    }
    inbox_.clear();
    inboxHead_ = 0;
    burstBytes_ = 0;
    receiverFree_ = transmitterFree_ = Clock::time_point{};
  }
  loader_ = BootLoader(config_);
  loader_.SetLineBaud(LineBaud(line_.Slave()));
  commandCount_ = 0;
  nulPending_ = false;
  hangUpPending_ = false;
  away_ = false;
  if (unplugged_) {
    unplugged_ = false;
    lock.unlock();
    StartLoader();
  }
}

TargetSimConfig TargetSim::Config() const {
  std::lock_guard lock(mutex_);
  return config_;
}

void TargetSim::SetConfig(const TargetSimConfig& config) {
  std::lock_guard lock(mutex_);
  config_ = config;
  loader_.SetConfig(config);
  SeedDamage();
}

void TargetSim::Modify(const std::function<void(TargetSimConfig&)>& change) {
  std::lock_guard lock(mutex_);
  TargetSimConfig config = config_;
  change(config);
  config_ = config;
  loader_.SetConfig(config);
  SeedDamage();
}

void TargetSim::SeedDamage() {
  // A new seed starts its sequence afresh; the same one carries on.
  if (damageSeeded_ && config_.damageSeed == damageSeed_) return;
  damageSeeded_ = true;
  damageSeed_ = config_.damageSeed;
  // Mixed first, so that nearby seeds start far apart.
  std::seed_seq mixed{damageSeed_};
  damageRandom_.seed(mixed);
}

void TargetSim::Damage(Output& reply) {
  std::string& text = reply.text;
  const TargetSimConfig& c = config_;
  if (std::uniform_real_distribution<double>(0.0, 1.0)(damageRandom_) >= c.damageRate) return;
  std::vector<unsigned> ways;
  for (unsigned way : {kDamageDrop, kDamageDouble, kDamageLetter, kDamagePrompt, kDamageDigit}) {
    if (c.damageWays & way) ways.push_back(way);
  }
  std::vector<std::size_t> digits;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (std::isxdigit(static_cast<unsigned char>(text[i]))) digits.push_back(i);
  }
  if (ways.empty() || digits.empty()) return;
  const unsigned way = ways[std::uniform_int_distribution<std::size_t>(0, ways.size() - 1)(damageRandom_)];
  const std::size_t at = digits[std::uniform_int_distribution<std::size_t>(0, digits.size() - 1)(damageRandom_)];
  const char* what = "";
  switch (way) {
    case kDamageDrop:
      text.erase(at, 1);
      what = "reply damaged: a digit lost";
      break;
    case kDamageDouble:
      text.insert(at, 1, text[at]);
      what = "reply damaged: a digit doubled";
      break;
    case kDamageLetter:
      text[at] = kNotHex[std::uniform_int_distribution<std::size_t>(0, kNotHex.size() - 1)(damageRandom_)];
      what = "reply damaged: a digit turned into a letter";
      break;
    case kDamageDigit: {
      // Another digit, never the same one: a wrong byte that looks right.
      static constexpr std::string_view kDigits = "0123456789ABCDEF";
      const std::size_t shift = std::uniform_int_distribution<std::size_t>(1, 15)(damageRandom_);
      text[at] = kDigits[(kDigits.find(text[at]) + shift) % kDigits.size()];
      what = "reply damaged: a digit turned into another digit";
      break;
    }
    default:
      // The port hands over what came up to the false prompt first; the
      // rest follows a moment later.
      text[at] = '>';
      reply.splitAt = at + 1;
      what = "reply damaged: a digit turned into a prompt";
      break;
  }
  if (logger_) logger_(what, "");
}

std::vector<std::string> TargetSim::Transcript() const {
  std::lock_guard lock(mutex_);
  return transcript_;
}

std::string TargetSim::Received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

std::size_t TargetSim::CommandCount() const {
  std::lock_guard lock(mutex_);
  return commandCount_;
}

void TargetSim::ClearTranscript() {
  std::lock_guard lock(mutex_);
  transcript_.clear();
  received_.clear();
}

bool TargetSim::WaitForCommands(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return commandsArrived_.wait_for(lock, timeout, [&] { return commandCount_ >= count; });
}

std::vector<std::uint8_t> TargetSim::Read(Memory memory) const {
  std::lock_guard lock(mutex_);
  return loader_.Mem(memory);
}

void TargetSim::Load(Memory memory, std::size_t offset, std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  auto& cells = loader_.Mem(memory);
  if (offset > cells.size() || bytes.size() > cells.size() - offset) {
    throw std::out_of_range("preload of " + std::to_string(bytes.size()) + " bytes at " +
                            std::to_string(offset) + " does not fit a memory of " +
                            std::to_string(cells.size()) + " bytes");
  }
  std::copy(bytes.begin(), bytes.end(), cells.begin() + static_cast<std::ptrdiff_t>(offset));
}

void TargetSim::Fill(Memory memory, std::uint8_t value) {
  std::lock_guard lock(mutex_);
  auto& cells = loader_.Mem(memory);
  std::fill(cells.begin(), cells.end(), value);
}

std::string TargetSim::DumpText() const {
  static constexpr std::pair<Memory, const char*> kSections[] = {
      {Memory::Code, "CODE"}, {Memory::ExtRam, "XRAM"}, {Memory::Iram, "IRAM"},
      {Memory::Sfr, "SFR"},   {Memory::Config, "CONFIG"}};
  std::lock_guard lock(mutex_);
  std::string text;
  char line[80];
  for (const auto& [memory, name] : kSections) {
    const auto& cells = loader_.Mem(memory);
    std::snprintf(line, sizeof line, "[%s] %zu bytes\n", name, cells.size());
    text += line;
    for (std::size_t at = 0; at < cells.size(); at += 16) {
      std::snprintf(line, sizeof line, "%04zX:", at);
      text += line;
      for (std::size_t i = at; i < std::min(at + 16, cells.size()); ++i) {
        std::snprintf(line, sizeof line, " %02X", cells[i]);
        text += line;
      }
      text += '\n';
    }
  }
  return text;
}

bool TargetSim::EchoOn() const {
  std::lock_guard lock(mutex_);
  return loader_.EchoOn();
}

bool TargetSim::InLineMode() const {
  std::lock_guard lock(mutex_);
  return loader_.InLineMode();
}

void TargetSim::SetLogger(std::function<void(std::string_view, std::string_view)> logger) {
  std::lock_guard lock(mutex_);
  logger_ = std::move(logger);
}

// Called with the lock held: whether the characters now arriving belong to a
// command the loader will not answer.
bool TargetSim::Muted() const {
  const auto n = static_cast<long long>(commandCount_);
  const auto after = [n](int limit) { return limit != kNever && n >= limit; };
  return hangUpPending_ || after(config_.hangUpAfter) || after(config_.babbleAfter) ||
         after(config_.silentAfter);
}

void TargetSim::Run() {
  // Paced bytes are timed to the byte; the default timer slack would make
  // every wake-up late by up to 50 us, a fifth of a byte at 38400 baud.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  char buffer[512];
  while (!stopping_) {
    int baud = 0;
    const bool paced = Paced(baud);
    if (!paced) ReceiveAll();  // pacing switched off: the rest arrives at once
    bool babbling;
    {
      std::lock_guard lock(mutex_);
      babbling = config_.babbleAfter != kNever &&
                 static_cast<long long>(commandCount_) > config_.babbleAfter;
    }
    const bool waiting = inboxHead_ < inbox_.size();
    // A full inbox stops reading, so a host that sends ahead is held up by
    // the pty as by a full transmit queue.
    const bool room = inbox_.size() - inboxHead_ < 4096;
    auto timeout = std::chrono::duration_cast<std::chrono::nanoseconds>(
        waiting ? NextArrival() - Clock::now() : std::chrono::milliseconds(50));
    timeout = std::max(timeout, std::chrono::nanoseconds::zero());
    const timespec wait{static_cast<time_t>(timeout.count() / 1'000'000'000),
                        static_cast<long>(timeout.count() % 1'000'000'000)};
    pollfd fds[2] = {{line_.Master(), static_cast<short>((room ? POLLIN : 0) | (babbling ? POLLOUT : 0)), 0},
                     {line_.WakeFd(), POLLIN, 0}};
    const int ready = ppoll(fds, 2, &wait, nullptr);
    if (ready < 0 && errno != EINTR) break;
    if (fds[1].revents != 0) break;
    if (ready == 0 && !waiting) {
      std::lock_guard lock(mutex_);
      loader_.Idle();
      continue;
    }
    if (fds[0].revents & POLLIN) {
      const ssize_t n = read(line_.Master(), buffer, sizeof buffer);
      if (n > 0) {
        if (paced) {
          Take(buffer, static_cast<std::size_t>(n), Clock::now(), baud);
        } else {
          Feed(buffer, static_cast<std::size_t>(n), Clock::now());
        }
      }
    }
    if (paced) ReceiveDue();
    if (babbling && (fds[0].revents & POLLOUT)) Send(kBabble, Clock::now());
    if (!(fds[0].revents & (POLLIN | POLLOUT)) && fds[0].revents != 0) {
      Sleep(std::chrono::milliseconds(10));  // a passing hang-up of the slave side
    }
    bool hangUp;
    {
      std::lock_guard lock(mutex_);
      hangUp = hangUpPending_;
    }
    if (hangUp) {
      HangUp();
      break;
    }
  }
  if (!unplugged_) running_ = false;
}

// Whether the line is paced now, and at which rate.
bool TargetSim::Paced(int& baud) {
  std::lock_guard lock(mutex_);
  loader_.SetLineBaud(LineBaud(line_.Slave()));
  baud = loader_.EffectiveBaud();
  return config_.paced;
}

void TargetSim::Take(const char* data, std::size_t size, Clock::time_point now, int baud) {
  if (inboxHead_ == inbox_.size()) {
    inbox_.clear();
    inboxHead_ = 0;
    burstStart_ = std::max(now, receiverFree_);
    burstBytes_ = 0;
    burstBaud_ = baud;
  }
  inbox_.append(data, size);
}

TargetSim::Clock::time_point TargetSim::NextArrival() const {
  return burstStart_ + ByteTimes(burstBytes_ + 1, burstBaud_);
}

void TargetSim::ReceiveDue() {
  while (inboxHead_ < inbox_.size() && !stopping_) {
    int baud = 0;
    if (!Paced(baud)) return;
    if (baud != burstBaud_) {
      // A new rate times the rest from the last byte received.
      burstStart_ = std::max(burstStart_, receiverFree_);
      burstBytes_ = 0;
      burstBaud_ = baud;
    }
    const Clock::time_point arrival = NextArrival();
    if (arrival > Clock::now()) return;
    ++burstBytes_;
    receiverFree_ = arrival;
    Feed(inbox_.data() + inboxHead_++, 1, arrival);
    std::lock_guard lock(mutex_);
    if (hangUpPending_) return;
  }
}

void TargetSim::ReceiveAll() {
  if (inboxHead_ == inbox_.size()) return;
  const std::string rest = inbox_.substr(inboxHead_);
  inbox_.clear();
  inboxHead_ = 0;
  receiverFree_ = Clock::now();
  Feed(rest.data(), rest.size(), receiverFree_);
}

void TargetSim::Feed(const char* data, std::size_t size, Clock::time_point ready) {
  std::vector<Output> outputs;
  {
    std::lock_guard lock(mutex_);
    loader_.SetLineBaud(LineBaud(line_.Slave()));
    Hooks hooks(*this, outputs);
    for (std::size_t i = 0; i < size && !hangUpPending_ && !away_; ++i) {
      received_ += data[i];
      loader_.Feed(data[i], hooks);
    }
  }
  commandsArrived_.notify_all();
  Emit(outputs, ready);
}

void TargetSim::Emit(const std::vector<Output>& outputs, Clock::time_point ready) {
  TargetSimConfig c;
  {
    std::lock_guard lock(mutex_);
    c = config_;
  }
  for (const Output& out : outputs) {
    if (!out.reply) {
      Send(out.text, ready);
      continue;
    }
    if (c.replyDelayMs > 0) {
      if (!Sleep(std::chrono::milliseconds(c.replyDelayMs))) return;
      ready = Clock::now();
    }
    std::string bytes = out.text;
    if (out.nul) {
      // A glitch on the line: a NUL inside the reply, and usually the rest lost.
      const std::size_t at = std::min<std::size_t>(std::max(c.nulOffset, 0), bytes.size());
      bytes.insert(at, 1, '\0');
      if (c.nulTruncates) bytes.resize(at + 1);
    }
    const std::size_t split = std::min(out.splitAt, bytes.size());
    if (split == 0) {
      if (!SendReply(bytes, ready, c)) return;
      continue;
    }
    if (!SendReply(std::string_view(bytes).substr(0, split), ready, c)) return;
    if (!Sleep(std::chrono::milliseconds(std::max(c.chunkGapMs, 1)))) return;
    ready = Clock::now();
    if (!SendReply(std::string_view(bytes).substr(split), ready, c)) return;
  }
}

bool TargetSim::SendReply(std::string_view bytes, Clock::time_point& ready,
                          const TargetSimConfig& c) {
  if (c.chunkSize <= 0) {
    Send(bytes, ready);
    return true;
  }
  for (std::size_t at = 0; at < bytes.size(); at += static_cast<std::size_t>(c.chunkSize)) {
    if (at > 0) {
      if (!Sleep(std::chrono::milliseconds(c.chunkGapMs))) return false;
      ready = Clock::now();
    }
    Send(bytes.substr(at, static_cast<std::size_t>(c.chunkSize)), ready);
  }
  return true;
}

void TargetSim::Send(std::string_view bytes, Clock::time_point ready) {
  int baud = 0;
  if (!Paced(baud)) {
    WriteAll(bytes.data(), bytes.size());
    return;
  }
  // Each slice goes out once its bytes would have been on the wire.
  const std::size_t slice = std::max(1, baud / 2000);  // about 5 ms of line time
  const Clock::time_point start = std::max(ready, transmitterFree_);
  transmitterFree_ = start + ByteTimes(static_cast<long long>(bytes.size()), baud);
  for (std::size_t at = 0; at < bytes.size(); at += slice) {
    const std::size_t n = std::min(slice, bytes.size() - at);
    const auto due = start + ByteTimes(static_cast<long long>(at + n), baud);
    const bool last = at + n == bytes.size();
    if (!(last ? SleepExactly(due) : Sleep(due - Clock::now()))) return;
    if (!WriteAll(bytes.data() + at, n)) return;
  }
}

bool TargetSim::WriteAll(const char* data, std::size_t size) { return line_.WriteAll(data, size); }

bool TargetSim::Sleep(Clock::duration duration) {
  if (stopping_) return false;
  if (duration <= Clock::duration::zero()) return true;
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(duration).count();
  timespec timeout{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
  pollfd wake{line_.WakeFd(), POLLIN, 0};
  return ppoll(&wake, 1, &timeout, nullptr) == 0;
}

// The end of an output is what the host waits for: a timer wakes late by
// tens of microseconds, so the last stretch is waited out on the clock.
bool TargetSim::SleepExactly(Clock::time_point due) {
  constexpr auto kSpin = std::chrono::microseconds(80);
  if (!Sleep(due - kSpin - Clock::now())) return false;
  while (Clock::now() < due) {
    if (stopping_) return false;
  }
  return true;
}

void TargetSim::HangUp() {
  // Closing every descriptor of the master side hangs the line up: the
  // host's reads end with an error.
  std::lock_guard lock(mutex_);
  if (logger_) logger_("hang-up", "");
  hungUp_ = true;
  running_ = false;
  line_.HangUp();
}

}  // namespace varnel::sim
