#pragma once
// The real platform over a Wine-style prefix, around the window the caller chose.
#include "platform/ini/ini_profile.h"
#include "platform/platform.h"
#include "platform/posix/posix_filesystem.h"
#include "platform/sqlite/sqlite_engine.h"
#include "platform/steady_clock.h"
#include "platform/wine/wine_paths.h"
#include "platform/wine/wine_registry.h"

namespace kw {

class HostPlatform {
 public:
  // The registry files are read here, once. `window` is not owned.
  HostPlatform(const WinePaths& paths, WindowSystem& window)
      : db_(paths, EngineOptions()), registry_(paths), profiles_(paths), files_(paths),
        platform_{db_, registry_, profiles_, files_, clock_, window} {}
  HostPlatform(const HostPlatform&) = delete;
  HostPlatform& operator=(const HostPlatform&) = delete;

  Platform& Get() { return platform_; }

 private:
  // The run reads the country, the area code, the postal code and the town
  // of every row it changes in the general database first; the engine keeps
  // them as it selects the rows.
  static SqliteEngineOptions EngineOptions() {
    SqliteEngineOptions options;
    options.readColumns = {"LAND", "TELVOR", "PLZ", "ORT"};
    return options;
  }

  SqliteEngine db_;
  WineRegistry registry_;
  IniProfileFiles profiles_;
  PosixFileSystem files_;
  SteadyClock clock_;
  Platform platform_;
};

}  // namespace kw
