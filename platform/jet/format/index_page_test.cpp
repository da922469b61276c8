// Index pages built and read back, and pages the reader does not take.
// (Pages made by Access and by Jackcess, prefixes and tail pages among
// them, are read in tests/jet_index_read_test.cpp.)
#include "platform/jet/format/index_page.h"

#include <gtest/gtest.h>

#include <functional>

namespace kw::jet {
namespace {

std::vector<Bytes> SomeEntries(size_t n, size_t keyBytes) {
  std::vector<Bytes> out;
  for (size_t i = 0; i < n; ++i) {
    Bytes e(keyBytes, static_cast<uint8_t>(0x7F));
    e.back() = static_cast<uint8_t>(i);
    AppendEntryRow(e, RowPointer(static_cast<uint32_t>(100 + i), static_cast<uint32_t>(i)));
    out.push_back(std::move(e));
  }
  return out;
}

PageBytes Built(const std::vector<Bytes>& entries, const IndexPageHeader& header) {
  PageBytes page{};
  const std::vector<std::span<const uint8_t>> spans(entries.begin(), entries.end());
  EXPECT_TRUE(BuildIndexPage(page, header, spans));
  return page;
}

std::vector<Bytes> EntriesOf(const IndexPageEntries& read) {
  std::vector<Bytes> out;
  for (size_t i = 0; i < read.Count(); ++i) out.emplace_back(read.Entry(i).begin(), read.Entry(i).end());
  return out;
}

TEST(JetIndexPage, BuiltPagesReadBackWithTheirEntriesAndLinks) {
  IndexPageHeader header;
  header.type = kIndexNodePageType;
  header.owner = 17;
  header.prev = 40;
  header.next = 41;
  header.tail = 42;
  for (size_t n : {size_t{0}, size_t{1}, size_t{300}}) {
    const std::vector<Bytes> entries = SomeEntries(n, 8);
    const PageBytes page = Built(entries, header);
    const IndexPageHeader read = ReadIndexPageHeader(page);
    EXPECT_EQ(read.type, kIndexNodePageType);
    EXPECT_EQ(read.owner, 17u);
    EXPECT_EQ(read.prev, 40u);
    EXPECT_EQ(read.next, 41u);
    EXPECT_EQ(read.tail, 42u);
    EXPECT_EQ(read.prefixLength, 0);
    EXPECT_EQ(read.freeSpace, kIndexEntrySpace - n * 12);
    const IndexPageEntries back = ReadIndexEntries(page);
    EXPECT_EQ(back.fault, "");
    EXPECT_EQ(back.stored, n * 12);
    EXPECT_EQ(EntriesOf(back), entries);
    if (n > 0) {
      const auto last = static_cast<uint32_t>(n - 1);
      EXPECT_EQ(EntryChild(back.Entry(n - 1)), RowPointer(100 + last, last));
    }
  }
  const IndexPageEntries leaf = ReadIndexEntries(Built(SomeEntries(2, 5), {}));
  EXPECT_EQ(EntryRow(leaf.Entry(1), true).page, 101u);
  EXPECT_EQ(EntryRow(leaf.Entry(1), true).row, 1);
}

TEST(JetIndexPage, ABuiltPageKeepsTheHeaderBytesNothingDescribesAndNothingElse) {
  PageBytes page;
  page.fill(0xEE);
  const std::vector<Bytes> entries = SomeEntries(3, 6);
  EXPECT_TRUE(BuildIndexPage(page, {}, std::vector<std::span<const uint8_t>>(entries.begin(), entries.end())));
  const PageBytes clean = Built(entries, {});
  for (size_t at = 0; at < kPageSize; ++at) {
    const bool undescribed = (at >= 8 && at < index_page::kPrevPage) || at == index_page::kPrefixLength + 2;
    EXPECT_EQ(page[at], undescribed ? 0xEE : clean[at]) << "byte " << at;
  }
}

TEST(JetIndexPage, EntriesThatDoNotFitAreNotBuilt) {
  PageBytes page{};
  const std::vector<Bytes> full = SomeEntries(kIndexEntrySpace / 8, 4);  // 8 bytes each, exactly full
  std::vector<std::span<const uint8_t>> spans(full.begin(), full.end());
  EXPECT_TRUE(BuildIndexPage(page, {}, spans));
  EXPECT_EQ(ReadIndexEntries(page).Count(), full.size());
  const Bytes one{0x7F};
  spans.push_back(one);
  EXPECT_FALSE(BuildIndexPage(page, {}, spans));
  EXPECT_FALSE(BuildIndexPage(page, {}, {std::span<const uint8_t>()}));
}

TEST(JetIndexPage, PagesThatDoNotHoldTheirEntriesAsDescribedAreFaults) {
  struct Case {
    const char* name;
    std::function<void(PageBytes&)> damage;
    const char* fault;
  };
  const Case cases[] = {
      {"a data page", [](PageBytes& p) { p[kPageTypeAt] = kDataPageType; }, "is not an index page"},
      {"a prefix as long as the first entry", [](PageBytes& p) { Put16(&p[index_page::kPrefixLength], 10); },
       "shorter than its shared prefix"},
      {"an entry marked beyond the page", [](PageBytes& p) { p[index_page::kEntries - 1] = 0x80; },
       "outside its entry area"},
      {"an entry marked at the start", [](PageBytes& p) { p[index_page::kEntryMask] |= 0x01; },
       "outside its entry area"},
      {"an entry as short as its pointers", [](PageBytes& p) { p[index_page::kEntryMask + 2] |= 0x01; },
       "too short for a key and its row"},
      {"a first entry as short as its pointers", [](PageBytes& p) { p[index_page::kEntryMask] = 0x10; },
       "first entry"},
  };
  const PageBytes good = Built(SomeEntries(3, 6), {});
  ASSERT_EQ(ReadIndexEntries(good).fault, "");
  for (const Case& c : cases) {
    PageBytes page = good;
    c.damage(page);
    const IndexPageEntries read = ReadIndexEntries(page);
    EXPECT_NE(read.fault.find(c.fault), std::string::npos) << c.name << ": " << read.fault;
    EXPECT_EQ(read.Count(), 0u) << c.name;
  }
}

TEST(JetIndexPage, EntriesCompareByTheirBytesUnsignedAndShorterFirst) {
  const Bytes a{0x7F, 0x01}, b{0x7F, 0x80}, c{0x7F, 0x80, 0x00};
  EXPECT_LT(CompareEntries(a, b), 0);
  EXPECT_LT(CompareEntries(b, c), 0);
  EXPECT_GT(CompareEntries(c, a), 0);
  EXPECT_EQ(CompareEntries(b, b), 0);
}

}  // namespace
}  // namespace kw::jet
