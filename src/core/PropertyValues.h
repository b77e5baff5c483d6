// The values the target properties dialog shows and edits, one per key of
// the settings store, as the texts and check states of its controls.
#pragma once

#include <string>

#include "core/SettingsKeys.h"

namespace varnel {

// Every default comes from the key table.
struct PropertyValues {
  // "Properties"
  std::string Port = KeyOf("Port").defaultText;  // ComboPort
  std::string Baud = KeyOf("Baud").defaultText;  // ComboSpeed
  std::string ResetSequence = KeyOf("ResetSequence").defaultText;  // Cmb_ResetSeq
  // "MSC1210Setup"
  std::string HCR0 = KeyOf("HCR0").defaultText;  // Lbl_HCR0, register form
  std::string HCR1 = KeyOf("HCR1").defaultText;  // Lbl_HCR1
  std::string RealClk = KeyOf("RealClk").defaultText;  // Edt_RealClk
  bool ManualClk = KeyDefault("ManualClk");  // CheckManual
  bool ControlDTR = KeyDefault("ControlDTR");  // CheckDTR
  // "Code&Data"
  std::string HexBin;                            // Edt_HexFile
  std::string Lst;                               // Edt_LstFile
  std::string CodeMin = KeyOf("CodeMin").defaultText, CodeMax = KeyOf("CodeMax").defaultText;  // Edt_CodeMin, Edt_CodeMax
  std::string SFRMin = KeyOf("SFRMin").defaultText, SFRMax = KeyOf("SFRMax").defaultText;
  std::string IRAMMin = KeyOf("IRAMMin").defaultText, IRAMMax = KeyOf("IRAMMax").defaultText;
  std::string ExtMin = KeyOf("ExtMin").defaultText, ExtMax = KeyOf("ExtMax").defaultText;
  std::string ProgMin = KeyOf("ProgMin").defaultText, ProgMax = KeyOf("ProgMax").defaultText;
  bool Default = KeyDefault("Default");  // CheckDefault
  bool UploadCode = KeyDefault("UploadCode"), UploadExtRAM = KeyDefault("UploadExtRAM"), UploadSFR = KeyDefault("UploadSFR");
  bool MassErase = KeyDefault("MassErase");  // CheckErase0
  bool ErasePS1 = KeyDefault("ErasePS1");  // CheckErase1
  bool ProgFlash = KeyDefault("ProgFlash");  // CheckProg0
  bool ProgPS1 = KeyDefault("ProgPS1");  // CheckProg1
  bool Verify = KeyDefault("Verify");  // CheckVerify

  bool operator==(const PropertyValues&) const = default;
};

}  // namespace varnel
