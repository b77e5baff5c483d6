// The spool file: whole lines, each on the disk before a board is done.
#include "store/Spool.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "core/FileBytes.h"
#include "store/BoardStore.h"
#include "store/StoreError.h"

namespace varnel::store {
namespace {

std::string Folder(const std::string& path) {
  return std::filesystem::path(path).parent_path().string();
}

// Appends text with one write and waits for the disk.
void AppendWhole(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
  ssize_t n = -1;
  do {
    n = ::write(fd, text.data(), text.size());
  } while (n < 0 && errno == EINTR);
  const int writeError = n < 0 ? errno : ENOSPC;
  const bool written = n == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
  const int syncError = errno;
  ::close(fd);
  if (!written) {
    throw std::runtime_error("cannot write " + path + ": " +
                             std::strerror(n == static_cast<ssize_t>(text.size()) ? syncError : writeError));
  }
}

}  // namespace

std::string DefaultSpoolPath() {
  std::string state;
  if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && xdg[0] == '/') {
    state = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
      const passwd* user = ::getpwuid(::getuid());
      home = user ? user->pw_dir : "/tmp";
    }
    state = std::string(home) + "/.local/state";
  }
  return state + "/varnel/spool.jsonl";
}

Spool::Spool(std::string path) : path_(std::move(path)) {}

void Spool::Check() const {
  std::error_code ec;
  std::filesystem::create_directories(Folder(path_), ec);
  const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    throw std::runtime_error("cannot write the spool file " + path_ + ": " + std::strerror(errno));
  }
  ::close(fd);
}

void Spool::Locked(const std::function<void()>& work) const {
  std::error_code ec;
  std::filesystem::create_directories(Folder(path_), ec);
  const std::string lockPath = path_ + ".lock";
  const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0) throw std::runtime_error("cannot lock " + lockPath + ": " + std::strerror(errno));
  while (::flock(lock, LOCK_EX) != 0 && errno == EINTR) {
  }
  try {
    work();
  } catch (...) {
    ::close(lock);
    throw;
  }
  ::close(lock);
}

void Spool::Append(const std::string& travellingRecord) const {
  Locked([&] {
    try {
      AppendWhole(path_, travellingRecord + "\n");
    } catch (const std::runtime_error& e) {
      throw std::runtime_error(std::string("the spool file: ") + e.what());
    }
  });
}

bool Spool::Empty() const {
  struct stat st {};
  return ::stat(path_.c_str(), &st) != 0 || st.st_size == 0;
}

SpoolSent Spool::Send(BoardStore& store) const {
  SpoolSent result;
  result.rejectedPath = Folder(path_) + "/spool.rejected.jsonl";
  Locked([&] {
    const FileRead file = ReadWholeFile(path_);
    if (file.fault == ReadFault::Missing) return;
    if (file.fault != ReadFault::None) {
      throw std::runtime_error("cannot read the spool file " + path_ + ": " + std::strerror(file.code));
    }
    std::vector<std::string> lines;
    std::istringstream in(file.bytes);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty()) lines.push_back(line);
    }
    std::string kept, rejected;
    std::optional<StoreError> stopped;
    for (const std::string& line : lines) {
      if (stopped) {
        kept += line + "\n";
        continue;
      }
      const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(line));
      if (!document.isObject()) {
        // A line cut short when the power went: kept aside for a person.
        rejected += line + "\n";
        continue;
      }
      if (document.object().value("db").toString().toStdString() != store.Shown()) {
        kept += line + "\n";
        continue;
      }
      try {
        store.Insert(line);
        ++result.sent;
      } catch (const StoreError& e) {
        if (e.kind() == StoreError::Kind::Failed) {
          rejected += line + "\n";
        } else {
          stopped = e;
          kept += line + "\n";
        }
      }
    }
    if (!rejected.empty()) {
      AppendWhole(result.rejectedPath, rejected);
      result.rejected = static_cast<std::size_t>(std::count(rejected.begin(), rejected.end(), '\n'));
    }
    result.left = static_cast<std::size_t>(std::count(kept.begin(), kept.end(), '\n'));
    if (result.sent > 0 || result.rejected > 0) {
      std::string error;
      if (!ReplaceFileAtomically(path_, kept, &error)) {
        throw std::runtime_error("cannot rewrite the spool file " + path_ + ": " + error);
      }
    }
    if (stopped) throw *stopped;
  });
  return result;
}

}  // namespace varnel::store
