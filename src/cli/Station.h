// Several boards at once, and one board after the other: varnel-cli's
// station over the library's. This thread shows every board's progress,
// prints a result line per board and turns Ctrl+C into a stop.
#pragma once

#include "cli/Options.h"

namespace varnel::cli {

// Runs the command on every port of options.ports (and, with --loop, on
// board after board); the exit status: the first failed port's, or with
// --loop 1 when any board failed and 130 after Ctrl+C. Throws CliFailure
// for what is refused before any port opens.
int RunStation(const Options& options);

}  // namespace varnel::cli
