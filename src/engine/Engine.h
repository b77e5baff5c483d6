// The engine a program calls: the verbs over one session (upload one
// memory or a range of it, Upload All, program with options, verify, erase),
// each run ending with one outcome through the session. The connect verbs
// are the handshake's own (connect/ConnectHandshake.h), because its timer
// belongs to whoever shows it. Nothing here is static: a program runs one
// engine per session, side by side.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/Session.h"
#include "memory/UploadSequence.h"
#include "programming/ProgrammingSequence.h"
#include "programming/VerifyAgain.h"

namespace varnel {

class Engine {
 public:
  // Registers the sequences' reply handlers with the session, which must
  // outlive the engine; every run re-reads the settings through settings.
  Engine(Session& session, SettingsSource& settings);
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  Session& session() { return s_; }
  UploadSequence& Uploads() { return uploads_; }
  ProgrammingSequence& Programming() { return programming_; }

  // The verbs. False: refused without any effect (no target connected, or
  // another run holds the link); true: the run is on, or has already
  // ended, and its outcome comes (or came) through the session.
  // The port's exception (ECommError) stops at this edge: it ends the run
  // with a PortFailed outcome carrying its text.
  bool Upload(MemoryKind kind);
  bool UploadRange(MemoryKind kind, std::uint32_t first, std::uint32_t last);
  bool UploadAll();
  bool Program(const ProgramOptions& options = {});
  bool Erase(EraseScope scope);
  // Reads back every block the bytes lie in and compares (address -> byte,
  // CODE addresses): Finished or VerifyDifferences, with the counts.
  bool Verify(const std::map<std::uint32_t, std::uint8_t>& written);
  // The same for an Intel HEX file, checked for the chip's flash first
  // (BadFile when it cannot be used).
  bool VerifyFile(const std::string& path);

  // Every difference the last verify found, as its last read showed it.
  std::vector<VerifyDifference> VerifyDifferences(const MemoryImage& code) const {
    return differences_ ? differences_->All(code) : std::vector<VerifyDifference>{};
  }

  // True while a run waits for a reply or goes on between replies.
  bool Busy() const;

  // Called as a verify starts reading a range back: again for the blocks
  // that differed, read once more before a difference counts.
  std::function<void(std::uint32_t first, std::uint32_t last, bool again)> onVerifyRange;

 private:
  bool Guarded(const std::function<bool()>& verb);
  bool StartVerify(const std::map<std::uint32_t, std::uint8_t>& written);
  void VerifyNext(std::size_t range);

  Session& s_;
  SettingsSource& settings_;
  UploadSequence uploads_;
  ProgrammingSequence programming_;
  std::map<std::uint32_t, std::uint8_t> verifying_;
  std::unique_ptr<DifferenceCheck> differences_;  // over verifying_
  std::vector<std::pair<std::uint32_t, std::uint32_t>> verifyRanges_;
  bool verifyActive_ = false;
  bool verifyAgain_ = false;
};

}  // namespace varnel
