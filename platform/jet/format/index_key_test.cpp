// Index keys in the General sort order: the keys Access itself wrote for the
// same values (read from its leaf pages with the format library), their
// order ascending and descending, and what is refused.
#include "platform/jet/format/index_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "platform/jet/format/date.h"
#include "platform/jet/format/index_page.h"
#include "tests/jet_test_support.h"

namespace kw::jet {
namespace {

Bytes Key(ColumnType type, const KeyValue& v, KeyOrder order = KeyOrder::kAscending) {
  Bytes k;
  AppendIndexKey(k, type, v, order);
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
  KeyOrder order = KeyOrder::kAscending;
};

TEST(JetIndexKeyTest, KeysAreTheOnesAccessWroteForTheSameValues) {
  const std::map<std::string, std::string> files = {
      {"unicode", "access-made/testUnicodeCompV2003.mdb"},
      {"fixed", "access-made/fixedTextTestV2000.mdb"},
      {"descending", "access-made/compIndexTestV2000.mdb"},  // one index, its column descending
  };
  const KeyOrder down = KeyOrder::kDescending;
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
      {"descending", ColumnType::kLong, int32_t{19}, down},
      {"descending", ColumnType::kLong, int32_t{990}, down},
      {"descending", ColumnType::kLong, int32_t{4813}, down},
      {"descending", ColumnType::kLong, KeyValue{}, down},
  };
  std::map<std::string, std::set<Bytes>> keysOf;
  for (const auto& [name, file] : files) keysOf[name] = LeafKeys(test::JetFile(file));
  for (const AccessCase& c : cases) {
    const Bytes key = Key(c.type, c.value, c.order);
    const std::set<Bytes>& keys = keysOf.at(c.file);
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
  const KeyOrder down = KeyOrder::kDescending;
  for (size_t i = 0; i < cases.size(); ++i) {
    const OrderCase& c = cases[i];
    EXPECT_LT(Key(c.type, c.lower), Key(c.type, c.higher)) << "case " << i;
    EXPECT_GT(Key(c.type, c.lower, down), Key(c.type, c.higher, down)) << "case " << i << ", descending";
  }
  // Case and trailing spaces do not count.
  EXPECT_EQ(Key(ColumnType::kText, s("Zürich")), Key(ColumnType::kText, s("ZÜRICH  ")));
  EXPECT_EQ(Key(ColumnType::kText, s("Zürich"), down), Key(ColumnType::kText, s("ZÜRICH  "), down));
}

// In a key of several columns each column keeps its own order: the second
// column decides only between equal first columns, whatever their order.
TEST(JetIndexKeyTest, ColumnsOfOneKeyKeepTheirOwnOrder) {
  struct Row {
    KeyValue land, telvor;
  };
  const std::vector<Row> sorted = {  // LAND ascending, then TELVOR descending
      {{}, std::string("01")},        {{}, {}},
      {std::string("A"), std::string("0512")}, {std::string("A"), std::string("01")},
      {std::string("CH"), std::string("044")}, {std::string("CH"), std::string("01")},
      {std::string("CH"), std::string("0")},   {std::string("CH"), std::string("")},
      {std::string("CH"), {}},        {std::string("CHE"), std::string("99")},
  };
  auto key = [](const Row& r) {
    Bytes k;
    AppendIndexKey(k, ColumnType::kText, r.land);
    AppendIndexKey(k, ColumnType::kText, r.telvor, KeyOrder::kDescending);
    return k;
  };
  for (size_t i = 1; i < sorted.size(); ++i) EXPECT_LT(key(sorted[i - 1]), key(sorted[i])) << "row " << i;
}

// The bytes of descending keys as Jackcess' IndexData and mdbtools'
// HACKING.md describe them: flag 80 (FF for null), the ascending value's
// bytes complemented, and after a text one more 00.
TEST(JetIndexKeyTest, DescendingKeysAreTheAscendingBytesComplemented) {
  struct BytesCase {
    ColumnType type;
    KeyValue value;
    Bytes expected;
  };
  const std::vector<BytesCase> cases = {
      {ColumnType::kLong, KeyValue{}, {0xFF}},
      {ColumnType::kLong, int32_t{19}, {0x80, 0x7F, 0xFF, 0xFF, 0xEC}},
      {ColumnType::kLong, int32_t{-1}, {0x80, 0x80, 0x00, 0x00, 0x00}},
      {ColumnType::kInteger, int32_t{2}, {0x80, 0x7F, 0xFD}},
      {ColumnType::kDouble, 1.0, {0x80, 0x40, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {ColumnType::kDouble, -1.0, {0x80, 0xBF, 0xF0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {ColumnType::kText, std::string(""), {0x80, 0xFE, 0xFF, 0x00}},
      {ColumnType::kText, std::string("01"), {0x80, 0xC9, 0xC7, 0xFE, 0xFF, 0x00}},
      // Ü: the letter U (6F), then its diaeresis (13) among the extras.
      {ColumnType::kText, std::string("\u00DC"), {0x80, 0x90, 0xFE, 0xEC, 0xFF, 0x00}},
      // The hyphen passed over: three ends of text, its place 8007 (0x8000 |
      // 7, the first character), 06 and its code 82.
      {ColumnType::kText, std::string("-1"),
       {0x80, 0xC7, 0xFE, 0xFE, 0xFE, 0xFE, 0x7F, 0xF8, 0xF9, 0x7D, 0xFF, 0x00}},
  };
  for (size_t i = 0; i < cases.size(); ++i)
    EXPECT_EQ(Key(cases[i].type, cases[i].value, KeyOrder::kDescending), cases[i].expected) << "case " << i;
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
  // Descending keys refuse the same, with the same words.
  try {
    Key(ColumnType::kText, std::string("5 €"), KeyOrder::kDescending);
    ADD_FAILURE() << "accepted a descending key of 5 €";
  } catch (const std::invalid_argument& e) {
    EXPECT_EQ(std::string(e.what()),
              "the character U+20AC cannot be indexed (printable ASCII and accented Latin letters can)");
  }
  EXPECT_THROW(Key(ColumnType::kInteger, int32_t{40000}), std::invalid_argument);
  EXPECT_THROW(Key(ColumnType::kLong, std::string("1"), KeyOrder::kDescending), std::invalid_argument);
  EXPECT_THROW(Key(ColumnType::kLong, std::string("1")), std::invalid_argument);
  EXPECT_THROW(Key(ColumnType::kMemo, std::string("x")), std::invalid_argument);
}

}  // namespace
}  // namespace kw::jet
