// kwandor_upd.exe: replaces the Swiss area code "01" by "044" in the host
// product's postal-code master and in every qualifying client's addresses.
// No arguments. A GUI program: it shows its window and message boxes and
// opens no console.
#include <windows.h>

#include <cstdio>
#include <memory>

#include "app/run.h"
#include "platform/form_layout.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_window.h"

int main(int argc, char**) {
  if (argc > 1) {
    MessageBoxA(nullptr, "kwandor_upd takes no arguments.", kw::form::kBoxTitle, MB_OK | MB_ICONHAND);
    return 2;
  }
  kw::Win32Clock clock;
  kw::Win32Window window(clock);
  if (!window.Created()) {
    // No desktop to show it on (a service, or Wine without a display).
    std::fputs("kwandor_upd: the window cannot be shown: no desktop.\n", stderr);
    return 1;
  }
  kw::Win32Platform host(window, clock);
  auto state = std::make_unique<kw::RunState>();
  const kw::RunOutcome outcome = kw::Form_Load(host.Get(), *state);
  return kw::ExitStatus(outcome);
}
