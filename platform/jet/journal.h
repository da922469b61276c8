#pragma once
// The rollback journal of the file page store: what a group is about to
// overwrite, kept beside the database until the group is durable.
//
// Layout (little-endian): a 32-byte header ("KWJETJNL", version 1, page
// size, original file size in bytes, record count, zero); the records, each
// a page number, four zero bytes and the page's original 4096 bytes; a
// 16-byte trailer ("KWJNLEND" and a checksum of everything before it). A
// journal is complete only when its size, both magics and the checksum
// agree; anything less was cut short before the file was touched.
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace kw::jet::journal {

inline constexpr uint64_t kHeaderSize = 32;
inline constexpr uint64_t kRecordSize = 8 + 4096;
inline constexpr uint64_t kTrailerSize = 16;

using PageImage = std::pair<uint32_t, const uint8_t*>;  // page number, 4096 bytes

// The whole journal for a group: the original size and pages.
std::vector<uint8_t> Build(uint64_t originalSize, const std::vector<PageImage>& originals);

enum class State {
  kComplete,    // roll it back
  kIncomplete,  // cut short or not ours: the file was never touched
  kDamaged,     // checksum right but content impossible: touch nothing
  kUnreadable,  // a read failed
};

struct Header {
  uint64_t originalSize = 0;
  uint32_t records = 0;
};

// Reads `size` bytes at `offset` into `out`; false when the read fails.
using ReadAt = std::function<bool(uint64_t offset, size_t size, uint8_t* out)>;

// Checks a journal of `size` bytes, reading it in bounded pieces.
State Check(uint64_t size, const ReadAt& read, Header& header);

// Calls `restore` with each record's page number and bytes, in order;
// stops with false when a read or `restore` fails.
bool ForEachRecord(const Header& header, const ReadAt& read,
                   const std::function<bool(uint32_t page, const uint8_t* bytes)>& restore);

}  // namespace kw::jet::journal
