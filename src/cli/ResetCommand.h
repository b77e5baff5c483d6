// The user's own reset before the wake-up: a shell command that switches a
// relay or a USB hub to power-cycle the board.
#pragma once

#include <string>

#include "cli/Screen.h"

namespace varnel::cli {

// The longest a reset command may take before it is stopped.
inline constexpr int kResetCommandLimitMs = 60000;

// Runs command with /bin/sh, its standard input empty and its output
// collected. On success the output goes to standard error unless quiet;
// otherwise throws CliFailure (port) with its exit status and output, or
// (interrupted) when Ctrl+C ended it.
void RunResetCommand(const std::string& command, Screen& screen, bool quiet);

}  // namespace varnel::cli
