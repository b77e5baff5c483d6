// program and erase: the engine's programming run and its erase steps,
// with the program file checked before anything is sent.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/Board.h"
#include "cli/Commands.h"
#include "core/FileBytes.h"
#include "link/Commands.h"
#include "link/HexText.h"
#include "programming/FlashTiming.h"
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

ProgramImage RunProgram(const Options& options, Target& target, const ProgramImage& checked,
                        const std::function<std::uint64_t()>& takeSerial,
                        std::optional<std::uint64_t>& taken) {
  // Checked again for the flash this chip really has; still nothing sent
  // but the handshake.
  const ProgramImage file = LoadProgramImage(checked.path, target.FlashBytes());
  if (!file.endRecord) {
    target.screen().Break();
    std::fprintf(stderr, "varnel-cli: warning: %s has no end record; \"%s\" is sent after its last line\n",
                 NameOf(file.path).c_str(), cmd::kEndRecord);
  }
  ProgramImage image = file;
  std::optional<std::string> records;
  if (takeSerial) {
    // The records hold a number from the start (0 until the board's own is
    // taken): the same lines go, so the progress counts them.
    records = ImageWithSerial(file, *options.serial, 0);
    image = ImageOf(CheckProgramText(*records, NameOf(file.path), target.FlashBytes()), file.path);
  }

  ProgressPlan plan;
  plan.label = "programming " + NameOf(image.path);
  plan.total = image.data.size();
  const std::vector<std::size_t> after = image.bytesAfterLine;
  // While line k+1 is in flight the bar stands at k; count it as written.
  plan.doneAt = [after](int position) {
    const auto k = static_cast<std::size_t>(std::max(position + 1, 0));
    return after[std::min(k, after.size() - 1)];
  };
  // What the download sent, as the engine counts it.
  const DownloadCount& downloaded = target.engine().Programming().Downloaded();
  plan.detail = [&downloaded] {
    std::string text = ", " + std::to_string(downloaded.sent) + " sent";
    if (downloaded.skipped > 0) {
      text += " (" + std::to_string(downloaded.skipped) + " erased bytes skipped)";
    }
    return text;
  };
  target.screen().SetPlan(std::move(plan));

  ProgramOptions steps;
  if (options.noMassErase) steps.massErase = false;
  if (options.noEraseCfg) steps.erasePS1 = false;
  if (options.noFlash) steps.progFlash = false;
  if (options.noHcr) steps.progPS1 = false;
  steps.hcr0 = options.hcr0;
  steps.hcr1 = options.hcr1;
  // The command line reads the flash back itself when --verify asks, with
  // its own progress line and report; the run does not verify on its own.
  steps.verify = false;
  // The flash a run erased holds every FFh record already.
  steps.skipErased = !options.sendAll;
  if (records) {
    steps.records = records;
    steps.beforeRecords = [&](std::string& text) -> Outcome {
      try {
        const std::uint64_t number = takeSerial();
        taken = number;  // the board has it now, however its run ends
        text = ImageWithSerial(file, *options.serial, number);
        const std::string bytes = *SerialBytes(*options.serial, number);
        for (std::uint32_t i = 0; i < bytes.size(); ++i) {
          image.data[options.serial->address + i] = static_cast<std::uint8_t>(bytes[i]);
        }
      } catch (const CliFailure& f) {
        return f.outcome();
      } catch (const std::exception& e) {
        return {OutcomeKind::NotStored, e.what()};
      }
      return {};
    };
  } else if (image.raw) {
    // Converted here, in memory: nothing is written beside the image.
    std::vector<std::uint8_t> bytes;
    bytes.reserve(image.data.size());
    for (const auto& [address, byte] : image.data) bytes.push_back(byte);
    steps.records = ConvertImage(bytes).text;
  }
  // The plan reads this target's engine: however the run ends, the screen
  // (which may serve the next board) forgets it.
  struct Forget {
    Screen& screen;
    ~Forget() { screen.ForgetPlan(); }
  } forget{target.screen()};
  target.Run([&](Engine& engine) { return engine.Program(steps); });
  if (options.verify) RunVerify(target, image);
  return image;
}

}  // namespace varnel::cli
