#pragma once
// The promise of the rollback journal, checked on one input of arbitrary
// bytes (for the fuzz target and its replay in the unit tests): a file
// whose pages do not all fit the journal is never written. The bytes choose
// a file, an interrupted group (its journal, and what of it reached the
// file), then what happened since: sectors overwritten, the file grown or
// cut, the journal damaged or cut. The expected outcome is worked out here
// from the pages themselves, without the journal's checksums.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/jet/file_page_store.h"
#include "platform/jet/journal.h"
#include "platform/jet/memory_store_files.h"
#include "platform/run_error.h"

namespace kw::jet::journal_fit {

class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : p_(data), n_(size) {}
  uint8_t Next() { return n_ == 0 ? 0 : (--n_, *p_++); }
  uint32_t Next32() { return Next() | Next() << 8 | Next() << 16 | static_cast<uint32_t>(Next()) << 24; }
  bool Done() const { return n_ == 0; }

 private:
  const uint8_t* p_;
  size_t n_;
};

inline void Fill(uint8_t* out, size_t size, uint32_t seed) {
  uint32_t x = seed * 2654435761u + 0x9E3779B9u;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = static_cast<uint8_t>(x);
  }
}

// What the input came to.
enum class Outcome { kNoGroup, kJournalDamaged, kRefused, kRolledBack };

struct Result {
  std::string broken;  // empty when the promise held; otherwise what broke it
  Outcome outcome = Outcome::kNoGroup;
};

inline Result Check(const uint8_t* data, size_t size) {
  constexpr size_t kSector = 512, kPage = 4096;
  Bytes in(data, size);
  const uint32_t pages = 1 + in.Next() % 12;
  std::vector<uint8_t> original(pages * kPage);
  Fill(original.data(), original.size(), in.Next32());

  // The group: changed pages and appended ones, their content as written.
  std::map<uint32_t, std::vector<uint8_t>> after;
  for (uint32_t n = 0; n < pages; ++n) {
    if (in.Next() % 3 != 0) continue;
    std::vector<uint8_t>& page = after[n];
    page = std::vector<uint8_t>(original.begin() + n * kPage, original.begin() + (n + 1) * kPage);
    // A few sectors changed, as a row's change touches part of a page.
    for (uint8_t k = in.Next() % 4 + 1; k > 0; --k) Fill(page.data() + (in.Next() % 8) * kSector, kSector, in.Next32());
  }
  const uint32_t appended = in.Next() % 3;
  for (uint32_t n = pages; n < pages + appended; ++n) {
    after[n].resize(kPage);
    Fill(after[n].data(), kPage, in.Next32());
  }
  if (after.empty()) return {};
  std::vector<journal::Change> changes;
  for (const auto& [n, page] : after) changes.push_back({n, n < pages ? original.data() + n * kPage : nullptr, page.data()});
  const std::vector<uint8_t> journalBytes = journal::Build(original.size(), original.data(), changes);

  // What the interruption left: each sector of the group written or not;
  // the file grown as far as the group got.
  MemoryFiles files{original, journalBytes};
  std::vector<uint8_t>& file = files.database;
  const uint8_t reached = in.Next();
  file.resize((pages + (appended ? reached % (appended + 1) : 0)) * kPage, 0);
  for (const auto& [n, page] : after) {
    if ((n + 1) * kPage > file.size()) continue;
    for (size_t s = 0; s < kPage / kSector; ++s)
      if (in.Next() & 1) std::memcpy(file.data() + n * kPage + s * kSector, page.data() + s * kSector, kSector);
  }
  // What happened since.
  for (uint8_t k = in.Next() % 4; k > 0 && !in.Done(); --k) {
    switch (in.Next() % 5) {
      case 0:  // a sector anywhere overwritten by someone else
        if (file.size() >= kSector) Fill(file.data() + (in.Next32() % (file.size() / kSector)) * kSector, kSector, in.Next32());
        break;
      case 1:  // the file grown or cut
        file.resize(in.Next32() % ((pages + 4) * kPage), 0x5A);
        break;
      case 2:  // a byte of the journal damaged
        if (!files.journal->empty()) (*files.journal)[in.Next32() % files.journal->size()] ^= static_cast<uint8_t>(1 + in.Next() % 255);
        break;
      case 3:  // the journal cut short
        if (!files.journal->empty()) files.journal->resize(in.Next32() % files.journal->size());
        break;
      default:  // part of a page made that of another file's page 0
        if (file.size() >= kPage) Fill(file.data(), kSector, in.Next32());
        break;
    }
  }

  // Whether the file fits, from the pages themselves.
  const uint64_t newSize = (pages + appended) * uint64_t{kPage};
  bool fits = file.size() >= original.size() && file.size() <= newSize;
  bool page0Covered = false;
  for (const auto& [n, page] : after) {
    if (!fits) break;
    page0Covered = page0Covered || n == 0;
    if ((n + 1) * kPage > file.size()) continue;
    for (size_t s = 0; s < kPage / kSector && fits; ++s) {
      const uint8_t* now = file.data() + n * kPage + s * kSector;
      const bool wasBefore = n < pages ? std::memcmp(now, original.data() + n * kPage + s * kSector, kSector) == 0
                                       : std::all_of(now, now + kSector, [](uint8_t b) { return b == 0; });
      fits = wasBefore || std::memcmp(now, page.data() + s * kSector, kSector) == 0;
    }
  }
  if (fits && !page0Covered) fits = std::memcmp(file.data(), original.data(), kPage) == 0;
  const bool journalIntact = files.journal == journalBytes;

  const MemoryFiles before = files;
  bool opened = true;
  try {
    FilePageStore::Open(std::make_unique<MemoryStoreFiles>(files), "D:\\Daten\\Public.mdb");
  } catch (const RunError&) {
    opened = false;
  }
  if (!journalIntact) {
    return {files.database == before.database ? "" : "the file was written after a damaged journal",
            Outcome::kJournalDamaged};
  }
  if (!fits) {
    Result r{"", Outcome::kRefused};
    if (opened) r.broken = "a file that does not fit its journal was opened";
    else if (files.database != before.database) r.broken = "a file that does not fit its journal was written";
    else if (files.journal != before.journal) r.broken = "the journal of a file that does not fit it was changed";
    return r;
  }
  std::vector<uint8_t> expected = before.database;
  expected.resize(original.size());
  for (const auto& [n, page] : after)
    if (n < pages) std::memcpy(expected.data() + n * kPage, original.data() + n * kPage, kPage);
  Result r{"", Outcome::kRolledBack};
  if (!opened) r.broken = "a file that fits its journal was refused";
  else if (files.database != expected) r.broken = "the file was not put back as it was before the group";
  else if (files.journal) r.broken = "the journal was kept after its rollback";
  return r;
}

}  // namespace kw::jet::journal_fit
