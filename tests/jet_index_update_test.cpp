// Indexed columns changed through the engine: every index of the table is
// checked whole afterwards (jet_index_check.h), both readers read every
// table, and what the engine cannot key exactly is refused before anything
// is written.
#include <gtest/gtest.h>

#include <functional>

#include "tests/e2e_support.h"
#include "tests/jet_damage_support.h"
#include "tests/jet_index_check.h"
#include "tests/jet_postal_file.h"

namespace kw::jet::test {
namespace {

namespace jr = kw::jet_readers;
using jet::testing::ScratchDir;

// Sets `column` of every row that `where` selects to value(old value); the
// rows changed, or the first error's text in *error.
long SetEach(DatabaseEngine& engine, const std::string& table, const std::string& column, const std::string& where,
             const std::function<FieldValue(const FieldValue&)>& value, std::string* error = nullptr) {
  auto db = engine.OpenDatabase("D:\\Daten\\test.mdb", false, false);
  long n = 0;
  try {
    auto rs = db->OpenRecordset("SELECT * FROM [" + table + "]" + (where.empty() ? "" : " WHERE " + where), 2);
    for (; !rs->Eof(); rs->MoveNext()) {
      rs->Edit();
      rs->SetValue(column, value(rs->GetValue(column)));
      rs->Update();
      ++n;
    }
    rs->Close();
  } catch (const RunError& e) {
    if (!error) throw;
    *error = e.Description();
  }
  db->Close();
  return n;
}

// The file after the change: every index sound, both readers read it.
void CheckFile(const std::vector<uint8_t>& bytes, const std::string& table) {
  ScratchDir dir;
  const std::string path = dir / "changed.mdb";
  WriteBytes(path, bytes);
  const Counts counts = CheckEveryIndex(path);
  EXPECT_GT(counts.keysCompared, 0u);
  const jr::Table exported = jr::MdbExport(path, table);
  const jr::Table read = jr::Find(jr::NodeRead(path), table);
  EXPECT_EQ(exported.rows.size(), read.rows.size());
}

TEST(JetIndexUpdate, IndexedTextColumnsOfAccessMadeFilesAreChangedWithTheirIndexesKept) {
  const std::string missing = jr::MissingReaders();
  ASSERT_TRUE(missing.empty()) << "missing: " << missing;
  struct Case {
    const char* file;
    const char* table;
    const char* column;
    const char* where;
    long rows;  // -1: any
    bool prefix = true;  // "044 " before the old value, else "044" alone
  };
  const Case cases[] = {
      {"access-made/testV2000.mdb", "Table1", "B", "", 2},        // an index of its own
      {"access-made/testV2000.mdb", "Table1", "A", "", 2},        // the primary key
      {"access-made/testUnicodeCompV2003.mdb", "Table", "Unicode", "Unicode = 'only ascii chars'", 1},
      {"variants/indexed-telvor.mdb", "PLZSTM", "TELVOR", "TELVOR = '01'", -1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.column);
    MemoryJet jet(ReadBytes(JetFile(c.file)));
    const long n = SetEach(jet.engine, c.table, c.column, c.where,
                           [&](const FieldValue& v) { return FieldValue(c.prefix ? "044 " + v.value_or("") : "044"); });
    if (c.rows >= 0) {
      EXPECT_EQ(n, c.rows);
    }
    EXPECT_GT(n, 0);
    CheckFile(jet.store.Bytes(), c.table);
  }
}

TEST(JetIndexUpdate, IndexedTelvorIsConvertedExactlyAndASecondRunChangesNoByte) {
  ScratchDir dir;
  std::vector<uint8_t> once, twice;
  EXPECT_EQ(ConvertFile(ReadBytes(JetFile("variants/indexed-telvor.mdb")), dir, &once), "");
  EXPECT_EQ(ConvertFile(once, dir, &twice), "");
  EXPECT_EQ(once, twice);
  CheckFile(once, "PLZSTM");
  const std::vector<std::string> before = Export(JetFile("variants/indexed-telvor.mdb"), "PLZSTM");
  WriteBytes(dir / "once.mdb", once);
  const std::vector<std::string> after = Export(dir / "once.mdb", "PLZSTM");
  ASSERT_EQ(before.size(), after.size());
  size_t changed = 0;
  for (size_t i = 0; i < before.size(); ++i) changed += before[i] != after[i];
  EXPECT_GT(changed, 0u);
}

TEST(JetIndexUpdate, AnIndexWhoseKeysAreNotMadeExactlyHereRefusesItsTableBeforeAnyWrite) {
  // Cyrillic, Greek and Japanese text lie outside the sort tables the
  // engine knows: the index over them is not touched, nor any row.
  const std::vector<uint8_t> original = ReadBytes(JetFile("access-made/testUnicodeCompV2003.mdb"));
  MemoryJet jet(original);
  std::string error;
  EXPECT_EQ(SetEach(jet.engine, "Table", "Unicode", "", [](const FieldValue&) { return FieldValue("044"); }, &error), 0);
  EXPECT_NE(error.find("'Table'"), std::string::npos) << error;
  EXPECT_NE(error.find("left unchanged"), std::string::npos) << error;
  EXPECT_EQ(jet.store.Bytes(), original);
  EXPECT_EQ(jet.store.Commits(), 0);
}

// Where the first logical index entry of the table lies: after the column
// entries, their names and the real index entries.
size_t FirstLogicalIndex(const Bytes& b, const Landmarks& l) {
  size_t at = l.FirstName();
  for (size_t i = 0; i < l.table.columns.size(); ++i) at += tdef::kNameLength + Get16(b, at);
  return at + l.realIndexes * tdef::kRealIndexEntry;
}

TEST(JetIndexUpdate, IndexesThisEngineCannotKeepExactlyAreRefusedAndTheFileLeftAsItWas) {
  using Damage = void (*)(Bytes&, const Landmarks&);
  struct Case {
    const char* what;
    Damage damage;
    const char* says;
  };
  const Case cases[] = {
      {"an index on one side of a relationship",
       [](Bytes& b, const Landmarks& l) {
         for (size_t i = 0; i < l.table.indexes.size(); ++i)
           Set32(b, FirstLogicalIndex(b, l) + i * tdef::kLogicalIndexEntry + logical_index::kRelatedIndex, 0);
       },
       "relationship"},
      {"a sort order other than General",
       [](Bytes& b, const Landmarks& l) { Set16(b, l.Column("TELVOR") + column_entry::kSortOrder, 0x0407); },
       "\"General\""},
      {"no entry for a selected row",
       [](Bytes& b, const Landmarks& l) {
         // The last entry of key "01" ends with the greatest row pointer of
         // them; it now names slot 255 of its page, which holds no row, and
         // the index stays in order.
         MemoryPageStore store("x", b);
         const Index& index = *l.table.IndexesOf(*l.table.Find("TELVOR")).front();
         Bytes key;
         AppendIndexKey(key, ColumnType::kText, std::string("01"));
         Bytes last;
         for (const Bytes& e : WalkIndex(store, l.table, index).entries)
           if (e.size() == key.size() + kEntryRowPointerBytes && std::equal(key.begin(), key.end(), e.begin())) last = e;
         ASSERT_FALSE(last.empty());
         const auto pointer = last.end() - kEntryRowPointerBytes;
         for (size_t page = 0; page < b.size() / kPageSize; ++page) {
           if (b[page * kPageSize] != kIndexLeafPageType) continue;
           const auto from = b.begin() + static_cast<long>(page * kPageSize + index_page::kEntries);
           const auto it = std::search(from, from + static_cast<long>(kIndexEntrySpace), pointer, last.end());
           if (it != from + static_cast<long>(kIndexEntrySpace)) it[3] = 0xFF;
         }
       },
       "does not hold the entry"},
  };
  const Bytes original = ReadBytes(JetFile("variants/indexed-telvor.mdb"));
  const Landmarks l = Landmarks::Of(original, "PLZSTM", "TELVOR");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes damaged = original;
    c.damage(damaged, l);
    ASSERT_NE(damaged, original);
    ScratchDir dir;
    Bytes after;
    const std::string error = ConvertFile(damaged, dir, &after);
    EXPECT_NE(error.find("'PLZSTM'"), std::string::npos) << error;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_EQ(after, damaged);
  }
}

// Rows whose TELVOR no other row has, but for one Swiss row with "01" and,
// when asked for, one with "044" already.
PostalRowEdit DistinctBut(bool with044) {
  return [with044](int64_t row, std::vector<std::optional<std::string>>& v) {
    v[3] = DistinctTelvor(row);
    if (row == 5 || (with044 && row == 6)) {
      v[0] = "CH";
      v[3] = row == 5 ? "01" : "044";
    }
  };
}

TEST(JetIndexUpdate, WriterMadeIndexesOfTheAreaCodeAreKeptThroughSplitsAndASecondPassChangesNothing) {
  const std::string missing = jr::MissingReaders();
  ASSERT_TRUE(missing.empty()) << "missing: " << missing;
  struct Case {
    const char* what;
    int64_t rows;
    std::vector<PostalIndex> indexes;
    PostalRowEdit edit;
    const char* error;  // "" when every row converts
  };
  const Case cases[] = {
      // Three levels of index pages (fewer rows under the sanitizers).
      {"TELVOR, several levels", e2e::Scaled(200000, 30000), {kTelvorIndex}, {}, ""},
      {"LAND, TELVOR and PLZ, TELVOR, ORT", e2e::Scaled(30000, 8000), {kLandTelvorIndex, kPlzTelvorOrtIndex}, {}, ""},
      {"TELVOR descending", e2e::Scaled(30000, 8000), {kDescendingTelvorIndex}, {}, ""},
      {"unique TELVOR", 3000, {kUniqueTelvorIndex}, DistinctBut(false), ""},
      {"unique TELVOR that has 044 already", 3000, {kUniqueTelvorIndex}, DistinctBut(true), kDuplicateKey},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<uint8_t> original = PostalFile(c.rows, c.indexes, c.edit);
    MemoryJet jet(original);
    std::string error;
    try {
      EXPECT_GT(ConvertPass(jet.engine, "PLZSTM", "TELVOR"), 0);
    } catch (const RunError& e) {
      error = e.Description();
    }
    EXPECT_EQ(error, c.error);
    if (*c.error) {
      EXPECT_EQ(jet.store.Bytes(), original);
      continue;
    }
    CheckFile(jet.store.Bytes(), "PLZSTM");
    const std::vector<uint8_t> once = jet.store.Bytes();
    EXPECT_EQ(ConvertPass(jet.engine, "PLZSTM", "TELVOR"), 0);
    EXPECT_EQ(jet.store.Bytes(), once);
  }
}

}  // namespace
}  // namespace kw::jet::test
