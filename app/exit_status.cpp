#include "app/exit_status.h"

namespace kw {

int ExitStatus(RunOutcome outcome, bool endedByUser) {
  // Ended by the user: the status a shell expects, however the run got to its end.
  if (endedByUser) return 130;
  switch (outcome) {
    case RunOutcome::Completed:
    case RunOutcome::Declined:
    case RunOutcome::Cancelled:
      // Answering No or closing the window are ordinary ways to end.
      return 0;
    case RunOutcome::Incomplete:
      return 3;
    case RunOutcome::Failed:
      return 1;
  }
  return 1;
}

}  // namespace kw
