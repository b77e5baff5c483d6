// The values the target properties dialog shows and edits, one per key of
// the settings store, as the texts and check states of its controls: the
// form in which they are read from the store to fill the dialog and written
// back when it is confirmed.
#pragma once

#include <string>

#include "link/TargetUi.h"
#include "project/SettingsStore.h"

namespace varnel {

struct PropertyValues {
  // "Properties"
  std::string Port = "COM1";  // ComboPort
  std::string Baud = "9600";  // ComboSpeed
  // "MSC1210Setup"
  std::string HCR0 = "FFh";   // Lbl_HCR0, register form
  std::string HCR1 = "FFh";   // Lbl_HCR1
  std::string RealClk = "4";  // Edt_RealClk
  bool ManualClk = false;     // CheckManual
  bool ControlDTR = false;    // CheckDTR
  // "Code&Data"
  std::string HexBin;                            // Edt_HexFile
  std::string Lst;                               // Edt_LstFile
  std::string CodeMin = "0000", CodeMax = "7FFF";  // Edt_CodeMin, Edt_CodeMax
  std::string SFRMin = "80", SFRMax = "FF";
  std::string IRAMMin = "00", IRAMMax = "FF";
  std::string ExtMin = "0000", ExtMax = "03FF";
  std::string ProgMin = "0000", ProgMax = "7FFF";
  bool Default = true;  // CheckDefault
  bool UploadCode = true, UploadExtRAM = true, UploadSFR = true;
  bool MassErase = true;  // CheckErase0
  bool ErasePS1 = true;   // CheckErase1
  bool ProgFlash = true;  // CheckProg0
  bool ProgPS1 = true;    // CheckProg1
  bool Verify = false;    // CheckVerify

  bool operator==(const PropertyValues&) const = default;
};

// Which keys a save writes: a confirmed properties dialog writes every key
// but "WorkDir"; a new project leaves out "Baud", "IRAMMin" and "IRAMMax".
enum class SaveLayout { Properties, NewProject };

// The dialog's values from the store, with the key table's defaults ("Port"
// defaults to "COM1" here whatever the back-end).
PropertyValues ReadPropertyValues(const SettingsStore& store);
// The values a new project's dialog starts from, read from the per-user
// store: "Port" defaults to "None" and "ControlDTR" to true; "Baud" is not
// read (the speed box stays empty), nor are "IRAMMin" and "IRAMMax".
PropertyValues ReadNewProjectValues(const SettingsStore& userStore);

// "Version" as written: the program version up to and including its first
// blank, so "1.1" gives the empty text.
std::string VersionKeyText(std::string_view programVersion);

// Writes the values in key-table order. The first key that cannot be
// written ends the save with its message in an error box; keys written
// before it stay written, later ones are not written. False then.
bool SaveProperties(SettingsStore& store, const PropertyValues& values, SaveLayout layout,
                    std::string_view programVersion, TargetUi& ui);

}  // namespace varnel
