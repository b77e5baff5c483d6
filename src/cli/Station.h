// Several boards at once, and one board after the other: a thread per
// port, each with its own port, session and engine; this thread shows
// their progress, prints a result line per board and forwards Ctrl+C.
#pragma once

#include "cli/Board.h"

namespace varnel::cli {

// Runs the command on every port of options.ports (and, with --loop, on
// board after board); the exit status.
int RunStation(const Options& options, const Prepared& prepared);

}  // namespace varnel::cli
