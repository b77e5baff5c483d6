// An INI text held as bytes, read and edited the way Windows profile files
// behave, so project files written elsewhere read the same here and a write
// touches nothing but its own line.
//
// Names match without regard to ASCII case; blanks around section names,
// key names and values are ignored; lines starting with ";" or "#" are
// comments; every line that is not understood is kept as it is. CRLF, LF
// and lone CR line ends are all read, and lines added by a write take the
// line end the text already uses. A leading UTF-8 byte-order mark is kept.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnel {

class IniDocument {
 public:
  // Line end of lines added to a text that has none yet.
  static constexpr char kDefaultLineEnd[] = "\n";

  static IniDocument Parse(std::string_view bytes);

  // The value of the first matching key in the first matching section;
  // nothing when either is missing. A key present with no value reads "".
  std::optional<std::string> Value(std::string_view section, std::string_view key) const;
  bool HasSection(std::string_view section) const;
  // Key names of the first matching section, in file order, as spelled there.
  std::vector<std::string> Keys(std::string_view section) const;

  // Replace the key's value in place, else add the key at the end of its
  // section, else add the section (with the key) at the end of the text.
  // Line breaks inside the value become blanks: a value is one line.
  void SetValue(std::string_view section, std::string_view key, std::string_view value);

  std::string Bytes() const;
  const std::string& LineEnd() const { return lineEnd_; }

 private:
  enum class Kind { Blank, Comment, Section, Key, Other };
  struct Line {
    std::string text;  // without its line end
    std::string end;   // "\r\n", "\n", "\r" or "" for a last line without one
    Kind kind = Kind::Other;
    std::string name;  // section or key name, trimmed
    std::size_t valueStart = 0;  // Key: where the value text begins in text
  };

  static Line Classify(std::string text, std::string end);
  // Index of the first header matching section, or npos.
  std::size_t FindSection(std::string_view section) const;
  // One past the last line belonging to the section that starts at header.
  std::size_t SectionEnd(std::size_t header) const;
  void TerminateLastLine();

  std::string bom_;
  std::vector<Line> lines_;
  std::string lineEnd_ = kDefaultLineEnd;
};

// Text helpers shared by the store.
bool EqualsNoCase(std::string_view a, std::string_view b);
std::string_view TrimBlanks(std::string_view text);

}  // namespace varnel
