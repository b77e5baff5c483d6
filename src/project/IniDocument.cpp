// INI text as bytes: parsing, look-up and single-line edits.
#include "project/IniDocument.h"

namespace varnel {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r'; }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string OneLine(std::string_view value) {
  std::string out(value);
  for (char& c : out) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

IniDocument::Line IniDocument::Classify(std::string text, std::string end) {
  Line line;
  line.text = std::move(text);
  line.end = std::move(end);
  const std::string_view body = TrimBlanks(line.text);
  if (body.empty()) {
    line.kind = Kind::Blank;
  } else if (body.front() == ';' || body.front() == '#') {
    line.kind = Kind::Comment;
  } else if (body.front() == '[' && body.rfind(']') != std::string_view::npos) {
    // The name runs to the last "]", as profile readers take it.
    line.kind = Kind::Section;
    line.name = std::string(TrimBlanks(body.substr(1, body.rfind(']') - 1)));
  } else if (const auto eq = line.text.find('='); eq != std::string::npos) {
    const std::string_view name = TrimBlanks(std::string_view(line.text).substr(0, eq));
    if (!name.empty()) {
      line.kind = Kind::Key;
      line.name = std::string(name);
      std::size_t start = eq + 1;
      while (start < line.text.size() && IsBlank(line.text[start])) ++start;
      line.valueStart = start;
    }
  }
  return line;
}

IniDocument IniDocument::Parse(std::string_view bytes) {
  IniDocument doc;
  if (bytes.substr(0, kBom.size()) == kBom) {
    doc.bom_ = std::string(kBom);
    bytes.remove_prefix(kBom.size());
  }
  bool endSeen = false;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t stop = bytes.find_first_of("\r\n", pos);
    std::string end;
    std::size_t next = bytes.size();
    if (stop == std::string_view::npos) {
      stop = bytes.size();
    } else if (bytes[stop] == '\r' && stop + 1 < bytes.size() && bytes[stop + 1] == '\n') {
      end = "\r\n";
      next = stop + 2;
    } else {
      end = std::string(1, bytes[stop]);
      next = stop + 1;
    }
    if (!endSeen && !end.empty()) {
      doc.lineEnd_ = end;
      endSeen = true;
    }
    doc.lines_.push_back(Classify(std::string(bytes.substr(pos, stop - pos)), std::move(end)));
    pos = next;
  }
  return doc;
}

std::size_t IniDocument::FindSection(std::string_view section) const {
  const std::string_view wanted = TrimBlanks(section);
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == Kind::Section && EqualsNoCase(lines_[i].name, wanted)) return i;
  }
  return std::string::npos;
}

std::size_t IniDocument::SectionEnd(std::size_t header) const {
  std::size_t i = header + 1;
  while (i < lines_.size() && lines_[i].kind != Kind::Section) ++i;
  return i;
}

std::optional<std::string> IniDocument::Value(std::string_view section,
                                              std::string_view key) const {
  const std::size_t header = FindSection(section);
  if (header == std::string::npos) return std::nullopt;
  const std::string_view wanted = TrimBlanks(key);
  const std::size_t end = SectionEnd(header);
  for (std::size_t i = header + 1; i < end; ++i) {
    const Line& line = lines_[i];
    if (line.kind == Kind::Key && EqualsNoCase(line.name, wanted)) {
      return std::string(TrimBlanks(std::string_view(line.text).substr(line.valueStart)));
    }
  }
  return std::nullopt;
}

bool IniDocument::HasSection(std::string_view section) const {
  return FindSection(section) != std::string::npos;
}

std::vector<std::string> IniDocument::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  const std::size_t header = FindSection(section);
  if (header == std::string::npos) return keys;
  const std::size_t end = SectionEnd(header);
  for (std::size_t i = header + 1; i < end; ++i) {
    if (lines_[i].kind == Kind::Key) keys.push_back(lines_[i].name);
  }
  return keys;
}

void IniDocument::TerminateLastLine() {
  if (!lines_.empty() && lines_.back().end.empty()) lines_.back().end = lineEnd_;
}

void IniDocument::SetValue(std::string_view section, std::string_view key,
                           std::string_view value) {
  const std::string text = OneLine(TrimBlanks(value));
  const std::string keyName(TrimBlanks(key));
  const std::string sectionName(TrimBlanks(section));
  const std::size_t header = FindSection(sectionName);

  if (header == std::string::npos) {
    TerminateLastLine();
    // A blank line keeps the new section apart from the one before it.
    if (!lines_.empty() && lines_.back().kind != Kind::Blank) {
      lines_.push_back(Classify("", lineEnd_));
    }
    lines_.push_back(Classify("[" + sectionName + "]", lineEnd_));
    lines_.push_back(Classify(keyName + "=" + text, lineEnd_));
    return;
  }

  const std::size_t end = SectionEnd(header);
  std::size_t last = header;  // last line with content in the section
  for (std::size_t i = header + 1; i < end; ++i) {
    Line& line = lines_[i];
    if (line.kind == Kind::Key && EqualsNoCase(line.name, keyName)) {
      // Keep the key's own spelling and spacing; only the value changes.
      line.text = line.text.substr(0, line.valueStart) + text;
      return;
    }
    if (line.kind == Kind::Key || line.kind == Kind::Other) last = i;
  }
  // After the section's last entry, so blank lines and comments that lead
  // into the next section stay in front of it.
  if (lines_[last].end.empty()) lines_[last].end = lineEnd_;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(last + 1),
                Classify(keyName + "=" + text, lineEnd_));
}

std::string IniDocument::Bytes() const {
  std::string out = bom_;
  for (const Line& line : lines_) {
    out += line.text;
    out += line.end;
  }
  return out;
}

}  // namespace varnel
