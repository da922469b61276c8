#include "tests/support/temp_dir.h"

#include <random>
#include <stdexcept>

namespace kw::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
  static std::mt19937_64 random{std::random_device{}()};
  const fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = base / ("kw_test_" + std::to_string(random() % 1000000000000ULL));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      root_ = candidate;
      // Readable by all, so that tests opening files as another user get in.
      fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec, ec);
      return;
    }
  }
  throw std::runtime_error("no temporary folder could be made in " + base.string());
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests make files and folders read-only; they go all the same.
  for (auto it = fs::recursive_directory_iterator(root_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    std::error_code ignored;
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add | fs::perm_options::nofollow, ignored);
  }
  fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(root_, ec);
}

std::string TempDir::Path(std::string_view name) const {
  return name.empty() ? root_.string() : (root_ / fs::path(name)).string();
}

}  // namespace kw::testing
