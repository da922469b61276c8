#include "platform/jet/index_tree.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

#include "platform/jet/data_page.h"
#include "platform/jet/format/usage_map.h"
#include "platform/jet/jet_errors.h"
#include "platform/jet/memory_page_store.h"
#include "tests/index_walk.h"

namespace kw::jet {
namespace {

constexpr uint32_t kTdef = 2, kMapPage = 3, kRoot = 4;

// A file of five pages: the map of free pages (none free), a stand-in for
// the table's definition, the index's page map (an inline map holding the
// root) and the root, an empty leaf.
std::vector<uint8_t> EmptyIndexFile() {
  std::vector<uint8_t> file(5 * kPageSize, 0);
  auto mapRow = [&](uint32_t page, std::vector<uint32_t> set) {
    std::vector<uint8_t> row(usage_map::kRowBytes, 0);
    for (uint32_t p : set) SetMapBit(&row[usage_map::kInlineBits], p);
    PageBytes bytes;
    InitDataPage(bytes, 0);
    EXPECT_TRUE(AppendRow(bytes, row, 0));
    std::copy(bytes.begin(), bytes.end(), file.begin() + page * kPageSize);
  };
  mapRow(1, {});
  mapRow(kMapPage, {kRoot});
  PageBytes root{};
  IndexNode leaf;
  leaf.number = kRoot;
  leaf.tdefPage = kTdef;
  leaf.Write(root);
  std::copy(root.begin(), root.end(), file.begin() + kRoot * kPageSize);
  return file;
}

// Keys of a text column: 7F, letter codes, 01 00; then the row's place.
EntryBytes Entry(std::mt19937& random, uint32_t row, size_t letters = 0) {
  EntryBytes e{0x7F};
  const size_t n = letters ? letters : std::uniform_int_distribution<size_t>(1, 120)(random);
  for (size_t i = 0; i < n; ++i) e.push_back(static_cast<uint8_t>(std::uniform_int_distribution<int>(0x4A, 0x4F)(random)));
  e.insert(e.end(), {0x01, 0x00, static_cast<uint8_t>(row >> 16), static_cast<uint8_t>(row >> 8), static_cast<uint8_t>(row),
                     static_cast<uint8_t>(row & 0x7F)});
  return e;
}

class IndexTreeTest : public ::testing::Test {
 protected:
  IndexTreeTest() : store_("D:\\Daten\\test.mdb", EmptyIndexFile()) {}

  IndexTree Tree(bool unique = false) {
    return IndexTree(store_, {kRoot, kTdef, unique, "the index 'I' of table 'T'"},
                     UsageMap::Read(store_, {kMapPage, 0}, "the pages of the index 'I'"));
  }
  // One change, written to the file as the connection would write it: the
  // row's edit, then the pages held back, in one group.
  void Change(IndexTree& tree, const std::optional<EntryBytes>& from, const std::optional<EntryBytes>& to) {
    PageEdit edit(store_);
    PageAllocator allocator(store_);
    tree.Change(edit, allocator, from, to);
    store_.BeginGroup();
    for (const auto& [n, bytes] : edit.Pages()) store_.Write(n, bytes);
    tree.Keep();
    PageEdit pending(store_);
    tree.WritePending(pending);
    for (const auto& [n, bytes] : pending.Pages()) store_.Write(n, bytes);
    store_.Commit();
  }
  test::IndexWalk Walk() {
    const UsageMap map = UsageMap::Read(store_, {kMapPage, 0}, "the pages of the index 'I'");
    const std::vector<uint32_t> pages = map.Pages(store_);
    return test::WalkIndex(store_, kRoot, kTdef, [&](uint32_t n) {
      return std::binary_search(pages.begin(), pages.end(), n);
    });
  }
  MemoryPageStore store_;
};

TEST_F(IndexTreeTest, RowsComingAndGoingKeepTheTreeWholeThroughSplitsAndEmptiedPages) {
  std::mt19937 random(20261209);
  IndexTree tree = Tree();
  std::set<EntryBytes> model;
  std::vector<EntryBytes> held;
  uint32_t row = 1;
  // Growing to some thousands of entries (several levels, the page map made
  // a reference map), then shrinking to a few, then growing again.
  for (int round = 0; round < 3; ++round) {
    const size_t target = round == 1 ? 5 : 6000;
    while (model.size() != target) {
      const bool grow = model.size() < target;
      std::optional<EntryBytes> from, to;
      if (!held.empty() && (!grow || random() % 4 == 0)) {
        const size_t k = random() % held.size();
        from = held[k];
        held[k] = held.back();
        held.pop_back();
        model.erase(*from);
      }
      if (grow) {
        to = Entry(random, row++);
        model.insert(*to);
        held.push_back(*to);
      }
      ASSERT_NO_THROW(Change(tree, from, to));
    }
    const test::IndexWalk w = Walk();
    ASSERT_EQ(w.fault, "") << "round " << round;
    EXPECT_EQ(w.entries, std::vector<EntryBytes>(model.begin(), model.end()));
    if (round != 1) {
      EXPECT_GE(w.depth, 3u);
    }
  }
  // What the tree keeps between changes is what the file holds.
  IndexTree fresh = Tree();
  std::vector<EntryBytes> read;
  fresh.ForEachEntry([&](std::span<const uint8_t> e) { read.emplace_back(e.begin(), e.end()); });
  EXPECT_EQ(read, std::vector<EntryBytes>(model.begin(), model.end()));
}

TEST_F(IndexTreeTest, RefusedChangesLeaveTreeAndFileAsTheyWere) {
  std::mt19937 random(7);
  IndexTree tree = Tree(true);
  std::vector<EntryBytes> held;
  for (uint32_t row = 1; row <= 800; ++row) {
    held.push_back(Entry(random, row, 12));
    Change(tree, std::nullopt, held.back());
  }
  const std::vector<uint8_t> file = store_.Bytes();
  EntryBytes sameKey = held[400];
  sameKey.back() ^= 0x01;  // another row with that key
  EntryBytes unknown = held[10];
  unknown[1] ^= 0x08;
  const struct {
    const char* what;
    std::optional<EntryBytes> from, to;
    const char* error;
  } cases[] = {
      {"a key another row has", held[3], sameKey, kDuplicateKey},
      {"an entry the index does not hold", unknown, held[3], "it holds no entry for a row it should hold"},
      {"an entry it holds already", std::nullopt, held[5], "it holds a row's entry twice"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PageEdit edit(store_);
    PageAllocator allocator(store_);
    try {
      tree.Change(edit, allocator, c.from, c.to);
      ADD_FAILURE() << "no error";
    } catch (const RunError& e) {
      EXPECT_NE(e.Description().find(c.error), std::string::npos) << e.Description();
    }
    EXPECT_EQ(store_.Bytes(), file);
    EXPECT_TRUE(tree.Contains(held[3]));
    EXPECT_FALSE(tree.Contains(sameKey));
  }
  // A change whose row was not saved is taken back; the ones before it,
  // held back for the group, stay.
  store_.BeginGroup();
  for (uint32_t row = 900; row < 1300; ++row) {
    PageEdit edit(store_);
    PageAllocator allocator(store_);
    tree.Change(edit, allocator, std::nullopt, Entry(random, row, 40));
    for (const auto& [n, bytes] : edit.Pages()) store_.Write(n, bytes);
    tree.Keep();
  }
  {
    PageEdit edit(store_);
    PageAllocator allocator(store_);
    tree.Change(edit, allocator, held[7], Entry(random, 2000, 40));
    tree.Undo();
  }
  store_.Commit();
  EXPECT_TRUE(tree.Contains(held[7]));
  // A row may keep its own key.
  EXPECT_NO_THROW(Change(tree, held[400], held[400]));
  const test::IndexWalk walk = Walk();
  EXPECT_EQ(walk.fault, "");
  EXPECT_EQ(walk.entries.size(), held.size() + 400);
}

}  // namespace
}  // namespace kw::jet
