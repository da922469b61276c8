#pragma once
// The clock of the Windows build: the performance counter, which is
// monotonic and unaffected by changes of the wall clock.
#include <windows.h>

#include "platform/clock.h"

namespace kw {

class Win32Clock : public Clock {
 public:
  Win32Clock() {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);  // never fails on Windows XP and later
    frequency_ = static_cast<double>(f.QuadPart);
  }
  double Seconds() override {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / frequency_;
  }
  void Pause(int milliseconds) override { Sleep(milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 0); }

 private:
  double frequency_ = 1.0;
};

}  // namespace kw
