// Images: loaded and checked once, patched in memory, written out as the
// records a programming run downloads.
#include "varnel/image.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <cstring>

#include "core/FileBytes.h"
#include "programming/IntelHex.h"
#include "programming/ProgramCheck.h"
#include "programming/ProgramFile.h"
#include "varnel/errors.h"

namespace varnel {
namespace {

constexpr char kNothingSent[] = " Nothing was sent.";
constexpr char kEndRecordLine[] = ":00000001FF\r\n";

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Sha256(std::string_view bytes) {
  return QCryptographicHash::hash(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
                                  QCryptographicHash::Sha256)
      .toHex()
      .toStdString();
}

std::string FaultText(const std::string& name, const FileRead& file, std::uint32_t limit) {
  switch (file.fault) {
    case ReadFault::None: return {};
    case ReadFault::NotAFile: return name + ": not a file.";
    case ReadFault::TooLarge:
      return name + ": " + std::to_string(file.size) + " bytes do not fit the " +
             std::to_string(limit / 1024) + " KB flash.";
    default: return name + ": cannot be read (" + std::strerror(file.code) + ").";
  }
}

}  // namespace

Image Image::load(const std::string& path) {
  const std::string name = NameOf(path);
  const bool raw = FileTypeOf(path) == ProgramFileType::RawImage;
  const FileRead file = ReadWholeFile(path, raw ? kFlashBytes : kMaxProgramFileSize);
  if (file.fault != ReadFault::None) {
    if (!raw && file.fault == ReadFault::TooLarge) {
      throw BadFile(RefuseTooLarge(name, file.size).error);
    }
    throw BadFile(FaultText(name, file, kFlashBytes) + kNothingSent);
  }
  Image image;
  if (raw) {
    if (file.bytes.empty()) throw BadFile(name + ": holds no bytes." + kNothingSent);
    image = from_bytes({reinterpret_cast<const std::uint8_t*>(file.bytes.data()), file.bytes.size()});
  } else {
    if (FileTypeOf(path) != ProgramFileType::IntelHex && !StartsWithRecord(file.bytes)) {
      throw BadFile(name + ": neither Intel HEX (its first line is no record) nor a raw image "
                    "(.bin)." + kNothingSent);
    }
    ProgramCheck check = CheckProgramText(file.bytes, name, kFlashBytes);
    if (!check.ok) throw BadFile(check.error);
    if (check.data.empty()) throw BadFile(name + ": writes no bytes." + kNothingSent);
    image.bytes_ = std::move(check.data);
    for (const CheckedRecord& record : check.records) image.fileRecords_ += record.text + "\r\n";
    if (check.records.empty() || std::string_view(check.records.back().text).substr(7, 2) != "01") {
      image.fileRecords_ += kEndRecordLine;
    }
  }
  image.name_ = name;
  image.fileSha256_ = Sha256(file.bytes);
  return image;
}

Image Image::from_bytes(std::span<const std::uint8_t> bytes, std::uint32_t base) {
  Image image;
  image.put(base, bytes);
  return image;
}

void Image::put(std::uint32_t address, std::span<const std::uint8_t> bytes) {
  if (address >= kFlashBytes || bytes.size() > kFlashBytes - address) {
    throw BadFile(std::to_string(bytes.size()) + " bytes at " + std::to_string(address) +
                  " reach beyond the " + std::to_string(kFlashBytes / 1024) + " KB flash");
  }
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes_[address + static_cast<std::uint32_t>(i)] = bytes[i];
  }
  if (!bytes.empty()) {
    fileSha256_.clear();
    fileRecords_.clear();
  }
}

std::vector<std::uint8_t> Image::get(std::uint32_t address, std::size_t count) const {
  std::vector<std::uint8_t> out(count, 0xFF);
  for (auto it = bytes_.lower_bound(address); it != bytes_.end() && it->first - address < count;
       ++it) {
    out[it->first - address] = it->second;
  }
  return out;
}

std::vector<Range> Image::ranges() const {
  std::vector<Range> runs;
  for (const auto& [address, byte] : bytes_) {
    if (!runs.empty() && runs.back().last + 1 == address) {
      runs.back().last = address;
    } else {
      runs.push_back({address, address});
    }
  }
  return runs;
}

std::string Image::intel_hex() const {
  std::string text;
  for (const Range& run : ranges()) {
    std::string records = WriteIntelHex(get(run.first, run.last - run.first + 1), run.first);
    records.resize(records.size() - std::strlen(kEndRecordLine));
    text += records;
  }
  return text + kEndRecordLine;
}

std::string Image::records() const { return fileRecords_.empty() ? intel_hex() : fileRecords_; }

std::string Image::sha256() const {
  return fileSha256_.empty() ? Sha256(intel_hex()) : fileSha256_;
}

}  // namespace varnel
