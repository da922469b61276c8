#include "config/paths.h"

#include <gtest/gtest.h>

namespace kw {
namespace {

TEST(AddBackslash, AddsExactlyOneBackslashAfterTrimming) {
  EXPECT_EQ(AddBackslash("Mand01"), "Mand01\\");
  EXPECT_EQ(AddBackslash("  Mand01 "), "Mand01\\");
  EXPECT_EQ(AddBackslash("D:\\Daten\\"), "D:\\Daten\\");
  EXPECT_EQ(AddBackslash("D:\\Daten\\  "), "D:\\Daten\\");
  EXPECT_EQ(AddBackslash("a\\\\"), "a\\\\");  // several stay
}

TEST(AddBackslash, EmptyAndBlankTextsGiveOneBackslash) {
  EXPECT_EQ(AddBackslash(""), "\\");
  EXPECT_EQ(AddBackslash("   "), "\\");
}

TEST(AddBackslash, OnlyTheSpaceCountsAsBlankAndSlashIsNoSeparator) {
  EXPECT_EQ(AddBackslash("\tMand\t"), "\tMand\t\\");
  EXPECT_EQ(AddBackslash("Mand/"), "Mand/\\");
}

}  // namespace
}  // namespace kw
