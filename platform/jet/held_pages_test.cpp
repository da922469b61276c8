#include "platform/jet/held_pages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/jet/file_store_test_support.h"

namespace kw::jet {
namespace {

using testing::Pattern;

// A file of 100 pages that counts how often each page is read.
struct File {
  static constexpr uint32_t kPages = 100;
  std::vector<int> reads = std::vector<int>(kPages, 0);
  int calls = 0;
  HeldPages::ReadFile Reader() {
    return [this](uint32_t first, uint32_t count, uint8_t* out) {
      ++calls;
      for (uint32_t i = 0; i < count; ++i) {
        ASSERT_LT(first + i, kPages);
        ++reads[first + i];
        const PageBytes p = Pattern(first + i);
        std::memcpy(out + size_t{i} * kPageSize, p.data(), kPageSize);
      }
    };
  }
};

TEST(HeldPages, ReadsAPageWithThoseAfterItUpToAHeldOneOrTheEnd) {
  File file;
  HeldPages held(64, 8);
  EXPECT_EQ(held.Clean(10, File::kPages, file.Reader()), Pattern(10));
  EXPECT_EQ(file.calls, 1);
  for (uint32_t n = 10; n < 18; ++n) EXPECT_EQ(held.Clean(n, File::kPages, file.Reader()), Pattern(n));
  EXPECT_EQ(file.calls, 1);
  held.Clean(5, File::kPages, file.Reader());  // 5 .. 9, up to the held 10
  EXPECT_EQ(file.reads[9], 1);
  EXPECT_EQ(file.reads[10], 1);
  held.Clean(97, File::kPages, file.Reader());  // 97 .. 99, the end
  EXPECT_EQ(held.Clean(99, File::kPages, file.Reader()), Pattern(99));
  EXPECT_EQ(file.calls, 3);
}

TEST(HeldPages, KeepsAWrittenPagesOldContentWhileOthersAreLetGo) {
  File file;
  HeldPages held(16, 4);
  held.Clean(3, File::kPages, file.Reader());
  held.Write(3, Pattern(1000));
  // Far more pages than the bound: the clean ones go, page 3's stays.
  for (uint32_t n = 20; n < 80; ++n) held.Clean(n, File::kPages, file.Reader());
  EXPECT_EQ(held.Clean(3, File::kPages, file.Reader()), Pattern(3));
  EXPECT_EQ(file.reads[3], 1);
  ASSERT_NE(held.CleanOfWritten(3), nullptr);
  EXPECT_EQ(*held.CleanOfWritten(3), Pattern(3));
  EXPECT_EQ(*held.Pending(3), Pattern(1000));
  held.Clean(20, File::kPages, file.Reader());
  EXPECT_EQ(file.reads[20], 2);  // let go and read again
}

TEST(HeldPages, EndsAGroupKeepingOrForgettingItsPages) {
  File file;
  HeldPages held(64, 1);
  for (uint32_t n : {7u, 2u, 5u}) {
    held.Clean(n, File::kPages, file.Reader());
    held.Write(n, Pattern(n + 500));
  }
  held.Write(100, Pattern(600));  // a page beyond the file
  held.Write(5, Pattern(700));    // written again
  EXPECT_EQ(held.Written(), (std::vector<uint32_t>{2, 5, 7, 100}));
  EXPECT_EQ(held.PendingEnd(), 101u);
  EXPECT_EQ(held.CleanOfWritten(100), nullptr);

  held.DropWritten();
  EXPECT_EQ(held.Pending(5), nullptr);
  EXPECT_EQ(held.Pending(100), nullptr);
  EXPECT_EQ(held.PendingEnd(), 0u);
  EXPECT_EQ(held.Clean(5, File::kPages, file.Reader()), Pattern(5));

  held.Write(5, Pattern(800));
  held.Write(100, Pattern(900));
  held.KeepWritten();
  EXPECT_TRUE(held.Written().empty());
  EXPECT_EQ(held.Clean(5, File::kPages + 1, file.Reader()), Pattern(800));
  EXPECT_EQ(held.Clean(100, File::kPages + 1, file.Reader()), Pattern(900));
  EXPECT_EQ(file.reads[5], 1);
}

}  // namespace
}  // namespace kw::jet
