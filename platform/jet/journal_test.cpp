#include "platform/jet/journal.h"

#include <gtest/gtest.h>

#include "platform/jet/file_store_test_support.h"
#include "platform/jet/format/bytes.h"

namespace kw::jet::journal {
namespace {

// Each record holds the checksums of its page's sectors as the group writes
// them; a rollback's check compares the file's sectors with them.
TEST(JetJournal, RecordsTheChecksumOfEachSectorAsWritten) {
  const PageBytes before = testing::Pattern(1), after = testing::Pattern(2), appended = testing::Pattern(3);
  const std::vector<uint8_t> j = Build(2 * kPageSize, before.data(), {{1, before.data(), after.data()}, {2, nullptr, appended.data()}});
  ASSERT_EQ(j.size(), kHeaderSize + kChangedRecordSize + kAppendedRecordSize + kTrailerSize);
  const uint8_t* changed = j.data() + kHeaderSize;
  const uint8_t* added = changed + kChangedRecordSize;
  EXPECT_EQ(Get32(changed), 1u);
  EXPECT_EQ(Get32(added), 2u);
  for (uint64_t s = 0; s < kSectors; ++s) {
    auto recorded = [&](const uint8_t* record) {
      return Get32(record + 8 + 8 * s) | uint64_t{Get32(record + 12 + 8 * s)} << 32;
    };
    EXPECT_EQ(recorded(changed), Checksum(after.data() + s * kSectorSize, kSectorSize)) << s;
    EXPECT_EQ(recorded(added), Checksum(appended.data() + s * kSectorSize, kSectorSize)) << s;
  }
  EXPECT_NE(Checksum(after.data(), kSectorSize), Checksum(after.data() + kSectorSize, kSectorSize));
}

}  // namespace
}  // namespace kw::jet::journal
