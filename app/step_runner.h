#pragma once
// Runs the numbered steps of the run as units of retry, under the error
// handler in force:
// - the general handler shows the error's description and runs the failed
//   step again; the third message in a row that tells the same failure
//   (descriptions equal but for their numbers) ends the run after it;
// - the client handler abandons the current client without a message.
// Before either, whatever the engine holds back is committed; should that
// commit fail, its error goes the same way (its message first).
//
// It also keeps what the run must own up to at its end: a client abandoned,
// rows lost after Update had reported them saved.
#include <exception>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/run_error.h"

namespace kw {

enum class Handler { General, Client };

// Thrown to leave the run for its end-of-run step. Not an error: no handler
// sees it.
struct EndRun {
  enum Reason { Cancelled, Failed } reason;
};
// Thrown by the client handler; the client pass goes on with the next client.
struct AbandonClient {};

class StepRunner {
 public:
  explicit StepRunner(Platform& p) : p_(p) {}

  Handler handler = Handler::General;

  template <class Step>
  auto Run(Step&& step) -> decltype(step()) {
    for (;;) {
      try {
        return step();
      } catch (const std::exception& e) {
        // RunError above all; anything else the platform throws alike.
        Handle(e);
      }
    }
  }

  // Processes pending window events; ends the run when the user asked to.
  void Events();
  // A message box of the run. Once the user has asked to end, none is shown
  // and the run ends; an end asked for while the box is up ends it as well.
  int Box(std::string_view text, int style);
  // Ends the run when the user has asked to: for the points after an
  // operation that may have shown a box of its own.
  void EndIfRequested();

  // Takes note of an error that no handler sees (at the end of the run).
  void Account(const std::exception& e);

  bool ClientAbandoned() const { return clientAbandoned_; }
  bool RowsLost() const { return rowsLost_; }

 private:
  void Handle(const std::exception& e);
  Platform& p_;
  std::string lastFailure_;  // the last failure told, numbers blanked out
  int sameFailures_ = 0;     // messages in a row that told it
  bool clientAbandoned_ = false;
  bool rowsLost_ = false;
};

// A description with every run of digits replaced by "#": failures that
// differ only in their numbers (rows, positions) are the same failure.
std::string FailureShape(std::string_view description);

}  // namespace kw
