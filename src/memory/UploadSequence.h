// The five uploads (CODE, external RAM, internal RAM, SFR, configuration
// page) and the Upload All run: chains of reply handlers over the session,
// one read command out, one reply in, until the range is done.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/MemoryReader.h"
#include "core/ReadAgain.h"
#include "core/Session.h"

namespace varnel {

class UploadSequence : public MemoryReader {
 public:
  // Registers the "CR", "X", "I", "F" and "R" reply handlers with the
  // session; every start re-reads the settings through settings.
  UploadSequence(Session& session, SettingsSource& settings);
  UploadSequence(const UploadSequence&) = delete;
  UploadSequence& operator=(const UploadSequence&) = delete;

  // User commands. Each reloads the settings, needs a connected target and
  // is refused (without any effect) while another sequence is running.
  void SpeedCodeClick();
  void SpeedExtClick();
  void SpeedIRAMClick();
  void SpeedSFRClick();
  void SpeedCFGClick();
  void SpeedAllClick();

  // Stores the hex digit pairs of a block reply (echo already cut) into the
  // image named by the pending command, from start on.
  void Decode16bData(std::string_view data, std::int32_t start);

  // MemoryReader: the same block or register reads, for another run.
  void ReadBack(MemoryKind kind, std::int32_t first, std::int32_t last, const std::string& name,
                Done done) override;

  // True while a sequence waits for a reply or an Upload All run is on.
  bool Busy() const;

  // Last address of the CODE upload for an identification code (flash size
  // of the chip's Y digit), or -1 when the code names no flash size.
  static std::int32_t FlashEndFor(int targetIdCode);

 private:
  void StartSingle(MemoryKind kind);
  void Start(MemoryKind kind);
  // Reads first..EndAddress, the progress display showing name.
  void StartRange(MemoryKind kind, std::int32_t first, const std::string& name);
  void EndReadBack(bool complete, const std::string& reason);
  void HandleBlock(const std::string& reply);
  void HandleRegister(const std::string& reply);
  void UpdateProgress();
  void Finish(MemoryKind kind);
  void StartNextOfRun(MemoryKind finished);
  // The reply's data digits, strictly read; empty when the reply was
  // damaged, and then the command was asked again or the run ended.
  std::string TakeReply(MemoryKind kind, const std::string& reply);
  void EndWithError(MemoryKind kind, const std::string& text);
  bool PortReady();

  Session& s_;
  SettingsSource& settings_;
  Done readBackDone_;  // set while a read-back for another run is on
  ReadAgain readAgain_{s_};
};

}  // namespace varnel
