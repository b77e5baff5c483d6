// Received-byte filter of the serial port.
#include "link/CommRxFilter.h"

namespace varnel {
namespace {
constexpr char kMark = '\xFF';
}

CommRxFilter::Result CommRxFilter::Apply(std::string_view raw, std::string& carry,
                                         std::string& out) const {
  Result result;
  auto emit = [&](char c) {
    if (c == evtChar) result.evtCharSeen = true;
    if (stripNul && c == '\0') return;
    out.push_back(c);
  };

  std::string joined;
  if (!carry.empty()) {
    joined = carry;
    joined.append(raw);
    raw = joined;
    carry.clear();
  }

  for (std::size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    if (!errorMarks || c != kMark) {
      emit(c);
      continue;
    }
    // FF FF is a received FF; FF 00 x is x received with an error.
    if (i + 1 >= raw.size()) {
      carry.assign(raw.substr(i));
      break;
    }
    if (raw[i + 1] == kMark) {
      emit(kMark);
      ++i;
    } else if (raw[i + 1] == '\0') {
      if (i + 2 >= raw.size()) {
        carry.assign(raw.substr(i));
        break;
      }
      ++result.errorBytes;
      emit(replaceErrors ? errorChar : raw[i + 2]);
      i += 2;
    } else {
      emit(c);  // not a mark: pass the FF through as it came
    }
  }
  return result;
}

}  // namespace varnel
