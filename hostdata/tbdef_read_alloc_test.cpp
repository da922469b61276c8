// The reader on truncated and hostile files, watched for large allocations:
// a count or length that the product cannot have written must fail the read
// before a block is asked for it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "hostdata/tbdef_read_fixture.h"
#include "tests/alloc_watch.h"

namespace kw {
namespace {

using sample::DefTablePlace;
using tbdef_test::Le16;
using tbdef_test::Le32;
using tbdef_test::Patch;
using tbdef_test::StoredText;
using tbdef_test::TbDefReadTest;

TEST_F(TbDefReadTest, TruncatedFileAtEveryLength) {
  std::vector<DefTablePlace> places;
  const std::string file = sample::SampleAddressDefinitionFile(sample::AddressColumns(), &places);
  auto needed = [&](int16_t table) {
    for (const DefTablePlace& p : places)
      if (p.TableNo == table) return static_cast<size_t>(std::max(p.blockEnd, p.suppBEnd) - 1);
    return size_t{0};
  };
  const TbDef whole = sample::AddressTable().def;
  for (size_t len = 0; len < file.size(); ++len) {
    s = TbDefState{};
    PutFile(file.substr(0, len));
    alloc_watch::Reset();
    const bool ok13 = Read(13);
    EXPECT_LT(alloc_watch::Largest(), size_t{1} << 20) << len;
    EXPECT_EQ(ok13, len >= needed(13)) << len;
    if (!s.TbDefs.Absent()) {  // whole or empty, never a part of it
      EXPECT_TRUE(s.TbDefs(13) == whole || s.TbDefs(13) == TbDef{}) << len;
    }
    EXPECT_EQ(Read(11), len >= needed(11)) << len;
    ASSERT_TRUE(AllClosed()) << len;
  }
  EXPECT_TRUE(t.window.boxes.empty());
}

// Counts and shapes that the product cannot have written fail the read
// before anything is allocated for them.
TEST_F(TbDefReadTest, HostileListsAndTexts) {
  const std::string good = sample::SampleAddressDefinitionFile();
  const size_t colName = StoredText(good, "ADRNR") - 10;  // dims, count, lower, elements
  const size_t keyCols = good.find(Le16(2) + Le32(2) + Le32(1) + Le32(2) + Le32(1));
  ASSERT_NE(keyCols, std::string::npos);
  const size_t suppBEntry = 72 + 40 * 13;

  const std::vector<std::pair<const char*, std::pair<size_t, std::string>>> cases = {
      {"count 2^31-1", {colName + 2, Le32(0x7FFFFFFF)}},
      {"negative count", {colName + 2, Le32(-1)}},
      {"huge dimension count", {colName, Le16(0x7FFF)}},
      {"negative dimension count", {colName, Le16(-1)}},
      {"two dimensions for a column list", {colName, Le16(2)}},
      {"upper bound beyond 32 bits", {colName + 6, Le32(0x7FFFFFFF)}},
      {"one dimension for KeyCols", {keyCols, Le16(1)}},
      {"KeyCols 65536 x 65536", {keyCols + 2, Le32(65536) + Le32(1) + Le32(65536)}},
      {"KeyCols 2^31-1 squared", {keyCols + 2, Le32(0x7FFFFFFF) + Le32(1) + Le32(0x7FFFFFFF)}},
      {"negative text length", {colName + 10, Le16(-1)}},
      {"text beyond the end", {colName + 10, Le16(0x7FFF)}},
      {"SuppBPos 0", {suppBEntry, Le32(0)}},
      {"SuppBPos beyond the end", {suppBEntry, Le32(0x7FFFFFF0)}},
      {"DefPos beyond the end", {60 + 40 * 13, Le32(0x7FFFFFF0)}},
  };
  for (const auto& [what, patch] : cases) {
    std::string bad = good;
    Patch(bad, patch.first, patch.second);
    s = TbDefState{};
    PutFile(bad);
    alloc_watch::Reset();
    EXPECT_FALSE(Read(13)) << what;
    EXPECT_LT(alloc_watch::Largest(), size_t{1} << 20) << what;
    EXPECT_TRUE(AllClosed()) << what;
  }
}

}  // namespace
}  // namespace kw
