// The settings record LoadProperties fills from the store (project file or
// per-user store) and the rest of the tool reads. Never written back.
#pragma once

#include <cstdint>
#include <string>

#include "core/Memories.h"

namespace varnel {

struct ProjectSettingsRecord {
  std::string PortName = "None";  // "COM1".."COM8", a device path, or "None"
  std::string BaudText = "9600";
  bool ControlDTR = false;        // pulse DTR/RTS to reset the target on connect
  std::string HexBinFile;         // program file named by the settings
  std::string LstFile;
  // Upload ranges, the memory table's defaults until loaded.
  std::int32_t CodeMin = SpecOf(MemoryKind::Code).firstDefault;
  std::int32_t CodeMax = SpecOf(MemoryKind::Code).lastDefault;  // 0: up to the flash size
  std::int32_t SFRMin = SpecOf(MemoryKind::SFR).firstDefault;
  std::int32_t SFRMax = SpecOf(MemoryKind::SFR).lastDefault;
  std::int32_t IRAMMin = SpecOf(MemoryKind::IRAM).firstDefault;
  std::int32_t IRAMMax = SpecOf(MemoryKind::IRAM).lastDefault;
  std::int32_t ExtMin = SpecOf(MemoryKind::ExtRAM).firstDefault;
  std::int32_t ExtMax = SpecOf(MemoryKind::ExtRAM).lastDefault;
  bool UploadCode = true, UploadExtRAM = true, UploadSFR = true;
  bool MassErase = true, ErasePS1 = true, ProgFlash = true, ProgPS1 = true;
  bool Verify = false;  // read the flash back after a programming run wrote it
};

}  // namespace varnel
