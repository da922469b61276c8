// kwandor_upd: replaces the Swiss area code "01" by "044" in the host
// product's postal-code master and in every qualifying client's addresses.
// No arguments; WINEPREFIX names the Windows installation to work on.
// The desktop window is used when a display can be reached, the terminal
// otherwise.
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "app/run.h"
#include "platform/console/console_window.h"
#include "platform/posix/host_platform.h"
#include "platform/posix/interrupt.h"
#include "platform/steady_clock.h"
#include "platform/wine/wine_paths.h"
#ifdef KW_HAVE_QT
#include "platform/qt/qt_window.h"
#endif

int main(int argc, [[maybe_unused]] char** argv) {
  if (argc > 1) {
    std::fprintf(stderr, "kwandor_upd takes no arguments; WINEPREFIX names the installation.\n");
    return 2;
  }
  // Before the window exists: its event loop watches for the interrupt.
  kw::InstallInterruptHandler();

  kw::SteadyClock consoleClock;  // before the window that reads it
  std::unique_ptr<kw::WindowSystem> window;
#ifdef KW_HAVE_QT
  window = kw::MakeQtWindow(argc, argv);
#endif
  if (!window) {
    window = std::make_unique<kw::ConsoleWindow>(consoleClock, stdin, stdout, isatty(0) == 1, isatty(1) == 1);
  }

  kw::HostPlatform host(kw::WinePaths::FromEnvironment(), *window);
  auto state = std::make_unique<kw::RunState>();
  const kw::RunOutcome outcome = kw::Form_Load(host.Get(), *state);
  // Ctrl-C, however the run got to its end (even one that came after the
  // window's last round of events).
  if (kw::Interrupted()) return kw::ExitStatus(kw::RunOutcome::Cancelled);
  return kw::ExitStatus(outcome);
}
