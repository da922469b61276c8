// Every index of the shared Jet files (made by Access and by Jackcess), read
// from the root its table's definition names: every index page readable
// with its free space as its entries leave it, the tree sound (the tests'
// walker), one entry for each row of the table, the indexes' columns as
// mdb-schema reads them, and each entry's key the one the format library
// makes from its row's values; descending keys too. The same of a postal
// file of the tests' helper with every kind of index it offers.
#include <gtest/gtest.h>

#include "tests/jet_index_check.h"
#include "tests/jet_postal_file.h"

namespace kw::jet::test {
namespace {

namespace jr = kw::jet_readers;

TEST(JetIndexRead, EveryIndexOfTheSharedFilesReadsFromItsRootWithTheKeysOfItsRows) {
  const std::string missing = jr::MissingReaders();
  ASSERT_TRUE(missing.empty()) << "missing: " << missing;
  struct FileCase {
    const char* file;
    bool descending;  // it has a descending index whose keys are compared
  };
  const FileCase files[] = {
      {"access-made/delColTestV2000.mdb", false},    {"access-made/fixedTextTestV2000.mdb", false},
      {"access-made/testUnicodeCompV2003.mdb", false}, {"access-made/compIndexTestV2000.mdb", true},
      {"access-made/indexTestV2000.mdb", false},     {"access-made/testV2000.mdb", false},
      {"access-made/test2V2000.mdb", false},         {"product/Public.mdb", false},
      {"product/NoltData.mdb", false},               {"variants/deleted-rows.mdb", false},
      {"variants/full-pages.mdb", false},            {"variants/indexed-telvor.mdb", false},
      {"variants/uncompressed.mdb", false},          {"variants/v2003.mdb", false},
  };
  for (const FileCase& f : files) {
    SCOPED_TRACE(f.file);
    const Counts c = CheckEveryIndex(JetFile(f.file));
    EXPECT_GT(c.indexes, 0u);
    EXPECT_GT(c.keysCompared, 0u);
    EXPECT_EQ(c.descendingKeysCompared > 0, f.descending);
  }
}

// Both readers read the helper's file, mdb-schema its indexes with their
// flags, and every index is whole with the keys of its rows.
TEST(JetIndexRead, APostalFileWithEveryKindOfIndexReadsInBothReaders) {
  ASSERT_EQ(jr::MissingReaders(), "");
  const int64_t rows = 20000;
  const std::vector<uint8_t> bytes = PostalFile(
      rows, {kTelvorIndex, kLandTelvorIndex, kPlzTelvorOrtIndex, kUniqueTelvorIndex, kDescendingTelvorIndex},
      [](int64_t i, std::vector<std::optional<std::string>>& v) {
        if (i > 0) v[3] = DistinctTelvor(i);
      });
  const kw::testing::TempDir dir;
  const std::string path = dir / "Public.mdb";
  WriteBytes(path, bytes);
  const Counts c = CheckEveryIndex(path);
  EXPECT_EQ(c.indexes, 7u);
  EXPECT_EQ(c.keysCompared, 7u * rows);
  EXPECT_EQ(c.descendingKeysCompared, static_cast<size_t>(rows));
  EXPECT_EQ(jr::NodeRead(path).at(0).rows.size(), static_cast<size_t>(rows));
  EXPECT_EQ(jr::MdbExport(path, "PLZSTM").rows.size(), static_cast<size_t>(rows));
  // A unique index on TELVOR takes the generator's rows only with TELVOR made distinct.
  EXPECT_THROW(PostalFile(100, {kUniqueTelvorIndex}), std::invalid_argument);
  EXPECT_THROW(DistinctTelvor(36 * 36 * 36 * 36), std::out_of_range);
}

}  // namespace
}  // namespace kw::jet::test
