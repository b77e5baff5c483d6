// The station's own copy of the records the database did not take yet:
// one travelling record per line, appended whole and flushed to the disk
// before the board is called done, and sent first once the server answers
// again. Shared by every varnel process of the user, under a lock.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace varnel::store {

class BoardStore;

// $XDG_STATE_HOME/varnel/spool.jsonl (~/.local/state when unset).
std::string DefaultSpoolPath();

struct SpoolSent {
  std::size_t sent = 0;      // records the database now holds
  std::size_t left = 0;      // records kept (another database's, or not sent)
  std::size_t rejected = 0;  // lines the server refuses, moved aside
  std::string rejectedPath;
};

class Spool {
 public:
  explicit Spool(std::string path = DefaultSpoolPath());
  const std::string& path() const { return path_; }

  // Creates the folder and checks that the file can be appended to;
  // throws std::runtime_error saying why not.
  void Check() const;
  // Appends the line with one write and waits until it is on the disk;
  // throws std::runtime_error saying why it is not.
  void Append(const std::string& travellingRecord) const;
  // True when there is nothing to send (no file, or an empty one).
  bool Empty() const;
  // Sends every record meant for the store's database, oldest first, and
  // keeps the rest. A line the server refuses goes to spool.rejected.jsonl
  // beside the spool, never lost. Throws StoreError when the server goes
  // away meanwhile (what was sent is out of the spool), std::runtime_error
  // when the spool cannot be rewritten.
  SpoolSent Send(BoardStore& store) const;

 private:
  // Runs work with the spool's lock held (a companion file, as the spool
  // itself is replaced).
  void Locked(const std::function<void()>& work) const;

  std::string path_;
};

}  // namespace varnel::store
