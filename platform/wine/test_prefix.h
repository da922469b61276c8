#pragma once
// For tests: a throw-away Wine-like prefix (dosdevices/c: -> drive_c, with
// C:\windows and C:\probe), and a scoped change of the current directory.
#include <filesystem>
#include <string>

#include "tests/support/temp_dir.h"

namespace kw {

class TestWinePrefix {
 public:
  TestWinePrefix() {
    root_ = dir_.Root();
    std::filesystem::create_directories(root_ / "drive_c" / "windows");
    std::filesystem::create_directories(root_ / "drive_c" / "probe");
    std::filesystem::create_directories(root_ / "dosdevices");
    std::filesystem::create_directory_symlink("../drive_c", root_ / "dosdevices" / "c:");
  }
  TestWinePrefix(const TestWinePrefix&) = delete;
  TestWinePrefix& operator=(const TestWinePrefix&) = delete;

  std::string Root() const { return root_.string(); }
  std::filesystem::path DriveC() const { return root_ / "drive_c"; }
  std::filesystem::path Windows() const { return DriveC() / "windows"; }
  std::filesystem::path Probe() const { return DriveC() / "probe"; }

 private:
  kw::testing::TempDir dir_;
  std::filesystem::path root_;
};

class ScopedCwd {
 public:
  explicit ScopedCwd(const std::filesystem::path& dir) : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~ScopedCwd() { std::filesystem::current_path(old_); }
  ScopedCwd(const ScopedCwd&) = delete;
  ScopedCwd& operator=(const ScopedCwd&) = delete;

 private:
  std::filesystem::path old_;
};

}  // namespace kw
