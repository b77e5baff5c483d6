// How a run ended, as one typed value: what kind of end it was, the
// system's own message, and the facts a caller needs (the address and
// command a refusal concerns, the memory, the counts). The window turns it
// into the box its kind calls for, the command line into a message and an exit
// status chosen by the kind, a log into a record; none of them reads the
// text to find out what happened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace varnel {

enum class MessageKind { Error, Information };

enum class OutcomeKind {
  Finished,           // done as asked
  Refused,            // not started: the session's state or the settings forbid it
  TargetRefused,      // the target said no (an erase, a line, a register write)
  BadFile,            // the program file cannot be used: nothing was sent for it
  NoAnswer,           // the target did not answer in time
  DamagedReplies,     // the target answered, but never in a form that can be taken
  PortFailed,         // the port is closed, cannot be opened or failed under the run
  Interrupted,        // the user stopped it
  VerifyDifferences,  // the flash read back differs from the file
  NotStored,          // a board's record or serial number could not be stored or taken
};

struct Outcome {
  Outcome() = default;
  Outcome(OutcomeKind k, std::string message) : kind(k), text(std::move(message)) {}

  OutcomeKind kind = OutcomeKind::Finished;
  std::string text;  // the system's message; empty when the run has nothing to say

  // Facts, where the kind has them.
  std::optional<std::uint32_t> address;  // where it went wrong
  std::string command;                   // the command whose reply it was
  std::string memory;                    // "CODE", "SFR", ...
  std::size_t bytes = 0;                 // bytes read or written
  std::size_t sent = 0;                  // of the bytes written, those sent (not left erased)
  std::size_t lines = 0;                 // records sent
  std::size_t compared = 0;              // bytes a verify compared
  std::size_t differing = 0;             // of them, those that differ

  bool Done() const { return kind == OutcomeKind::Finished; }
  // The box the window shows for it (when it has a text and is no success).
  MessageKind Box() const {
    switch (kind) {
      case OutcomeKind::Finished:
      case OutcomeKind::Refused:
      case OutcomeKind::Interrupted:
        return MessageKind::Information;
      default:
        return MessageKind::Error;
    }
  }
};

// "Finished", "TargetRefused", ...: the kind as a log writes it.
inline const char* KindName(OutcomeKind kind) {
  switch (kind) {
    case OutcomeKind::Finished: return "Finished";
    case OutcomeKind::Refused: return "Refused";
    case OutcomeKind::TargetRefused: return "TargetRefused";
    case OutcomeKind::BadFile: return "BadFile";
    case OutcomeKind::NoAnswer: return "NoAnswer";
    case OutcomeKind::DamagedReplies: return "DamagedReplies";
    case OutcomeKind::PortFailed: return "PortFailed";
    case OutcomeKind::Interrupted: return "Interrupted";
    case OutcomeKind::VerifyDifferences: return "VerifyDifferences";
    case OutcomeKind::NotStored: return "NotStored";
  }
  return "?";
}

}  // namespace varnel

namespace varnel {

// What the window says of a target that has not answered for seconds: the
// progress window's note while it waits, and the end of a run that gave up.
inline std::string NoReplyText(int seconds) {
  return "No reply for " + std::to_string(seconds) + " s: check the cable and the target";
}

}  // namespace varnel
