// INI file reads and writes through to disk.
#include "project/IniFile.h"

namespace varnel {

IniText IniFile::Read() const {
  IniText text;
  std::string bytes;
  text.outcome = ReadFileBytes(path_, bytes, &text.error);
  if (text.outcome == ReadOutcome::Read) text.document = IniDocument::Parse(bytes);
  return text;
}

IniDocument IniFile::Load() const { return Read().document; }

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

bool IniFile::Store(const IniDocument& document, std::string* error) {
  const std::string bytes = document.Bytes();
  if (bytes.size() > kMaxSettingsFileSize) {
    // Written, it would read back as unreadable and lose every setting.
    if (error) *error = "Too large for a settings file: " + path_;
    return false;
  }
  return ReplaceFileAtomically(path_, bytes, error);
}

IniWriteResult IniFile::WriteString(std::string_view section, std::string_view key,
                                    std::string_view value) {
  IniWriteResult result;
  IniText text = Read();
  if (text.outcome == ReadOutcome::Failed) {
    result.error = std::move(text.error);
    return result;  // what cannot be read must not be replaced by a part of it
  }
  result.sectionExisted = text.document.HasSection(section);
  text.document.SetValue(section, key, value);
  result.ok = Store(text.document, &result.error);
  return result;
}

}  // namespace varnel
