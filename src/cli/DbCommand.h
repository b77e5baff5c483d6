// The line's shared record for varnel-cli: the db command, the check
// before any board, and each board thread's numbers and records.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cli/ExitStatus.h"
#include "cli/Options.h"

namespace varnel::store {
class BoardStore;
class Spool;
}  // namespace varnel::store

namespace varnel::cli {

// db init, flush or export; throws CliFailure.
void RunDb(const Options& options);

// Before any port opens: the connection string, the spool, the schema,
// and with --serial the counter and whether its next number fits; sends
// what the spool holds. A server that cannot be reached stops a run that
// needs numbers (NotStored); records then wait in the spool. Throws
// CliFailure.
void PrepareDb(const Options& options);

// One board thread's connection: its numbers and its records.
class BoardRecords {
 public:
  explicit BoardRecords(const Options& options);
  ~BoardRecords();

  // The counter's next number; throws CliFailure (NotStored when the
  // server cannot be reached or refuses, Refused when it does not fit).
  std::uint64_t TakeNumber(const SerialSpec& spec);
  // Stores the record (a log line): in the database, or in the spool when
  // the server cannot take it. Empty when it is kept, else why it is lost.
  std::string Keep(const std::string& logLine);

 private:
  void SendSpool();

  const Options& o_;
  std::unique_ptr<store::BoardStore> store_;
  std::unique_ptr<store::Spool> spool_;
};

// How a board ended once its record is stored: a board that was done but
// whose record is lost is a failure (NotStored) that says so.
Outcome WithRecord(const Outcome& outcome, const std::string& lost);

}  // namespace varnel::cli
