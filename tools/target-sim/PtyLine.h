// The simulated end of a serial line: a pseudo-terminal whose master side
// the simulator reads and writes, with the slave side held open so that the
// line stays up while a host closes and reopens the port, and a wake-up
// that ends the simulator's waits when it is to stop.
#pragma once

#include <cstddef>
#include <string>

namespace varnel::sim {

class PtyLine {
 public:
  // Opens the pair, the slave side raw at 9600 baud as a terminal program
  // expects by default, the master side non-blocking. Throws
  // std::runtime_error when no pseudo-terminal can be had.
  PtyLine();
  ~PtyLine();
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  int Master() const { return master_; }  // -1 once hung up
  int Slave() const { return slave_; }
  // Readable once Wake() was called: poll it beside the master.
  int WakeFd() const { return wake_[0]; }
  const std::string& SlavePath() const { return slavePath_; }

  // From any thread: ends WriteAll's wait and every poll on WakeFd().
  void Wake();
  // Writes all bytes, waiting for room while the host does not read; false
  // when woken meanwhile or when the line failed.
  bool WriteAll(const char* data, std::size_t size);
  // Closes both sides: the host's reads end with an error.
  void HangUp();
  // A new pair in place of the old one (closed first), under a new slave
  // path, with a fresh wake-up. Only while nobody polls or writes the line.
  void Reopen();

 private:
  void OpenPair();

  int master_ = -1;
  int slave_ = -1;
  int wake_[2] = {-1, -1};
  std::string slavePath_;
};

}  // namespace varnel::sim
