// Indexes of files made by the writer: their keys against the ones Access
// itself wrote for the same values, their order, their pages read back, and
// the engine converting such a file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <set>

#include "tests/jet_readers.h"
#include "tests/jet_test_support.h"
#include "tools/jet/jet_index.h"
#include "tools/jet/jet_index_key.h"
#include "tools/jet/jet_writer.h"

namespace kw::jetw {
namespace {

namespace jr = kw::jet_readers;

const DateTime kCreated = MakeDateTime(2024, 5, 1, 12, 30, 0);

Bytes Key(ColumnType type, const Value& v) {
  Bytes k;
  AppendIndexKey(k, type, v);
  return k;
}

std::vector<Bytes> Pages(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<Bytes> pages;
  Bytes page(kPageSize);
  while (in.read(reinterpret_cast<char*>(page.data()), static_cast<long>(kPageSize))) pages.push_back(page);
  return pages;
}

uint32_t Le(const Bytes& p, size_t at, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | p[at + static_cast<size_t>(i)];
  return v;
}


// The entries of an index page, each whole (the shared prefix put back).
std::vector<Bytes> EntriesOf(const Bytes& p) {
  const size_t prefix = Le(p, 24, 2);
  std::vector<Bytes> out;
  size_t last = 0;
  for (size_t bit = 0; bit < kIndexEntrySpace; ++bit) {
    if (!(p[kIndexMaskStart + bit / 8] >> (bit % 8) & 1)) continue;
    Bytes e(p.begin() + static_cast<long>(kIndexEntriesStart + last), p.begin() + static_cast<long>(kIndexEntriesStart + bit));
    if (!out.empty()) e.insert(e.begin(), out.front().begin(), out.front().begin() + static_cast<long>(prefix));
    out.push_back(e);
    last = bit;
  }
  return out;
}

// Every key Access's leaf pages hold in the file, row pointers cut off.
std::set<Bytes> LeafKeys(const std::string& file) {
  std::set<Bytes> keys;
  for (const Bytes& p : Pages(file))
    if (p[0] == 0x04)
      for (Bytes e : EntriesOf(p)) keys.insert(Bytes(e.begin(), e.end() - 4));
  return keys;
}

struct AccessCase {
  const char* file;
  ColumnType type;
  Value value;
};

TEST(JetIndexKeyTest, KeysAreTheOnesAccessWroteForTheSameValues) {
  const std::string unicode = kw::jet::test::JetFile("access-made/testUnicodeCompV2003.mdb");
  const std::string fixed = kw::jet::test::JetFile("access-made/fixedTextTestV2000.mdb");
  const std::vector<AccessCase> cases = {
      {"unicode", ColumnType::kText, std::string("only ascii chars")},
      {"unicode", ColumnType::kText, std::string("ääkkösiä")},
      {"unicode", ColumnType::kText, std::string("ümlaut")},
      {"unicode", ColumnType::kLong, int32_t{1}},
      {"fixed", ColumnType::kText, std::string("CORE USER")},
      {"fixed", ColumnType::kText, std::string("Admin User")},
      {"fixed", ColumnType::kText, std::string("N")},
      {"fixed", ColumnType::kLong, int32_t{2}},
      {"fixed", ColumnType::kDateTime, MakeDateTime(2009, 11, 5, 23, 41, 28)},
      {"fixed", ColumnType::kDateTime, MakeDateTime(2009, 10, 22, 3, 57, 13)},
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

struct OrderCase {
  ColumnType type;
  Value lower, higher;
};

TEST(JetIndexKeyTest, KeysSortAsTheValues) {
  const Value null;
  auto s = [](const char* t) { return Value(std::string(t)); };
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
      {ColumnType::kLong, null, int32_t{-2147483647 - 1}},
      {ColumnType::kLong, int32_t{-1}, int32_t{0}},
      {ColumnType::kLong, int32_t{255}, int32_t{256}},
      {ColumnType::kLong, int32_t{2147483646}, int32_t{2147483647}},
      {ColumnType::kInteger, int32_t{-32768}, int32_t{-1}},
      {ColumnType::kDouble, Double{-2.5}, Double{-1.5}},
      {ColumnType::kDouble, Double{-1e-300}, Double{0}},
      {ColumnType::kDouble, Double{0.5}, Double{1e10}},
      {ColumnType::kDateTime, DateTime{-1.25}, DateTime{0}},
      {ColumnType::kDateTime, MakeDateTime(2005, 3, 1), MakeDateTime(2005, 3, 1, 0, 0, 1)},
  };
  for (size_t i = 0; i < cases.size(); ++i)
    EXPECT_LT(Key(cases[i].type, cases[i].lower), Key(cases[i].type, cases[i].higher)) << "case " << i;
  // Case and trailing spaces do not count.
  EXPECT_EQ(Key(ColumnType::kText, s("Zürich")), Key(ColumnType::kText, s("ZÜRICH  ")));
}

TEST(JetIndexKeyTest, RefusesWhatItCannotOrder) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Biel/Bienne", "U+002F"}, {"St. Gallen", "U+002E"}, {"5 €", "U+20AC"}, {"Øre", "U+00D8"}, {"a\tb", "U+0009"}};
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
}  // namespace kw::jetw
