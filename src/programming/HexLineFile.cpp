// Line reading of the prepared Intel HEX file, over a plain descriptor so a
// failing read is seen as such and never taken for the end of the file.
#include "programming/HexLineFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnel {
namespace {

constexpr std::size_t kChunk = 4096;

bool IsBlank(const std::string& line) {
  for (char c : line) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\f' && c != '\v') return false;
  }
  return true;
}

long long MtimeNs(const struct stat& st) {
  return static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

}  // namespace

bool HexLineFile::Open(const std::string& path) {
  Close();
  error_.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error_ = std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    error_ = S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : std::strerror(errno);
    ::close(fd);
    return false;
  }
  fd_ = fd;
  device_ = st.st_dev;
  inode_ = st.st_ino;
  size_ = st.st_size;
  mtimeNs_ = MtimeNs(st);
  return true;
}

void HexLineFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  buffer_.clear();
  pending_.clear();
  havePending_ = false;
  eof_ = false;
}

bool HexLineFile::Unchanged() {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    error_ = std::strerror(errno);
    return false;
  }
  if (st.st_nlink == 0) {
    error_ = "the file was removed";
    return false;
  }
  if (st.st_dev != device_ || st.st_ino != inode_ || !S_ISREG(st.st_mode) ||
      st.st_size != size_ || MtimeNs(st) != mtimeNs_) {
    error_ = "the file was changed";
    return false;
  }
  return true;
}

HexLineFile::Result HexLineFile::Fill() {
  char chunk[kChunk];
  for (;;) {
    const ssize_t n = ::read(fd_, chunk, sizeof chunk);
    if (n > 0) {
      buffer_.append(chunk, static_cast<std::size_t>(n));
      return Result::Line;
    }
    if (n == 0) {
      eof_ = true;
      return Result::End;
    }
    if (errno != EINTR) {
      error_ = std::strerror(errno);
      return Result::Error;
    }
  }
}

HexLineFile::Result HexLineFile::Peek() {
  if (fd_ < 0) {
    error_ = std::strerror(EBADF);
    return Result::Error;
  }
  if (havePending_) return Result::Line;
  if (!Unchanged()) return Result::Error;
  for (;;) {
    const std::size_t end = buffer_.find('\n');
    std::string line;
    if (end != std::string::npos) {
      line = buffer_.substr(0, end);
      buffer_.erase(0, end + 1);
    } else if (!eof_) {
      if (Fill() == Result::Error) return Result::Error;
      continue;
    } else if (!buffer_.empty()) {
      line = std::move(buffer_);  // a last line without line end
      buffer_.clear();
    } else {
      return Result::End;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (IsBlank(line)) continue;
    pending_ = std::move(line);
    havePending_ = true;
    return Result::Line;
  }
}

HexLineFile::Result HexLineFile::Next(std::string& line) {
  const Result r = Peek();
  if (r == Result::Line) {
    line = std::move(pending_);
    pending_.clear();
    havePending_ = false;
  }
  return r;
}

}  // namespace varnel
