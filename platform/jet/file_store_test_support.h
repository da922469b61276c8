#pragma once
// Helpers of the file page store's tests: a scratch folder, whole-file
// reads and writes, and recognisable page contents.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/jet/page_store.h"

namespace kw::jet::testing {

class ScratchDir {
 public:
  ScratchDir() {
    char tmpl[] = "/tmp/kw_jet_store.XXXXXX";
    if (mkdtemp(tmpl) == nullptr) ADD_FAILURE() << "mkdtemp";
    path_ = tmpl;
    chmod(path_.c_str(), 0755);  // tests that open as another user pass through
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

inline std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// A page whose every byte depends on `seed` and its position.
inline PageBytes Pattern(uint32_t seed) {
  PageBytes page;
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : page) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x);
  }
  return page;
}

// A file of `pages` pages, page i filled by Pattern(i).
inline std::vector<uint8_t> PatternFile(uint32_t pages) {
  std::vector<uint8_t> bytes;
  for (uint32_t i = 0; i < pages; ++i) {
    const PageBytes p = Pattern(i);
    bytes.insert(bytes.end(), p.begin(), p.end());
  }
  return bytes;
}

}  // namespace kw::jet::testing
