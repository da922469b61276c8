// Index keys in the General sort order: the keys Access itself wrote for the
// same values (read from its leaf pages with the format library), their
// order, and what is refused.
#include "platform/jet/format/index_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "platform/jet/format/date.h"
#include "platform/jet/format/index_page.h"
#include "tests/jet_test_support.h"

namespace kw::jet {
namespace {

Bytes Key(ColumnType type, const KeyValue& v) {
  Bytes k;
  AppendIndexKey(k, type, v);
  return k;
}

// Every entry of the file's leaf pages, whole; a page that cannot be read
// fails the test.
std::vector<Bytes> LeafEntries(const std::string& file) {
  const std::vector<uint8_t> bytes = test::ReadBytes(file);
  std::vector<Bytes> out;
  PageBytes page;
  for (size_t at = 0; at + kPageSize <= bytes.size(); at += kPageSize) {
    std::copy_n(bytes.begin() + static_cast<long>(at), kPageSize, page.begin());
    if (page[kPageTypeAt] != kIndexLeafPageType) continue;
    const IndexPageEntries read = ReadIndexEntries(page);
    EXPECT_EQ(read.fault, "") << file << " page " << at / kPageSize;
    for (size_t i = 0; i < read.Count(); ++i) out.emplace_back(read.Entry(i).begin(), read.Entry(i).end());
  }
  return out;
}

// Every key Access's leaf pages hold in the file, row pointers cut off.
std::set<Bytes> LeafKeys(const std::string& file) {
  std::set<Bytes> keys;
  for (const Bytes& e : LeafEntries(file)) keys.insert(Bytes(e.begin(), e.end() - kEntryRowPointerBytes));
  return keys;
}

struct AccessCase {
  const char* file;
  ColumnType type;
  KeyValue value;
};

TEST(JetIndexKeyTest, KeysAreTheOnesAccessWroteForTheSameValues) {
  const std::string unicode = test::JetFile("access-made/testUnicodeCompV2003.mdb");
  const std::string fixed = test::JetFile("access-made/fixedTextTestV2000.mdb");
  const std::vector<AccessCase> cases = {
      {"unicode", ColumnType::kText, std::string("only ascii chars")},
      {"unicode", ColumnType::kText, std::string("ääkkösiä")},
      {"unicode", ColumnType::kText, std::string("ümlaut")},
      {"unicode", ColumnType::kLong, int32_t{1}},
      {"fixed", ColumnType::kText, std::string("CORE USER")},
      {"fixed", ColumnType::kText, std::string("Admin User")},
      {"fixed", ColumnType::kText, std::string("N")},
      {"fixed", ColumnType::kText, std::string("-1")},
      {"fixed", ColumnType::kLong, int32_t{2}},
      {"fixed", ColumnType::kDateTime, JetDays(2009, 11, 5, 23, 41, 28)},
      {"fixed", ColumnType::kDateTime, JetDays(2009, 10, 22, 3, 57, 13)},
  };
  const std::set<Bytes> unicodeKeys = LeafKeys(unicode), fixedKeys = LeafKeys(fixed);
  for (const AccessCase& c : cases) {
    const Bytes key = Key(c.type, c.value);
    const std::set<Bytes>& keys = std::string(c.file) == "unicode" ? unicodeKeys : fixedKeys;
    std::string hex;
    for (uint8_t b : key) hex += " " + std::to_string(b);
    EXPECT_TRUE(keys.count(key)) << c.file << ": no entry of Access has our key" << hex;
  }
}

// Access's entry for a text of all printable ASCII holds, between the codes
// of the characters it treats apart, the same codes as our keys.
TEST(JetIndexKeyTest, PunctuationHasTheCodesOfAccessOwnEntry) {
  const std::vector<std::string> runs = {
      " !\"#$%&", "()*+,", "./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~"};
  const std::vector<Bytes> entries = LeafEntries(test::JetFile("access-made/testUnicodeCompV2003.mdb"));
  for (const std::string& run : runs) {
    const Bytes key = Key(ColumnType::kText, run);
    const Bytes inner(key.begin() + 1, key.end() - 2);  // without the flag and the ends of text
    bool found = false;
    for (const Bytes& e : entries) found = found || std::search(e.begin(), e.end(), inner.begin(), inner.end()) != e.end();
    EXPECT_TRUE(found) << run;
  }
}

struct OrderCase {
  ColumnType type;
  KeyValue lower, higher;
};

TEST(JetIndexKeyTest, KeysSortAsTheValues) {
  const KeyValue null;
  auto s = [](const char* t) { return KeyValue(std::string(t)); };
  const std::vector<OrderCase> cases = {
      {ColumnType::kText, null, s("")},
      {ColumnType::kText, s(""), s("0")},
      {ColumnType::kText, s("9"), s("a")},
      {ColumnType::kText, s("a"), s("ab")},
      {ColumnType::kText, s("ab"), s("B")},
      {ColumnType::kText, s("Zug"), s("Zürich")},
      {ColumnType::kText, s("Muller"), s("Müller")},
      {ColumnType::kText, s("Müller"), s("Mullers")},
      {ColumnType::kText, s("a b"), s("ab")},
      {ColumnType::kText, s("St. Gallen"), s("St.Gallen")},
      {ColumnType::kText, s("coop"), s("co-op")},
      {ColumnType::kText, s("co-op"), s("cop")},
      {ColumnType::kText, s("MeierM\u00FCller"), s("Meier-M\u00FCller")},
      {ColumnType::kText, s("Meier-M\u00FCller"), s("Meier-M\u00FCller's")},
      {ColumnType::kText, s("Biel/Bienne"), s("Biel1")},
      {ColumnType::kLong, null, int32_t{-2147483647 - 1}},
      {ColumnType::kLong, int32_t{-1}, int32_t{0}},
      {ColumnType::kLong, int32_t{255}, int32_t{256}},
      {ColumnType::kLong, int32_t{2147483646}, int32_t{2147483647}},
      {ColumnType::kInteger, int32_t{-32768}, int32_t{-1}},
      {ColumnType::kDouble, -2.5, -1.5},
      {ColumnType::kDouble, -1e-300, 0.0},
      {ColumnType::kDouble, 0.5, 1e10},
      {ColumnType::kDateTime, -1.25, 0.0},
      {ColumnType::kDateTime, JetDays(2005, 3, 1), JetDays(2005, 3, 1, 0, 0, 1)},
  };
  for (size_t i = 0; i < cases.size(); ++i)
    EXPECT_LT(Key(cases[i].type, cases[i].lower), Key(cases[i].type, cases[i].higher)) << "case " << i;
  // Case and trailing spaces do not count.
  EXPECT_EQ(Key(ColumnType::kText, s("Zürich")), Key(ColumnType::kText, s("ZÜRICH  ")));
}

TEST(JetIndexKeyTest, RefusesWhatItCannotOrder) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"5 €", "U+20AC"}, {"Øre", "U+00D8"}, {"a\tb", "U+0009"}, {"Stra\u00DFe", "U+00DF"}};
  for (const auto& [text, named] : cases) {
    try {
      Key(ColumnType::kText, text);
      ADD_FAILURE() << "accepted " << text;
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(named), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(Key(ColumnType::kInteger, int32_t{40000}), std::invalid_argument);
  EXPECT_THROW(Key(ColumnType::kLong, std::string("1")), std::invalid_argument);
  EXPECT_THROW(Key(ColumnType::kMemo, std::string("x")), std::invalid_argument);
}

}  // namespace
}  // namespace kw::jet
