// An INI file on disk: every read reads the file and every write rewrites
// it at once, nothing is cached between calls. Project files and the
// per-user store both go through it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "project/IniDocument.h"

namespace varnel {

struct IniWriteResult {
  bool ok = false;
  bool sectionExisted = false;  // the section was there before the write
  std::string error;            // why the write failed, for the log of a test
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

 private:
  std::string path_;
};

}  // namespace varnel
