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

}  // namespace
}  // namespace kw
