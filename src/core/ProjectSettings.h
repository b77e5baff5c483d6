// The settings record LoadProperties fills from the store (project file or
// per-user store) and the rest of the tool reads. Never written back.
#pragma once

#include <cstdint>
#include <string>

#include "core/Memories.h"
#include "link/CommTypes.h"

namespace varnel {

struct ProjectSettingsRecord {
  std::string PortName = "None";  // "COM1".."COM8", a device path, or "None"
  std::string BaudText = InfoOfRate(kDefaultBaudRate).text;
  bool ControlDTR = false;        // pulse DTR/RTS to reset the target on connect
  std::string ResetSequence;      // the board's reset with ControlDTR; empty: the usual pulse
  std::string HexBinFile;         // program file named by the settings
  std::string LstFile;
  // Upload ranges, the memory table's defaults until loaded.
  std::int32_t CodeMin = InfoOf(MemoryKind::Code).firstDefault;
  std::int32_t CodeMax = InfoOf(MemoryKind::Code).lastDefault;  // 0: up to the flash size
  std::int32_t SFRMin = InfoOf(MemoryKind::SFR).firstDefault;
  std::int32_t SFRMax = InfoOf(MemoryKind::SFR).lastDefault;
  std::int32_t IRAMMin = InfoOf(MemoryKind::IRAM).firstDefault;
  std::int32_t IRAMMax = InfoOf(MemoryKind::IRAM).lastDefault;
  std::int32_t ExtMin = InfoOf(MemoryKind::ExtRAM).firstDefault;
  std::int32_t ExtMax = InfoOf(MemoryKind::ExtRAM).lastDefault;
  bool UploadCode = true, UploadExtRAM = true, UploadSFR = true;
  bool MassErase = true, ErasePS1 = true, ProgFlash = true, ProgPS1 = true;
  bool Verify = false;  // read the flash back after a programming run wrote it
  // The crystal as the user gave it (command line only); 0: the flash
  // timing follows the clock estimate of the connect.
  std::int32_t CrystalHz = 0;
};

}  // namespace varnel
