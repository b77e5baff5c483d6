// Ctrl+C and SIGTERM as bytes on a pipe (each byte the signal's number), so
// a run stops from its own loop, never from inside a signal handler.
#pragma once

namespace varnel::cli {

// The pipe's read end, non-blocking; the handlers are installed at the
// first call. -1 when no pipe could be made (the signals then keep their
// default action).
int StopSignalPipe();

}  // namespace varnel::cli
