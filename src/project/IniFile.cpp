// INI file reads and writes through to disk.
#include "project/IniFile.h"

#include "core/FileBytes.h"

namespace varnel {

IniDocument IniFile::Load() const {
  std::string bytes;
  if (ReadFileBytes(path_, bytes, nullptr) != ReadOutcome::Read) return {};
  return IniDocument::Parse(bytes);
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
  auto value = Load().Value(section, key);
  return value ? *value : std::string(defaultValue);
}

bool IniFile::SectionExists(std::string_view section) const {
  return Load().HasSection(section);
}

std::vector<std::string> IniFile::SectionKeys(std::string_view section) const {
  return Load().Keys(section);
}

IniWriteResult IniFile::WriteString(std::string_view section, std::string_view key,
                                    std::string_view value) {
  IniWriteResult result;
  std::string bytes;
  switch (ReadFileBytes(path_, bytes, &result.error)) {
    case ReadOutcome::Failed:
      return result;  // what cannot be read must not be replaced by a part of it
    case ReadOutcome::Missing:
    case ReadOutcome::Read:
      break;
  }
  IniDocument doc = IniDocument::Parse(bytes);
  result.sectionExisted = doc.HasSection(section);
  doc.SetValue(section, key, value);
  result.ok = ReplaceFileAtomically(path_, doc.Bytes(), &result.error);
  return result;
}

}  // namespace varnel
