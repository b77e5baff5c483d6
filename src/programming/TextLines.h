// Lines of a program file as the download sees them: a line ends at LF,
// CR LF or a lone CR, and a line holding only blanks is no record. The line
// count, the check before a run and the line file of the run all split text
// here, so they agree on every line.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace varnel {

// Blank: nothing but spaces, tabs, form feeds and vertical tabs.
inline bool IsBlankLine(std::string_view line) {
  return std::all_of(line.begin(), line.end(), [](char c) {
    return c == ' ' || c == '\t' || c == '\f' || c == '\v';
  });
}

// Where the line starting at from ends within text: at is the first
// character of its line end (text.size() for a last line without one) and
// length the line end's size (0, 1, or 2 for CR LF). A CR that is the last
// character of text may still be followed by LF in bytes not read yet;
// callers reading in pieces check that case themselves.
struct LineEnd {
  std::size_t at = 0;
  std::size_t length = 0;
};
inline LineEnd FindLineEnd(std::string_view text, std::size_t from) {
  const std::size_t at = text.find_first_of("\r\n", from);
  if (at == std::string_view::npos) return {text.size(), 0};
  if (text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n') return {at, 2};
  return {at, 1};
}

// Calls f(line, number) for each line of text, numbered from 1, without its
// line end, blank lines included; stops early when f returns false.
template <typename F>
void ForEachLine(std::string_view text, F f) {
  std::size_t start = 0;
  int number = 0;
  while (start < text.size()) {
    const LineEnd end = FindLineEnd(text, start);
    if (!f(text.substr(start, end.at - start), ++number)) return;
    start = end.at + end.length;
  }
}

}  // namespace varnel
