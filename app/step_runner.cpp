#include "app/step_runner.h"

namespace kw {
namespace {
constexpr int kMaxSameFailures = 3;
}

void StepRunner::Events() {
  if (!p_.window.ProcessEvents()) throw EndRun{EndRun::Cancelled};
}

void StepRunner::Handle(const std::string& description, int& failures, std::string& last) {
  // Nothing saved may wait in an open transaction while the error is dealt
  // with (a message box can stay up for minutes).
  try {
    p_.db.CommitPending();
  } catch (const std::exception&) {
  }
  if (handler == Handler::Client) throw AbandonClient{};
  failures = description == last ? failures + 1 : 1;
  last = description;
  p_.window.SetMousePointer(POINTER_DEFAULT);
  Events();
  p_.window.MessageBox(description, MB_ICONCRITICAL);
  if (failures >= kMaxSameFailures) throw EndRun{EndRun::Failed};
}

}  // namespace kw
