#pragma once
// The real platform over a Wine-style prefix, around the window the caller
// chose. A database file is opened by the engine its first bytes call for:
// SQLite or Jet 4.
#include "platform/ini/ini_profile.h"
#include "platform/jet/engine_choice.h"
#include "platform/jet/jet_engine.h"
#include "platform/platform.h"
#include "platform/posix/first_bytes.h"
#include "platform/posix/posix_filesystem.h"
#include "platform/sqlite/sqlite_engine.h"
#include "platform/steady_clock.h"
#include "platform/wine/file_store_opener.h"
#include "platform/wine/wine_paths.h"
#include "platform/wine/wine_registry.h"

namespace kw {

class HostPlatform {
 public:
  // The registry files are read here, once. `window` is not owned.
  HostPlatform(const WinePaths& paths, WindowSystem& window)
      : sqlite_(paths, clock_),
        jet_(jet::FileStoreOpener(paths), clock_),
        db_([paths](std::string_view name) { return ReadFirstBytes(paths, name); }, &sqlite_, jet_),
        registry_(paths), profiles_(paths), files_(paths),
        platform_{db_, registry_, profiles_, files_, clock_, window} {}
  HostPlatform(const HostPlatform&) = delete;
  HostPlatform& operator=(const HostPlatform&) = delete;

  Platform& Get() { return platform_; }

 private:
  SteadyClock clock_;  // first: the engines time their write groups by it
  SqliteEngine sqlite_;
  jet::JetEngine jet_;
  jet::EngineChoice db_;
  WineRegistry registry_;
  IniProfileFiles profiles_;
  PosixFileSystem files_;
  Platform platform_;
};

}  // namespace kw
