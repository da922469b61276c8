#include "config/reg_edit.h"

#include <gtest/gtest.h>

#include "platform/fakes/fake_registry.h"
#include "platform/fakes/fake_window.h"
#include "tests/support/refusing_platform.h"

namespace kw {
namespace {

const std::string kSettings = "Software\\Nolt\\Orbica-Kontor 5\\Settings";

class RegReadTest : public ::testing::Test {
 protected:
  std::string Read(std::string_view keyword, std::string_view subKey, std::string_view name,
                   std::string_view dflt = "<default>") {
    return RegRead(platform_, modul_, state_, keyword, subKey, name, dflt);
  }
  // Calls the fake saw, and that nothing stays open.
  std::vector<std::string> Calls() {
    EXPECT_TRUE(reg_.open.empty());
    return reg_.calls;
  }

  FakeRegistry reg_;
  FakeWindow window_;
  // The registry module touches neither databases, profiles nor files.
  testing::RefusingPlatform host_;
  Platform& platform_ = host_.Use(reg_).Use(window_).Get();
  KwandorModul modul_;
  RegEditState state_;
};

TEST_F(RegReadTest, StartUpCallReadsTheDataDirectoryAndTrimsOnlyTrailingSpaces) {
  reg_.SetString(kHkeyLocalMachine, kSettings, "NoltDataDir", "  D:\\Daten\\  ");
  EXPECT_EQ(Read("LOKAL", "", "NoltDataDir", ""), "  D:\\Daten\\");
  EXPECT_EQ(Calls(), (std::vector<std::string>{
                         "open HKLM " + kSettings, "query 0x1000 NoltDataDir",
                         "query 0x1000 NoltDataDir buffer", "close 0x1000"}));
  EXPECT_TRUE(window_.boxes.empty());
  EXPECT_EQ(RegPathOf(state_, 0x1000), kSettings + "\\");
}

TEST_F(RegReadTest, StringDataIsCutAtItsFirstNulAndAnEmptyStringIsNoDefault) {
  reg_.Set(kHkeyLocalMachine, kSettings, "EmbeddedNul", kRegSz, std::string("abc\0def\0", 8));
  reg_.Set(kHkeyLocalMachine, kSettings, "NoNul", kRegSz, "NoNul");
  reg_.SetString(kHkeyLocalMachine, kSettings, "Empty", "");
  reg_.Set(kHkeyLocalMachine, kSettings, "ZeroBytes", kRegSz, "");
  reg_.SetString(kHkeyLocalMachine, kSettings, "", "unnamed");
  EXPECT_EQ(Read("LOKAL", "", "EmbeddedNul"), "abc");
  EXPECT_EQ(Read("LOKAL", "", "NoNul"), "NoNul");
  EXPECT_EQ(Read("LOKAL", "", "Empty"), "");
  EXPECT_EQ(Read("LOKAL", "", "ZeroBytes"), "");
  EXPECT_EQ(Read("LOKAL", "", ""), "unnamed");
}

TEST_F(RegReadTest, OnlyRegSzCountsOtherTypesGiveTheDefaultAfterOneQuery) {
  reg_.SetString(kHkeyLocalMachine, kSettings, "Expand", "%TEMP%", kRegExpandSz);
  reg_.SetString(kHkeyLocalMachine, kSettings, "Multi", std::string_view("a\0b\0", 4), kRegMultiSz);
  reg_.Set(kHkeyLocalMachine, kSettings, "Dword", kRegDword, std::string("\x01\0\0\0", 4));
  reg_.Set(kHkeyLocalMachine, kSettings, "Binary", kRegBinary, "text\0");
  for (const char* name : {"Expand", "Multi", "Dword", "Binary"}) {
    reg_.calls.clear();
    EXPECT_EQ(Read("LOKAL", "", name), "<default>") << name;
    EXPECT_EQ(Calls().size(), 3u) << name;  // open, one query, close
  }
}

TEST_F(RegReadTest, MissingKeyOrValueGivesTheDefaultExactlyAndNoMessage) {
  reg_.AddKey(kHkeyLocalMachine, kSettings);
  EXPECT_EQ(Read("LOKAL", "", "Missing", "  dflt  "), "  dflt  ");
  EXPECT_EQ(reg_.closeCalls, 1);
  EXPECT_EQ(Read("LOKAL", "Missing", "V", " x "), " x ");
  EXPECT_EQ(reg_.closeCalls, 1);  // nothing was opened, nothing is closed
  EXPECT_TRUE(window_.boxes.empty());
  EXPECT_TRUE(reg_.open.empty());
}

TEST_F(RegReadTest, WrongKeywordShowsOneMessageAndOpensBelowNoRoot) {
  reg_.SetString(kHkeyLocalMachine, kSettings, "NoltDataDir", "D:\\");
  reg_.SetString(kHkeyLocalMachine, "x", "NoltDataDir", "D:\\");
  for (const char* keyword : {"lokal", " LOKAL", "LOKAL ", "", "HKLM"}) {
    window_.boxes.clear();
    reg_.calls.clear();
    EXPECT_EQ(Read(keyword, "x", "NoltDataDir", "dflt"), "dflt") << keyword;
    ASSERT_EQ(window_.boxes.size(), 1u) << keyword;
    EXPECT_EQ(window_.boxes[0].text, "Key ist falsch");
    EXPECT_EQ(window_.boxes[0].style, kMbOk);
    EXPECT_EQ(Calls(), std::vector<std::string>{"open 0x0 x"});
  }
}

TEST_F(RegReadTest, KeywordsBuildTheirPathsBelowTheirRoots) {
  const std::string base = "Software\\Nolt\\Orbica-Kontor 5\\";
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"LOKAL", "HKLM\\" + base + "Settings"},
      {"PRINTER", "HKLM\\" + base + "Printers"},
      {"MODEM", "HKLM\\" + base + "Modem"},
      {"TASKBAR", "HKCU\\" + base + "Mandant0"},
      {"TOOLBAR", "HKCU\\" + base + "Toolbars"},
      {"USER", "HKCU\\" + base + "UserSettings"},
      {"MAILDEFAULT", "HKCU\\" + base + "MailSettings"},
      {"TERMIN", "HKCU\\" + base + "TerminSetting"},
      {"REDRUCK", "HKCU\\" + base + "RePrintSetting"},
      {"DOKU", "HKCU\\" + base + "DokuSetting"},
      {"GRID", "HKCU\\" + base + "Mandant0\\Grids"},
      {"FORMSIZE", "HKCU\\" + base + "Mandant0\\FormSizes"},
      {"MAIL", "HKCU\\" + base + "Mandant0\\MailSettings"},
      {"MANDANT", "HKCU\\" + base + "Mandant0\\MandSettings"},
      {"SORT", "HKCU\\" + base + "Mandant0\\SortStrings"},
      {"FILTER", "HKCU\\" + base + "Mandant0\\Filters"},
      {"NTZPRINT", "HKCU\\" + base + "Mandant0\\NtzPrints"},
      {"FAVORITEN", "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"},
  };
  for (const auto& [keyword, path] : expected) {
    const RegKey root = path.substr(0, 4) == "HKLM" ? kHkeyLocalMachine : kHkeyCurrentUser;
    reg_.SetString(root, path.substr(5), "V", keyword);
  }
  for (const auto& [keyword, path] : expected) {
    reg_.openedPaths.clear();
    EXPECT_EQ(Read(keyword, "", "V"), keyword);
    EXPECT_EQ(reg_.openedPaths, std::vector<std::string>{path});
  }
  EXPECT_TRUE(window_.boxes.empty());
}

TEST_F(RegReadTest, SubKeyWithOrWithoutBackslashOpensTheSameKey) {
  reg_.SetString(kHkeyLocalMachine, "Software\\Nolt\\Orbica-Kontor 5\\Printers\\Layout", "V", "L");
  for (const char* sub : {"Layout", "Layout\\", "Layout  "}) {
    reg_.calls.clear();
    EXPECT_EQ(Read("PRINTER", sub, "V"), "L") << sub;
    EXPECT_EQ(reg_.calls.at(0), "open HKLM Software\\Nolt\\Orbica-Kontor 5\\Printers\\Layout");
  }
  // Spaces only stay as they are, and name a key that is not there.
  reg_.calls.clear();
  EXPECT_EQ(Read("PRINTER", "  ", "V"), "<default>");
  EXPECT_EQ(reg_.calls.at(0), "open HKLM Software\\Nolt\\Orbica-Kontor 5\\Printers\\  ");
}

TEST_F(RegReadTest, RootNamesTakeTheSubKeyAsTheWholePath) {
  reg_.SetString(kHkeyCurrentUser, "Software\\Demo", "V", "cu");
  reg_.SetString(kHkeyLocalMachine, "Software\\Demo", "V", "lm");
  reg_.SetString(kHkeyClassesRoot, ".txt", "", "txtfile");
  reg_.SetString(kHkeyUsers, "S-1\\Software\\Demo", "V", "u");
  EXPECT_EQ(Read("HKEY_CURRENT_USER", "Software\\Demo", "V"), "cu");
  EXPECT_EQ(Read("HKEY_LOCAL_MACHINE", "Software\\Demo\\", "V"), "lm");
  EXPECT_EQ(Read("HKEY_CLASSES_ROOT", ".txt", ""), "txtfile");
  EXPECT_EQ(Read("HKEY_USERS", "S-1\\Software\\Demo", "V"), "u");
  // An empty sub-key opens the root itself.
  reg_.SetString(kHkeyLocalMachine, "", "RootValue", "r");
  EXPECT_EQ(Read("HKEY_LOCAL_MACHINE", "", "RootValue"), "r");
  EXPECT_TRUE(window_.boxes.empty());
}

TEST_F(RegReadTest, ClientKeyFollowsMandantNr) {
  reg_.SetString(kHkeyCurrentUser, "Software\\Nolt\\Orbica-Kontor 5\\Mandant-12\\Grids", "V", "g");
  modul_.MandantNr = -12;
  EXPECT_EQ(Read("GRID", "", "V"), "g");
}

TEST_F(RegReadTest, TextsCrossTheSeamInCodePage1252) {
  reg_.SetString(kHkeyLocalMachine, kSettings + "\\Kunde M\xfcller", "Gr\xf6\xdf" "e",
                 "M\xfcller \x80");
  EXPECT_EQ(Read("LOKAL", "Kunde Müller", "Größe"), "Müller €");
}

TEST_F(RegReadTest, ValueThatGrowsBetweenTheTwoQueriesGivesTheDefault) {
  reg_.SetString(kHkeyLocalMachine, kSettings, "V", "abc");
  reg_.growBeforeDataQuery = true;
  EXPECT_EQ(Read("LOKAL", "", "V"), "<default>");
  EXPECT_EQ(reg_.closeCalls, 1);
  EXPECT_TRUE(reg_.open.empty());
}

TEST_F(RegReadTest, FailingCloseIsIgnored) {
  reg_.SetString(kHkeyLocalMachine, kSettings, "V", "abc");
  reg_.closeResult = kErrorInvalidHandle;
  EXPECT_EQ(Read("LOKAL", "", "V"), "abc");
}

TEST_F(RegReadTest, UnexpectedErrorGivesTheEmptyTextAndStillClosesTheKey) {
  reg_.SetString(kHkeyLocalMachine, kSettings, "V", "abc");
  reg_.throwOnQuery = true;
  EXPECT_EQ(Read("LOKAL", "", "V", "dflt"), "");
  EXPECT_EQ(reg_.closeCalls, 1);
  EXPECT_TRUE(reg_.open.empty());
}

TEST(RegEditText, AddKeySlash) {
  auto add = [](std::string s) {
    AddKeySlash(s);
    return s;
  };
  EXPECT_EQ(add(""), "");
  EXPECT_EQ(add("   "), "   ");
  EXPECT_EQ(add("Layout"), "Layout\\");
  EXPECT_EQ(add("  Layout  "), "  Layout\\");
  EXPECT_EQ(add("Layout\\"), "Layout\\");
  EXPECT_EQ(add(" Layout\\  "), " Layout\\  ");
  EXPECT_EQ(add("\t"), "\t\\");
}

TEST(RegEditText, StripKeySlashAndCutAtNul) {
  EXPECT_EQ(StripKeySlash("\\"), "");
  EXPECT_EQ(StripKeySlash(""), "");
  EXPECT_EQ(StripKeySlash("a\\b\\\\"), "a\\b\\");
  EXPECT_EQ(StripKeySlash("\\a"), "\\a");
  EXPECT_EQ(StripKeySlash("a\\ "), "a\\ ");
  EXPECT_EQ(CutAtNul(std::string("ab\0cd\0", 6)), "ab");
  EXPECT_EQ(CutAtNul(std::string("\0cd", 3)), "");
  EXPECT_EQ(CutAtNul("abc"), "abc");
}

TEST(RegEditTable, FirstLookupCreatesOneEmptyRowAndHandlesKeepTheirRows) {
  RegEditState s;
  EXPECT_EQ(RegFindHandle(s, 5), -1);
  ASSERT_EQ(s.OpenKeyTable.size(), 1u);
  EXPECT_EQ(RegFindHandle(s, 0), 0);  // the empty row
  RegRememberPath(s, 0x1000, "A\\");
  RegRememberPath(s, 0x1004, "B\\");
  EXPECT_EQ(RegFindHandle(s, 0x1004), 2);
  RegRememberPath(s, 0x1000, "C\\");  // handed out again: same row, new path
  EXPECT_EQ(s.OpenKeyTable.size(), 3u);
  EXPECT_EQ(RegPathOf(s, 0x1000), "C\\");
  EXPECT_EQ(RegPathOf(s, kHkeyLocalMachine), "");
}

TEST(RegEditTable, OpenBelowAnOpenKeyRecordsTheWholePath) {
  FakeRegistry reg;
  reg.AddKey(kHkeyCurrentUser, "Software\\Demo\\Sub");
  RegEditState s;
  RegKey demo = 0, sub = 0;
  ASSERT_TRUE(RegOpen(reg, s, kHkeyCurrentUser, "Software\\Demo\\", demo));
  ASSERT_TRUE(RegOpen(reg, s, demo, "Sub\\", sub));
  EXPECT_EQ(reg.calls.back(), "open 0x1000 Sub");
  EXPECT_EQ(RegPathOf(s, sub), "Software\\Demo\\Sub\\");
  RegKey missing = 1;
  EXPECT_FALSE(RegOpen(reg, s, demo, "Missing", missing));
  EXPECT_EQ(RegPathOf(s, missing), "");
  EXPECT_TRUE(RegClose(reg, sub));
  EXPECT_FALSE(RegClose(reg, sub));
}

TEST(RegEditTable, FullTableStartsAgainWithOneRow) {
  RegEditState s;
  s.OpenKeyTable.resize(kMaxOpenKeyRows);
  for (size_t i = 0; i < kMaxOpenKeyRows; ++i) s.OpenKeyTable[i].Handle = static_cast<RegKey>(i);
  RegRememberPath(s, 0x40000, "New\\");
  ASSERT_EQ(s.OpenKeyTable.size(), 1u);
  EXPECT_EQ(RegPathOf(s, 0x40000), "New\\");
  EXPECT_EQ(RegFindHandle(s, 7), -1);
}

}  // namespace
}  // namespace kw
