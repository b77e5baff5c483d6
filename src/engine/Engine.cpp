// The verbs over one session, and the verify read-back.
#include "engine/Engine.h"

#include "link/CommTypes.h"
#include "programming/ProgramCheck.h"
#include "programming/Verify.h"

namespace varnel {
namespace {

constexpr char kVerifyName[] = "Verify";

}  // namespace

Engine::Engine(Session& session, SettingsSource& settings)
    : s_(session), settings_(settings), uploads_(session, settings),
      programming_(session, settings) {
  programming_.SetReader(&uploads_);  // the verify after programming reads through the uploads
}

bool Engine::Guarded(const std::function<bool()>& verb) {
  try {
    return verb();
  } catch (const ECommError& e) {
    s_.Report({OutcomeKind::PortFailed, e.what()});
    return true;
  }
}

bool Engine::Upload(MemoryKind kind) {
  return Guarded([&] { return uploads_.Upload(kind); });
}

bool Engine::UploadRange(MemoryKind kind, std::uint32_t first, std::uint32_t last) {
  return Guarded([&] { return uploads_.UploadRange(kind, first, last); });
}

bool Engine::UploadAll() {
  return Guarded([&] { return uploads_.UploadAll(); });
}

bool Engine::Program(const ProgramOptions& options) {
  return Guarded([&] { return programming_.Program(options); });
}

bool Engine::Erase(EraseScope scope) {
  return Guarded([&] { return programming_.Erase(scope); });
}

bool Engine::Busy() const {
  return !s_.LastCommand.empty() || s_.UploadAllActive || s_.ProgrammingActive || verifyActive_;
}

bool Engine::VerifyFile(const std::string& path) {
  if (!s_.TargetConnected || Busy()) return false;
  const std::int32_t flash = FlashSizeFor(s_.TargetIdCode);
  ProgramCheck check = CheckProgramFile(
      path, static_cast<std::uint32_t>(flash > 0 ? flash : MemoryImages::kCodeSize));
  if (!check.ok) {
    s_.BeginRun();
    s_.Report({OutcomeKind::BadFile, check.error});
    return true;
  }
  return Verify(check.data);
}

bool Engine::Verify(const std::map<std::uint32_t, std::uint8_t>& written) {
  return Guarded([&] { return StartVerify(written); });
}

bool Engine::StartVerify(const std::map<std::uint32_t, std::uint8_t>& written) {
  if (!s_.TargetConnected || Busy()) return false;
  settings_.LoadProperties();
  s_.BeginRun();
  if (!s_.PortOpen) {
    s_.Report({OutcomeKind::PortFailed, ClosedPortText(settings_)});
    return true;
  }
  verifying_ = written;
  differences_ = std::make_unique<DifferenceCheck>(verifying_);
  verifyRanges_ = differences_->First();
  verifyActive_ = true;
  verifyAgain_ = false;
  VerifyNext(0);
  return true;
}

void Engine::VerifyNext(std::size_t range) {
  if (range >= verifyRanges_.size()) {
    // A block that differs is read again before the difference counts.
    verifyRanges_ = differences_->Compare(s_.Images.CodeImage);
    if (!verifyRanges_.empty()) {
      verifyAgain_ = true;
      VerifyNext(0);
      return;
    }
    verifyActive_ = false;
    s_.Report(VerifyOutcome(differences_->Report(s_.Images.CodeImage)));
    return;
  }
  const auto [first, last] = verifyRanges_[range];
  if (onVerifyRange) onVerifyRange(first, last, verifyAgain_);
  uploads_.ReadBack(MemoryKind::Code, static_cast<std::int32_t>(first),
                    static_cast<std::int32_t>(last), kVerifyName,
                    [this, range](const Outcome& read) {
                      if (!read.Done()) {
                        // Never a success: the flash was not compared.
                        verifyActive_ = false;
                        s_.Report(read);
                        return;
                      }
                      VerifyNext(range + 1);
                    });
}

}  // namespace varnel
