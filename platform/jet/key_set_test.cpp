// The key set's selection, which tests rows on their stored bytes, against
// the condition evaluated on the texts the engine reads from the rows.
#include "platform/jet/key_set.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "platform/fakes/fake_clock.h"
#include "platform/jet/jet_engine.h"
#include "platform/jet/memory_page_store.h"

namespace kw::jet {
namespace {

std::vector<uint8_t> TestFile(const std::string& relative) {
  std::ifstream in(std::string(KW_TEST_DATA) + "/jet/" + relative, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

struct Engine {
  explicit Engine(const std::vector<uint8_t>& file)
      : store("D:\\Daten\\t.mdb", file),
        engine([this](std::string_view) { return std::make_unique<BorrowedStore>(store); }, clock) {}
  MemoryPageStore store;
  FakeClock clock;
  JetEngine engine;
};

// The key column's value of every row the selection gives, in its order.
std::vector<std::string> Selected(const std::vector<uint8_t>& file, const std::string& source, const std::string& key) {
  Engine e(file);
  auto db = e.engine.OpenDatabase("D:\\Daten\\t.mdb", false, false);
  auto rs = db->OpenRecordset(source, 2);
  std::vector<std::string> out;
  for (; !rs->Eof(); rs->MoveNext()) out.push_back(rs->GetValue(key).value_or("null"));
  return out;
}

// Files by other implementations whose text columns hold compressed and
// two-byte texts, nulls, look-alikes of CH and 01 (CHE, " CH", "ch", "01 ",
// 010) and towns with umlauts.
TEST(JetKeySet, SelectsTheRowsWhoseDecodedTextsMeetTheCondition) {
  const struct {
    const char* file;
    const char* table;
    const char* key;
  } files[] = {{"product/Public.mdb", "PLZSTM", "PLZNR"}, {"variants/uncompressed.mdb", "ADRSTM", "ADRNR"}};
  const char* conditions[] = {
      "LAND = 'CH'", "LAND = 'ch'", "'cH' = LAND", "LAND = 'CHE'", "LAND = ' CH'", "TELVOR = '01'",
      "TELVOR = '01 '", "TELVOR = '010'", "LAND = 'CH' AND TELVOR = '01'", "ORT = 'D\xC3\xBC" "bendorf'",
      "ORT = 'D\xC3\x9C" "BENDORF'", "ORT = 'luzern'", "LAND IS NULL", "TELVOR IS NULL", "LAND = TELVOR",
      "TELVOR = '01' OR ORT = 'Bern'", "(LAND = 'CH' OR LAND = 'LI') AND TELVOR IS NULL", "LAND = ''",
  };
  for (const auto& f : files) {
    SCOPED_TRACE(f.file);
    const std::vector<uint8_t> file = TestFile(f.file);
    ASSERT_FALSE(file.empty());
    // Every row's texts as the engine decodes them.
    std::vector<std::map<std::string, FieldValue>> rows;
    {
      Engine e(file);
      auto db = e.engine.OpenDatabase("D:\\Daten\\t.mdb", false, false);
      auto rs = db->OpenRecordset(std::string("SELECT * FROM ") + f.table, 2);
      for (; !rs->Eof(); rs->MoveNext()) {
        std::map<std::string, FieldValue>& row = rows.emplace_back();
        for (const char* c : {"LAND", "TELVOR", "ORT", f.key}) row[c] = rs->GetValue(c);
      }
    }
    ASSERT_GT(rows.size(), 1000u);
    for (const char* where : conditions) {
      const std::string source = std::string("SELECT * FROM ") + f.table + " WHERE " + where;
      const Selection selection = ParseSelection(source);
      std::vector<std::string> expected;
      for (const auto& row : rows)
        if (Evaluate(selection.where, [&](const Operand& o) { return row.at(o.name); }))
          expected.push_back(row.at(f.key).value_or("null"));
      EXPECT_EQ(Selected(file, source, f.key), expected) << where;
    }
  }
}

}  // namespace
}  // namespace kw::jet
