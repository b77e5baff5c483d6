// Line reading of the prepared Intel HEX file, over a plain descriptor so a
// failing read is seen as such and never taken for the end of the file.
#include "programming/HexLineFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "programming/TextLines.h"
#include "link/ErrorText.h"

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
    error_ = varnel::ErrorText(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    error_ = S_ISDIR(st.st_mode) ? varnel::ErrorText(EISDIR) : varnel::ErrorText(errno);
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

bool HexLineFile::Load(const std::string& path, std::size_t maxBytes) {
  if (!Open(path)) return false;
  if (static_cast<unsigned long long>(size_) > maxBytes) {
    error_ = "the file is too large";
    return false;
  }
  buffer_.reserve(static_cast<std::size_t>(size_));
  // Read to the end, as the lines would be: whatever the file holds now is
  // what is checked and sent.
  for (Result r = Result::Line; r == Result::Line;) {
    r = Fill();
    if (r == Result::Error) return false;
    if (buffer_.size() > maxBytes) {
      error_ = "the file is too large";
      size_ = static_cast<off_t>(buffer_.size());
      return false;
    }
  }
  return true;
}

void HexLineFile::LoadText(std::string text) {
  Close();
  error_.clear();
  buffer_ = std::move(text);
  eof_ = true;
  inMemory_ = true;
}

void HexLineFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  inMemory_ = false;
  buffer_.clear();
  start_ = scan_ = 0;
  pending_.clear();
  havePending_ = false;
  eof_ = false;
}

bool HexLineFile::Unchanged() {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    error_ = varnel::ErrorText(errno);
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
      error_ = varnel::ErrorText(errno);
      return Result::Error;
    }
  }
}

HexLineFile::Result HexLineFile::Peek() {
  if (!IsOpen()) {
    error_ = varnel::ErrorText(EBADF);
    return Result::Error;
  }
  if (havePending_) return Result::Line;
  if (!inMemory_ && !Unchanged()) return Result::Error;
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
