#include "config/profile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/fakes/fake_profile.h"
#include "tests/support/refusing_platform.h"

namespace kw {
namespace {

// The profile operations need nothing but the profile files.
struct Rig {
  explicit Rig(ProfileFiles& profiles) : platform(host.Use(profiles).Get()) {}
  testing::RefusingPlatform host;
  Platform& platform;
};

const std::string kIni = "C:\\Daten\\Mand01\\NoltData.ini";

class NoltDataIni : public ::testing::Test {
 protected:
  NoltDataIni() { m.MandantDir = "C:\\Daten\\Mand01\\"; }

  std::string Read(std::string_view key, std::string_view dflt) {
    return NoltDataIniRead(rig.platform, m, "AdoMand", key, dflt);
  }
  std::string File() const {
    const std::string* f = profiles.Find(kIni);
    return f ? *f : "<none>";
  }

  FakeProfileFiles profiles;
  Rig rig{profiles};
  KwandorModul m;
};

TEST_F(NoltDataIni, PresentValueComesBackWithoutTrailingBlanksAndNothingIsWritten) {
  profiles.Add(kIni, "[AdoMand]\r\nVersion=6.4   \r\nEmpty=\r\nQuoted=\"  x   \"\r\n");
  EXPECT_EQ(Read("Version", "0.0"), "6.4");
  EXPECT_EQ(Read("Empty", "0.0"), "");
  // Blanks inside quotes reach the reader; only the trailing ones go.
  EXPECT_EQ(Read("Quoted", "0.0"), "  x");
  EXPECT_EQ(profiles.writes, 0);
}

TEST_F(NoltDataIni, MissingKeyGivesTheDefaultAndWritesANonEmptyOneBack) {
  EXPECT_EQ(Read("Version", ""), "");
  EXPECT_EQ(profiles.FileCount(), 0u);
  EXPECT_EQ(profiles.writes, 0);

  EXPECT_EQ(Read("Version", "0.0"), "0.0");
  EXPECT_EQ(File(), "[AdoMand]\r\nVersion=0.0\r\n");
  EXPECT_EQ(Read("Version", "9.9"), "0.0");  // now from the file
  EXPECT_EQ(Read("DBName", "NoltData"), "NoltData");
  EXPECT_EQ(File(), "[AdoMand]\r\nVersion=0.0\r\nDBName=NoltData\r\n");
}

TEST_F(NoltDataIni, DefaultIsReturnedAsPassedNotTrimmed) {
  EXPECT_EQ(Read("Provider", "Microsoft.Jet.OLEDB.4.0;  "), "Microsoft.Jet.OLEDB.4.0;  ");
  EXPECT_EQ(Read("Provider", "x"), "Microsoft.Jet.OLEDB.4.0;");
}

TEST_F(NoltDataIni, LongValueIsCutAt511Bytes) {
  const std::string v(600, 'A');
  profiles.Add(kIni, "[AdoMand]\r\nLong=" + v + "\r\n");
  EXPECT_EQ(Read("Long", "0"), v.substr(0, 511));
}

TEST_F(NoltDataIni, ValuesStartingWithTheSentinelCountAsMissing) {
  profiles.Add(kIni, "[AdoMand]\r\nA=@@@NOTFOUND@@@ and more\r\nB=@@@NOTFOUND@@@\r\nC=@@@NOTFOUND\r\n");
  EXPECT_EQ(Read("A", "0.0"), "0.0");
  EXPECT_EQ(Read("B", "0.0"), "0.0");
  EXPECT_EQ(Read("C", "0.0"), "@@@NOTFOUND");
  EXPECT_EQ(File(), "[AdoMand]\r\nA=0.0\r\nB=0.0\r\nC=@@@NOTFOUND\r\n");
}

TEST_F(NoltDataIni, FailedWriteBackIsSilentAndTheDefaultStillComes) {
  profiles.Add(kIni, "[AdoMand]\r\n");
  profiles.failWrites = true;
  EXPECT_EQ(Read("Version", "0.0"), "0.0");
  EXPECT_EQ(profiles.writes, 1);
  EXPECT_EQ(File(), "[AdoMand]\r\n");
  NoltDataIniWrite(rig.platform, m, "AdoMand", "Version", "7.0");
  EXPECT_EQ(File(), "[AdoMand]\r\n");
}

TEST_F(NoltDataIni, TextsAreUtf8HereAndCodePage1252InTheFile) {
  NoltDataIniWrite(rig.platform, m,
                   "Gr\xC3\xBC\xC3\x9F"
                   "e",
                   "M\xC3\xBCller", "5 \xE2\x82\xAC \xE2\x98\x83");
  EXPECT_EQ(File(),
            "[Gr\xFC\xDF"
            "e]\r\nM\xFCller=5 \x80 ?\r\n");
  EXPECT_EQ(NoltDataIniRead(rig.platform, m,
                            "GR\xC3\x9C\xC3\x9F"
                            "E",
                            "m\xC3\xBCller", ""),
            "5 \xE2\x82\xAC ?");
}

TEST_F(NoltDataIni, ClientDirectoryInUtf8NamesTheFileInCodePage1252) {
  m.MandantDir = "C:\\Daten\\K\xC3\xB6ln\\";
  NoltDataIniWrite(rig.platform, m, "AdoMand", "Version", "6.4");
  EXPECT_NE(profiles.Find("C:\\Daten\\K\xF6ln\\NoltData.ini"), nullptr);
}

}  // namespace
}  // namespace kw
