// Command line of varnel-target-sim.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "target-sim/TargetSim.h"

namespace varnel::sim {

struct Preload {
  Memory memory;
  std::string file;
  std::size_t address = 0;
};

struct CliOptions {
  TargetSimConfig config;
  std::vector<Preload> preloads;
  std::string dumpFile;  // empty: no dump
  std::string link;      // empty: no symlink
  bool linkDefaulted = true;  // no --link or --no-link given
  std::string replay;    // a trace whose target side is played instead of the loader
  std::string loaderOption;  // the last option given that only the loader takes
  bool verbose = false;
  bool help = false;
};

// The help text.
std::string UsageText();

// The symlink kept when no --link is given: $XDG_RUNTIME_DIR/varnel-target,
// or /tmp/varnel-target-<uid> without a runtime folder.
std::string DefaultLinkPath();

// Throws std::invalid_argument with a message for the user.
CliOptions ParseOptions(int argc, char** argv);

}  // namespace varnel::sim
