#pragma once
// A platform for the table-definition tests and fuzz target: in-memory files,
// clock and window; the seams this code never uses fail loudly if touched.
#include "platform/fakes/fake_clock.h"
#include "platform/fakes/fake_filesystem.h"
#include "platform/fakes/fake_window.h"
#include "platform/platform.h"
#include "platform/run_error.h"

namespace kw::tbdef_test {

class NoDatabase : public DatabaseEngine {
 public:
  std::unique_ptr<Database> OpenDatabase(std::string_view, bool, bool) override {
    throw RunError("database engine not expected here");
  }
  void CommitPending() override { throw RunError("database engine not expected here"); }
};

class NoRegistry : public RegistryStore {
 public:
  long RegOpenKeyA(HKEY, const std::optional<std::string>&, HKEY&) override { return Fail(); }
  long RegQueryValueExA(HKEY, const std::optional<std::string>&, uint32_t*, uint8_t*,
                        uint32_t*) override {
    return Fail();
  }
  long RegCloseKey(HKEY) override { return Fail(); }

 private:
  static long Fail() { throw RunError("registry not expected here"); }
};

class NoProfiles : public ProfileFiles {
 public:
  uint32_t GetPrivateProfileStringA(const std::optional<std::string>&,
                                    const std::optional<std::string>&,
                                    const std::optional<std::string>&, char*, uint32_t,
                                    const std::string&) override {
    throw RunError("profile files not expected here");
  }
  bool WritePrivateProfileStringA(const std::string&, const std::optional<std::string>&,
                                  const std::optional<std::string>&, const std::string&) override {
    throw RunError("profile files not expected here");
  }
};

struct TestPlatform {
  FakeClock clock;
  FakeFileSystem fs{clock};
  FakeWindow window;
  NoDatabase db;
  NoRegistry registry;
  NoProfiles profiles;
  Platform p{db, registry, profiles, fs, clock, window};
};

}  // namespace kw::tbdef_test
