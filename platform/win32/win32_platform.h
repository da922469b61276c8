#pragma once
// The real platform of the Windows build, around the window the caller
// made: the Win32 API behind every seam. Database files are Jet 4 files,
// opened by the Jet engine over the page store with Win32 files; an SQLite file is
// refused by name (this build has no SQLite engine).
#include <string>

#include "platform/jet/engine_choice.h"
#include "platform/jet/jet_engine.h"
#include "platform/platform.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_filesystem.h"
#include "platform/jet/file_page_store.h"
#include "platform/win32/win32_profile.h"
#include "platform/win32/win32_registry.h"

namespace kw {

class Win32Platform {
 public:
  // `window` and `clock` are not owned; the window paces itself by the same clock.
  Win32Platform(WindowSystem& window, Clock& clock)
      : jet_(
            [](std::string_view name) {
              // On Windows a database's path is its own host path.
              return jet::FilePageStore::Open(std::string(name), std::string(name));
            },
            clock),
        db_(&ReadFirstBytes, nullptr, jet_),
        platform_{db_, registry_, profiles_, files_, clock, window} {}
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

  Platform& Get() { return platform_; }

 private:
  jet::JetEngine jet_;
  jet::EngineChoice db_;
  Win32Registry registry_;
  Win32ProfileFiles profiles_;
  Win32FileSystem files_;
  Platform platform_;
};

}  // namespace kw
