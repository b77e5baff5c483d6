// Program image files: the file a programming run downloads is Intel HEX.
// An Intel HEX file is sent as it is; a raw binary image is converted into a
// sibling Intel HEX file ("fw.bin" -> "fwtmp.hex") of 16-byte data records
// loaded from 0000h. The record building works on bytes in memory; only
// DownloadFile touches the disk.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>

#include "core/Outcome.h"
#include "link/Commands.h"
#include "programming/IntelHex.h"

namespace varnel {

class HexLineFile;
class Session;

// Two's-complement checksum of a record text: 100h minus the sum of the
// digit pairs after the ':' (count, address, type, data), as two hex digits.
std::string RecordChecksum(std::string_view record);

// One data record (type 00) of data at address; only the low 16 bits of the
// address are written, so an image beyond 64 KB wraps to 0000h.
std::string DataRecord(std::int64_t address, std::span<const std::uint8_t> data);

// A raw image as Intel HEX text loaded at 0000h: one line per 16 bytes (the
// last one short when the image does not fill it), then the loader's end
// record; beyond 64 KB the address field wraps, with no base record.
struct ConvertedImage {
  std::string text;     // lines ended by '\n'
  int dataRecords = 0;  // lines the download counts (the end record is not)
};
ConvertedImage ConvertImage(std::span<const std::uint8_t> image);

// Lines a download of this Intel HEX text sends: every line that is not blank,
// the last one counting without a line end too. Lines end at LF, CR LF or a
// lone CR, as the line file of the run reads them.
int CountRecordLines(std::string_view text);

// True when the first non-blank line of text is a record (begins with ':').
bool StartsWithRecord(std::string_view text);

enum class ProgramFileType { IntelHex, RawImage, Other };
// By the extension after the last '.', case ignored: ".hex" and ".bin".
ProgramFileType FileTypeOf(std::string_view path);

// The converted file of a raw image: same folder, the file name up to its
// first '.', then "tmp.hex" ("a.b.bin" -> "atmp.hex").
std::string ConvertedFilePath(std::string_view programFile);

// Prepares session.ProgramFile for download: names the file to send in
// ProjectSettings.HexBinFile and its line count in hexLineCount. A failure
// leaves both unchanged and sets error to the text the user is shown. A file of another
// extension is taken as Intel HEX when it starts with a record (".ihx") and
// refused otherwise.
bool DownloadFile(Session& session, int& hexLineCount, std::string& error);

// The file preparation of a programming run, reading the program file
// once: as DownloadFile, then the Intel HEX text to send checked for a
// flash of flashSize bytes, lineFile left holding that very text for the
// download. Finished with what the file writes (address -> byte), or
// BadFile with the text the user is shown; nothing has been sent either way.
struct PreparedDownload {
  Outcome outcome;
  std::map<std::uint32_t, std::uint8_t> written;
  bool endRecord = true;  // the text to send closes with its own end record
};
PreparedDownload PrepareDownload(Session& session, int& hexLineCount, std::uint32_t flashSize,
                                 HexLineFile& lineFile);

}  // namespace varnel
