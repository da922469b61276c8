#pragma once
// Every fake of the platform seam, bundled for tests of the run.
#include "platform/fakes/fake_clock.h"
#include "platform/fakes/fake_database.h"
#include "platform/fakes/fake_filesystem.h"
#include "platform/fakes/fake_profile.h"
#include "platform/fakes/fake_registry.h"
#include "platform/fakes/fake_window.h"
#include "platform/platform.h"

namespace kw {

struct FakePlatform {
  FakeDatabaseEngine db;
  FakeRegistry registry;
  FakeProfileFiles profiles;
  FakeClock clock;
  FakeFileSystem files{clock};
  FakeWindow window;
  Platform p{db, registry, profiles, files, clock, window};
};

}  // namespace kw
