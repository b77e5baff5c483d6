// Real file-system failures for the store's tests: a folder the tests own,
// writes as an unprivileged user (so permissions bite even when the tests
// run as root), and a file-size limit that makes a write run out of room.
#pragma once

#include <csignal>
#include <string>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>

#include "support/Files.h"

namespace varnel::testing {

// A temporary folder that other users may enter, so an unprivileged write
// reaches the files the test made inside it.
class TestFolder {
 public:
  TestFolder() { ::chmod(dir_.path().toLocal8Bit().constData(), 0755); }
  std::string Path(const std::string& name = {}) const {
    const std::string base = dir_.path().toStdString();
    return name.empty() ? base : base + "/" + name;
  }

 private:
  QTemporaryDir dir_;
};

// For its lifetime this thread touches files as user and group "nobody";
// the kernel drops the file capabilities of root with it.
class AsUnprivileged {
 public:
  AsUnprivileged() {
    if (::geteuid() == 0) {
      ::setfsgid(65534);
      ::setfsuid(65534);
      active_ = true;
    }
  }
  ~AsUnprivileged() {
    if (active_) {
      ::setfsuid(0);
      ::setfsgid(0);
    }
  }

 private:
  bool active_ = false;
};

// For its lifetime no file of this process may grow beyond limit bytes:
// writes past it fail as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t limit) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = saved_;
    lowered.rlim_cur = limit;
    ::setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
  }

 private:
  rlimit saved_{};
  void (*previous_)(int) = nullptr;
};

}  // namespace varnel::testing
