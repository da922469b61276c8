#pragma once
// A clock for tests: time moves only when told to, or when paused.
#include "platform/clock.h"

namespace kw {

class FakeClock : public Clock {
 public:
  double Seconds() override { return now; }
  void Pause(int milliseconds) override {
    now += milliseconds / 1000.0;
    ++pauses;
  }
  double now = 1000.0;
  int pauses = 0;
};

}  // namespace kw
