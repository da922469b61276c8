// The journal's promise (tests/journal_fit_property.h) over inputs drawn
// from a fixed sequence, and over every input the fuzz target ever kept.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>

#include "tests/journal_fit_property.h"

namespace kw::jet::journal_fit {
namespace {

TEST(JournalFitProperty, AFileIsWrittenOnlyWhenEveryPageFitsItsJournal) {
  std::mt19937 random(20261209);
  std::map<Outcome, int> outcomes;
  for (int i = 0; i < 3000; ++i) {
    std::vector<uint8_t> input(std::uniform_int_distribution<size_t>(8, 160)(random));
    for (uint8_t& b : input) b = static_cast<uint8_t>(random());
    const Result r = Check(input.data(), input.size());
    EXPECT_EQ(r.broken, "") << "input " << i;
    ++outcomes[r.outcome];
  }
  // Every way out was taken, many times.
  for (Outcome o : {Outcome::kJournalDamaged, Outcome::kRefused, Outcome::kRolledBack})
    EXPECT_GT(outcomes[o], 100) << static_cast<int>(o);
}

TEST(JournalFitProperty, InputsKeptFromFuzzingStillHold) {
  const std::filesystem::path dir = std::filesystem::path(KW_TEST_DATA) / "fuzz" / "journal";
  if (!std::filesystem::exists(dir)) GTEST_SKIP() << "none kept";
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<uint8_t> input{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(Check(input.data(), input.size()).broken, "") << entry.path();
  }
}

}  // namespace
}  // namespace kw::jet::journal_fit
