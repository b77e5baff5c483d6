// The replaying target's thread: read what the host writes, match it against
// the recording, answer.
#include "replay/ReplayTarget.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace varnel::testing {
namespace {

// How long a piece may wait for the host to read the one before it. The host
// reads within a millisecond unless its main thread is in a blocking wait.
constexpr auto kReadWait = std::chrono::seconds(2);

}  // namespace

ReplayTarget::ReplayTarget(const Pty& pty, const LineWatch& watch, std::vector<Exchange> script,
                           Pieces pieces, std::vector<Exchange> played)
    : pty_(pty),
      watch_(watch),
      script_(std::move(script)),
      played_(played.empty() ? script_ : std::move(played)),
      pieces_(pieces) {
  // Writes must never block the thread: a host that stopped reading would
  // keep it from ever seeing the stop.
  ::fcntl(pty_.Master(), F_SETFL, ::fcntl(pty_.Master(), F_GETFL) | O_NONBLOCK);
  thread_ = std::thread(&ReplayTarget::Run, this);
}

ReplayTarget::~ReplayTarget() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
}

bool ReplayTarget::Quiet(int quietMs) const {
  std::lock_guard lock(mutex_);
  return !playing_ && watch_.BytesRead() >= written_ && taken_ >= watch_.BytesWritten() &&
         Clock::now() - lastActivity_ >= std::chrono::milliseconds(quietMs);
}

bool ReplayTarget::Finished() const {
  std::lock_guard lock(mutex_);
  return next_ == script_.size();
}

std::size_t ReplayTarget::Played() const {
  std::lock_guard lock(mutex_);
  return next_;
}

std::size_t ReplayTarget::Repeats() const {
  std::lock_guard lock(mutex_);
  return repeats_;
}

std::string ReplayTarget::Divergence() const {
  std::lock_guard lock(mutex_);
  return divergence_;
}

void ReplayTarget::Run() {
  std::string input;
  char buffer[4096];
  while (!stopping_) {
    pollfd p{pty_.Master(), POLLIN, 0};
    const int ready = ::poll(&p, 1, 2);
    if (ready > 0 && (p.revents & POLLIN)) {
      const ssize_t n = ::read(pty_.Master(), buffer, sizeof buffer);
      if (n > 0) {
        input.append(buffer, static_cast<std::size_t>(n));
        std::lock_guard lock(mutex_);
        taken_ += static_cast<std::uint64_t>(n);
        lastActivity_ = Clock::now();
      }
    } else if (ready > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));  // no slave side open
    }
    Answer(input);
  }
}

void ReplayTarget::Answer(std::string& input) {
  for (;;) {
    std::size_t next;
    {
      std::lock_guard lock(mutex_);
      if (diverged_) {
        // A target that lost the thread says nothing more; what the host
        // still writes is kept for the message.
        if (divergence_.size() < 400) divergence_ += TraceText(input);
        input.clear();
        return;
      }
      next = next_;
    }
    std::size_t taken = 0;
    const std::vector<std::string>* replies = nullptr;
    bool repeat = false;
    if (next < script_.size() && input.starts_with(script_[next].sent)) {
      taken = script_[next].sent.size();
      replies = &played_[next].replies;
    } else if (next > 0 && !script_[next - 1].sent.empty() &&
               input.starts_with(script_[next - 1].sent)) {
      // The host asks again (a reply it could not use, a wake-up retry):
      // the loader answers again, this time as recorded.
      taken = script_[next - 1].sent.size();
      replies = &script_[next - 1].replies;
      repeat = true;
    }
    if (!replies) {
      const auto arriving = [&](std::size_t i) {
        return i < script_.size() && script_[i].sent.starts_with(input);
      };
      if (input.empty() || arriving(next) || (next > 0 && arriving(next - 1))) return;
      std::lock_guard lock(mutex_);
      diverged_ = true;
      divergence_ = "after exchange " + std::to_string(next) + " of " +
                    std::to_string(script_.size()) + " (expected \"" +
                    (next < script_.size() ? TraceText(script_[next].sent) : "nothing") +
                    "\") the host wrote \"";
      continue;
    }
    input.erase(0, taken);
    {
      std::lock_guard lock(mutex_);
      playing_ = true;
      if (repeat) {
        ++repeats_;
      } else {
        ++next_;
      }
    }
    Play(*replies);
    std::lock_guard lock(mutex_);
    playing_ = false;
    lastActivity_ = Clock::now();
  }
}

void ReplayTarget::Play(const std::vector<std::string>& replies) {
  switch (pieces_) {
    case Pieces::AsRecorded:
      for (const std::string& chunk : replies) WriteAll(chunk);
      break;
    case Pieces::ByteByByte:
      for (const std::string& chunk : replies) {
        for (char c : chunk) WriteAll(std::string(1, c));
      }
      break;
    case Pieces::WholeReplies: {
      std::string whole;
      for (const std::string& chunk : replies) whole += chunk;
      WriteAll(whole);
      break;
    }
  }
}

void ReplayTarget::AwaitHostRead() {
  std::uint64_t written;
  {
    std::lock_guard lock(mutex_);
    written = written_;
  }
  const auto until = Clock::now() + kReadWait;
  while (watch_.BytesRead() < written && Clock::now() < until && !stopping_) {
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
}

void ReplayTarget::WriteAll(const std::string& piece) {
  if (piece.empty()) return;
  // The piece before must have been read, or the host could take both as one.
  AwaitHostRead();
  std::size_t done = 0;
  while (done < piece.size() && !stopping_) {
    const ssize_t n = ::write(pty_.Master(), piece.data() + done, piece.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) break;
    pollfd p{pty_.Master(), POLLOUT, 0};
    ::poll(&p, 1, 5);
  }
  std::lock_guard lock(mutex_);
  written_ += done;
  lastActivity_ = Clock::now();
}

}  // namespace varnel::testing
