// Intel HEX records of raw images, line counting and the file preparation of
// a programming run.
#include "programming/ProgramFile.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "core/FileBytes.h"
#include "core/Session.h"
#include "programming/HexLineFile.h"
#include "programming/ProgramCheck.h"
#include "link/HexText.h"
#include "programming/TextLines.h"

namespace varnel {
std::string RecordChecksum(std::string_view record) {
  std::vector<std::uint8_t> fields;
  for (std::size_t i = 1; i + 1 < record.size(); i += 2) {
    fields.push_back(static_cast<std::uint8_t>(DecPrev(record.substr(i, 2))));
  }
  return HDPrev(varnel::RecordChecksum(fields));
}

std::string DataRecord(std::int64_t address, std::span<const std::uint8_t> data) {
  return IntelHexRecord(0x00, static_cast<std::uint32_t>(address), data);
}

ConvertedImage ConvertImage(std::span<const std::uint8_t> image) {
  ConvertedImage out;
  out.text = WriteIntelHex(image, 0, {.lineEnd = "\n", .baseRecords = false});
  out.dataRecords = static_cast<int>((image.size() + kRecordBytes - 1) / kRecordBytes);
  return out;
}

int CountRecordLines(std::string_view text) {
  int count = 0;
  ForEachLine(text, [&](std::string_view line, int) {
    if (!IsBlankLine(line)) ++count;
    return true;
  });
  return count;
}

bool StartsWithRecord(std::string_view text) {
  bool record = false;
  ForEachLine(text, [&](std::string_view line, int) {
    if (IsBlankLine(line)) return true;
    const std::size_t first = line.find_first_not_of(" \t");
    record = line[first] == ':';
    return false;
  });
  return record;
}

ProgramFileType FileTypeOf(std::string_view path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) return ProgramFileType::Other;
  std::string ext(path.substr(dot));
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (ext == ".HEX") return ProgramFileType::IntelHex;
  if (ext == ".BIN") return ProgramFileType::RawImage;
  return ProgramFileType::Other;
}

std::string ConvertedFilePath(std::string_view programFile) {
  const std::size_t slash = programFile.rfind('/');
  const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
  const std::string_view name = programFile.substr(nameStart);
  const std::string_view stem = name.substr(0, name.find('.'));
  return std::string(programFile.substr(0, nameStart)) + std::string(stem) + "tmp.hex";
}

namespace {

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// DownloadFile over contents already read.
bool PrepareContents(Session& session, const std::string& contents, int& hexLineCount,
                     std::string& error) {
  const std::string& programFile = session.ProgramFile;
  switch (FileTypeOf(programFile)) {
    case ProgramFileType::Other:
      if (!StartsWithRecord(contents)) {
        error = "The program file " + programFile +
                " is neither an Intel HEX file nor a binary image (.bin)!";
        return false;
      }
      [[fallthrough]];
    case ProgramFileType::IntelHex:
      hexLineCount = CountRecordLines(contents);
      session.ProjectSettings.HexBinFile = programFile;
      return true;
    case ProgramFileType::RawImage:
      break;
  }

  const std::string converted = ConvertedFilePath(programFile);
  const ConvertedImage hex = ConvertImage(std::span(
      reinterpret_cast<const std::uint8_t*>(contents.data()), contents.size()));
  // In one piece, so an interrupted run never leaves half a file behind.
  if (!ReplaceFileAtomically(converted, hex.text, nullptr)) {
    error = "Can't rewrite file " + converted;
    return false;
  }
  session.ProjectSettings.HexBinFile = converted;
  hexLineCount = hex.dataRecords;
  return true;
}

}  // namespace

bool DownloadFile(Session& session, int& hexLineCount, std::string& error) {
  const std::string& programFile = session.ProgramFile;
  if (programFile.empty()) {
    error = "No program file chosen!";
    return false;
  }
  const FileRead file = ReadWholeFile(programFile);
  if (file.fault != ReadFault::None) {
    error = "Can't open file " + programFile;
    return false;
  }
  return PrepareContents(session, file.bytes, hexLineCount, error);
}

PreparedDownload PrepareDownload(Session& session, int& hexLineCount, std::uint32_t flashSize,
                                 HexLineFile& lineFile) {
  PreparedDownload prepared;
  const auto refuse = [&prepared](const std::string& text) {
    prepared.outcome = Outcome(OutcomeKind::BadFile, text);
    return prepared;
  };
  const std::string& programFile = session.ProgramFile;
  if (programFile.empty()) return refuse("No program file chosen!");

  // The one read of the program file. An Intel HEX file (or one that may be
  // one) is read by the line file itself, so that the text checked is the
  // text sent; a raw image is read, converted and written as Intel HEX.
  const bool raw = FileTypeOf(programFile) == ProgramFileType::RawImage;
  FileRead image;
  if (raw) {
    image = ReadWholeFile(programFile);
    if (image.fault != ReadFault::None) return refuse("Can't open file " + programFile);
  } else if (!lineFile.Load(programFile, kMaxProgramFileSize)) {
    if (lineFile.IsOpen() && lineFile.FileSize() > static_cast<long long>(kMaxProgramFileSize)) {
      return refuse(RefuseTooLarge(NameOf(programFile),
                                   static_cast<std::uint64_t>(lineFile.FileSize())).error);
    }
    lineFile.Close();
    return refuse("Can't open file " + programFile);
  }
  std::string error;
  if (!PrepareContents(session, raw ? image.bytes : lineFile.Text(), hexLineCount, error)) {
    lineFile.Close();
    return refuse(error);
  }
  const std::string& hexFile = session.ProjectSettings.HexBinFile;
  if (raw && !lineFile.Load(hexFile, kMaxProgramFileSize)) {
    const std::string why = lineFile.ErrorText();
    lineFile.Close();
    return refuse("Can't open file " + hexFile + ": " + why);
  }
  ProgramCheck check = CheckProgramText(lineFile.Text(), NameOf(hexFile), flashSize);
  if (!check.ok) {
    lineFile.Close();
    return refuse(check.error);
  }
  prepared.written = std::move(check.data);
  prepared.endRecord = check.endRecord;
  return prepared;
}

}  // namespace varnel
