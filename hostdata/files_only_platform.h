#pragma once
// A platform for tests of the host data files: the file system and clock are
// the caller's, a fake window records, and the database, registry and
// profile parts throw if anything touches them.
#include <stdexcept>

#include "platform/fakes/fake_window.h"
#include "platform/platform.h"

namespace kw {

class FilesOnlyPlatform {
 public:
  FilesOnlyPlatform(FileSystem& files, Clock& clock)
      : platform{db_, registry_, profiles_, files, clock, window} {}

 private:
  [[noreturn]] static void Untouchable() {
    throw std::logic_error("the host data files need no database, registry or profile");
  }
  struct NoDatabase : DatabaseEngine {
    std::unique_ptr<Database> OpenDatabase(std::string_view, bool, bool) override {
      Untouchable();
    }
    void CommitPending() override { Untouchable(); }
  };
  struct NoRegistry : RegistryStore {
    long RegOpenKeyA(RegKey, const std::optional<std::string>&, RegKey&) override { Untouchable(); }
    long RegQueryValueExA(RegKey, const std::optional<std::string>&, uint32_t*, uint8_t*,
                          uint32_t*) override {
      Untouchable();
    }
    long RegCloseKey(RegKey) override { Untouchable(); }
  };
  struct NoProfiles : ProfileFiles {
    uint32_t GetPrivateProfileStringA(const std::optional<std::string>&,
                                      const std::optional<std::string>&,
                                      const std::optional<std::string>&, char*, uint32_t,
                                      const std::string&) override {
      Untouchable();
    }
    bool WritePrivateProfileStringA(const std::string&, const std::optional<std::string>&,
                                    const std::optional<std::string>&,
                                    const std::string&) override {
      Untouchable();
    }
  };

  NoDatabase db_;
  NoRegistry registry_;
  NoProfiles profiles_;

 public:
  FakeWindow window;
  Platform platform;  // declared last: it refers to the members above
};

}  // namespace kw
