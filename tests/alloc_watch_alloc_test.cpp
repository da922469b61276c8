#include "tests/alloc_watch.h"

#include <gtest/gtest.h>

#include <memory>

namespace kw {
namespace {

// Keeps the compiler from leaving out an allocation it could prove unused.
void Use(void* p) { asm volatile("" : : "g"(p) : "memory"); }

// The allocation tests would pass on a watcher that sees nothing.
TEST(AllocWatch, SeesTheLargestBlockSinceTheReset) {
  alloc_watch::Reset();
  auto big = std::make_unique<char[]>(3u << 20);
  Use(big.get());
  auto small = std::make_unique<int>(1);
  Use(small.get());
  EXPECT_GE(alloc_watch::Largest(), size_t{3} << 20);
  EXPECT_LT(alloc_watch::Largest(), size_t{4} << 20);

  alloc_watch::Reset();
  auto other = std::make_unique<char[]>(1000);
  Use(other.get());
  EXPECT_GE(alloc_watch::Largest(), size_t{1000});
  EXPECT_LT(alloc_watch::Largest(), size_t{1} << 20);
}

TEST(AllocWatch, CountsTheAllocationsSinceTheReset) {
  alloc_watch::Reset();
  for (int i = 0; i < 5; ++i) {
    auto p = std::make_unique<int>(i);
    Use(p.get());
  }
  EXPECT_GE(alloc_watch::Count(), size_t{5});
  EXPECT_LT(alloc_watch::Count(), size_t{10});
  alloc_watch::Reset();
  EXPECT_EQ(alloc_watch::Count(), size_t{0});
}

}  // namespace
}  // namespace kw
