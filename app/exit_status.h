#pragma once
// The process's exit status after a run, for scripts that start the program.
#include "app/run.h"

namespace kw {

// 130 when the user ended the run (Ctrl-C, or on Windows closing the
// window), however it came to its end; else 0 for a run that did all it
// was asked to (or was declined or closed without loss), 3 for one that
// abandoned a client or lost saved rows, 1 for one that could not work.
int ExitStatus(RunOutcome outcome, bool endedByUser);

}  // namespace kw
