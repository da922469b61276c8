#include "platform/jet/journal.h"

#include <algorithm>
#include <cstring>

#include "platform/jet/page_store.h"

namespace kw::jet::journal {
namespace {

constexpr char kMagic[8] = {'K', 'W', 'J', 'E', 'T', 'J', 'N', 'L'};
constexpr char kEndMagic[8] = {'K', 'W', 'J', 'N', 'L', 'E', 'N', 'D'};
constexpr uint32_t kVersion = 1;
// Records read at a time while checking or restoring.
constexpr uint64_t kChunkRecords = 32;

void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const uint8_t* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
uint64_t Get64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// A running checksum over whole 8-byte words; every piece of the journal
// before the trailer is a multiple of 8 bytes long.
class Checksum {
 public:
  void Add(const uint8_t* p, size_t size) {
    for (size_t i = 0; i + 8 <= size; i += 8) {
      h_ ^= Get64(p + i);
      h_ *= 0x9E3779B97F4A7C15ull;
      h_ ^= h_ >> 29;
    }
  }
  uint64_t Value() const { return h_; }

 private:
  uint64_t h_ = 0xCBF29CE484222325ull;
};

}  // namespace

std::vector<uint8_t> Build(uint64_t originalSize, const std::vector<PageImage>& originals) {
  std::vector<uint8_t> out(kHeaderSize + originals.size() * kRecordSize + kTrailerSize, 0);
  uint8_t* p = out.data();
  std::memcpy(p, kMagic, 8);
  Put32(p + 8, kVersion);
  Put32(p + 12, kPageSize);
  Put64(p + 16, originalSize);
  Put32(p + 24, static_cast<uint32_t>(originals.size()));
  p += kHeaderSize;
  for (const auto& [page, bytes] : originals) {
    Put32(p, page);
    std::memcpy(p + 8, bytes, kPageSize);
    p += kRecordSize;
  }
  Checksum sum;
  sum.Add(out.data(), static_cast<size_t>(p - out.data()));
  std::memcpy(p, kEndMagic, 8);
  Put64(p + 8, sum.Value());
  return out;
}

State Check(uint64_t size, const ReadAt& read, Header& header) {
  if (size < kHeaderSize + kTrailerSize) return State::kIncomplete;
  uint8_t head[kHeaderSize];
  if (!read(0, sizeof head, head)) return State::kUnreadable;
  if (std::memcmp(head, kMagic, 8) != 0 || Get32(head + 8) != kVersion ||
      Get32(head + 12) != kPageSize) {
    return State::kIncomplete;
  }
  header.originalSize = Get64(head + 16);
  header.records = Get32(head + 24);
  if (size != kHeaderSize + header.records * kRecordSize + kTrailerSize) return State::kIncomplete;

  Checksum sum;
  sum.Add(head, sizeof head);
  std::vector<uint8_t> chunk(static_cast<size_t>(kChunkRecords * kRecordSize));
  for (uint64_t done = 0; done < header.records;) {
    const uint64_t n = std::min<uint64_t>(kChunkRecords, header.records - done);
    const size_t bytes = static_cast<size_t>(n * kRecordSize);
    if (!read(kHeaderSize + done * kRecordSize, bytes, chunk.data())) return State::kUnreadable;
    sum.Add(chunk.data(), bytes);
    done += n;
  }
  uint8_t tail[kTrailerSize];
  if (!read(size - kTrailerSize, sizeof tail, tail)) return State::kUnreadable;
  if (std::memcmp(tail, kEndMagic, 8) != 0 || Get64(tail + 8) != sum.Value()) {
    return State::kIncomplete;
  }
  // Written by this store, whole: it must describe pages of the original file.
  if (header.originalSize % kPageSize != 0) return State::kDamaged;
  const uint64_t pages = header.originalSize / kPageSize;
  bool fits = true;
  const bool readable = ForEachRecord(header, read, [&](uint32_t page, const uint8_t*) {
    fits = fits && page < pages;
    return true;
  });
  if (!readable) return State::kUnreadable;
  return fits ? State::kComplete : State::kDamaged;
}

bool ForEachRecord(const Header& header, const ReadAt& read,
                   const std::function<bool(uint32_t page, const uint8_t* bytes)>& restore) {
  std::vector<uint8_t> chunk(static_cast<size_t>(kChunkRecords * kRecordSize));
  for (uint64_t done = 0; done < header.records;) {
    const uint64_t n = std::min<uint64_t>(kChunkRecords, header.records - done);
    if (!read(kHeaderSize + done * kRecordSize, static_cast<size_t>(n * kRecordSize),
              chunk.data())) {
      return false;
    }
    for (uint64_t i = 0; i < n; ++i) {
      const uint8_t* record = chunk.data() + i * kRecordSize;
      if (!restore(Get32(record), record + 8)) return false;
    }
    done += n;
  }
  return true;
}

}  // namespace kw::jet::journal
