#pragma once
// The rollback journal of the file page store: what one write group is about
// to change, kept beside the database until the group is durable. It is
// rolled back only onto the file it was written for, and only while every
// page it covers still holds what this program left there.
//
// Layout (little-endian; every piece a multiple of 8 bytes):
//   header, 48 bytes: "KWJETJNL", version (2), page size (4096), the file's
//     size before the group, its size after the group, the number of
//     changed pages, the number of appended pages, the checksum of page 0
//     before the group (what identifies the file);
//   one record per changed page of the file, in page order: page number,
//     4 zero bytes, the checksums of the page's eight 512-byte sectors as
//     the group writes them (64 bytes), the page's 4096 bytes before;
//   one record per page the group appends, in page order: page number,
//     4 zero bytes, the checksums of its sectors as written;
//   trailer, 16 bytes: "KWJNLEND" and the checksum of everything before it.
// A journal is whole only when its size, both magics and the trailer's
// checksum agree; anything less was cut short before the file was touched.
// A journal whose group is done is spent: its magic is cleared, so that it
// reads as cut short, and the next group writes its own over it.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kw::jet::journal {

inline constexpr uint64_t kHeaderSize = 48;
inline constexpr uint64_t kSectorSize = 512;
inline constexpr uint64_t kSectors = 4096 / kSectorSize;
inline constexpr uint64_t kChangedRecordSize = 8 + 8 * kSectors + 4096;
inline constexpr uint64_t kAppendedRecordSize = 8 + 8 * kSectors;
inline constexpr uint64_t kTrailerSize = 16;
inline constexpr size_t kMagicSize = 8;  // cleared in a spent journal

// One page of a group: its number, its bytes before (null for a page the
// group appends) and as the group writes it.
struct Change {
  uint32_t page = 0;
  const uint8_t* before = nullptr;
  const uint8_t* after = nullptr;
};

// The whole journal of a group that changes the file of `originalSize`
// bytes whose page 0 is `page0`; `changes` in page order.
std::vector<uint8_t> Build(uint64_t originalSize, const uint8_t* page0,
                           const std::vector<Change>& changes);
// The same into `out`, whose room is kept from group to group.
void Build(uint64_t originalSize, const uint8_t* page0, const std::vector<Change>& changes,
           std::vector<uint8_t>& out);

// A checksum of `size` bytes (a multiple of 8) that tells any change of
// them apart but by chance of one in 2^64.
uint64_t Checksum(const uint8_t* data, size_t size);

enum class State {
  kComplete,    // whole and sound: may be rolled back if it fits the file
  kIncomplete,  // cut short or not a journal: the file was never touched
  kDamaged,     // whole, but its content is impossible: touch nothing
  kForeign,     // whole, in a format of another version: touch nothing
  kUnreadable,  // a read failed
};

struct Header {
  uint64_t originalSize = 0;
  uint64_t newSize = 0;
  uint32_t changed = 0;
  uint32_t appended = 0;
  uint64_t page0Checksum = 0;
};

// Reads `size` bytes at `offset` into `out`; false when the read fails.
using ReadAt = std::function<bool(uint64_t offset, size_t size, uint8_t* out)>;

// Checks a journal of `size` bytes, reading it in bounded pieces.
State Check(uint64_t size, const ReadAt& read, Header& header);

// Whether the file (`fileSize` bytes, read by `readFile`) is the one the
// complete journal was written for, with every page it covers holding, sector
// by sector, either its content before the group or the content the group
// wrote (a page the group appended may also still be zeros). Empty when it
// fits; otherwise what does not fit. False from `readable` when a read failed.
std::string Misfit(const Header& header, const ReadAt& readJournal, uint64_t fileSize,
                   const ReadAt& readFile, bool& readable);

// Calls `restore` with each changed page's number and bytes before, in
// order; stops with false when a read or `restore` fails.
bool ForEachChanged(const Header& header, const ReadAt& read,
                    const std::function<bool(uint32_t page, const uint8_t* before)>& restore);

}  // namespace kw::jet::journal
