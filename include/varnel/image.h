// What a programming run writes: bytes at flash addresses, loaded from a
// file and checked once, patched in memory (a serial number), then
// programmed and verified as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "varnel/export.h"

namespace varnel {

// The target's memories, as the command line names them: code, xdata,
// iram, sfr, cfg.
enum class Memory { Code, Xdata, Iram, Sfr, Config };

// first..last, both included.
struct Range {
  std::uint32_t first = 0;
  std::uint32_t last = 0;
  bool operator==(const Range&) const = default;
};

class VARNEL_API Image {
 public:
  // The largest flash of the family: an image never reaches beyond it.
  static constexpr std::uint32_t kFlashBytes = 32768;

  Image() = default;

  // An Intel HEX file (.hex, .ihx, or any name whose first line is a
  // record), or a raw image (.bin) loaded at 0000h; every record checked.
  // Throws BadFile naming the file, the line and the fault.
  static Image load(const std::string& path);
  // Raw bytes placed at base. Throws BadFile when they reach beyond the flash.
  static Image from_bytes(std::span<const std::uint8_t> bytes, std::uint32_t base = 0);

  // Sets bytes from address on; throws BadFile (and changes nothing) when
  // they reach beyond the flash.
  void put(std::uint32_t address, std::span<const std::uint8_t> bytes);
  void put(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
    put(address, std::span<const std::uint8_t>(bytes));
  }
  // count bytes from address; FFh (an erased cell) where the image holds none.
  std::vector<std::uint8_t> get(std::uint32_t address, std::size_t count) const;
  // The runs of adjacent addresses the image writes, in address order.
  std::vector<Range> ranges() const;
  // Bytes the image writes.
  std::size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }
  // The image as Intel HEX records (16 bytes a record, CR LF, the end record).
  std::string intel_hex() const;
  // What a download sends: while the image is as loaded from Intel HEX, the
  // file's own records in its order (an end record after them when it has
  // none); otherwise intel_hex().
  std::string records() const;
  // SHA-256 in lower-case hex: of the file as read while the image is as
  // loaded (what sha256sum says of it), otherwise of intel_hex().
  std::string sha256() const;
  // The file name it was loaded from, or "image".
  const std::string& name() const { return name_; }
  // Every address with its byte.
  const std::map<std::uint32_t, std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::map<std::uint32_t, std::uint8_t> bytes_;
  std::string name_ = "image";
  std::string fileSha256_;  // empty once the image differs from its file
  std::string fileRecords_;  // the file's records; empty once the image differs from it
};

}  // namespace varnel
