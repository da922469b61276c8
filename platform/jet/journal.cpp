#include "platform/jet/journal.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/jet/page_store.h"

namespace kw::jet::journal {
namespace {

constexpr char kMagic[8] = {'K', 'W', 'J', 'E', 'T', 'J', 'N', 'L'};
constexpr char kEndMagic[8] = {'K', 'W', 'J', 'N', 'L', 'E', 'N', 'D'};
constexpr uint32_t kVersion = 2;
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

// A running checksum over whole 8-byte words: each word is multiplied into
// the state and rotated, and the end mixes the length in and spreads every
// bit over the result.
class Sum {
 public:
  Sum& Add(const uint8_t* p, size_t size) {
    for (size_t i = 0; i + 8 <= size; i += 8) Step(Word(p + i));
    length_ += size;
    return *this;
  }
  // The sums of the kSectors sectors of one page, taken side by side (the
  // same values as one sector after the other, in less time).
  static void OfSectors(const uint8_t* page, uint64_t (&out)[kSectors]) {
    Sum sums[kSectors];
    for (size_t i = 0; i < kSectorSize; i += 8)
      for (uint64_t s = 0; s < kSectors; ++s) sums[s].Step(Word(page + s * kSectorSize + i));
    for (uint64_t s = 0; s < kSectors; ++s) {
      sums[s].length_ = kSectorSize;
      out[s] = sums[s].Value();
    }
  }
  uint64_t Value() const {
    uint64_t h = h_ ^ length_;
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    return h ^ (h >> 33);
  }

 private:
  void Step(uint64_t word) {
    h_ ^= word * 0x9E3779B97F4A7C15ull;
    h_ = ((h_ << 31) | (h_ >> 33)) * 0xC2B2AE3D27D4EB4Full + 0x165667B19E3779F9ull;
  }
  // Get64 in one load where the machine is little-endian itself.
  static uint64_t Word(const uint8_t* p) {
    if constexpr (std::endian::native != std::endian::little) return Get64(p);
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }

  uint64_t h_ = 0x27D4EB2F165667C5ull;
  uint64_t length_ = 0;
};

bool AllZero(const uint8_t* p, size_t size) {
  return std::all_of(p, p + size, [](uint8_t b) { return b == 0; });
}

// Calls `visit` with each record of one kind (`count` records of `size`
// bytes from `offset`), read in bounded pieces.
bool ForEachRecord(uint64_t offset, uint32_t count, uint64_t size, const ReadAt& read,
                   const std::function<bool(const uint8_t* record)>& visit) {
  std::vector<uint8_t> chunk(static_cast<size_t>(kChunkRecords * size));
  for (uint64_t done = 0; done < count;) {
    const uint64_t n = std::min<uint64_t>(kChunkRecords, count - done);
    if (!read(offset + done * size, static_cast<size_t>(n * size), chunk.data())) return false;
    for (uint64_t i = 0; i < n; ++i) {
      if (!visit(chunk.data() + i * size)) return false;
    }
    done += n;
  }
  return true;
}

uint64_t AppendedOffset(const Header& h) { return kHeaderSize + uint64_t{h.changed} * kChangedRecordSize; }

}  // namespace

uint64_t Checksum(const uint8_t* data, size_t size) { return Sum().Add(data, size).Value(); }

std::vector<uint8_t> Build(uint64_t originalSize, const uint8_t* page0, const std::vector<Change>& changes) {
  std::vector<uint8_t> out;
  Build(originalSize, page0, changes, out);
  return out;
}

void Build(uint64_t originalSize, const uint8_t* page0, const std::vector<Change>& changes,
           std::vector<uint8_t>& out) {
  uint32_t changed = 0, appended = 0;
  uint64_t newSize = originalSize;
  for (const Change& c : changes) {
    (c.before ? changed : appended) += 1;
    newSize = std::max(newSize, (uint64_t{c.page} + 1) * kPageSize);
  }
  // Every byte is written below, so the room kept from before needs no clearing.
  out.resize(kHeaderSize + changed * kChangedRecordSize + appended * kAppendedRecordSize + kTrailerSize);
  uint8_t* p = out.data();
  std::memcpy(p, kMagic, 8);
  Put32(p + 8, kVersion);
  Put32(p + 12, kPageSize);
  Put64(p + 16, originalSize);
  Put64(p + 24, newSize);
  Put32(p + 32, changed);
  Put32(p + 36, appended);
  Put64(p + 40, page0 ? Checksum(page0, kPageSize) : 0);
  p += kHeaderSize;
  for (bool before : {true, false}) {
    for (const Change& c : changes) {
      if ((c.before != nullptr) != before) continue;
      Put32(p, c.page);
      Put32(p + 4, 0);
      uint64_t sectors[kSectors];
      Sum::OfSectors(c.after, sectors);
      for (uint64_t s = 0; s < kSectors; ++s) Put64(p + 8 + 8 * s, sectors[s]);
      if (before) std::memcpy(p + 8 + 8 * kSectors, c.before, kPageSize);
      p += before ? kChangedRecordSize : kAppendedRecordSize;
    }
  }
  const uint64_t sum = Checksum(out.data(), static_cast<size_t>(p - out.data()));
  std::memcpy(p, kEndMagic, 8);
  Put64(p + 8, sum);
}

State Check(uint64_t size, const ReadAt& read, Header& header) {
  if (size < kHeaderSize + kTrailerSize) return State::kIncomplete;
  uint8_t head[kHeaderSize];
  if (!read(0, sizeof head, head)) return State::kUnreadable;
  if (std::memcmp(head, kMagic, 8) != 0) return State::kIncomplete;
  // A journal of another version has its own layout: whole or not, it is
  // neither rolled back nor thrown away.
  if (Get32(head + 8) != kVersion) return State::kForeign;
  if (Get32(head + 12) != kPageSize) return State::kIncomplete;
  header.originalSize = Get64(head + 16);
  header.newSize = Get64(head + 24);
  header.changed = Get32(head + 32);
  header.appended = Get32(head + 36);
  header.page0Checksum = Get64(head + 40);
  if (size != AppendedOffset(header) + uint64_t{header.appended} * kAppendedRecordSize + kTrailerSize)
    return State::kIncomplete;

  Sum sum;
  sum.Add(head, sizeof head);
  std::vector<uint8_t> chunk(static_cast<size_t>(kChunkRecords * kChangedRecordSize));
  const uint64_t body = size - kTrailerSize;
  for (uint64_t at = kHeaderSize; at < body;) {
    const size_t bytes = static_cast<size_t>(std::min<uint64_t>(chunk.size(), body - at));
    if (!read(at, bytes, chunk.data())) return State::kUnreadable;
    sum.Add(chunk.data(), bytes);
    at += bytes;
  }
  uint8_t tail[kTrailerSize];
  if (!read(size - kTrailerSize, sizeof tail, tail)) return State::kUnreadable;
  if (std::memcmp(tail, kEndMagic, 8) != 0 || Get64(tail + 8) != sum.Value()) return State::kIncomplete;

  // Written by this store, whole: it must describe pages of the file in
  // order, changed ones within the file before, appended ones after it.
  if (header.originalSize % kPageSize != 0 || header.newSize % kPageSize != 0 ||
      header.newSize < header.originalSize)
    return State::kDamaged;
  const uint64_t before = header.originalSize / kPageSize, after = header.newSize / kPageSize;
  uint64_t next = 0;
  bool ordered = true;
  auto inRange = [&](uint64_t first, uint64_t end) {
    return [&, first, end](const uint8_t* record) {
      const uint64_t page = Get32(record);
      ordered = ordered && page >= std::max(next, first) && page < end;
      next = page + 1;
      return true;
    };
  };
  if (!ForEachRecord(kHeaderSize, header.changed, kChangedRecordSize, read, inRange(0, before)) ||
      !ForEachRecord(AppendedOffset(header), header.appended, kAppendedRecordSize, read, inRange(before, after)))
    return State::kUnreadable;
  return ordered ? State::kComplete : State::kDamaged;
}

std::string Misfit(const Header& header, const ReadAt& readJournal, uint64_t fileSize, const ReadAt& readFile,
                   bool& readable) {
  readable = true;
  if (fileSize < header.originalSize || fileSize > header.newSize) {
    return "the file has " + std::to_string(fileSize) + " bytes, the interrupted change left " +
           (header.originalSize == header.newSize ? std::to_string(header.originalSize)
                                                  : "between " + std::to_string(header.originalSize) + " and " +
                                                        std::to_string(header.newSize));
  }
  std::vector<uint8_t> page(kPageSize);
  std::string why;
  bool page0Covered = false;
  // Each sector must hold its content before or the content written; for an
  // appended page, zeros (the file grown but the data not yet on the disk)
  // count as its content before.
  auto sectorsFit = [&](uint32_t n, const uint8_t* record, const uint8_t* before) {
    for (uint64_t s = 0; s < kSectors; ++s) {
      const uint8_t* now = page.data() + s * kSectorSize;
      const bool wasBefore = before ? std::memcmp(now, before + s * kSectorSize, kSectorSize) == 0
                                    : AllZero(now, kSectorSize);
      if (!wasBefore && Checksum(now, kSectorSize) != Get64(record + 8 + 8 * s)) {
        why = "page " + std::to_string(n) + " holds neither what it held before the interrupted change nor " +
              "what that change wrote";
        return false;
      }
    }
    return true;
  };
  auto visitChanged = [&](const uint8_t* record) {
    const uint32_t n = Get32(record);
    page0Covered = page0Covered || n == 0;
    if (!readFile(uint64_t{n} * kPageSize, kPageSize, page.data())) return readable = false;
    return sectorsFit(n, record, record + 8 + 8 * kSectors);
  };
  auto visitAppended = [&](const uint8_t* record) {
    const uint32_t n = Get32(record);
    if ((uint64_t{n} + 1) * kPageSize > fileSize) return true;  // not (wholly) written yet
    if (!readFile(uint64_t{n} * kPageSize, kPageSize, page.data())) return readable = false;
    return sectorsFit(n, record, nullptr);
  };
  if (!ForEachRecord(kHeaderSize, header.changed, kChangedRecordSize, readJournal, visitChanged) ||
      !ForEachRecord(AppendedOffset(header), header.appended, kAppendedRecordSize, readJournal, visitAppended)) {
    if (why.empty()) readable = false;
    return why;
  }
  if (!page0Covered && header.originalSize >= kPageSize) {
    if (!readFile(0, kPageSize, page.data())) {
      readable = false;
      return "";
    }
    if (Checksum(page.data(), kPageSize) != header.page0Checksum)
      return "its first page is not the one of the file the journal was written for";
  }
  return "";
}

bool ForEachChanged(const Header& header, const ReadAt& read,
                    const std::function<bool(uint32_t page, const uint8_t* before)>& restore) {
  return ForEachRecord(kHeaderSize, header.changed, kChangedRecordSize, read,
                       [&](const uint8_t* record) { return restore(Get32(record), record + 8 + 8 * kSectors); });
}

}  // namespace kw::jet::journal
