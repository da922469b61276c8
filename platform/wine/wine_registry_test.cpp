#include "platform/wine/wine_registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "config/reg_edit.h"
#include "platform/cp1252.h"
#include "platform/fakes/fake_window.h"
#include "platform/wine/test_prefix.h"
#include "tests/support/oracle.h"
#include "tests/support/refusing_platform.h"

namespace kw {
namespace {

const std::string kOracle = std::string(KW_TEST_DATA) + "/oracle";

TEST(WineRegistryOracle, AnswersEveryRecordedQueryAsWineDid) {
  const testing::json& golden = testing::Oracle("reg_golden.json");
  ASSERT_FALSE(golden.is_null()) << "no golden file";
  const WinePaths prefix(kOracle + "/wine-registry");
  WineRegistry reg64(prefix, WineRegistry::View::k64);
  WineRegistry reg32(prefix, WineRegistry::View::k32);
  int checked = 0;
  for (const auto& q : golden.at("queries")) {
    testing::ReplayRegistryQuery(q.at("call") == "query32" ? reg32 : reg64, q);
    ++checked;
  }
  EXPECT_EQ(checked, 44);
  EXPECT_EQ(reg64.OpenKeyCount(), 0u);
  EXPECT_EQ(reg32.OpenKeyCount(), 0u);
}

TEST(WineRegistryView, ThirtyTwoBitViewPrefersWow6432NodeAndFallsBackToTheOwnPath) {
  const WinePaths prefix(kOracle + "/wine-registry");
  WineRegistry reg(prefix);  // k32 by default
  RegKey h = 0;
  ASSERT_EQ(reg.RegOpenKeyA(kHkeyLocalMachine, "Software\\Nolt\\Orbica-Kontor 5\\Settings", h), 0);
  uint8_t buf[32];
  uint32_t size = sizeof buf;
  ASSERT_EQ(reg.RegQueryValueExA(h, "NoltDataDir", nullptr, buf, &size), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), size), std::string("D:\\Wow32\\\0", 10));
  // The 32-bit key has only that value: the 64-bit one's others are not seen.
  size = sizeof buf;
  EXPECT_EQ(reg.RegQueryValueExA(h, "LeadSp", nullptr, buf, &size), kErrorFileNotFound);
  EXPECT_EQ(reg.RegCloseKey(h), 0);
  // Keys that only the 64-bit tree has are found at their own path.
  ASSERT_EQ(reg.RegOpenKeyA(kHkeyLocalMachine, "Software\\Nolt\\Orbica-Kontor 5\\Settings\\SubKey MiXed", h), 0);
  size = sizeof buf;
  EXPECT_EQ(reg.RegQueryValueExA(h, "V", nullptr, buf, &size), 0);
  EXPECT_EQ(size, 20u);
  EXPECT_EQ(reg.RegCloseKey(h), 0);
}

TEST(WineRegistryView, NoRedirectionInA32BitPrefixOrWithoutArchLine) {
  const std::string body =
      "\n[Software\\\\A] 1\n\"V\"=\"own\"\n\n[Software\\\\Wow6432Node\\\\A] 1\n\"V\"=\"wow\"\n";
  for (const char* arch : {"#arch=win32\n", ""}) {
    WineRegistry reg(std::string("WINE REGISTRY Version 2\n") + arch + body, "");
    RegKey h = 0;
    ASSERT_EQ(reg.RegOpenKeyA(kHkeyLocalMachine, "Software\\A", h), 0);
    char buf[8];
    uint32_t size = sizeof buf;
    ASSERT_EQ(reg.RegQueryValueExA(h, "V", nullptr, reinterpret_cast<uint8_t*>(buf), &size), 0);
    EXPECT_STREQ(buf, "own");
  }
  WineRegistry reg64("WINE REGISTRY Version 2\n#arch=win64\n" + body, "");
  RegKey h = 0;
  ASSERT_EQ(reg64.RegOpenKeyA(kHkeyLocalMachine, "Software\\A", h), 0);
  char buf[8];
  uint32_t size = sizeof buf;
  ASSERT_EQ(reg64.RegQueryValueExA(h, "V", nullptr, reinterpret_cast<uint8_t*>(buf), &size), 0);
  EXPECT_STREQ(buf, "wow");
}

class WineRegistryApi : public ::testing::Test {
 protected:
  WineRegistry reg_{
      "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n\n"
      "[Software\\\\Classes\\\\.txt] 1\n@=\"txtfile\"\n\n"
      "[Software\\\\Demo] 1\n\"S\"=\"abc\"\n\"U\"=hex(1):61,00,62,00\n\"B\"=hex:01,02,03\n"
      "\"Greek\"=\"\\x3a9\"\n\n"
      "[Software\\\\Demo\\\\Sub] 1\n\"S\"=\"sub\"\n\n"
      "[Software\\\\Linked] 1\n#link\n\"SymbolicLinkValue\"=hex(6):5c,00,52,00,45,00,47,00,49,00,"
      "53,00,54,00,52,00,59,00,5c,00,4d,00,61,00,63,00,68,00,69,00,6e,00,65,00,5c,00,53,00,\\\n"
      "  6f,00,66,00,74,00,77,00,61,00,72,00,65,00,5c,00,44,00,65,00,6d,00,6f,00\n\n"
      "[Software\\\\Loop] 1\n#link\n\"SymbolicLinkValue\"=hex(6):5c,00,52,00,45,00,47,00,49,00,"
      "53,00,54,00,52,00,59,00,5c,00,4d,00,61,00,63,00,68,00,69,00,6e,00,65,00,5c,00,53,00,\\\n"
      "  6f,00,66,00,74,00,77,00,61,00,72,00,65,00,5c,00,4c,00,6f,00,6f,00,70,00\n",
      "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
      "[Environment] 1\n\"TEMP\"=\"C:\\\\temp\"\n",
      WineRegistry::View::k64};

  std::string Read(RegKey h, const char* name) {
    uint8_t buf[64];
    uint32_t size = sizeof buf;
    if (reg_.RegQueryValueExA(h, name, nullptr, buf, &size) != 0) return "<none>";
    return std::string(reinterpret_cast<char*>(buf), size);
  }
};

TEST_F(WineRegistryApi, SmallBufferGivesMoreDataWithTheNeededSizeAndWritesNothing) {
  RegKey h = 0;
  ASSERT_EQ(reg_.RegOpenKeyA(kHkeyLocalMachine, "Software\\Demo", h), 0);
  uint8_t buf[4] = {'#', '#', '#', '#'};
  uint32_t type = 0, size = 3;
  EXPECT_EQ(reg_.RegQueryValueExA(h, "S", &type, buf, &size), kErrorMoreData);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(buf[0], '#');
  size = 2;
  EXPECT_EQ(reg_.RegQueryValueExA(h, "B", &type, buf, &size), kErrorMoreData);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(buf[0], '#');
}

TEST_F(WineRegistryApi, UnterminatedStringGetsANulOnlyWhenThereIsRoom) {
  RegKey h = 0;
  ASSERT_EQ(reg_.RegOpenKeyA(kHkeyLocalMachine, "Software\\Demo", h), 0);
  uint8_t buf[4] = {'#', '#', '#', '#'};
  uint32_t size = 4;
  EXPECT_EQ(reg_.RegQueryValueExA(h, "U", nullptr, buf, &size), 0);
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), std::string("ab\0#", 4));
  // A terminated string is copied as it is, and nothing is written after it.
  uint8_t wide[6] = {'#', '#', '#', '#', '#', '#'};
  size = 6;
  EXPECT_EQ(reg_.RegQueryValueExA(h, "S", nullptr, wide, &size), 0);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(wide), 6), std::string("abc\0##", 6));
  EXPECT_EQ(Read(h, "Greek"), std::string("?\0", 2));  // no 1252 byte for omega
  uint32_t type = 9;
  size = 9;
  EXPECT_EQ(reg_.RegQueryValueExA(h, "Missing", &type, nullptr, &size), kErrorFileNotFound);
  EXPECT_EQ(type, 0u);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(reg_.RegQueryValueExA(h, "S", nullptr, buf, nullptr), 87);
}

TEST_F(WineRegistryApi, HandlesAreTrackedAndRelativeOpensWork) {
  RegKey demo = 0, sub = 0, same = 0;
  ASSERT_EQ(reg_.RegOpenKeyA(kHkeyLocalMachine, "SOFTWARE\\demo\\", demo), 0);
  ASSERT_EQ(reg_.RegOpenKeyA(demo, "Sub", sub), 0);
  EXPECT_NE(demo, sub);
  EXPECT_EQ(Read(sub, "s"), std::string("sub\0", 4));
  EXPECT_EQ(reg_.RegOpenKeyA(demo, std::nullopt, same), 0);
  EXPECT_EQ(same, demo);
  EXPECT_EQ(reg_.RegOpenKeyA(demo, "\\Sub", same), kErrorBadPathname);
  EXPECT_EQ(reg_.RegOpenKeyA(demo, "Sub/", same), kErrorFileNotFound);
  EXPECT_EQ(reg_.OpenKeyCount(), 2u);
  EXPECT_EQ(reg_.RegCloseKey(sub), 0);
  EXPECT_EQ(reg_.RegCloseKey(sub), kErrorInvalidHandle);
  EXPECT_EQ(reg_.RegQueryValueExA(sub, "S", nullptr, nullptr, nullptr), kErrorInvalidHandle);
  EXPECT_EQ(reg_.RegOpenKeyA(sub, "x", same), kErrorInvalidHandle);
  EXPECT_EQ(reg_.RegCloseKey(0), kErrorInvalidHandle);
  EXPECT_EQ(reg_.RegCloseKey(kHkeyLocalMachine), 0);
  // A closed handle's value is handed out again.
  ASSERT_EQ(reg_.RegOpenKeyA(kHkeyLocalMachine, "Software\\Demo\\Sub", same), 0);
  EXPECT_EQ(same, sub);
  EXPECT_EQ(reg_.RegCloseKey(same), 0);
  EXPECT_EQ(reg_.RegCloseKey(demo), 0);
  EXPECT_EQ(reg_.OpenKeyCount(), 0u);
}

TEST_F(WineRegistryApi, LinksAreFollowedAndLoopsEndAsMissing) {
  RegKey h = 0;
  ASSERT_EQ(reg_.RegOpenKeyA(kHkeyLocalMachine, "Software\\Linked\\Sub", h), 0);
  EXPECT_EQ(Read(h, "S"), std::string("sub\0", 4));
  EXPECT_EQ(reg_.RegCloseKey(h), 0);
  EXPECT_EQ(reg_.RegOpenKeyA(kHkeyLocalMachine, "Software\\Loop", h), kErrorFileNotFound);
}

TEST_F(WineRegistryApi, ClassesRootAndUsersMapOntoTheTwoFiles) {
  RegKey h = 0;
  ASSERT_EQ(reg_.RegOpenKeyA(kHkeyClassesRoot, ".TXT", h), 0);
  EXPECT_EQ(Read(h, ""), std::string("txtfile\0", 8));
  ASSERT_EQ(reg_.RegOpenKeyA(kHkeyUsers, "S-1-5-21-0-0-0-1000\\Environment", h), 0);
  EXPECT_EQ(Read(h, "temp"), std::string("C:\\temp\0", 8));
  EXPECT_EQ(reg_.RegOpenKeyA(kHkeyUsers, "S-1-5-18\\Environment", h), kErrorFileNotFound);
  ASSERT_EQ(reg_.RegOpenKeyA(kHkeyUsers, "S-1-5-21-0-0-0-1000", h), 0);
  RegKey env = 0;
  ASSERT_EQ(reg_.RegOpenKeyA(h, "Environment", env), 0);
  EXPECT_EQ(Read(env, "TEMP"), std::string("C:\\temp\0", 8));
}

TEST(WineRegistryFiles, MissingPrefixIsAnEmptyRegistry) {
  WineRegistry reg(WinePaths("/nonexistent/prefix"));
  RegKey h = 1;
  EXPECT_EQ(reg.RegOpenKeyA(kHkeyLocalMachine, "Software", h), kErrorFileNotFound);
  EXPECT_EQ(reg.RegOpenKeyA(kHkeyLocalMachine, std::nullopt, h), 0);
  EXPECT_EQ(h, kHkeyLocalMachine);
  EXPECT_EQ(reg.RegQueryValueExA(h, std::nullopt, nullptr, nullptr, nullptr), kErrorFileNotFound);
  // kHkeyClassesRoot stands for a key the empty file lacks, and is a key all the same.
  EXPECT_EQ(reg.RegQueryValueExA(kHkeyClassesRoot, "", nullptr, nullptr, nullptr),
            kErrorFileNotFound);
}

// A registry file that is a pipe or a folder is no registry file; opening
// it must not wait for a writer.
TEST(WineRegistryFiles, FilesThatAreNoNormalFilesReadAsEmpty) {
  TestWinePrefix prefix;
  {
    std::ofstream user(prefix.Root() + "/user.reg", std::ios::binary);
    user << "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
            "[Environment] 1\n\"TEMP\"=\"C:\\\\temp\"\n";
  }
  ASSERT_EQ(mkfifo((prefix.Root() + "/system.reg").c_str(), 0600), 0);
  WineRegistry withPipe{WinePaths(prefix.Root())};
  RegKey h = 1;
  EXPECT_EQ(withPipe.RegOpenKeyA(kHkeyLocalMachine, "Software", h), kErrorFileNotFound);
  EXPECT_EQ(withPipe.RegOpenKeyA(kHkeyCurrentUser, "Environment", h), 0);

  std::filesystem::remove(prefix.Root() + "/user.reg");
  std::filesystem::create_directory(prefix.Root() + "/user.reg");
  WineRegistry withFolder{WinePaths(prefix.Root())};
  EXPECT_EQ(withFolder.RegOpenKeyA(kHkeyCurrentUser, "Environment", h), kErrorFileNotFound);
}

// The registry module over the recorded prefix, in either view.
TEST(RegReadWine, StartUpCallOnTheRecordedPrefixSeesTheViewsValue) {
  const WinePaths prefix(std::string(KW_TEST_DATA) + "/oracle/wine-registry");
  for (auto [view, expected] : {std::pair{WineRegistry::View::k32, "D:\\Wow32\\"},
                                std::pair{WineRegistry::View::k64, "D:\\Daten\\"}}) {
    WineRegistry reg(prefix, view);
    FakeWindow window;
    testing::RefusingPlatform host;
    Platform& p = host.Use(reg).Use(window).Get();
    KwandorModul m;
    RegEditState s;
    EXPECT_EQ(RegRead(p, m, s, "LOKAL", "", "NoltDataDir", ""), expected);
    EXPECT_EQ(RegRead(p, m, s, "LOKAL", "", "Umlaut", ""),
              view == WineRegistry::View::k64 ? "Müller" : "");
    EXPECT_EQ(reg.OpenKeyCount(), 0u);
  }
}

}  // namespace
}  // namespace kw
