// A Target: its thread with the Qt event loop, and the verbs marshalled onto
// it, where the Driver runs each to its end.
#include "varnel/target.h"

#include <pthread.h>
#include <signal.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "lib/Driver.h"
#include "lib/TargetAccess.h"
#include "link/CommTypes.h"

namespace varnel {
namespace {

// Threads of the library take no stop signals: Ctrl+C belongs to the
// caller, who ends a run with cancel().
void BlockStopSignals() {
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
}

// The port's notifier and timers need an event dispatcher, which Qt gives a
// thread only while an application object exists. A caller without one
// gets one, made on a thread of the library's that only keeps it.
void EnsureQtApplication() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (QCoreApplication::instance()) return;
    std::mutex m;
    std::condition_variable made;
    bool ready = false;
    std::thread([&] {
      BlockStopSignals();
      static int argc = 1;
      static char name[] = "libvarnel";
      static char* argv[] = {name, nullptr};
      new QCoreApplication(argc, argv);  // kept for the life of the process
      {
        std::lock_guard<std::mutex> lock(m);
        ready = true;
      }
      made.notify_all();
      std::mutex idle;
      std::condition_variable never;
      std::unique_lock<std::mutex> wait(idle);
      never.wait(wait, [] { return false; });
    }).detach();
    std::unique_lock<std::mutex> lock(m);
    made.wait(lock, [&] { return ready; });
  });
}

}  // namespace

class Target::Impl {
 public:
  Impl(const std::string& port, const TargetOptions& options) : port_(port), options_(options) {
    EnsureQtApplication();
    std::promise<void> started;
    thread_ = std::thread([this, &started] { Main(started); });
    try {
      started.get_future().get();
      Call([this] { driver_->Open(port_); });
    } catch (...) {
      Stop();
      throw;
    }
  }
  ~Impl() { Stop(); }

  // Runs job on the Target's thread and waits for it; its exception is the
  // caller's. One job at a time; a cancel counts from here on.
  template <typename Job>
  auto Call(Job job, const std::atomic<bool>* stopped = nullptr) -> decltype(job()) {
    using Result = decltype(job());
    std::lock_guard<std::mutex> one(calls_);
    cancel_ = false;
    // A stop that came between two calls still ends this one.
    if (stopped && stopped->load()) cancel_ = true;
    std::packaged_task<Result()> task([&job]() -> Result {
      try {
        return job();
      } catch (const ECommError& e) {
        // The port's exception met outside a run of the engine.
        throw PortError(e.what());
      }
    });
    auto result = task.get_future();
    QMetaObject::invokeMethod(context_, [&task] { task(); }, Qt::QueuedConnection);
    return result.get();
  }

  void Cancel() {
    cancel_ = true;
    // Wakes the loop, which then looks at the flag.
    if (context_) QMetaObject::invokeMethod(context_, [] {}, Qt::QueuedConnection);
  }

  lib::Driver& driver() { return *driver_; }
  const std::string port_;
  const TargetOptions options_;

 private:
  // The Target's thread: everything of Qt is made, used and destroyed here.
  void Main(std::promise<void>& started) {
    BlockStopSignals();
    std::optional<QEventLoop> loop;
    std::optional<QObject> context;
    std::optional<lib::Driver> driver;
    try {
      loop.emplace();
      context.emplace();
      driver.emplace(options_, cancel_);
    } catch (...) {
      started.set_exception(std::current_exception());
      return;
    }
    context_ = &*context;
    loop_ = &*loop;
    driver_ = &*driver;
    started.set_value();
    loop->exec();
  }

  void Stop() {
    if (!thread_.joinable()) return;
    if (loop_) {
      Cancel();
      QMetaObject::invokeMethod(context_, [this] { loop_->quit(); }, Qt::QueuedConnection);
    }
    thread_.join();
  }

  std::thread thread_;
  std::mutex calls_;
  std::atomic<bool> cancel_{false};
  QObject* context_ = nullptr;
  QEventLoop* loop_ = nullptr;
  lib::Driver* driver_ = nullptr;
};

Target::Target(const std::string& port, const TargetOptions& options)
    : impl_(std::make_unique<Impl>(port, options)) {}

Target::~Target() = default;

Info Target::connect() {
  return impl_->Call([this] { return impl_->driver().Connect(); });
}

std::vector<std::uint8_t> Target::read(Memory memory, std::uint32_t first, std::uint32_t last,
                                       const ReadOptions& options) {
  return impl_->Call([&] { return impl_->driver().Read(memory, first, last, options); });
}

ProgramResult Target::program(const Image& image, const ProgramOptions& options) {
  lib::ProgramSteps steps;
  steps.verify = options.verify;
  steps.eraseConfig = options.erase_config;
  steps.writeConfig = options.write_config;
  steps.hcr0 = options.hcr0.value_or(0xFF);
  steps.hcr1 = options.hcr1.value_or(0xFF);
  steps.massErase = options.mass_erase;
  steps.writeFlash = options.write_flash;
  steps.skipErased = options.skip_erased;
  steps.patch = options.before_download;
  steps.progress = options.progress;
  return impl_->Call([&] { return impl_->driver().Program(image, steps); });
}

std::vector<Difference> Target::verify(const Image& image, const Progress& progress) {
  return impl_->Call([&] { return impl_->driver().Verify(image, progress); });
}

std::optional<std::uint32_t> Target::blank_check(const Progress& progress) {
  return impl_->Call([&] { return impl_->driver().BlankCheck(progress); });
}

void Target::erase(EraseScope scope) {
  const lib::EraseWhat what = scope == EraseScope::Flash    ? lib::EraseWhat::Flash
                              : scope == EraseScope::Config ? lib::EraseWhat::Config
                                                            : lib::EraseWhat::FlashAndConfig;
  impl_->Call([&] { impl_->driver().Erase(what); });
}

void Target::cancel() noexcept { impl_->Cancel(); }

void Target::close() {
  impl_->Call([&] { impl_->driver().Close(); });
}

std::size_t Target::replies_read_again() {
  return impl_->Call([this] { return impl_->driver().RepliesReadAgain(); });
}

ProgramResult Target::last_download() {
  return impl_->Call([this] {
    const lib::Downloaded d = impl_->driver().LastDownload();
    ProgramResult result;
    result.bytes_written = d.held;
    result.bytes_sent = d.sent;
    result.bytes_skipped = d.skipped;
    return result;
  });
}

const std::string& Target::port() const { return impl_->port_; }

const std::optional<Info>& Target::info() const { return impl_->driver().Connected(); }

namespace lib {

void TargetAccess::Run(Target& target, const std::function<void(Driver&)>& job,
                       const std::atomic<bool>& stopped) {
  Target::Impl& impl = *target.impl_;
  impl.Call([&] { job(impl.driver()); }, &stopped);
}

}  // namespace lib
}  // namespace varnel
