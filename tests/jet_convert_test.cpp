// Conversions of the shared Jet files, read back with mdbtools and mdb-reader.
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/jet_readers.h"

#include "platform/jet/data_page.h"
#include "platform/text_compare.h"
#include "tests/jet_test_support.h"
#include "tools/sample/installation.h"

namespace kw::jet::test {
namespace {

struct Case {
  const char* file;
  const char* table;
  const char* column;
};

class TempFile {
 public:
  TempFile() {
    char name[] = "/tmp/kw-jet-XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    path_ = name;
  }
  ~TempFile() { std::remove(path_.c_str()); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

long CountSlots(const std::vector<uint8_t>& bytes, uint16_t flags) {
  long n = 0;
  PageBytes page;
  for (size_t p = 0; p + kPageSize <= bytes.size(); p += kPageSize) {
    std::copy_n(bytes.begin() + static_cast<long>(p), kPageSize, page.begin());
    if (page[kPageTypeAt] != kDataPageType) continue;
    for (uint16_t i = 0; i < RowCountOf(page) && kDataHeader + 2u * i + 1 < kPageSize; ++i)
      if ((SlotWord(page, i) & kDeletedFlags) == flags) ++n;
  }
  return n;
}

class JetConvert : public ::testing::TestWithParam<Case> {};

TEST_P(JetConvert, ChangesExactlyTheSelectedCellsAndLeavesEveryOtherTableAsItWas) {
  const Case c = GetParam();
  const std::string source = JetFile(c.file);
  MemoryJet jet(ReadBytes(source));
  const long changed = ConvertPass(jet.engine, c.table, c.column);
  TempFile out;
  WriteBytes(out.Path(), jet.store.Bytes());

  long expectedChanges = 0;
  const auto expected = Expected(Export(source, c.table), c.column, "01", "044", &expectedChanges);
  EXPECT_GT(expectedChanges, 0);
  EXPECT_EQ(changed, expectedChanges);
  EXPECT_EQ(Export(out.Path(), c.table), expected);
  for (const std::string& other : Tables(source))
    if (other != c.table) {
      EXPECT_EQ(Export(out.Path(), other), Export(source, other)) << other;
    }
}

// The rows mdb-reader reads, sorted, with the pass's change made by hand.
std::vector<jet_readers::Row> NodeExpected(const jet_readers::Table& before, const std::string& column,
                                           const std::string& value, long* changed) {
  size_t land = 0, col = 0;
  for (size_t i = 0; i < before.columns.size(); ++i) {
    if (before.columns[i].name == "LAND") land = i;
    if (before.columns[i].name == column) col = i;
  }
  std::vector<jet_readers::Row> rows = before.rows;
  *changed = 0;
  for (auto& r : rows)
    if (r[land] && JetTextEqual(*r[land], "CH") && r[col] == "01") {
      r[col] = value;
      ++*changed;
    }
  std::sort(rows.begin(), rows.end());
  return rows;
}

TEST_P(JetConvert, MdbReaderReadsExactlyTheChangedCellsAndEveryOtherTable) {
  ASSERT_EQ(jet_readers::MissingReaders(), "");
  const Case c = GetParam();
  const std::string source = JetFile(c.file);
  MemoryJet jet(ReadBytes(source));
  const long changed = ConvertPass(jet.engine, c.table, c.column);
  TempFile out;
  WriteBytes(out.Path(), jet.store.Bytes());

  const std::vector<jet_readers::Table> before = jet_readers::NodeRead(source, true);
  const std::vector<jet_readers::Table> after = jet_readers::NodeRead(out.Path(), true);
  ASSERT_EQ(after.size(), before.size());
  for (size_t t = 0; t < before.size(); ++t) {
    ASSERT_EQ(after[t].name, before[t].name);
    if (before[t].name != c.table) {
      EXPECT_EQ(after[t].rows, before[t].rows) << before[t].name;
      continue;
    }
    long expectedChanges = 0;
    const std::vector<jet_readers::Row> expected = NodeExpected(before[t], c.column, "044", &expectedChanges);
    std::vector<jet_readers::Row> rows = after[t].rows;
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(changed, expectedChanges);
    ASSERT_EQ(rows.size(), expected.size());
    for (size_t r = 0; r < rows.size(); ++r)
      ASSERT_EQ(jet_readers::FirstDifference(rows[r], expected[r]), "") << "row " << r;
  }
}

TEST_P(JetConvert, ASecondRunLeavesTheFileByteForByteUnchanged) {
  const Case c = GetParam();
  MemoryJet jet(ReadBytes(JetFile(c.file)));
  ConvertPass(jet.engine, c.table, c.column);
  const std::vector<uint8_t> once = jet.store.Bytes();
  EXPECT_EQ(ConvertPass(jet.engine, c.table, c.column), 0);
  EXPECT_EQ(jet.store.Bytes(), once);
}

INSTANTIATE_TEST_SUITE_P(
    SharedFiles, JetConvert,
    ::testing::Values(Case{"product/Public.mdb", "PLZSTM", "TELVOR"}, Case{"product/NoltData.mdb", "ADRSTM", "TELVOR"},
                      Case{"product/NoltData.mdb", "ADRSTM", "FAXVOR"}, Case{"variants/full-pages.mdb", "PLZSTM", "TELVOR"},
                      Case{"variants/uncompressed.mdb", "ADRSTM", "TELVOR"},
                      Case{"variants/deleted-rows.mdb", "ADRSTM", "TELVOR"}, Case{"variants/v2003.mdb", "ADRSTM", "TELVOR"}));

TEST(JetConvertMoves, RowsWithoutRoomOnTheirPageMoveAndAreReadOnce) {
  MemoryJet jet(ReadBytes(JetFile("variants/full-pages.mdb")));
  const long pointersBefore = CountSlots(jet.store.Bytes(), kPointerFlag);
  const uint32_t pagesBefore = jet.store.PageCount();
  ConvertPass(jet.engine, "PLZSTM", "TELVOR");
  EXPECT_GT(CountSlots(jet.store.Bytes(), kPointerFlag), pointersBefore);
  EXPECT_EQ(CountSlots(jet.store.Bytes(), kPointerFlag), CountSlots(jet.store.Bytes(), kMovedFlag));
  EXPECT_GE(jet.store.PageCount(), pagesBefore);
}

TEST(JetConvertMoves, ARowMovedTwiceLeavesItsFirstCopyDeleted) {
  MemoryJet jet(ReadBytes(JetFile("variants/full-pages.mdb")));
  ConvertPass(jet.engine, "PLZSTM", "TELVOR", "044");
  const long moved = CountSlots(jet.store.Bytes(), kMovedFlag);
  ASSERT_GT(moved, 0);
  // Growing every converted value again moves some moved copies once more.
  ConvertPass(jet.engine, "PLZSTM", "TELVOR", "04444", "044");
  TempFile out;
  WriteBytes(out.Path(), jet.store.Bytes());
  long n = 0;
  const auto first = Expected(Export(JetFile("variants/full-pages.mdb"), "PLZSTM"), "TELVOR", "01", "044", &n);
  const auto once = Expected(first, "TELVOR", "044", "04444", &n);
  EXPECT_EQ(Export(out.Path(), "PLZSTM"), once);
  EXPECT_EQ(CountSlots(jet.store.Bytes(), kPointerFlag), CountSlots(jet.store.Bytes(), kMovedFlag));
}

// A table in a file larger than one map page covers (32,736 pages, 128 MiB):
// rows that move go to new pages at the end of the file, and the table's map
// grows as Jet grows it. The file is made sparse, so the test writes little.
TEST(JetConvertMoves, RowsMoveToNewPagesBeyondTheFirst128MiB) {
  ASSERT_EQ(jet_readers::MissingReaders(), "");
  const struct {
    int64_t rows;
    const char* map;
    const char* value;  // longer values move more rows
  } cases[] = {{40000, "a reference map", "044"}, {3000, "an inline map", "04400"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.map);
    TempFile source, file;
    sample::WritePostalCodes(source.Path(), c.rows, 7, sample::DbFormat::kJet);
    std::filesystem::copy_file(source.Path(), file.Path(), std::filesystem::copy_options::overwrite_existing);
    constexpr uint64_t kBig = uint64_t{143} << 20;
    ASSERT_EQ(truncate(file.Path().c_str(), static_cast<off_t>(kBig)), 0);
    FakeClock clock;
    const std::string path = file.Path();
    JetEngine engine([&](std::string_view name) { return FilePageStore::Open(path, std::string(name)); }, clock);
    long changed = 0;
    ASSERT_NO_THROW(changed = ConvertPass(engine, "PLZSTM", "TELVOR", c.value));
    EXPECT_GT(std::filesystem::file_size(path), kBig);  // new pages at the end

    long expectedChanges = 0;
    EXPECT_EQ(Export(path, "PLZSTM"), Expected(Export(source.Path(), "PLZSTM"), "TELVOR", "01", c.value, &expectedChanges));
    EXPECT_EQ(changed, expectedChanges);
    long nodeChanges = 0;
    std::vector<jet_readers::Row> rows = jet_readers::Find(jet_readers::NodeRead(path), "PLZSTM").rows;
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, NodeExpected(jet_readers::Find(jet_readers::NodeRead(source.Path()), "PLZSTM"), "TELVOR",
                                 c.value, &nodeChanges));
    const auto size = std::filesystem::file_size(path);
    EXPECT_EQ(ConvertPass(engine, "PLZSTM", "TELVOR", c.value), 0);
    EXPECT_EQ(std::filesystem::file_size(path), size);
  }
}

}  // namespace
}  // namespace kw::jet::test
