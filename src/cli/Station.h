// Several boards at once, and one board after the other: a thread per
// port, each with its own port, session and engine; this thread shows
// their progress, prints a result line per board and forwards Ctrl+C.
#pragma once

#include "cli/Board.h"

namespace varnel::cli {

// Runs the command on every port of options.ports (and, with --loop, on
// board after board); how it ended: the first failed board's end, or with
// --loop a refusal when any board failed.
OutcomeKind RunStation(const Options& options, const Prepared& prepared);

}  // namespace varnel::cli
