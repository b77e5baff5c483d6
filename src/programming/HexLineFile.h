// The line file of a programming run: the prepared Intel HEX file, held open
// for the whole download and read one record per command. Lines end at LF,
// CR LF or a lone CR; blank lines are skipped and line ends removed, so every
// line handed out is a record the loader can take. Reading is linear in the
// file's size, whatever its lines' lengths.
#pragma once

#include <string>
#include <sys/types.h>

namespace varnel {

class HexLineFile {
 public:
  enum class Result { Line, End, Error };

  HexLineFile() = default;
  ~HexLineFile() { Close(); }
  HexLineFile(const HexLineFile&) = delete;
  HexLineFile& operator=(const HexLineFile&) = delete;

  // Opens path for reading; on failure returns false and ErrorText() says why.
  bool Open(const std::string& path);
  // Opens path and reads it whole at once, up to maxBytes: the one read of
  // a programming run's file, whose text is then checked (Text()) before
  // the same bytes are handed out line by line. False when it cannot be
  // opened or read, or is larger (then it stays open and FileSize() says
  // how large, unread).
  bool Load(const std::string& path, std::size_t maxBytes);
  // What Load read; lines handed out are not removed from it.
  const std::string& Text() const { return buffer_; }
  long long FileSize() const { return static_cast<long long>(size_); }
  // Holds text instead of a file's, handed out the same way: nothing is
  // read from or written to any folder.
  void LoadText(std::string text);
  void Close();
  bool IsOpen() const { return fd_ >= 0 || inMemory_; }

  // Looks at the next non-blank line without taking it. Error when the file
  // cannot be read any more, or was removed or rewritten since it was opened
  // (a download must never mix two versions of a program).
  Result Peek();
  // Takes the next non-blank line into line.
  Result Next(std::string& line);

  const std::string& ErrorText() const { return error_; }

 private:
  bool Unchanged();
  Result Fill();

  int fd_ = -1;
  bool inMemory_ = false;  // LoadText's text, no file behind it
  std::string buffer_;     // read; lines before start_ are handed out
  std::size_t start_ = 0;  // first character of the next line in buffer_
  std::size_t scan_ = 0;   // no line end lies in buffer_ between start_ and here
  std::string pending_;    // the line Peek found
  bool havePending_ = false;
  bool eof_ = false;
  std::string error_;
  // What the file was when opened.
  dev_t device_ = 0;
  ino_t inode_ = 0;
  off_t size_ = 0;
  long long mtimeNs_ = 0;
};

}  // namespace varnel
