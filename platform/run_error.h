#pragma once
// The one error type of the run: a failing database or step operation throws
// it, carrying the description as the engine words it. The handler in force
// decides what happens next.
#include <stdexcept>
#include <string>

namespace kw {

class RunError : public std::runtime_error {
 public:
  explicit RunError(const std::string& description) : std::runtime_error(description) {}
  std::string Description() const { return what(); }
};

}  // namespace kw
