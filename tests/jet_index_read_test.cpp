// Every index of the shared Jet files (made by Access and by Jackcess), read
// from the root its table's definition names: every index page readable
// with its free space as its entries leave it, the tree sound (the tests'
// walker), one entry for each row of the table, the indexes' columns as
// mdb-schema reads them, and each entry's key the one the format library
// makes from its row's values.
#include <gtest/gtest.h>

#include "tests/jet_index_check.h"

namespace kw::jet::test {
namespace {

namespace jr = kw::jet_readers;

TEST(JetIndexRead, EveryIndexOfTheSharedFilesReadsFromItsRootWithTheKeysOfItsRows) {
  const std::string missing = jr::MissingReaders();
  ASSERT_TRUE(missing.empty()) << "missing: " << missing;
  const char* const files[] = {
      "access-made/delColTestV2000.mdb", "access-made/fixedTextTestV2000.mdb", "access-made/testUnicodeCompV2003.mdb", "product/Public.mdb", "product/NoltData.mdb",
      "variants/deleted-rows.mdb", "variants/full-pages.mdb", "variants/indexed-telvor.mdb",
      "variants/uncompressed.mdb", "variants/v2003.mdb",
  };
  for (const char* file : files) {
    SCOPED_TRACE(file);
    const Counts c = CheckEveryIndex(JetFile(file));
    EXPECT_GT(c.indexes, 0u);
    EXPECT_GT(c.keysCompared, 0u);
  }
}

}  // namespace
}  // namespace kw::jet::test
