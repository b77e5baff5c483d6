// The five uploads (CODE, external RAM, internal RAM, SFR, configuration
// page) and the Upload All run: chains of reply handlers over the session,
// one read command out, one reply in, until the range is done.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/MemoryReader.h"
#include "core/Session.h"

namespace varnel {

class UploadSequence : public MemoryReader {
 public:
  // Registers the "CR", "X", "I", "F" and "R" reply handlers with the
  // session; every start re-reads the settings through settings.
  UploadSequence(Session& session, SettingsSource& settings);
  UploadSequence(const UploadSequence&) = delete;
  UploadSequence& operator=(const UploadSequence&) = delete;

  // Verbs. Each reloads the settings, needs a connected target and is
  // refused without any effect (and false) while another sequence is
  // running; once started (true) the run ends with one outcome through the
  // session.
  // One memory over the range the settings give it.
  bool Upload(MemoryKind kind);
  // Target addresses first..last of one memory (the configuration page is
  // always read whole).
  bool UploadRange(MemoryKind kind, std::uint32_t first, std::uint32_t last);
  // The memories the settings select, one after the other.
  bool UploadAll();

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
  // The silent refusals every verb begins with (false); then the run is on.
  bool MayStart();
  // The port check that follows (false: reported, the run has ended).
  bool PortReadyToStart();
  void Start(MemoryKind kind);
  // Reads first..EndAddress, the progress display showing name.
  void StartRange(MemoryKind kind, std::int32_t first, const std::string& name);
  void EndReadBack(const Outcome& outcome);
  void HandleBlock(const std::string& reply);
  void HandleRegister(const std::string& reply);
  void UpdateProgress();
  void Finish(MemoryKind kind);
  // Starts the next memory of an Upload All run; false when none follows.
  bool StartNextOfRun(MemoryKind finished);
  std::string DataText(const std::string& reply) const;
  // Why a block reply cannot be stored (no digit pair, another address's
  // echo), or an outcome without text when it can.
  Outcome ReplyFault(const std::string& reply, const std::string& data) const;
  void EndWithError(MemoryKind kind, Outcome outcome);
  bool PortReady();

  Session& s_;
  SettingsSource& settings_;
  Done readBackDone_;  // set while a read-back for another run is on
};

}  // namespace varnel
