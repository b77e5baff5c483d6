// The firmware file as the station shows it.
#include "station/Firmware.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <cstring>

#include "core/FileBytes.h"
#include "core/Memories.h"
#include "link/ErrorText.h"
#include "link/HexText.h"
#include "programming/ProgramCheck.h"
#include "programming/ProgramFile.h"

namespace varnel::station {

Firmware ReadFirmware(const std::string& path) {
  Firmware f;
  f.path = path;
  const std::size_t slash = path.rfind('/');
  f.name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::uint32_t flash = InfoOf(MemoryKind::Code).size;
  const FileRead file = ReadWholeFile(path, kMaxProgramFileSize);
  switch (file.fault) {
    case ReadFault::None: break;
    case ReadFault::Missing: f.error = "there is no file " + path; return f;
    case ReadFault::NotAFile: f.error = path + " is not a file"; return f;
    case ReadFault::TooLarge: f.error = path + " is too large for a firmware file"; return f;
    default: f.error = "cannot read " + path + ": " + ErrorText(file.code); return f;
  }
  f.size = file.bytes.size();
  f.sha256 = QCryptographicHash::hash(QByteArray::fromStdString(file.bytes), QCryptographicHash::Sha256)
                 .toHex()
                 .toStdString();
  std::map<std::uint32_t, std::uint8_t> data;
  if (FileTypeOf(path) == ProgramFileType::RawImage) {
    if (file.bytes.empty()) {
      f.error = f.name + " holds no bytes";
      return f;
    }
    if (file.bytes.size() > flash) {
      f.error = f.name + ": " + std::to_string(file.bytes.size()) + " bytes do not fit the 32 KB flash";
      return f;
    }
    f.ranges.push_back({0, static_cast<std::uint32_t>(file.bytes.size() - 1)});
    f.dataBytes = file.bytes.size();
    f.ok = true;
    return f;
  }
  const ProgramCheck check = CheckProgramText(file.bytes, f.name, flash);
  if (!check.ok) {
    f.error = check.error;
    return f;
  }
  for (const auto& [address, byte] : check.data) {
    if (!f.ranges.empty() && f.ranges.back().second + 1 == address) {
      f.ranges.back().second = address;
    } else {
      f.ranges.push_back({address, address});
    }
  }
  f.dataBytes = check.data.size();
  f.ok = true;
  return f;
}

std::string RangesText(const Firmware& firmware) {
  std::string text;
  for (const auto& [first, last] : firmware.ranges) {
    if (!text.empty()) text += ", ";
    text += HD16Prev(static_cast<int>(first)) + "h-" + HD16Prev(static_cast<int>(last)) + "h";
  }
  return text.empty() ? "nothing" : text;
}

}  // namespace varnel::station
