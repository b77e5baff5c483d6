// Options of the simulated MSC1210 serial boot loader: what chip it plays,
// how it answers, and the faults it can be told to show. Every field is a
// flag of varnel-target-sim as well.
#pragma once

#include <cstdint>
#include <string>

namespace varnel::sim {

// "After N commands" options use this value for "never".
inline constexpr int kNever = -1;

// How a programming line is answered when a line error is injected.
enum class LineError {
  None,
  WriteError,     // "X"
  ChecksumError,  // "E"
  Empty,          // no content, just the line end and the prompt
};

// The ways a noisy line damages a read reply; a bit each, so a set of them
// can be chosen.
enum ReplyDamage : unsigned {
  kDamageDrop = 1,     // a data digit lost
  kDamageDouble = 2,   // a data digit twice
  kDamageLetter = 4,   // a data digit turned into a letter that is no hex digit
  kDamagePrompt = 8,   // a data digit turned into ">", the reply then delivered
                       // in two pieces, the first ending there
  kDamageAll = 15,     // the four above, which a strict reader can see
  kDamageDigit = 16,   // a data digit turned into another digit: no single
                       // read can see it, only a second one
};

struct TargetSimConfig {
  // Chip. The variant (2..5 for Y2..Y5) sets the flash size: 4, 8, 16, 32 KB.
  int variant = 5;
  // Value of the identification register E9h; -1 derives it from the
  // variant (Y2 gives 0 ... Y5 gives 3). 4..7 make an MSC1211.
  int idValue = -1;
  // Core clock in Hz; the baud-timer reload in CAh/CBh follows from it.
  std::int64_t clockHz = 11059200;
  // Line rate the loader assumes for the reload and for pacing; 0 takes the
  // rate the host set on the line.
  int baud = 0;
  // The 9 characters after the ":" of the banner.
  std::string version = "SIM 1.0.0";

  // Behaviour.
  bool echo = true;         // echo state after reset ("E" turns it off)
  bool leadingCrLf = true;  // data replies (CR, XR, IR, F) start with CR LF

  // Timing of the output.
  int replyDelayMs = 0;  // before each reply
  bool paced = false;    // 10 bit times per byte at the line rate, both ways
  int chunkSize = 0;     // >0: replies go out in pieces of this many bytes
  int chunkGapMs = 5;    // pause between two pieces

  // Faults. Commands are counted from the start of the simulator; every
  // carriage return, command and programming line is one.
  int nulAtCommand = kNever;     // the reply to this command (1-based) gets a NUL
  int nulOffset = 1;             // ... after this many reply bytes
  bool nulTruncates = true;      // ... and the rest of that reply is lost
  int silentAfter = kNever;      // answer nothing after this many commands
  bool refuseErase = false;      // "M" answers "x"
  bool refuseConfigWrite = false;  // "CW" answers "x"
  int lineErrorAt = kNever;      // programming line K (1 = the "L" line) of each download
  LineError lineError = LineError::None;
  int babbleAfter = kNever;      // endless text without a terminator after N commands
  int hangUpAfter = kNever;      // the line closes when command N+1 arrives
  // A weak flash cell: a programming line that writes the cell at this
  // address leaves the mask bits the opposite of what was written, and is
  // answered "." all the same. Commands ("CW") write it correctly.
  int weakCellAddress = kNever;
  int weakCellMask = 0x01;
  // A cell the mass erase does not reach: it keeps this value, not FFh.
  int unerasedCellAddress = kNever;
  int unerasedCellValue = 0x00;
  // Damaged read replies (CR, XR, IR, F, RR), as a noisy line makes them:
  // from command damageFrom on, each such reply is damaged with probability
  // damageRate (1 damages every one) in one of damageWays, one data digit
  // each time. The choices come from a generator seeded with damageSeed, so
  // a run can be repeated.
  double damageRate = 0;
  int damageFrom = 1;
  unsigned damageSeed = 1;
  unsigned damageWays = kDamageAll;
};

// Flash size in bytes of a variant (2..5); 0 for an unknown variant.
int FlashSize(int variant);
// The identification value the config stands for.
int EffectiveIdValue(const TargetSimConfig& config);
// Reload value of the baud-rate timer for a clock and line rate, as the
// loader sets it after measuring the rate: 65536 - round(clock / (32 baud)).
int BaudReload(std::int64_t clockHz, int baud);

}  // namespace varnel::sim
