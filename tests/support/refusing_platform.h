#pragma once
// For tests: a platform whose every part refuses to be called, but for the
// parts the test hands it. A call to a refused part fails the test and
// throws RefusedCall, so that the code under test goes no further (in a
// GoogleTest test, included before this header, it also fails the test,
// however the code under test handles the throw).
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/platform.h"

namespace kw::testing {

struct RefusedCall : std::logic_error {
  using std::logic_error::logic_error;
};

class RefusingPlatform {
 public:
  // With the parts given here, and any handed over by Use before Get.
  template <typename... Parts>
  explicit RefusingPlatform(Parts&... parts) {
    (Use(parts), ...);
  }
  RefusingPlatform& Use(DatabaseEngine& db) { return Set(db_, &db); }
  RefusingPlatform& Use(RegistryStore& registry) { return Set(registry_, &registry); }
  RefusingPlatform& Use(ProfileFiles& profiles) { return Set(profiles_, &profiles); }
  RefusingPlatform& Use(FileSystem& files) { return Set(files_, &files); }
  RefusingPlatform& Use(Clock& clock) { return Set(clock_, &clock); }
  RefusingPlatform& Use(WindowSystem& window) { return Set(window_, &window); }

  // The platform; the parts handed over before this call are used.
  Platform& Get() {
    if (!platform_) {
      platform_.emplace(Platform{*db_, *registry_, *profiles_, *files_, *clock_, *window_});
    }
    return *platform_;
  }

 private:
  [[noreturn]] static void Refuse(const char* what) {
#ifdef ADD_FAILURE
    ADD_FAILURE() << "unexpected call: " << what;
#endif
    throw RefusedCall(std::string("unexpected call: ") + what);
  }
  struct NoDatabase : DatabaseEngine {
    std::unique_ptr<Database> OpenDatabase(std::string_view, bool, bool) override { Refuse("OpenDatabase"); }
    void CommitPending() override { Refuse("CommitPending"); }
  };
  struct NoRegistry : RegistryStore {
    long RegOpenKeyA(RegKey, const std::optional<std::string>&, RegKey&) override { Refuse("RegOpenKeyA"); }
    long RegQueryValueExA(RegKey, const std::optional<std::string>&, uint32_t*, uint8_t*, uint32_t*) override {
      Refuse("RegQueryValueExA");
    }
    long RegCloseKey(RegKey) override { Refuse("RegCloseKey"); }
  };
  struct NoProfiles : ProfileFiles {
    uint32_t GetPrivateProfileStringA(const std::optional<std::string>&, const std::optional<std::string>&,
                                      const std::optional<std::string>&, char*, uint32_t,
                                      const std::string&) override {
      Refuse("GetPrivateProfileStringA");
    }
    bool WritePrivateProfileStringA(const std::string&, const std::optional<std::string>&,
                                    const std::optional<std::string>&, const std::string&) override {
      Refuse("WritePrivateProfileStringA");
    }
  };
  struct NoFiles : FileSystem {
    bool IsNormalFile(std::string_view) override { Refuse("IsNormalFile"); }
    std::unique_ptr<OpenFile> OpenExclusive(std::string_view) override { Refuse("OpenExclusive"); }
  };
  struct NoClock : Clock {
    double Seconds() override { Refuse("Seconds"); }
    void Pause(int) override { Refuse("Pause"); }
  };
  struct NoWindow : WindowSystem {
    void SetLabel(int, std::string_view) override { Refuse("SetLabel"); }
    TwipsSize ScreenSize() override { Refuse("ScreenSize"); }
    TwipsSize WindowSize() override { Refuse("WindowSize"); }
    void Move(int, int) override { Refuse("Move"); }
    void Show() override { Refuse("Show"); }
    void SetMousePointer(int) override { Refuse("SetMousePointer"); }
    bool ProcessEvents() override { Refuse("ProcessEvents"); }
    bool EndRequested() override { Refuse("EndRequested"); }
    int ShowMessageBox(std::string_view, int) override { Refuse("ShowMessageBox"); }
    void EndProgram() override { Refuse("EndProgram"); }
  };

  template <typename T>
  RefusingPlatform& Set(T*& part, T* given) {
    if (platform_) throw std::logic_error("a part handed over after the platform was made is not used");
    part = given;
    return *this;
  }

  NoDatabase noDb_;
  NoRegistry noRegistry_;
  NoProfiles noProfiles_;
  NoFiles noFiles_;
  NoClock noClock_;
  NoWindow noWindow_;
  DatabaseEngine* db_ = &noDb_;
  RegistryStore* registry_ = &noRegistry_;
  ProfileFiles* profiles_ = &noProfiles_;
  FileSystem* files_ = &noFiles_;
  Clock* clock_ = &noClock_;
  WindowSystem* window_ = &noWindow_;
  std::optional<Platform> platform_;
};

}  // namespace kw::testing
