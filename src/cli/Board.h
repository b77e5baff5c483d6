// One board's run of a command, as the command line does it for every port:
// what is checked once before any port opens, the run on one port, what the
// record of a board holds, and the serial numbers boards take.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QTemporaryDir>

#include "cli/Commands.h"
#include "cli/SerialNumber.h"

namespace varnel::cli {

// Everything a command needs that the target does not give: checked once,
// before any port is opened.
struct Prepared {
  std::optional<ReadRequest> read;
  std::optional<ProgramImage> image;
  std::string fileBytes;   // the program file as read
  std::string fileSha256;  // of fileBytes, lowercase hex
  // A private copy of fileBytes under the file's own name, which every
  // board programs and verifies from: a file rebuilt during a run never
  // reaches a board whose record names the hash read here.
  std::shared_ptr<QTemporaryDir> snapshotFolder;
  std::string snapshot;
};
// Throws CliFailure (bad usage, bad file).
Prepared Prepare(const Options& options);


struct BoardRun {
  const Options* options = nullptr;  // port and file those of this board
  Screen* screen = nullptr;
  const Prepared* prepared = nullptr;
  // The next serial number, taken once the erase has succeeded, just
  // before the first record goes; throws CliFailure. Empty: no serial number.
  std::function<std::uint64_t()> takeSerial;
};

// Opens the port, connects and runs the command; the outcome that ended it
// (Finished when all went well). Never throws.
Outcome RunBoard(const BoardRun& run, BoardFacts& facts);


// --- serial numbers ---
// The number FILE holds; throws CliFailure (bad usage), also when there is
// no such file: a mistyped name must not start the numbering again.
std::uint64_t PeekSerial(const std::string& path);
// Takes the number FILE holds and leaves the next one there, under an
// exclusive lock and replacing the file whole. Throws CliFailure (the
// number could not be stored) when it cannot, and for a number that does
// not fit, leaving the file alone.
std::uint64_t TakeSerial(const std::string& path, const SerialSpec& spec);
// The image with the number at its address, as Intel HEX text.
std::string ImageWithSerial(const ProgramImage& image, const SerialSpec& spec,
                            std::uint64_t number);

// --- the record ---
struct LogEntry {
  std::string port, command, file, fileSha256;
  BoardFacts facts;
  Outcome outcome;
  double seconds = 0;
  long long startedUnixMs = 0;
};
// One JSON object on one line in UTF-8, without the line end.
std::string LogLine(const LogEntry& entry);
// Checks that the log can be appended to; throws CliFailure (bad usage).
void CheckLog(const std::string& path);
// Appends the line with one write and waits until it is on the disk;
// nullopt when it is, otherwise why not.
std::optional<std::string> AppendLog(const std::string& path, const std::string& line);
// The board's record appended to the log: the outcome as it ends the board.
// A board that was done but whose record could not be written fails for it
// (NotStored); a failed one keeps its own end and says this too.
Outcome Record(const std::string& log, const LogEntry& entry);

const char* CommandName(Command command);

}  // namespace varnel::cli
