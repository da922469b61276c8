#pragma once
#include "app/run_state.h"
#include "platform/platform.h"

namespace kw {

enum class RunOutcome {
  Completed,   // the whole run went through and converted all it was asked to
  Incomplete,  // the run ended, but abandoned a client or lost rows that Update had
               // reported saved; its closing message said which
  Declined,    // the start question was not answered Yes
  Cancelled,   // the user ended the program (closed the window, Ctrl-C)
  Failed,      // a step kept failing, a file is in use elsewhere, or no data
               // directory is configured
};

// The window's load event: the whole conversion, from finding the data
// directory to the end of the program.
RunOutcome Form_Load(Platform& p, RunState& s);

// The process's exit status for a run that ended so: 0 complete (or
// declined), 3 incomplete, 1 failed, 130 ended by the user.
int ExitStatus(RunOutcome outcome);

// The start question, pieces joined with CR LF.
extern const char* const kStartQuestion;

}  // namespace kw
