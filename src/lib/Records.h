// A station's numbers and records: the counter file a number is taken from
// under a lock, the number as the bytes an image holds, the JSON line of a
// board's record, the log it is appended to, and the database that holds
// both for a whole line of stations.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "varnel/options.h"
#include "varnel/station.h"

namespace varnel::store {
class BoardStore;
class Spool;
}  // namespace varnel::store

namespace varnel::lib {

// The number a counter file's text holds: a decimal number alone on a line
// (spaces and a line end after it allowed) of 64 bits. Throws BadFile
// naming path when the text is no such number.
std::uint64_t ParseCounterText(const std::string& path, const std::string& text);
// The number as LEN bytes in the format; nullopt when it does not fit.
std::optional<std::string> SerialBytes(const SerialSpec& spec, std::uint64_t number);
// The largest number the serial number's bytes hold.
std::uint64_t LargestSerial(const SerialSpec& spec);

// Before any board: the file's next number fits, and the file can be
// replaced under its lock. Throws BadFile (a missing file too: a mistyped
// name must not start the numbering again).
void CheckSerialFile(const std::string& path, const SerialSpec& spec);
// Takes the number the file holds and leaves the next one there, under an
// exclusive lock, replacing the file whole. Throws RecordLost, leaving the
// file alone.
std::uint64_t TakeSerial(const std::string& path, const SerialSpec& spec);

// What the record of a board holds.
struct BoardRecord {
  std::string port, command, file, fileSha256;
  std::optional<Info> info;
  std::optional<std::uint64_t> serial;
  std::size_t bytesWritten = 0, bytesSent = 0;
  bool verified = false;
  std::string result;  // ok, failed, interrupted
  int exitStatus = 0;
  std::string message;
  double seconds = 0;
  long long startedUnixMs = 0;
};
// One JSON object on one line in UTF-8, without the line end.
std::string LogLine(const BoardRecord& record);
// Checks that the log can be appended to; throws BadFile.
void CheckLog(const std::string& path);
// Appends the line with one write and waits until it is on the disk;
// nullopt when it is, otherwise why not.
std::optional<std::string> AppendLog(const std::string& path, const std::string& line);

// Before any board: the connection string, the spool, the schema, and with
// a serial number the counter and whether its next number fits; sends what
// the spool holds. warn says what the station goes on without. Throws
// BadFile, or RecordLost when numbers are needed from a server that
// cannot be reached.
void PrepareDb(const StationOptions& options, const std::function<void(const std::string&)>& warn);

// One port's connection to the database: its numbers and its records.
class DbRecords {
 public:
  DbRecords(const StationOptions& options, std::function<void(const std::string&)> warn);
  ~DbRecords();
  // The counter's next number; throws RecordLost (BadFile when it does
  // not fit).
  std::uint64_t TakeNumber(const SerialSpec& spec);
  // Stores the record: in the database, or in the spool when the server
  // cannot take it. Empty when it is kept, else why it is lost.
  std::string Keep(const std::string& logLine);

 private:
  void SendSpool();
  const StationOptions& o_;
  std::function<void(const std::string&)> warn_;
  std::unique_ptr<store::BoardStore> store_;
  std::unique_ptr<store::Spool> spool_;
};

}  // namespace varnel::lib
