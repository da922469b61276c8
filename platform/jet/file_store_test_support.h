#pragma once
// Helpers of the file page store's tests: a scratch folder, whole-file
// reads and writes, and recognisable page contents.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/jet/page_store.h"
#include "tests/support/temp_dir.h"

namespace kw::jet::testing {

using ScratchDir = kw::testing::TempDir;

inline std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found;
}

// What lies in a journal's place: nothing, a spent journal (its group done;
// the next open removes it), a live one (of a group in the middle of its
// commit; the next open rolls it back) or anything else.
enum class JournalLeft { kNone, kSpent, kLive, kOther };
inline JournalLeft JournalAt(const std::string& path) {
  if (!Exists(path)) return JournalLeft::kNone;
  const std::vector<uint8_t> j = ReadAll(path);
  if (j.size() < 8) return JournalLeft::kOther;
  if (std::all_of(j.begin(), j.begin() + 8, [](uint8_t b) { return b == 0; })) return JournalLeft::kSpent;
  return std::equal(j.begin(), j.begin() + 8, "KWJETJNL") ? JournalLeft::kLive : JournalLeft::kOther;
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
