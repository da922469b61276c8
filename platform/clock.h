#pragma once

namespace kw {

class Clock {
 public:
  virtual ~Clock() = default;
  // Monotonic seconds from an arbitrary start; unaffected by the wall clock.
  virtual double Seconds() = 0;
  // Waits a little, so that a retry loop does not spin a core.
  virtual void Pause(int milliseconds) = 0;
};

}  // namespace kw
