// The programming run: flash timing, file preparation, erase of the flash
// and/or the configuration page, the line download of the Intel HEX file one
// record per command, and the writes of HCR1 and HCR0. After the first
// command the run is a chain of reply handlers ("M", "L", "CW") that the
// session's dispatcher calls.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/MemoryReader.h"
#include "core/TargetUi.h"
#include "programming/HexLineFile.h"
#include "programming/VerifyAgain.h"

namespace varnel {

class Session;
class SettingsSource;

// What a caller lays over the settings for one run (none: as the settings say).
struct ProgramOptions {
  std::optional<bool> massErase, erasePS1, progFlash, progPS1, verify;
  std::optional<std::uint8_t> hcr0, hcr1;
  // The Intel HEX text to download instead of the program file's (a raw
  // image converted in memory); the program file then only names it.
  std::optional<std::string> records;
  // Called once, when the erase steps have succeeded and before the first
  // record goes: it may put other records in place of those to send (the
  // same file with a board's own bytes in it), or end the run with the
  // outcome it returns (Finished: go on).
  std::function<Outcome(std::string& records)> beforeRecords;

  // After the run's own mass erase, data records whose bytes are all FFh
  // are not sent: the erased flash holds them already. The window's run
  // sends every record.
  bool skipErased = false;
};

// What the line download of the last run put into the flash, counted as
// the loader accepts each record.
struct DownloadCount {
  std::size_t held = 0;     // data bytes the flash holds from the file, skipped ones included
  std::size_t sent = 0;     // data bytes sent in records the loader accepted
  std::size_t skipped = 0;  // data bytes of records left out, all FFh after the erase
};

// What an erase clears: the flash, the flash and the configuration page, or
// the configuration page alone.
enum class EraseScope { Flash, WithCfg, CfgOnly };

class ProgrammingSequence {
 public:
  // Registers the reply handlers, the stop hook and the line repeat with the
  // session, which must not outlive this object's use of it. Every run
  // re-reads the settings through settings first.
  ProgrammingSequence(Session& session, SettingsSource& settings);
  ProgrammingSequence(const ProgrammingSequence&) = delete;
  ProgrammingSequence& operator=(const ProgrammingSequence&) = delete;

  // Who reads the flash back when the settings ask for a verify; none: no
  // verify can be done.
  void SetReader(MemoryReader* reader) { reader_ = reader; }

  // Verbs. Without a connected target they do nothing at all (false);
  // otherwise (true) the run ends with one outcome through the session.
  // A programming run: erase, download, configuration write as the
  // settings (and options over them) select, then verify when asked.
  bool Program(const ProgramOptions& options = {});
  // The erase steps of a programming run alone.
  bool Erase(EraseScope scope);
  // Sends the first erase command the settings select, if any.
  void PrepareTarget();

  // The reply deadline. Every command of the run waits at most its own
  // longest time (on the line, and what the loader does meanwhile, an
  // erase) plus kReplyMarginMs; a target silent beyond that ends the run
  // with NoAnswer, as the port's loss would. The window's timer calls Tick
  // a few times a second: true while a command of the run still waits.
  static constexpr int kReplyMarginMs = 3000;
  using Clock = std::chrono::steady_clock;
  std::function<Clock::time_point()> Now = [] { return Clock::now(); };  // tests set their own
  bool Tick();
  bool Waiting() const;

  // Lines the download is expected to send (the progress range).
  int HexLineCount = 0;
  // What the checked file writes: address -> byte (what a verify compares).
  std::map<std::uint32_t, std::uint8_t> Written;
  bool LineFileOpen() const { return lineFile_.IsOpen(); }
  // Of the running or last run; what a record of the board says.
  const DownloadCount& Downloaded() const { return downloaded_; }

 private:
  void EraseReply(const std::string& reply);
  void LineReply(const std::string& reply);
  void ConfigWriteReply(const std::string& reply);

  void ContinueAfterErase();
  void StartLineDownload();
  void SendNextLine();
  // The next line to send; erased records before it are left out, counted
  // as held, and their number added to skippedLines.
  HexLineFile::Result TakeLine(std::string& line, int& skippedLines);
  void Hold(std::uint64_t start, std::uint32_t count);
  void ResetCount();
  void StartConfigWrite();
  void SendLine(const std::string& text);
  // Sends a command of the run (erase, register write) and starts its deadline.
  void SendCommand(const std::string& command, int ownMs);
  // The command just sent waits for its reply: length characters on the
  // line, ownMs of the loader's own work.
  void Awaiting(std::size_t length, int ownMs);
  // The progress display names the step under way, from the first command of the run.
  void ShowStep(const std::string& text);
  void CloseProgress();
  // The settings reloaded, the options laid over them; false (reported)
  // when the port is closed.
  bool LoadSettings(const ProgramOptions& options);
  void EndRun();
  void EndRunWithError(OutcomeKind kind, const std::string& text);
  void Report(OutcomeKind kind, const std::string& text);
  // Every end of a run goes out here, with the run's facts added.
  void Report(Outcome outcome);
  // The run's facts added to an outcome.
  Outcome WithFacts(Outcome outcome) const;
  void ShowCompletionNotice(const std::string& text);
  // The run wrote everything it was asked to: verify, or finish.
  void Complete(bool notice);
  void VerifyNext(std::size_t range);
  void FinishVerify();

  Session& s_;
  SettingsSource& settings_;
  HexLineFile lineFile_;
  std::string lastSent_;  // what the line download last put on the wire
  MemoryReader* reader_ = nullptr;
  bool flashWritten_ = false;  // the line download reached its end record
  bool noticePending_ = false;  // the completion notice waits for the verify
  std::vector<std::pair<std::uint32_t, std::uint32_t>> verifyRanges_;  // being read
  std::optional<DifferenceCheck> differences_;  // the verify of the run
  std::string awaited_;  // the pending command whose reply the deadline watches
  Clock::time_point sentAt_{};
  int replyMs_ = 0;  // its deadline after sentAt_
  std::function<Outcome(std::string&)> beforeRecords_;  // of the run, until called
  std::uint32_t flashBytes_ = 0;  // of the chip, for the check of records put in place

  // The download's count: the data record in flight (counted once the
  // loader accepts it), the address base the records after an extended
  // address record use, and which addresses the flash already holds.
  bool skipErased_ = false;
  DownloadCount downloaded_;
  std::uint64_t base_ = 0;
  std::optional<std::pair<std::uint64_t, std::uint32_t>> inFlight_;  // start, count
  std::vector<bool> held_;
};

}  // namespace varnel
