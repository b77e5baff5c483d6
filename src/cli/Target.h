// A connected target as the commands use it: the link, the settings, the
// window's upload and programming sequences over one session, and the
// connect handshake run to its end.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cli/CliSettings.h"
#include "cli/Link.h"
#include "cli/Options.h"
#include "cli/Screen.h"
#include "memory/UploadSequence.h"
#include "programming/ProgrammingSequence.h"

namespace varnel::cli {

class Target {
 public:
  // Reads the settings; throws CliFailure for a bad project, rate or port
  // name, before anything is opened.
  Target(const Options& options, Screen& screen);

  // Opens the trace file and the port; throws CliFailure.
  void Open();
  // The connect handshake; throws CliFailure when the loader does not
  // answer as it should.
  void Connect();

  // Throws the link's failure, if any.
  void Check() const;
  // Runs the event loop until done() holds; throws the failure that ends
  // the run first.
  void Run(const std::function<bool()>& done);

  Link& link() { return link_; }
  Session& session() { return link_.session(); }
  Screen& screen() { return screen_; }
  CliSettings& settings() { return settings_; }
  UploadSequence& uploads() { return uploads_; }
  ProgrammingSequence& programming() { return programming_; }

  std::string Device() const { return device_; }
  int Baud() const;
  // Flash of the connected chip, from the identification.
  std::uint32_t FlashBytes() const;

 private:
  const Options& options_;
  Screen& screen_;
  Link link_;
  CliSettings settings_;
  UploadSequence uploads_;
  ProgrammingSequence programming_;
  std::string device_;
};

}  // namespace varnel::cli
