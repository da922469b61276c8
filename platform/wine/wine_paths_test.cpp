#include "platform/wine/wine_paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/wine/test_prefix.h"

namespace kw {
namespace {

namespace fs = std::filesystem;

// A prefix with the drive C: and a share \\Srv\Daten mapped as Wine maps it:
// dosdevices/unc/Srv/Daten, a link to the folder that holds the share's files.
class WinePathsTest : public ::testing::Test {
 protected:
  WinePathsTest() : paths_(prefix_.Root()) {
    share_ = fs::path(prefix_.Root()) / "server_daten";
    fs::create_directories(share_ / "Public");
    std::ofstream(share_ / "Public" / "Public.mdb") << "x";
    fs::create_directories(fs::path(prefix_.Root()) / "dosdevices" / "unc" / "Srv");
    fs::create_directory_symlink(share_, fs::path(prefix_.Root()) / "dosdevices" / "unc" / "Srv" / "Daten");
    std::ofstream(prefix_.DriveC() / "Boot.ini") << "x";
  }
  std::string Unc(const std::string& rest) const {
    return prefix_.Root() + "/dosdevices/unc/Srv/Daten" + rest;
  }

  TestWinePrefix prefix_;
  fs::path share_;
  WinePaths paths_;
};

TEST_F(WinePathsTest, NetworkPathsAreFoundBelowTheSharesWineKnows) {
  const struct {
    const char* windows;
    std::string host;
  } cases[] = {
      {"\\\\Srv\\Daten\\Public\\Public.mdb", Unc("/Public/Public.mdb")},
      // server, share and every name below them without regard to case
      {"\\\\srv\\daten\\PUBLIC\\public.MDB", Unc("/Public/Public.mdb")},
      {"//srv/daten/Public/Public.mdb", Unc("/Public/Public.mdb")},
      {"\\\\srv\\daten\\", Unc("")},
      // a missing last part keeps its spelling, so that it can be created
      {"\\\\srv\\daten\\Public\\public.pro", Unc("/Public/public.pro")},
      {"\\\\srv\\daten\\Mand01\\NoltData.ini", Unc("/Mand01/NoltData.ini")},
      // ".." stops at the share
      {"\\\\srv\\daten\\..\\..\\Public\\Public.mdb", Unc("/Public/Public.mdb")},
      // the long forms
      {"\\\\?\\UNC\\srv\\daten\\Public\\Public.mdb", Unc("/Public/Public.mdb")},
      {"\\\\?\\c:\\BOOT.INI", prefix_.Root() + "/dosdevices/c:/Boot.ini"},
      // drives as before
      {"C:\\boot.ini", prefix_.Root() + "/dosdevices/c:/Boot.ini"},
      // shares that are not mapped, and what names no share
      {"\\\\other\\daten\\Public\\Public.mdb", ""},
      {"\\\\srv\\archiv\\Public\\Public.mdb", ""},
      {"\\\\srv", ""},
      {"\\\\srv\\", ""},
      {"\\\\", ""},
      {"\\\\..\\Srv\\Daten\\Public\\Public.mdb", ""},
      {"\\\\.\\C:\\boot.ini", ""},
      {"\\\\?\\Volume{1234}\\boot.ini", ""},
      {"\\\\?\\UNCX\\srv\\daten\\x", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(paths_.ToHost(c.windows), c.host) << c.windows;
}

TEST_F(WinePathsTest, NoShareIsFoundWithoutTheUncFolder) {
  fs::remove_all(fs::path(prefix_.Root()) / "dosdevices" / "unc");
  EXPECT_EQ(paths_.ToHost("\\\\srv\\daten\\Public\\Public.mdb"), "");
  EXPECT_EQ(paths_.ToHost("C:\\boot.ini"), prefix_.Root() + "/dosdevices/c:/Boot.ini");
}

}  // namespace
}  // namespace kw
