// The key set's selection, which tests rows on their stored bytes, against
// the condition evaluated on the texts the rows were written with.
#include "platform/jet/key_set.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/fakes/fake_clock.h"
#include "platform/jet/jet_engine.h"
#include "platform/jet/memory_page_store.h"
#include "tests/support/temp_dir.h"
#include "tools/jet/jet_writer.h"

namespace kw::jet {
namespace {

// Texts stored compressed (three characters or more of Latin-1), as two
// bytes a character (shorter, or beyond Latin-1), empty and null.
const std::optional<std::string> kTexts[] = {
    "CH", "ch", "Ch", "CHE", "C", "", std::nullopt, "\xC3\x87H", "\xC3\xA7h", "CH ", " CH", "01", "1", "\xE2\x82\xAC" "CH",
    "Z\xC3\xBCrich", "Z\xC3\x9CRICH", "zurich", "cha", "CHA", "01 ", "\xC3\x87HE", std::nullopt, "ch",
};
constexpr size_t kRows = std::size(kTexts) * 3;

std::optional<std::string> ValueA(size_t row) { return kTexts[row % std::size(kTexts)]; }
std::optional<std::string> ValueB(size_t row) { return kTexts[(row * 7 + 3) % std::size(kTexts)]; }

// A table T (Nr, A compressed, B not) of kRows rows, on several pages.
std::vector<uint8_t> TableFile() {
  testing::TempDir dir;
  const std::string path = dir / "t.mdb";
  {
    jetw::JetWriter w(path, jetw::MakeDateTime(2024, 5, 1));
    const size_t t = w.AddTable({"T",
                                 {{"Nr", ColumnType::kLong, 0, false, true},
                                  {"A", ColumnType::kText, 20, true, false},
                                  {"B", ColumnType::kText, 20, false, false},
                                  {"Fill", ColumnType::kText, 255, false, false}}});
    auto value = [](const std::optional<std::string>& s) { return s ? jetw::Value(*s) : jetw::Value(); };
    for (size_t r = 0; r < kRows; ++r)
      w.AddRow(t, {std::monostate{}, value(ValueA(r)), value(ValueB(r)), jetw::Value(std::string(100, 'x'))});
    w.Finish();
  }
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(JetKeySet, SelectsTheRowsWhoseTextsMeetTheCondition) {
  const std::vector<uint8_t> file = TableFile();
  const char* conditions[] = {
      "A = 'CH'", "B = 'ch'", "'ch' = A", "A = 'CHE'", "B = '01'", "A = ''", "B = ''",
      "A = '\xC3\xA7H'", "B = 'z\xC3\xBCRICH'", "A = B", "A IS NULL", "B IS NULL",
      "A = 'CH' OR B = '01'", "(A = 'ch' AND B = 'CH') OR A IS NULL", "A = 'CH' AND B = 'C'", "'x' = 'X'",
  };
  for (const char* where : conditions) {
    const std::string source = std::string("SELECT * FROM T WHERE ") + where;
    const Selection selection = ParseSelection(source);
    std::vector<std::string> expected;
    for (size_t r = 0; r < kRows; ++r) {
      const bool holds = Evaluate(selection.where, [&](const Operand& o) -> FieldValue {
        return o.name == "A" ? ValueA(r) : ValueB(r);
      });
      if (holds) expected.push_back(std::to_string(r + 1));
    }
    MemoryPageStore store("D:\\Daten\\t.mdb", file);
    FakeClock clock;
    JetEngine engine([&](std::string_view) { return std::make_unique<BorrowedStore>(store); }, clock);
    auto db = engine.OpenDatabase("D:\\Daten\\t.mdb", false, false);
    auto rs = db->OpenRecordset(source, 2);
    std::vector<std::string> selected;
    for (; !rs->Eof(); rs->MoveNext()) selected.push_back(rs->GetValue("Nr").value_or("null"));
    EXPECT_EQ(selected, expected) << where;
  }
}

}  // namespace
}  // namespace kw::jet
