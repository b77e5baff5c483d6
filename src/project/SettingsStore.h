// The settings store: text values by section and key, held in the open
// project file or, with no project open, in the per-user store that serves
// as the default project. Both hold the same sections and keys; the value
// forms below say how each key's text is read and written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/SettingsKeys.h"
#include "project/IniFile.h"

namespace varnel {

// Value forms. Booleans are stored "1"/"0" and read as a decimal integer,
// non-zero true; text that is no integer reads as the default.
bool ParseBoolean(std::string_view text, bool defaultValue);
// Addresses are hex digits decoded with DecPrev, whatever the characters.
std::int32_t ParseAddress(std::string_view text);
// Registers ("A5h") are their first two characters decoded with DecPrev;
// the low byte is the register value.
std::uint8_t ParseRegister(std::string_view text);
// "A5h" for 0xA5: two upper-case digits and "h".
std::string RegisterText(std::uint8_t value);

// A store is opened for one operation (a reload, a save, filling the
// dialog) and closed when it goes. It reads its file once, at its first
// read or write, and answers every later read from that text; each write
// still goes to the file at once, so a save that stops half-way leaves the
// keys before it written. Nothing is kept from one store to the next.
class SettingsStore {
 public:
  enum class Backend { ProjectFile, UserStore };

  SettingsStore(Backend backend, std::string path) : backend_(backend), file_(std::move(path)) {}
  // The project file when one is open, else the per-user store.
  static SettingsStore Choose(const std::string& projectFile, const std::string& userStorePath);

  Backend Kind() const { return backend_; }
  const std::string& Path() const { return file_.Path(); }
  // The file itself, read and written past this store's text.
  IniFile& File() { return file_; }
  const IniFile& File() const { return file_; }

  // "Port" as LoadProperties and start-up read it: "COM1" from a project
  // file, "None" from the per-user store.
  std::string PortDefault() const;

  std::string ReadText(std::string_view section, std::string_view key,
                       std::string_view defaultValue) const;
  // Whether the key is there at all, with any value.
  bool Holds(std::string_view section, std::string_view key) const;
  bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;
  std::int32_t ReadAddress(std::string_view section, std::string_view key,
                           std::string_view defaultText) const;
  std::uint8_t ReadRegister(std::string_view section, std::string_view key,
                            std::string_view defaultText) const;
  // Reads with the default of the key table.
  std::string ReadText(const KeyEntry& entry) const;
  bool ReadBool(const KeyEntry& entry) const;
  std::int32_t ReadAddress(const KeyEntry& entry) const;
  std::uint8_t ReadRegister(const KeyEntry& entry) const;

  // A write that fails returns false and sets message to what the user is
  // told: "Unable to write to <path>" for a project file; for the per-user
  // store "Failed to create key <section>" when the section was not there
  // yet, else "Failed to set data for '<key>'".
  bool WriteText(std::string_view section, std::string_view key, std::string_view value,
                 std::string* message);
  bool WriteBool(std::string_view section, std::string_view key, bool value,
                 std::string* message);

 private:
  // The file's text as this store read it, with its own writes applied.
  const IniText& Text() const;
  std::string Value(std::string_view section, std::string_view key,
                    std::string_view defaultValue) const;

  Backend backend_;
  IniFile file_;
  mutable std::optional<IniText> text_;
};

}  // namespace varnel
