#include "platform/jet/usage_map.h"

#include <gtest/gtest.h>

#include "platform/jet/byte_view.h"
#include "platform/jet/data_page.h"
#include "platform/jet/memory_page_store.h"
#include "platform/run_error.h"

namespace kw::jet {
namespace {

constexpr uint32_t kPerMapPage = (kPageSize - 4) * 8;

// A file of `pages` pages whose page 3 holds one usage-map row: an inline
// map of `bitmapBytes` bytes from `firstPage` with `pages` set, or (with
// `reference`) a reference map of 17 slices with those pages.
std::vector<uint8_t> FileWithMap(uint32_t filePages, bool reference, uint32_t firstPage,
                                 const std::vector<uint32_t>& set, size_t bitmapBytes = 64) {
  std::vector<uint8_t> file(size_t{filePages} * kPageSize, 0);
  std::vector<uint8_t> row;
  auto put32 = [](std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
  };
  if (!reference) {
    row.assign(5 + bitmapBytes, 0);
    put32(row, 1, firstPage);
    for (uint32_t p : set) row[5 + (p - firstPage) / 8] |= static_cast<uint8_t>(1u << ((p - firstPage) % 8));
  } else {
    row.assign(1 + 4 * 17, 0);
    row[0] = 1;
    uint32_t next = 4;  // map pages 4, 5, ... one per slice in use
    for (uint32_t p : set) {
      const uint32_t k = p / kPerMapPage;
      uint32_t m = row[1 + 4 * k] | row[2 + 4 * k] << 8;
      if (m == 0) {
        m = next++;
        put32(row, 1 + 4 * k, m);
        file[m * kPageSize] = 0x05;
        file[m * kPageSize + 1] = 0x01;
      }
      file[m * kPageSize + 4 + (p % kPerMapPage) / 8] |= static_cast<uint8_t>(1u << (p % 8));
    }
  }
  PageBytes page;
  InitDataPage(page, 2);
  EXPECT_TRUE(AppendRow(page, row, 0));
  std::copy(page.begin(), page.end(), file.begin() + 3 * kPageSize);
  return file;
}

struct Grown {
  std::vector<uint32_t> pages;     // as the map lists them afterwards
  std::vector<uint32_t> mapPages;  // appended for the map
  bool added = false;
  uint8_t type = 0;
};

// Adds page n (the next page of the file, as the row writer appends it),
// commits, and reads the map again from the file.
Grown AddPage(const std::vector<uint8_t>& file) {
  MemoryPageStore store("D:\\Daten\\test.mdb", file);
  const UsageMap map = UsageMap::Read(store, {3, 0}, "the page map of table 'T'");
  PageEdit edit(store);
  const uint32_t n = edit.Append();
  InitDataPage(edit.Get(n), 2);
  Grown g;
  g.added = map.Add(edit, n, g.mapPages);
  store.BeginGroup();
  for (const auto& [number, bytes] : edit.Pages()) store.Write(number, bytes);
  store.Commit();
  g.pages = UsageMap::Read(store, {3, 0}, "again").Pages(store);
  PageBytes mapRow;
  store.Read(3, mapRow);
  g.type = mapRow[DataPage(mapRow, store.Name(), 3).SlotAt(0).start];
  return g;
}

TEST(UsageMapGrowth, ANewPageFarFromTheMapsRangeIsEnteredAsJetEntersIt) {
  const uint32_t big = kPerMapPage + 500;  // a file beyond the first map page's 128 MiB
  const struct {
    const char* what;
    std::vector<uint8_t> file;
    std::vector<uint32_t> pages;
    size_t newMapPages;
    uint8_t type;
  } cases[] = {
      {"inline, within its range", FileWithMap(100, false, 8, {8, 9, 40}), {8, 9, 40, 100}, 0, 0},
      {"inline, moved to start at its first page", FileWithMap(600, false, 8, {300, 301, 519}),
       {300, 301, 519, 600}, 0, 0},
      {"inline, made a reference map", FileWithMap(big, false, 8, {8, 9, 40}), {8, 9, 40, big}, 2, 1},
      {"reference, a new map page for the slice", FileWithMap(big, true, 0, {10, 11, 700}), {10, 11, 700, big}, 1, 1},
      {"reference, the slice's map page there", FileWithMap(700, true, 0, {10, 11}), {10, 11, 700}, 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Grown g = AddPage(c.file);
    EXPECT_TRUE(g.added);
    EXPECT_EQ(g.pages, c.pages);
    EXPECT_EQ(g.mapPages.size(), c.newMapPages);
    EXPECT_EQ(g.type, c.type);
    // The map pages come after the new data page, at the end of the file.
    for (size_t i = 0; i < g.mapPages.size(); ++i) EXPECT_EQ(g.mapPages[i], c.pages.back() + 1 + i);
  }
}

TEST(UsageMapGrowth, NoRoomEvenThenLeavesEverythingAsItWas) {
  // An inline map whose row is too short to become a reference map for a
  // page that far out: nothing is changed and the caller is told.
  std::vector<uint8_t> file = FileWithMap(kPerMapPage + 10, false, 8, {8}, 2);
  MemoryPageStore store("D:\\Daten\\test.mdb", file);
  const UsageMap map = UsageMap::Read(store, {3, 0}, "the page map of table 'T'");
  PageEdit edit(store);
  const uint32_t n = edit.Append();
  std::vector<uint32_t> mapPages;
  EXPECT_FALSE(map.Add(edit, n, mapPages));
  EXPECT_TRUE(mapPages.empty());
  EXPECT_EQ(edit.PageCount(), n + 1);
  PageBytes page;
  store.Read(3, page);
  EXPECT_TRUE(std::equal(page.begin(), page.end(), edit.Get(3).begin()));
}

}  // namespace
}  // namespace kw::jet
