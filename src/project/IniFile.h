// An INI file on disk: every read reads the file and every write rewrites
// it at once, nothing is cached between calls. Project files and the
// per-user store both go through it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/FileBytes.h"
#include "project/IniDocument.h"

namespace varnel {

struct IniWriteResult {
  bool ok = false;
  bool sectionExisted = false;  // the section was there before the write
  std::string error;            // why the write failed, for the log of a test
};

// The file as one read found it.
struct IniText {
  ReadOutcome outcome = ReadOutcome::Missing;
  IniDocument document;  // empty unless outcome is Read
  std::string error;     // why it could not be read
};

class IniFile {
 public:
  explicit IniFile(std::string path) : path_(std::move(path)) {}

  const std::string& Path() const { return path_; }

  // A file that is missing or cannot be read reads as the default, as a
  // missing section or key does.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
  bool SectionExists(std::string_view section) const;
  std::vector<std::string> SectionKeys(std::string_view section) const;

  // Writes one key and replaces the file atomically. A missing file is
  // created (not its folder). On failure the file keeps its earlier bytes;
  // a file that exists but cannot be read is never overwritten.
  IniWriteResult WriteString(std::string_view section, std::string_view key,
                             std::string_view value);

  // The whole text as the file holds it now; empty when missing or unreadable.
  IniDocument Load() const;
  // The same, saying whether the file was there and could be read.
  IniText Read() const;
  // Replaces the file's whole content with document, atomically. Refused,
  // the file untouched, when the text would be too large for the next read
  // to take it.
  bool Store(const IniDocument& document, std::string* error);

 private:
  std::string path_;
};

}  // namespace varnel
