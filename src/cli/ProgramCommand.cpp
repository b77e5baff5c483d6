// program: the program file checked before anything is sent.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/Commands.h"
#include "core/FileBytes.h"
#include "link/HexText.h"
#include "programming/ProgramCheck.h"
#include "programming/ProgramFile.h"
#include "link/ErrorText.h"

namespace varnel::cli {
namespace {

constexpr char kNothingSent[] = " Nothing was sent.";

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FlashText(std::uint32_t bytes) { return std::to_string(bytes / 1024) + " KB"; }

// A raw image is loaded at 0000h and sent as 16-byte records.
ProgramImage LoadRawImage(const std::string& path, std::uint32_t flashBytes) {
  const std::string name = NameOf(path);
  const auto refuse = [&](const std::string& why) {
    return CliFailure(OutcomeKind::BadFile, name + ": " + why + "." + kNothingSent);
  };
  const FileRead file = ReadWholeFile(path, flashBytes);
  const std::string& bytes = file.bytes;
  std::string fault;
  switch (file.fault) {
    case ReadFault::None: break;
    case ReadFault::NotAFile: fault = "not a file"; break;
    case ReadFault::TooLarge: {
      const std::string flash = " not fit the " + FlashText(flashBytes) + " flash of the target";
      fault = file.grew ? "does" + flash : std::to_string(file.size) + " bytes do" + flash;
      break;
    }
    case ReadFault::Missing:
    case ReadFault::CannotOpen:
    case ReadFault::CannotRead:
      fault = std::string("cannot be read (") + ErrorText(file.code) + ")";
      break;
  }
  if (fault.empty() && bytes.empty()) fault = "holds no bytes";
  if (!fault.empty()) throw refuse(fault);

  ProgramImage image;
  image.path = path;
  image.raw = true;
  image.bytesAfterLine.push_back(0);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    image.data[static_cast<std::uint32_t>(i)] = static_cast<std::uint8_t>(bytes[i]);
    if (i % kRecordBytes == kRecordBytes - 1 || i + 1 == bytes.size()) {
      image.bytesAfterLine.push_back(i + 1);
    }
  }
  image.bytesAfterLine.push_back(bytes.size());  // the end record
  return image;
}

// What the check found, and the bytes written after each line.
ProgramImage ImageOf(const ProgramCheck& check, const std::string& path) {
  if (!check.ok) throw CliFailure(OutcomeKind::BadFile, check.error);
  ProgramImage image;
  image.path = path;
  image.data = check.data;
  // The download sends the file's non-blank lines in order, as checked.
  image.bytesAfterLine.push_back(0);
  for (const CheckedRecord& record : check.records) {
    const bool data = DecPrev(std::string_view(record.text).substr(7, 2)) == 0;
    const std::size_t count = data ? static_cast<std::size_t>(DecPrev(record.text.substr(1, 2))) : 0;
    image.bytesAfterLine.push_back(image.bytesAfterLine.back() + count);
  }
  image.endRecord = !check.records.empty() &&
                    std::string_view(check.records.back().text).substr(7, 2) == "01";
  return image;
}

}  // namespace

ProgramImage LoadProgramImage(const std::string& path, std::uint32_t flashBytes) {
  if (FileTypeOf(path) == ProgramFileType::RawImage) return LoadRawImage(path, flashBytes);
  return ImageOf(CheckProgramFile(path, flashBytes), path);
}

}  // namespace varnel::cli
