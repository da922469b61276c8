// kwandor_upd: replaces the Swiss area code "01" by "044" in the host
// product's postal-code master and in every qualifying client's addresses.
// No arguments; WINEPREFIX names the Windows installation to work on.
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "app/run.h"
#include "platform/console/console_window.h"
#include "platform/ini/ini_profile.h"
#include "platform/posix/posix_filesystem.h"
#include "platform/sqlite/sqlite_engine.h"
#include "platform/steady_clock.h"
#include "platform/wine/wine_paths.h"
#include "platform/wine/wine_registry.h"
#ifdef KW_HAVE_QT
#include "platform/qt/qt_window.h"
#endif

int main(int argc, char** argv) {
  if (argc > 1) {
    std::fprintf(stderr, "kwandor_upd takes no arguments; WINEPREFIX names the installation.\n");
    return 2;
  }
  const kw::WinePaths paths = kw::WinePaths::FromEnvironment();
  kw::SqliteEngine db(paths);
  kw::WineRegistry registry(paths);
  kw::IniProfileFiles profiles(paths);
  kw::PosixFileSystem files(paths);
  kw::SteadyClock clock;

  std::unique_ptr<kw::WindowSystem> window;
  bool console = false;
#ifdef KW_HAVE_QT
  window = kw::MakeQtWindow(argc, argv);
#endif
  if (!window) {
    window = std::make_unique<kw::ConsoleWindow>(stdin, stdout, isatty(0) == 1, isatty(1) == 1);
    kw::ConsoleWindow::InstallInterruptHandler();
    console = true;
  }

  kw::Platform platform{db, registry, profiles, files, clock, *window};
  auto state = std::make_unique<kw::RunState>();
  switch (kw::Form_Load(platform, *state)) {
    case kw::RunOutcome::Completed:
    case kw::RunOutcome::Declined:
      return 0;
    case kw::RunOutcome::Cancelled:
      return console ? 130 : 0;
    case kw::RunOutcome::Failed:
      return 1;
  }
  return 1;
}
