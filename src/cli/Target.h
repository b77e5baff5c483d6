// A connected target as the commands use it: the link, the settings, the
// engine's verbs over one session, and the connect handshake run to its end.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cli/CliSettings.h"
#include "cli/Link.h"
#include "cli/Options.h"
#include "cli/Screen.h"
#include "engine/Engine.h"

namespace varnel::cli {

class Target {
 public:
  // Reads the settings; throws CliFailure for a bad project, rate or port
  // name, before anything is opened.
  Target(const Options& options, Screen& screen, bool watchSignals = true);

  // Opens the trace file and the port; throws CliFailure.
  void Open();
  // The connect handshake; throws CliFailure when the loader does not
  // answer as it should.
  void Connect();

  // Throws the link's failure, if any.
  void Check() const;
  // Runs a verb and the event loop until its run has ended; throws the
  // outcome of a run that did not finish (or the failure that ended it
  // first), and a refusal when the verb did not start at all.
  void Run(const std::function<bool(Engine&)>& verb);

  Link& link() { return link_; }
  Session& session() { return link_.session(); }
  Screen& screen() { return screen_; }
  CliSettings& settings() { return settings_; }
  Engine& engine() { return engine_; }

  std::string Device() const { return device_; }
  int Baud() const;
  // Flash of the connected chip, from the identification.
  std::uint32_t FlashBytes() const;

 private:
  const Options& options_;
  Screen& screen_;
  Link link_;
  CliSettings settings_;
  Engine engine_;
  std::uint64_t outcomes_ = 0;  // runs ended so far
  std::string device_;
};

}  // namespace varnel::cli
