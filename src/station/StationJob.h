// The job of a production station: the firmware, the ports and how every
// board is programmed, numbered and recorded. Kept in a station file, an
// INI text of one [Station] section, read and written with the project's
// INI class so the line lead's comments and unknown keys survive a save.
#pragma once

#include <string>
#include <vector>

namespace varnel::station {

struct StationJob {
  std::string file;                // the firmware: Intel HEX or .bin
  std::vector<std::string> ports;  // one board each, in tile order
  int baud = 9600;                 // the loader's own rate after reset
  std::string resetSequence;       // "" none, "pulse", "pulse-inverted" or steps
  bool verify = true;
  std::string serialAddress;       // hex; empty: boards get no serial number
  int serialLength = 4;
  std::string serialFormat = "le";  // le, be or ascii
  std::string serialFile;          // the counter: the next board's number
  std::string log;                 // JSON Lines, one record per board
  // The line's shared database (a libpq connection string or URI, never
  // with a password): every board's record, and the serial numbers in
  // place of the counter file.
  std::string database;
  // The database's counter the numbers come from, one per product; empty:
  // the counter named "default".
  std::string serialCounter;

  bool operator==(const StationJob&) const = default;
};

struct JobRead {
  bool ok = false;
  StationJob job;
  std::string error;  // why the file gave no job
};

// The connection string as a job keeps it: without a password, which libpq
// takes from ~/.pgpass or PGPASSWORD; unchanged when it holds none.
std::string WithoutPassword(const std::string& conninfo);

// Reads a station file; a missing [Station] section is no job. A password
// in Database= is left out.
JobRead ReadJob(const std::string& path);

// Writes the job's keys into the file at path, keeping everything else the
// file holds; replaces the file whole. False with error set on failure.
bool WriteJob(const std::string& path, const StationJob& job, std::string* error);

// What stands in the way of running the job, as the user is told it; empty
// when nothing does. Checks the form of what was typed, not the files.
std::string JobProblem(const StationJob& job);

}  // namespace varnel::station
