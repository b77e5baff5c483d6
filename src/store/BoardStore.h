// The line's shared record in PostgreSQL: the schema and its version, the
// serial-number counters, the boards' records and reading them back. A
// record travels as the JSON line the log holds, with its record id and
// station in front; the server takes its fields apart into columns.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "store/Connection.h"

namespace varnel::store {

// The schema this program writes; a database of a newer one is refused.
inline constexpr int kSchemaVersion = 1;

// The record as it travels: the log line with "record_id", "station" and
// "db" (the database it is meant for, without password) in front.
std::string TravellingRecord(const std::string& logLine, const std::string& recordId,
                             const std::string& station, const std::string& db);
// A new unique record id, and this computer's name.
std::string NewRecordId();
std::string StationName();

class BoardStore {
 public:
  // Throws StoreError (Refused) for a connection string libpq cannot read.
  explicit BoardStore(const std::string& conninfo) : db_(conninfo) {}

  const std::string& Shown() const { return db_.Shown(); }

  // Creates what is missing of the schema (the same call again changes
  // nothing) and returns the version found before, 0 for none. Refuses a
  // newer schema.
  int Init();
  // Checks that the database holds a schema this program can use (once
  // per store); refuses none and a newer one.
  void Check() { Ready(); }
  // Creates the counter with next number start; false (and next) when it
  // exists, left as it is.
  bool CreateCounter(const std::string& name, std::uint64_t start, std::uint64_t& next);
  // The next number of the counter without taking it. Refused when there
  // is no such counter.
  std::uint64_t PeekNumber(const std::string& name);
  // Takes the counter's next number in one statement, if it is at most
  // largest; otherwise refused and the counter is left alone.
  std::uint64_t TakeNumber(const std::string& name, std::uint64_t largest);
  // Stores a travelling record; a record id stored before is left as it
  // was, so sending one twice stores it once.
  void Insert(const std::string& travellingRecord);
  // The records as log lines, oldest first, from since (any time the server
  // reads) and of one serial number when given.
  void Export(const std::optional<std::string>& since, const std::optional<std::uint64_t>& serial,
              const std::function<void(const std::string&)>& line);

  Connection& connection() { return db_; }

 private:
  // Checks the schema once per connection: there, and not newer.
  void Ready();

  Connection db_;
  bool checked_ = false;
};

}  // namespace varnel::store
