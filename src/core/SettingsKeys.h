// One table of every settings key: its section, key, value form and
// default. The store, the dialog's values, the project files and the
// command line all take their keys from here.
#pragma once

#include <stdexcept>
#include <string_view>

#include "core/Memories.h"
#include "link/CommTypes.h"

namespace varnel {

namespace section {
inline constexpr char Properties[] = "Properties";
inline constexpr char Setup[] = "MSC1210Setup";
inline constexpr char CodeData[] = "Code&Data";
}  // namespace section

enum class ValueForm { Text, Boolean, Address, Register };

// One row of the key table: every key the program reads or writes, in the
// order a confirmed properties dialog writes them ("WorkDir" is only ever in
// the per-user store and is not written by the dialog).
struct KeyEntry {
  const char* section;
  const char* key;
  ValueForm form;
  const char* defaultText;  // "Port": the project-file default; see PortDefault
};

inline constexpr KeyEntry kKeyTable[] = {
    {section::Properties, "Port", ValueForm::Text, "COM1"},
    {section::Properties, "Baud", ValueForm::Text, InfoOfRate(kDefaultBaudRate).text},
    {section::Properties, "Version", ValueForm::Text, ""},
    // Written only when it holds a sequence (or held one): a project that
    // keeps the usual pulse keeps its usual keys.
    {section::Properties, "ResetSequence", ValueForm::Text, ""},
    {section::Properties, "WorkDir", ValueForm::Text, ""},
    {section::Setup, "HCR0", ValueForm::Register, "FFh"},
    {section::Setup, "HCR1", ValueForm::Register, "FFh"},
    {section::Setup, "RealClk", ValueForm::Text, "4"},
    {section::Setup, "ManualClk", ValueForm::Boolean, "0"},
    {section::Setup, "ControlDTR", ValueForm::Boolean, "0"},
    {section::CodeData, "HexBin", ValueForm::Text, ""},
    {section::CodeData, "Lst", ValueForm::Text, ""},
    {section::CodeData, "CodeMin", ValueForm::Address, DefaultFirstText(MemoryKind::Code).data()},
    {section::CodeData, "CodeMax", ValueForm::Address, DefaultLastText(MemoryKind::Code).data()},
    {section::CodeData, "SFRMin", ValueForm::Address, DefaultFirstText(MemoryKind::SFR).data()},
    {section::CodeData, "SFRMax", ValueForm::Address, DefaultLastText(MemoryKind::SFR).data()},
    {section::CodeData, "IRAMMin", ValueForm::Address, DefaultFirstText(MemoryKind::IRAM).data()},
    {section::CodeData, "IRAMMax", ValueForm::Address, DefaultLastText(MemoryKind::IRAM).data()},
    {section::CodeData, "ExtMin", ValueForm::Address, DefaultFirstText(MemoryKind::ExtRAM).data()},
    {section::CodeData, "ExtMax", ValueForm::Address, DefaultLastText(MemoryKind::ExtRAM).data()},
    {section::CodeData, "ProgMin", ValueForm::Address, DefaultFirstText(MemoryKind::Code).data()},
    {section::CodeData, "ProgMax", ValueForm::Address, DefaultLastText(MemoryKind::Code).data()},
    {section::CodeData, "Default", ValueForm::Boolean, "1"},
    {section::CodeData, "UploadCode", ValueForm::Boolean, "1"},
    {section::CodeData, "UploadExtRAM", ValueForm::Boolean, "1"},
    {section::CodeData, "UploadSFR", ValueForm::Boolean, "1"},
    {section::CodeData, "MassErase", ValueForm::Boolean, "1"},
    {section::CodeData, "ErasePS1", ValueForm::Boolean, "1"},
    {section::CodeData, "ProgFlash", ValueForm::Boolean, "1"},
    {section::CodeData, "ProgPS1", ValueForm::Boolean, "1"},
    {section::CodeData, "Verify", ValueForm::Boolean, "0"},
};

// The row of a key of the table; the key must be one of them (a name that
// is not fails to compile where the look-up is a constant).
constexpr const KeyEntry& KeyOf(std::string_view key) {
  for (const KeyEntry& entry : kKeyTable) {
    if (key == entry.key) return entry;
  }
  throw std::logic_error("no such settings key");
}

// A boolean key's default ("1" or "0").
constexpr bool KeyDefault(std::string_view key) { return KeyOf(key).defaultText[0] == '1'; }

}  // namespace varnel
