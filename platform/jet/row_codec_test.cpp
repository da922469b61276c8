#include "platform/jet/row_codec.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/jet/format/text_codec.h"
#include "platform/text_compare.h"

namespace kw::jet {
namespace {

// What the selection would find by decoding the text.
bool DecodedEquals(const std::vector<uint8_t>& stored, const std::string& literal) {
  return JetTextEqual(DecodeText(stored.data(), stored.size()), literal);
}

std::optional<bool> StoredEquals(const std::vector<uint8_t>& stored, const std::string& literal) {
  return StoredTextEquals(stored.data(), stored.size(), literal);
}

TEST(JetStoredText, TellsCompressedAndTwoByteTextsAsTheirDecodedTextsCompare) {
  struct Case {
    std::vector<uint8_t> stored;
    const char* literal;
    bool equal;
  };
  const Case cases[] = {
      {{'C', 0, 'H', 0}, "CH", true},
      {{'c', 0, 'h', 0}, "CH", true},
      {{'C', 0, 'H', 0}, "ch", true},
      {{'C', 0, 'H', 0}, "CHE", false},
      {{'C', 0, 'H', 0, 'E', 0}, "CH", false},
      {{'C', 0, 'H', 0x01}, "CH", false},          // U+0148, not H
      {{'C', 0, 0xC8, 0}, "CH", false},            // È
      {{'0', 0, '1', 0}, "01", true},
      {{}, "", true},
      {{}, "01", false},
      {{0xFF, 0xFE, 'C', 'H', 'E'}, "che", true},
      {{0xFF, 0xFE, 'C', 'H', 'E'}, "CH", false},
      {{0xFF, 0xFE, 'C', 'H', 0xC9}, "CHE", false},  // É is no E
      {{0xFF, 0xFE}, "", true},
      {{0xFF, 0xFE}, "x", false},
      {{0xFF, 0xFE, '@', '['}, "`{", false},       // beside the letters, no case
      {{'@', 0}, "`", false},
  };
  for (const Case& c : cases) {
    const auto told = StoredEquals(c.stored, c.literal);
    ASSERT_TRUE(told.has_value()) << c.literal;
    EXPECT_EQ(*told, c.equal) << c.literal;
    EXPECT_EQ(DecodedEquals(c.stored, c.literal), c.equal) << c.literal;
  }
}

TEST(JetStoredText, LeavesToTheDecodedTextWhatItsStoredFormCannotTell) {
  const std::vector<uint8_t> undecided[] = {
      {0xFF, 0xFE, 'C', 0, 'H', 0},  // compressed, then two bytes a character: "CH"
      {0xFF, 0xFE, 0, 'C', 0},       // a dangling byte after the switch
      {'C', 0, 'H'},                 // an odd byte left over
  };
  for (const auto& stored : undecided) EXPECT_FALSE(StoredEquals(stored, "CH").has_value());
}

// Any stored bytes against ASCII literals: wherever the stored form tells,
// it tells what decoding would.
TEST(JetStoredText, AgreesWithTheDecodedTextOnAnyBytes) {
  const uint8_t alphabet[] = {0x00, 0x01, 'A', 'a', 'C', 'c', 'H', 'h', '0', '1', 0x7F, 0x80, 0xC7, 0xE7,
                              0xFE, 0xFF, 0xD8, 0xDC};
  const std::string literals[] = {"", "a", "A", "ch", "CH", "01", "cha", "A\x01", "\x7F", std::string(1, '\0')};
  std::mt19937 random(20240501);
  int told = 0, equal = 0;
  for (int round = 0; round < 20000; ++round) {
    std::vector<uint8_t> stored;
    if (random() % 2) stored = {0xFF, 0xFE};
    for (size_t n = random() % 9; n > 0; --n) stored.push_back(alphabet[random() % sizeof alphabet]);
    for (const std::string& literal : literals) {
      const auto fast = StoredEquals(stored, literal);
      if (!fast) continue;
      ++told;
      equal += *fast;
      ASSERT_EQ(*fast, DecodedEquals(stored, literal))
          << "stored " << ::testing::PrintToString(stored) << " against '" << literal << "'";
    }
  }
  EXPECT_GT(told, 20000);
  EXPECT_GT(equal, 100);
}

}  // namespace
}  // namespace kw::jet
