#pragma once
// Runs the numbered steps of the run as units of retry, under the error
// handler in force:
// - the general handler shows the error's description and runs the failed
//   step again; the third message in a row that tells the same failure
//   (descriptions equal but for their numbers) ends the run after it, and so
//   does the message for a file in use elsewhere, which tells the user to
//   run the conversion again once the product is closed everywhere;
// - the client handler abandons the current client without a message.
// Before either, whatever the engine holds back is committed; should that
// commit fail, its error goes the same way (its message first).
//
// It also keeps what the run must own up to at its end (app/shortfall.h):
// the clients abandoned, the databases that lost rows after Update had
// reported them saved.
#include <exception>
#include <string>
#include <string_view>

#include "app/shortfall.h"
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
struct AbandonClient {
  std::string reason;  // the description of the error that abandoned it
};

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
  // The database whose changed rows the engine holds from now on: a loss of
  // saved rows reported later is this database's (the one opened before it
  // is committed when it is opened).
  void DatabaseInHand(std::string_view file) { databaseInHand_ = file; }
  // The client pass abandoned this client (named as its messages name it).
  void NoteAbandoned(std::string_view name, std::string_view reason) {
    undone_.Abandoned(name, reason);
  }
  const Shortfall& Undone() const { return undone_; }

 private:
  void Handle(const std::exception& e);
  Platform& p_;
  std::string lastFailure_;  // the last failure told, numbers blanked out
  int sameFailures_ = 0;     // messages in a row that told it
  std::string databaseInHand_;
  Shortfall undone_;
};

// A description with every run of digits replaced by "#": failures that
// differ only in their numbers (rows, positions) are the same failure.
std::string FailureShape(std::string_view description);

}  // namespace kw
