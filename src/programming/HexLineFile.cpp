// Line reading of the prepared Intel HEX file, over a plain descriptor so a
// failing read is seen as such and never taken for the end of the file.
#include "programming/HexLineFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "programming/TextLines.h"

namespace varnel {
namespace {

constexpr std::size_t kChunk = 4096;

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
  return Adopt(fd);
}

bool HexLineFile::OpenText(const std::string& text) {
  Close();
  error_.clear();
  const int fd = ::memfd_create("varnel-records", MFD_CLOEXEC);
  if (fd < 0) {
    error_ = std::strerror(errno);
    return false;
  }
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error_ = std::strerror(errno);
      ::close(fd);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  ::lseek(fd, 0, SEEK_SET);
  return Adopt(fd);
}

bool HexLineFile::Adopt(int fd) {
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
  start_ = scan_ = 0;
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
  // Lines handed out are dropped before more is read, so the buffer holds
  // one line and a chunk at most and each byte is moved once at most.
  buffer_.erase(0, start_);
  scan_ -= start_;
  start_ = 0;
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
    const std::string_view text(buffer_);
    const LineEnd end = FindLineEnd(text, scan_);
    std::string line;
    // A CR last in the buffer may be the first half of a CR LF still unread.
    const bool complete = end.length != 0 && !(end.at + 1 == text.size() && text[end.at] == '\r');
    if (complete || (eof_ && end.length != 0)) {
      line.assign(text.substr(start_, end.at - start_));
      start_ = scan_ = end.at + end.length;
    } else if (!eof_) {
      scan_ = end.at;
      if (Fill() == Result::Error) return Result::Error;
      continue;
    } else if (start_ < text.size()) {
      line.assign(text.substr(start_));  // a last line without line end
      start_ = scan_ = text.size();
    } else {
      return Result::End;
    }
    if (IsBlankLine(line)) continue;
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
