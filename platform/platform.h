#pragma once
// The platform seam as one bundle, handed to the logic by reference.
#include "platform/clock.h"
#include "platform/database.h"
#include "platform/filesystem.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/window.h"

namespace kw {

struct Platform {
  DatabaseEngine& db;
  RegistryStore& registry;
  ProfileFiles& profiles;
  FileSystem& files;
  Clock& clock;
  WindowSystem& window;
};

}  // namespace kw
