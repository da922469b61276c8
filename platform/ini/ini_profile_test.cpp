#include "platform/ini/ini_profile.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/wine/test_prefix.h"
#include "config/profile.h"
#include "tests/support/oracle.h"
#include "tests/support/refusing_platform.h"

namespace kw {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

using testing::kSentinel;

const json& Golden() { return testing::Oracle("ini_golden.json"); }

// Host path of a Windows path as the recording used them: C:\... or a name
// in the probe's current directory C:\probe.
fs::path Host(const TestWinePrefix& prefix, std::string windowsPath) {
  for (char& c : windowsPath)
    if (c == '\\') c = '/';
  if (windowsPath.size() >= 3 && (windowsPath[0] == 'C' || windowsPath[0] == 'c') &&
      windowsPath[1] == ':') {
    return prefix.DriveC() / windowsPath.substr(3);
  }
  if (windowsPath.rfind("./", 0) == 0) windowsPath = windowsPath.substr(2);
  return prefix.Probe() / windowsPath;
}

void WriteFile(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

std::optional<std::string> ReadFile(const fs::path& p) {
  if (!fs::exists(p)) return std::nullopt;
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Where a recorded case's files are in a prefix.
testing::ProfileFilesAt FilesIn(const TestWinePrefix& prefix) {
  return {[&prefix](const std::string& path, const std::string& bytes) { WriteFile(Host(prefix, path), bytes); },
          [&prefix](const std::string& path) { return ReadFile(Host(prefix, path)); }};
}

TEST(IniProfileOracle, EveryRecordedReadGivesWhatWineGave) {
  int checked = 0;
  for (const json& e : Golden()) {
    if (e["op"] != "read") continue;
    SCOPED_TRACE(e["case"].get<std::string>() + " " + e["section"].dump() + " " + e["key"].dump());
    TestWinePrefix prefix;
    testing::LayDownProfileCase(FilesIn(prefix), e);
    ScopedCwd cwd(prefix.Probe());
    IniProfileFiles ini{WinePaths(prefix.Root())};
    testing::ReplayProfileRead(ini, e);
    ++checked;
  }
  EXPECT_EQ(checked, 111);
}

// Where Wine rewrites lines that the write did not concern, the file here
// keeps them byte for byte, as Windows does.
const std::map<std::string, std::string>& BytePreserved() {
  static const std::map<std::string, std::string> m = {
      {"write_missing_section_lf", "[A]\na=1\n[B]\nk=v\n"},
      {"write_existing_key", "[A]\r\na=NEW\r\nb=2\r\n\r\n[C]\r\nc=3\r\n"},
      {"write_existing_key_spaced", "[A]\r\na=X\r\nb = 2\r\n"},
      {"write_new_key_existing_section", "[A]\r\na=1\r\nnew=v\r\n\r\n\r\n[C]\r\nc=3\r\n"},
      {"write_lf_file_existing_key", "[A]\na=1\nb=X\n[C]\nc=3\n"},
      {"write_reformat_header", "[ A ]\r\na=2\r\n[B] trailing\r\nb=1\r\n"},
      {"write_cr_only_file", "[A]\ra=2\r"},
  };
  return m;
}

TEST(IniProfileOracle, EveryRecordedWriteLandsWhereWinePutItAndReadsBack) {
  int checked = 0;
  for (const json& e : Golden()) {
    if (e["op"] != "write") continue;
    const std::string name = e["case"];
    SCOPED_TRACE(name);
    TestWinePrefix prefix;
    testing::LayDownProfileCase(FilesIn(prefix), e);
    ScopedCwd cwd(prefix.Probe());
    IniProfileFiles ini{WinePaths(prefix.Root())};
    const std::optional<std::string> after = testing::ReplayProfileWrite(ini, FilesIn(prefix), e);
    if (e["file_after_hex"].is_null()) {
      EXPECT_FALSE(after.has_value());
    } else {
      ASSERT_TRUE(after.has_value());
      const std::string wine = testing::Unhex(e["file_after_hex"]);
      const auto kept = BytePreserved().find(name);
      if (kept != BytePreserved().end()) {
        EXPECT_NE(kept->second, wine) << "Wine no longer rewrites this file";
        EXPECT_EQ(testing::Hex(*after), testing::Hex(kept->second));
      } else {
        EXPECT_EQ(testing::Hex(*after), testing::Hex(wine));
      }
    }
    const auto files = std::distance(fs::directory_iterator(prefix.Probe()), {});
    EXPECT_EQ(files, fs::exists(Host(prefix, *testing::Latin1(e["path"]))) ? 1 : 0) << "stray files in the folder";
    ++checked;
  }
  EXPECT_EQ(checked, 29);
}

// --- Writing to disk -------------------------------------------------------

class IniProfileDisk : public ::testing::Test {
 protected:
  IniProfileDisk() : cwd_(prefix_.Probe()), ini_(WinePaths(prefix_.Root())) {}

  std::string Read(const std::string& section, const std::string& key, const std::string& file) {
    char buffer[512];
    const uint32_t n = ini_.GetPrivateProfileStringA(section, key, kSentinel, buffer, 512, file);
    return std::string(buffer, n);
  }
  std::vector<std::string> ProbeFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(prefix_.Probe())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  TestWinePrefix prefix_;
  ScopedCwd cwd_;
  IniProfileFiles ini_;
};

TEST_F(IniProfileDisk, ReplacingKeepsPermissionBitsAndLeavesNoTemporaryFile) {
  const fs::path file = prefix_.Probe() / "a.ini";
  WriteFile(file, "[A]\r\na=1\r\n");
  chmod(file.c_str(), 0640);
  ASSERT_TRUE(ini_.WritePrivateProfileStringA("A", "a", "2", "C:\\probe\\a.ini"));
  EXPECT_EQ(*ReadFile(file), "[A]\r\na=2\r\n");
  struct stat st;
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(ProbeFiles(), std::vector<std::string>{"a.ini"});
}

TEST_F(IniProfileDisk, TemporaryFilesOfKilledWritersAreCleanedUp) {
  const fs::path file = prefix_.Probe() / "a.ini";
  WriteFile(file, "[A]\r\na=1\r\n");
  // A finished process (this test's child) and a live one (this process's parent).
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  const std::string stale = ".a.ini." + std::to_string(gone) + ".1.tmp";
  const std::string live = ".a.ini." + std::to_string(getppid()) + ".1.tmp";
  WriteFile(prefix_.Probe() / stale, "[A]\r\na=");
  WriteFile(prefix_.Probe() / live, "[A]\r\n");
  WriteFile(prefix_.Probe() / ".b.ini.1.1.tmp", "other file's");
  ASSERT_TRUE(ini_.WritePrivateProfileStringA("A", "a", "2", "C:\\probe\\a.ini"));
  EXPECT_EQ(ProbeFiles(), (std::vector<std::string>{".a.ini." + std::to_string(getppid()) + ".1.tmp",
                                                     ".b.ini.1.1.tmp", "a.ini"}));
}

TEST_F(IniProfileDisk, OldFileIsReplacedWholeNeverRewrittenInPlace) {
  const fs::path file = prefix_.Probe() / "a.ini";
  const std::string old = "[A]\r\na=1\r\n" + std::string(100000, ';') + "\r\n";
  WriteFile(file, old);
  std::ifstream held(file, std::ios::binary);  // a reader that opened the old file
  ASSERT_TRUE(ini_.WritePrivateProfileStringA("A", "a", "2", "C:\\probe\\a.ini"));
  std::stringstream seen;
  seen << held.rdbuf();
  EXPECT_EQ(seen.str(), old);
  EXPECT_EQ(ReadFile(file)->substr(0, 10), "[A]\r\na=2\r\n");
}

TEST_F(IniProfileDisk, ReplacedFileKeepsItsOwner) {
  if (geteuid() != 0) GTEST_SKIP() << "needs a user who may hand files to others";
  const fs::path file = prefix_.Probe() / "a.ini";
  WriteFile(file, "[A]\r\na=1\r\n");
  ASSERT_EQ(chown(file.c_str(), 4321, 4322), 0);
  ASSERT_TRUE(ini_.WritePrivateProfileStringA("A", "a", "2", "C:\\probe\\a.ini"));
  struct stat st;
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 4321u);
  EXPECT_EQ(st.st_gid, 4322u);
}

TEST_F(IniProfileDisk, PipeInPlaceOfTheFileNeitherBlocksNorIsWritten) {
  ASSERT_EQ(mkfifo((prefix_.Probe() / "pipe.ini").c_str(), 0644), 0);
  EXPECT_EQ(Read("A", "a", "C:\\probe\\pipe.ini"), kSentinel);
  EXPECT_FALSE(ini_.WritePrivateProfileStringA("A", "a", "1", "C:\\probe\\pipe.ini"));
  EXPECT_TRUE(fs::is_fifo(prefix_.Probe() / "pipe.ini"));
}

TEST_F(IniProfileDisk, ReadOnlyFileIsNeitherChangedNorReplaced) {
  const fs::path file = prefix_.Probe() / "ro.ini";
  WriteFile(file, "[A]\r\na=1\r\n");
  chmod(file.c_str(), 0444);
  struct stat before;
  ASSERT_EQ(stat(file.c_str(), &before), 0);
  EXPECT_FALSE(ini_.WritePrivateProfileStringA("A", "a", "2", "C:\\probe\\ro.ini"));
  EXPECT_FALSE(ini_.WritePrivateProfileStringA("A", "new", "2", "C:\\probe\\ro.ini"));
  EXPECT_EQ(*ReadFile(file), "[A]\r\na=1\r\n");
  struct stat after;
  ASSERT_EQ(stat(file.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(ProbeFiles(), std::vector<std::string>{"ro.ini"});
  EXPECT_EQ(Read("A", "a", "C:\\probe\\ro.ini"), "1");
}

TEST_F(IniProfileDisk, DirectoryOrUnmappablePathIsNoFile) {
  fs::create_directory(prefix_.Probe() / "sub.ini");
  EXPECT_FALSE(ini_.WritePrivateProfileStringA("A", "a", "1", "C:\\probe\\sub.ini"));
  EXPECT_EQ(Read("A", "a", "C:\\probe\\sub.ini"), kSentinel);
  EXPECT_FALSE(ini_.WritePrivateProfileStringA("A", "a", "1", "Q:\\nodrive\\x.ini"));
  EXPECT_FALSE(ini_.WritePrivateProfileStringA("A", "a", "1", "\\\\server\\share\\x.ini"));
  EXPECT_FALSE(ini_.WritePrivateProfileStringA("A", "a", "1", ""));
  EXPECT_EQ(Read("A", "a", ""), kSentinel);
  EXPECT_TRUE(fs::is_directory(prefix_.Probe() / "sub.ini"));
}

TEST_F(IniProfileDisk, WritingThroughASymbolicLinkChangesTheTargetAndKeepsTheLink) {
  WriteFile(prefix_.Probe() / "real.ini", "[A]\r\na=1\r\n");
  fs::create_symlink("real.ini", prefix_.Probe() / "link.ini");
  ASSERT_TRUE(ini_.WritePrivateProfileStringA("A", "a", "2", "C:\\probe\\link.ini"));
  EXPECT_TRUE(fs::is_symlink(prefix_.Probe() / "link.ini"));
  EXPECT_EQ(*ReadFile(prefix_.Probe() / "real.ini"), "[A]\r\na=2\r\n");
}

TEST_F(IniProfileDisk, NamesMatchHostFilesWithoutRegardToCase) {
  WriteFile(prefix_.Root() + "/drive_c/windows/NoltData.ini", "[AdoMand]\r\nVersion=6.4\r\n");
  EXPECT_EQ(Read("AdoMand", "Version", "noltdata.INI"), "6.4");
  ASSERT_TRUE(ini_.WritePrivateProfileStringA("AdoMand", "DBName", "X", "NOLTDATA.ini"));
  EXPECT_EQ(*ReadFile(prefix_.Root() + "/drive_c/windows/NoltData.ini"),
            "[AdoMand]\r\nVersion=6.4\r\nDBName=X\r\n");
  EXPECT_FALSE(fs::exists(prefix_.Root() + "/drive_c/windows/NOLTDATA.ini"));
}

TEST_F(IniProfileDisk, OversizedFileReadsAsMissingAndIsNotRewritten) {
  const fs::path file = prefix_.Probe() / "big.ini";
  std::string big = "[A]\r\na=1\r\n";
  big.resize(IniProfileFiles::kMaxFileSize + 1, ';');
  WriteFile(file, big);
  EXPECT_EQ(Read("A", "a", "C:\\probe\\big.ini"), kSentinel);
  EXPECT_FALSE(ini_.WritePrivateProfileStringA("A", "a", "2", "C:\\probe\\big.ini"));
  EXPECT_EQ(fs::file_size(file), big.size());
}

TEST_F(IniProfileDisk, DeletingFromAMissingFileCreatesNothing) {
  EXPECT_TRUE(ini_.WritePrivateProfileStringA("A", "a", std::nullopt, "C:\\probe\\none.ini"));
  EXPECT_TRUE(
      ini_.WritePrivateProfileStringA("A", std::nullopt, std::nullopt, "C:\\probe\\none.ini"));
  EXPECT_TRUE(ProbeFiles().empty());
}

TEST_F(IniProfileDisk, Utf8NamesOfHostFilesAreFoundFromCodePage1252) {
  fs::create_directories(prefix_.Root() + "/drive_c/M\xC3\xBCller");
  ASSERT_TRUE(ini_.WritePrivateProfileStringA("S", "k", "v", "C:\\M\xFCller\\x.ini"));
  EXPECT_EQ(*ReadFile(prefix_.Root() + "/drive_c/M\xC3\xBCller/x.ini"), "[S]\r\nk=v\r\n");
}

// The profile operations of the run over these files.
// With no client directory yet, both operations use the Windows directory.
TEST(NoltDataIniOnDisk, EmptyClientDirectoryMeansTheWindowsDirectory) {
  TestWinePrefix prefix;
  IniProfileFiles ini{WinePaths(prefix.Root())};
  testing::RefusingPlatform host;
  Platform& platform = host.Use(ini).Get();
  KwandorModul m;
  EXPECT_EQ(NoltDataIniRead(platform, m, "AdoMand", "DBExtension", ".mdb"), ".mdb");
  std::ifstream in(prefix.Windows() / "NoltData.ini", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "[AdoMand]\r\nDBExtension=.mdb\r\n");

  m.MandantDir = "C:\\probe\\";
  NoltDataIniWrite(platform, m, "AdoMand", "Version", "6.4");
  EXPECT_TRUE(std::filesystem::exists(prefix.Probe() / "NoltData.ini"));
  EXPECT_EQ(NoltDataIniRead(platform, m, "AdoMand", "Version", "0.0"), "6.4");
  // A client directory that does not exist: default, nothing created.
  m.MandantDir = "C:\\Daten\\Fehlt\\";
  EXPECT_EQ(NoltDataIniRead(platform, m, "AdoMand", "Version", "0.0"), "0.0");
  EXPECT_FALSE(std::filesystem::exists(prefix.DriveC() / "Daten"));
}

}  // namespace
}  // namespace kw
