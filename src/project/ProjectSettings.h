// The settings record LoadProperties fills from the store (project file or
// per-user store) and the rest of the tool reads. Never written back.
#pragma once

#include <cstdint>
#include <string>

namespace varnel {

struct ProjectSettingsRecord {
  std::string PortName = "None";  // "COM1".."COM8", a device path, or "None"
  std::string BaudText = "9600";
  bool ControlDTR = false;        // pulse DTR/RTS to reset the target on connect
  std::string HexBinFile;         // program file named by the settings
  std::string LstFile;
  std::int32_t CodeMin = 0x0000, CodeMax = 0x7FFF;  // CodeMax 0: up to the flash size
  std::int32_t SFRMin = 0x80, SFRMax = 0xFF;
  std::int32_t IRAMMin = 0x00, IRAMMax = 0xFF;
  std::int32_t ExtMin = 0x0000, ExtMax = 0x03FF;
  bool UploadCode = true, UploadExtRAM = true, UploadSFR = true;
  bool MassErase = true, ErasePS1 = true, ProgFlash = true, ProgPS1 = true;
};

}  // namespace varnel
