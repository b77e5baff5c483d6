// What the serial port does to received bytes before anyone reads them:
// decoding the driver's error marks (parity checking on), replacing bytes
// received with an error by ErrorChar, discarding NUL bytes, and noticing
// the event character.
#pragma once

#include <string>
#include <string_view>

namespace varnel {

struct CommRxFilter {
  // The driver marks a byte received with a parity or framing error as
  // FF 00 <byte> and doubles a real FF; only while parity checking is on.
  bool errorMarks = false;
  bool replaceErrors = false;  // an error byte becomes errorChar
  char errorChar = 0;
  bool stripNul = false;
  char evtChar = 0;

  struct Result {
    bool evtCharSeen = false;
    int errorBytes = 0;
  };

  // Appends the bytes of raw that a reader gets to out. carry keeps an error
  // mark that a driver read ended in the middle of, for the next call.
  Result Apply(std::string_view raw, std::string& carry, std::string& out) const;
};

}  // namespace varnel
