// kernel32's profile functions, as the Windows build calls them, against
// the results recorded from the same API (tests/data/oracle): every
// recorded read and write must come out as recorded, the files afterwards
// byte for byte.
#include "platform/win32/win32_profile.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "config/profile.h"
#include "tests/support/oracle.h"
#include "tests/support/refusing_platform.h"

namespace kw {
namespace {

namespace fs = std::filesystem;
using testing::json;

// The recording's probe ran in C:\probe; names without a drive are there.
std::string WindowsPath(std::string path) {
  if (path.size() >= 2 && path[1] == ':') return path;
  if (path.rfind(".\\", 0) == 0) path = path.substr(2);
  return "C:\\probe\\" + path;
}

const testing::ProfileFilesAt kFiles = {
    [](const std::string& path, const std::string& bytes) {
      std::ofstream(WindowsPath(path), std::ios::binary) << bytes;
    },
    [](const std::string& path) -> std::optional<std::string> {
      std::ifstream in(WindowsPath(path), std::ios::binary);
      if (!in) return std::nullopt;
      std::stringstream s;
      s << in.rdbuf();
      return s.str();
    }};

// A clean C:\probe as the current directory, and no file of the case left
// in C:\windows afterwards.
class ProbeFolder {
 public:
  explicit ProbeFolder(const json& e) : entry_(e) {
    Clean();
    fs::create_directories("C:\\probe");
    SetCurrentDirectoryA("C:\\probe");
  }
  ~ProbeFolder() {
    SetCurrentDirectoryA("C:\\");
    Clean();
  }

 private:
  void Clean() {
    std::error_code ec;
    fs::remove_all("C:\\probe", ec);
    std::vector<std::string> names = {*testing::Latin1(entry_["path"])};
    if (entry_.contains("other_files"))
      for (const auto& [path, hex] : entry_["other_files"].items()) names.push_back(path);
    if (entry_.contains("file_found_at") && entry_["file_found_at"].is_array())
      for (const auto& path : entry_["file_found_at"]) names.push_back(path.get<std::string>());
    for (const std::string& name : names) {
      const std::string base = fs::path(WindowsPath(name)).filename().string();
      fs::remove("C:\\windows\\" + base, ec);
    }
  }
  const json& entry_;
};

// Reads and writes in one test: both need C:\probe to themselves.
TEST(Win32ProfileOracle, EveryRecordedCallGivesWhatTheApiGaveWhenRecorded) {
  Win32ProfileFiles profiles;
  int reads = 0, writes = 0;
  for (const json& e : testing::Oracle("ini_golden.json")) {
    SCOPED_TRACE(e["case"].get<std::string>() + " " + e["section"].dump() + " " + e["key"].dump());
    ProbeFolder probe(e);
    testing::LayDownProfileCase(kFiles, e);
    if (e["op"] == "read") {
      testing::ReplayProfileRead(profiles, e);
      ++reads;
      continue;
    }
    const std::optional<std::string> after = testing::ReplayProfileWrite(profiles, kFiles, e);
    if (e["file_after_hex"].is_null()) {
      EXPECT_FALSE(after.has_value());
    } else {
      ASSERT_TRUE(after.has_value());
      EXPECT_EQ(testing::Hex(*after), e["file_after_hex"].get<std::string>());
    }
    ++writes;
  }
  EXPECT_EQ(reads, 111);
  EXPECT_EQ(writes, 29);
}

// The run's reads of section "AdoMand" before the client pass go to the
// Windows directory's NoltData.ini, which the default is written into.
TEST(Win32Profile, TheRunsBareFileNameIsTheWindowsDirectorysFile) {
  std::error_code ec;
  fs::remove("C:\\windows\\NoltData.ini", ec);
  Win32ProfileFiles profiles;
  testing::RefusingPlatform host{profiles};
  KwandorModul m;
  EXPECT_EQ(NoltDataIniRead(host.Get(), m, "AdoMand", "DBName", "NoltData"), "NoltData");
  std::ifstream in("C:\\windows\\NoltData.ini", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "[AdoMand]\r\nDBName=NoltData\r\n");
  EXPECT_EQ(NoltDataIniRead(host.Get(), m, "AdoMand", "DBName", "other"), "NoltData");
  fs::remove("C:\\windows\\NoltData.ini", ec);
}

}  // namespace
}  // namespace kw
