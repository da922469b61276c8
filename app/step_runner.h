#pragma once
// Runs the numbered steps of the run as units of retry, under the error
// handler in force:
// - the general handler shows the error's description and runs the failed
//   step again; a step that fails three times in a row with the same
//   description ends the run after the third message;
// - the client handler abandons the current client without a message.
#include <string>
#include <type_traits>
#include <utility>

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
    int failures = 0;
    std::string last;
    for (;;) {
      try {
        return step();
      } catch (const RunError& e) {
        Handle(e.what(), failures, last);
      } catch (const std::exception& e) {
        // Anything else the platform throws is handled alike.
        Handle(e.what(), failures, last);
      }
    }
  }

  // Processes pending window events; ends the run when the user asked to.
  void Events();

 private:
  void Handle(const std::string& description, int& failures, std::string& last);
  Platform& p_;
};

}  // namespace kw
