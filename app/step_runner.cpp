#include "app/step_runner.h"

#include <cctype>

namespace kw {
namespace {

constexpr int kMaxSameFailures = 3;

int NumberOf(const std::exception& e) {
  const auto* run = dynamic_cast<const RunError*>(&e);
  return run != nullptr ? run->Number() : kErrGeneral;
}

}  // namespace

std::string FailureShape(std::string_view description) {
  std::string shape;
  shape.reserve(description.size());
  for (size_t i = 0; i < description.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(description[i]))) {
      shape += description[i];
      continue;
    }
    shape += '#';
    while (i + 1 < description.size() && std::isdigit(static_cast<unsigned char>(description[i + 1])))
      ++i;
  }
  return shape;
}

void StepRunner::Events() {
  if (!p_.window.ProcessEvents()) throw EndRun{EndRun::Cancelled};
}

void StepRunner::EndIfRequested() {
  if (p_.window.EndRequested()) throw EndRun{EndRun::Cancelled};
}

int StepRunner::Box(std::string_view text, int style) {
  EndIfRequested();
  const int answer = p_.window.ShowMessageBox(text, style);
  EndIfRequested();
  return answer;
}

void StepRunner::Account(const std::exception& e) {
  if (NumberOf(e) == kErrRowsNotSaved) undone_.LostRows(databaseInHand_);
}

void StepRunner::Handle(const std::exception& e) {
  Account(e);
  // Nothing saved may wait in an open transaction while the error is dealt
  // with (a message box can stay up for minutes).
  std::string commitError;
  try {
    p_.db.CommitPending();
  } catch (const std::exception& c) {
    Account(c);
    commitError = c.what();
  }
  if (handler == Handler::Client) throw AbandonClient{e.what()};
  const std::string failure = FailureShape(commitError) + '\n' + FailureShape(e.what());
  sameFailures_ = failure == lastFailure_ ? sameFailures_ + 1 : 1;
  lastFailure_ = failure;
  p_.window.SetMousePointer(kPointerDefault);
  Events();
  if (!commitError.empty()) Box(commitError, kMbIconCritical);
  Box(e.what(), kMbIconCritical);
  if (sameFailures_ >= kMaxSameFailures || EndsTheRun(NumberOf(e))) throw EndRun{EndRun::Failed};
}

}  // namespace kw
