// POSIX whole-file read and atomic replace.
#include "core/FileBytes.h"
#include "link/ErrorText.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnel {
namespace {

std::string Failure(const std::string& what, const std::string& path, int code) {
  return what + " " + path + ": " + ErrorText(code);
}

void SetError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

// Closes a descriptor on every way out.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  // Close now and report whether the last writes made it.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

mode_t NewFileMode() {
  // The settings run on the main thread only, so reading the mask this way
  // races with nothing.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

FileRead ReadWholeFile(const std::string& path, std::size_t maxBytes) {
  FileRead r;
  const auto fail = [&r](ReadFault fault, int code = 0) {
    r.fault = fault;
    r.code = code;
    r.bytes.clear();
    return std::move(r);
  };
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    const int code = errno;
    return fail(code == ENOENT || code == ENOTDIR ? ReadFault::Missing : ReadFault::CannotOpen,
                code);
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return fail(ReadFault::CannotRead, errno);
  if (!S_ISREG(st.st_mode)) return fail(ReadFault::NotAFile);
  if (static_cast<std::uint64_t>(st.st_size) > maxBytes) {
    r.size = static_cast<std::uint64_t>(st.st_size);
    return fail(ReadFault::TooLarge);
  }
  r.bytes.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(ReadFault::CannotRead, errno);
    }
    r.bytes.append(buffer, static_cast<std::size_t>(n));
    if (r.bytes.size() > maxBytes) {
      r.size = r.bytes.size();
      r.grew = true;
      return fail(ReadFault::TooLarge);
    }
  }
  return r;
}

ReadOutcome ReadFileBytes(const std::string& path, std::string& bytes, std::string* error) {
  FileRead r = ReadWholeFile(path, kMaxSettingsFileSize);
  bytes = std::move(r.bytes);
  switch (r.fault) {
    case ReadFault::None: return ReadOutcome::Read;
    case ReadFault::Missing: return ReadOutcome::Missing;
    case ReadFault::CannotOpen: SetError(error, Failure("Cannot open", path, r.code)); break;
    case ReadFault::NotAFile: SetError(error, "Not a regular file: " + path); break;
    case ReadFault::CannotRead: SetError(error, Failure("Cannot read", path, r.code)); break;
    case ReadFault::TooLarge: SetError(error, "Too large for a settings file: " + path); break;
  }
  return ReadOutcome::Failed;
}

bool ReplaceFileAtomically(const std::string& given, std::string_view bytes, std::string* error) {
  std::string path = given;
  struct stat st {};
  bool exists = false;
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved)) path = resolved;
  }
  if (::stat(path.c_str(), &st) == 0) {
    exists = true;
    if (!S_ISREG(st.st_mode)) {
      SetError(error, "Not a regular file: " + path);
      return false;
    }
    // A read-only file stays read-only: replacing it by rename would
    // otherwise succeed wherever the folder is writable.
    Fd probe(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
    if (probe.get() < 0) {
      SetError(error, Failure("Cannot write", path, errno));
      return false;
    }
  } else if (errno != ENOENT) {
    SetError(error, Failure("Cannot reach", path, errno));
    return false;
  }

  const std::string folder = FolderOf(path);
  const auto slash = path.rfind('/');
  std::string temp = folder + "/." + path.substr(slash == std::string::npos ? 0 : slash + 1) +
                     ".XXXXXX";
  Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (fd.get() < 0) {
    SetError(error, Failure("Cannot write", path, errno) + " (no new file can be made in " +
                        folder + ")");
    return false;
  }
  const mode_t mode = exists ? (st.st_mode & 07777) : NewFileMode();
  bool ok = WriteAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
  int code = errno;
  if (ok && ::fchmod(fd.get(), mode) != 0) {
    ok = false;
    code = errno;
  }
  if (ok && exists && (st.st_uid != ::geteuid() || st.st_gid != ::getegid())) {
    // Only a privileged user can give the file back to its owner; others
    // keep the file under their own name, as any editor would.
    [[maybe_unused]] const int ignored = ::fchown(fd.get(), st.st_uid, st.st_gid);
  }
  if (!fd.Close() && ok) {
    ok = false;
    code = errno;
  }
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    code = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    SetError(error, Failure("Cannot write", path, code));
    return false;
  }
  return true;
}

}  // namespace varnel
