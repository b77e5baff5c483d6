// Value forms and back-end choice of the settings store.
#include "project/SettingsStore.h"

#include <cstdlib>
#include <stdexcept>

#include "link/HexText.h"

namespace varnel {

bool ParseBoolean(std::string_view text, bool defaultValue) {
  // A decimal integer with an optional sign, as the stored "1"/"0" are;
  // anything else, an out-of-range number included, is not a boolean.
  std::string_view digits = TrimBlanks(text);
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
    digits.remove_prefix(1);
  }
  if (digits.empty() || digits.size() > 10) return defaultValue;
  std::int64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return defaultValue;
    value = value * 10 + (c - '0');
  }
  if (value > 2147483648LL) return defaultValue;
  return value != 0;
}

std::int32_t ParseAddress(std::string_view text) { return DecPrev(text); }

std::uint8_t ParseRegister(std::string_view text) {
  return static_cast<std::uint8_t>(DecPrev(text.substr(0, 2)) & 0xFF);
}

std::string RegisterText(std::uint8_t value) { return HDPrev(value) + "h"; }

SettingsStore SettingsStore::Choose(const std::string& projectFile,
                                    const std::string& userStorePath) {
  if (!projectFile.empty()) return SettingsStore(Backend::ProjectFile, projectFile);
  return SettingsStore(Backend::UserStore, userStorePath);
}

std::string SettingsStore::PortDefault() const {
  return backend_ == Backend::ProjectFile ? "COM1" : "None";
}

const IniText& SettingsStore::Text() const {
  if (!text_) text_ = file_.Read();
  return *text_;
}

std::string SettingsStore::Value(std::string_view section, std::string_view key,
                                 std::string_view defaultValue) const {
  auto value = Text().document.Value(section, key);
  return value ? *value : std::string(defaultValue);
}

std::string SettingsStore::ReadText(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const {
  return Value(section, key, defaultValue);
}

bool SettingsStore::Holds(std::string_view section, std::string_view key) const {
  return Text().document.Value(section, key).has_value();
}

bool SettingsStore::ReadBool(std::string_view section, std::string_view key,
                             bool defaultValue) const {
  return ParseBoolean(Value(section, key, defaultValue ? "1" : "0"), defaultValue);
}

std::int32_t SettingsStore::ReadAddress(std::string_view section, std::string_view key,
                                        std::string_view defaultText) const {
  return ParseAddress(Value(section, key, defaultText));
}

std::uint8_t SettingsStore::ReadRegister(std::string_view section, std::string_view key,
                                         std::string_view defaultText) const {
  return ParseRegister(Value(section, key, defaultText));
}

std::string SettingsStore::ReadText(const KeyEntry& entry) const {
  return ReadText(entry.section, entry.key, entry.defaultText);
}

bool SettingsStore::ReadBool(const KeyEntry& entry) const {
  return ReadBool(entry.section, entry.key, ParseBoolean(entry.defaultText, false));
}

std::int32_t SettingsStore::ReadAddress(const KeyEntry& entry) const {
  return ReadAddress(entry.section, entry.key, entry.defaultText);
}

std::uint8_t SettingsStore::ReadRegister(const KeyEntry& entry) const {
  return ReadRegister(entry.section, entry.key, entry.defaultText);
}

bool SettingsStore::WriteText(std::string_view section, std::string_view key,
                              std::string_view value, std::string* message) {
  IniWriteResult result;
  Text();
  if (text_->outcome == ReadOutcome::Failed) {
    // What cannot be read must not be replaced by a part of it; the next
    // write looks at the file again.
    result.error = text_->error;
    text_.reset();
  } else {
    result.sectionExisted = text_->document.HasSection(section);
    text_->document.SetValue(section, key, value);
    result.ok = file_.Store(text_->document, &result.error);
    if (result.ok) {
      text_->outcome = ReadOutcome::Read;
    } else {
      text_.reset();  // the file kept its earlier text; read it again
    }
  }
  if (result.ok) return true;
  if (message) {
    if (backend_ == Backend::ProjectFile) {
      *message = "Unable to write to " + file_.Path();
    } else if (!result.sectionExisted) {
      *message = "Failed to create key " + std::string(section);
    } else {
      *message = "Failed to set data for '" + std::string(key) + "'";
    }
  }
  return false;
}

bool SettingsStore::WriteBool(std::string_view section, std::string_view key, bool value,
                              std::string* message) {
  return WriteText(section, key, value ? "1" : "0", message);
}

}  // namespace varnel
