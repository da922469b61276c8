#pragma once
// For tests: a fresh folder in the system's temporary folder, removed with
// everything in it at the end. The same on every platform.
#include <filesystem>
#include <string>
#include <string_view>

namespace kw::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder, or a name inside it.
  std::string Path(std::string_view name = {}) const;
  std::string operator/(std::string_view name) const { return Path(name); }
  const std::filesystem::path& Root() const { return root_; }

 private:
  std::filesystem::path root_;
};

}  // namespace kw::testing
