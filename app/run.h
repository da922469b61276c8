#pragma once
#include "app/run_state.h"
#include "platform/platform.h"

namespace kw {

enum class RunOutcome {
  Completed,   // the whole run went through and converted all it was asked to
  Incomplete,  // the run ended, but abandoned a client or lost rows that Update had
               // reported saved
  Declined,    // the start question was not answered Yes
  Cancelled,   // the user ended the program during the run
  Failed,      // a step kept failing, or no data directory is configured
};

// The window's load event: the whole conversion, from finding the data
// directory to the end of the program.
RunOutcome Form_Load(Platform& p, RunState& s);

// The start question, pieces joined with CR LF.
extern const char* const kStartQuestion;

}  // namespace kw
