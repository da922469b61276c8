#include "tests/support/child_process.h"

#include <chrono>

namespace kw::testing {

ChildResult RunChild(const ChildOptions& options, double timeoutSeconds) {
  ChildProcess child(options);
  ChildResult result;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  while (child.ReadOutput(result.out, 0.1)) {
    if (std::chrono::steady_clock::now() > end) {
      child.Kill();
      break;
    }
  }
  result.status = child.Wait();
  result.err = child.ErrorOutput();
  return result;
}

ChildResult RunCommand(const std::vector<std::string>& argv, double timeoutSeconds) {
  ChildOptions options;
  options.argv = argv;
  return RunChild(options, timeoutSeconds);
}

}  // namespace kw::testing
