// Damaged and cut-short copies of a real Jet file, opened through the engine
// over the real file store: each is a clear error naming the file, and the
// file is left exactly as it was (no journal beside it either).
#include <gtest/gtest.h>

#include <functional>

#include "platform/jet/file_page_store.h"
#include "platform/jet/file_store_test_support.h"
#include "platform/jet/format/usage_map.h"
#include "tests/jet_damage_support.h"
#include "tests/jet_test_support.h"

namespace kw::jet::test {
namespace {

using Damage = std::function<void(Bytes&, const Landmarks&)>;

struct DamageCase {
  const char* name;
  Damage damage;
  const char* says;  // a part of the error's text
};


const std::vector<DamageCase>& Cases() {
  static const std::vector<DamageCase> cases = {
      // Cut short.
      {"empty", [](Bytes& b, const Landmarks&) { b.clear(); }, "is empty"},
      {"cut in the header", [](Bytes& b, const Landmarks&) { b.resize(100); }, "not a whole number of pages"},
      {"cut in the table definition",
       [](Bytes& b, const Landmarks& l) { b.resize(l.tdefPage * kPageSize + 700); }, "not a whole number of pages"},
      {"cut in a data page", [](Bytes& b, const Landmarks& l) { b.resize(l.dataPage * kPageSize + 2000); },
       "not a whole number of pages"},
      {"last page cut", [](Bytes& b, const Landmarks&) { b.resize(b.size() - 1000); }, "not a whole number of pages"},
      {"cut before the table definition", [](Bytes& b, const Landmarks& l) { b.resize(l.tdefPage * kPageSize); },
       "which is not in the file"},
      {"cut after a data page", [](Bytes& b, const Landmarks& l) { b.resize((l.dataPage + 1) * kPageSize); },
       "beyond the end of the file"},
      // The table's definition.
      {"column count too large", [](Bytes& b, const Landmarks& l) { Set16(b, l.Tdef(tdef::kColumnCount), 0xFFFF); },
       "counts of columns and indexes"},
      {"index count too large", [](Bytes& b, const Landmarks& l) { Set32(b, l.Tdef(tdef::kRealIndexCount), 0x7FFFFFFF); },
       "counts of columns and indexes"},
      {"logical index count too large", [](Bytes& b, const Landmarks& l) { Set32(b, l.Tdef(tdef::kLogicalIndexCount), 0xFFFFFFFF); },
       "counts of columns and indexes"},
      {"column name longer than its pages", [](Bytes& b, const Landmarks& l) { Set16(b, l.FirstName(), 0xFFF0); },
       "ends before byte"},
      {"fixed column beyond a page", [](Bytes& b, const Landmarks& l) { Set16(b, l.ColumnEntry(0) + column_entry::kFixedOffset, 0xFF00); },
       "lies beyond a page"},
      {"column number beyond the columns", [](Bytes& b, const Landmarks& l) { Set16(b, l.Column("TELVOR") + column_entry::kNumber, 0x7FFF); },
       "has the number 32767"},
      {"variable-length index beyond the rows'",
       [](Bytes& b, const Landmarks& l) { Set16(b, l.Column("TELVOR") + column_entry::kVarIndex, 0x00FF); },
       "not among the row's"},
      {"definition pages in a loop", [](Bytes& b, const Landmarks& l) { Set32(b, l.Tdef(tdef::kNextPage), l.tdefPage); },
       "form a loop"},
      {"definition continued beyond the file", [](Bytes& b, const Landmarks& l) { Set32(b, l.Tdef(tdef::kNextPage), 0x00FFFFFF); },
       "beyond the end of the file"},
      {"definition continued on a data page",
       [](Bytes& b, const Landmarks& l) { Set32(b, l.Tdef(tdef::kNextPage), l.dataPage); }, "is not a table definition page"},
      // The catalog.
      {"catalog row names a page beyond the file",
       [](Bytes& b, const Landmarks& l) { Set32(b, l.catalogId, 0x00FFFFF0); }, "which is not in the file"},
      {"catalog row names a data page", [](Bytes& b, const Landmarks& l) { Set32(b, l.catalogId, l.dataPage); },
       "is not a table definition page"},
      {"catalog page with too many rows",
       [](Bytes& b, const Landmarks& l) { Set16(b, l.catalogPage * kPageSize + data_page::kRowCount, 0xFFFF); }, "more than it can hold"},
      // Data pages.
      {"data page with too many rows", [](Bytes& b, const Landmarks& l) { Set16(b, l.Data(data_page::kRowCount), 3000); },
       "more than it can hold"},
      {"row beyond its page", [](Bytes& b, const Landmarks& l) { Set16(b, l.Data(kDataHeader), kSlotOffsetMask); },
       "outside its place"},
      {"rows out of order", [](Bytes& b, const Landmarks& l) { Set16(b, l.Data(kDataHeader + 2), 0x0FFE); }, "outside its place"},
      {"free space that disagrees", [](Bytes& b, const Landmarks& l) { Set16(b, l.Data(data_page::kFreeSpace), Get16(b, l.Data(data_page::kFreeSpace)) + 1); },
       "free space"},
      {"row with too many columns", [](Bytes& b, const Landmarks& l) { Set16(b, l.RowStart(b) + row::kColumnCount, 0xFFFF); },
       "null mask"},
      {"row's variable-length count too large",
       [](Bytes& b, const Landmarks& l) { Set16(b, l.RowEnd(b) - l.maskBytes - row::kOffsetBytes, 0x0FFF); }, "offset table"},
      {"row's variable-length offsets out of order",
       [](Bytes& b, const Landmarks& l) { Set16(b, l.RowEnd(b) - l.maskBytes - 2 * row::kOffsetBytes, 0x0FFF); }, "out of order"},
      // Usage maps: the table's page map refers to map pages, the catalog's
      // and the free-space map hold their bits in their rows.
      {"page map of an unknown type", [](Bytes& b, const Landmarks& l) { b[l.OwnedMap(b) + usage_map::kType] = 7; }, "unknown type"},
      {"free-space map of an unknown type", [](Bytes& b, const Landmarks& l) { b[l.FreeMap(b) + usage_map::kType] = 2; }, "unknown type"},
      {"map page beyond the file", [](Bytes& b, const Landmarks& l) { Set32(b, l.OwnedMap(b) + usage_map::kMapPages, 0x00FFFFF0); },
       "beyond the end of the file"},
      {"map page that is not one", [](Bytes& b, const Landmarks& l) { Set32(b, l.OwnedMap(b) + usage_map::kMapPages, l.dataPage); },
       "is not a usage map page"},
      {"map page naming pages beyond the file",
       [](Bytes& b, const Landmarks& l) { b[size_t{Get32(b, l.OwnedMap(b) + usage_map::kMapPages)} * kPageSize + 4000] = 0x10; },
       "beyond the end of the file"},
      {"inline map naming pages beyond the file",
       [](Bytes& b, const Landmarks& l) { Set32(b, l.CatalogMap(b) + usage_map::kFirstPage, static_cast<uint32_t>(b.size() / kPageSize - 8)); },
       "beyond the end of the file"},
      {"inline map of an unknown type", [](Bytes& b, const Landmarks& l) { b[l.CatalogMap(b) + usage_map::kType] = 9; }, "unknown type"},
      {"page map on a page beyond the file",
       [](Bytes& b, const Landmarks& l) { Set32(b, l.Tdef(tdef::kOwnedPages), 0xFFFFFF00); }, "which is not in the file"},
      {"page map in a row that is not there",
       [](Bytes& b, const Landmarks& l) { b[l.Tdef(tdef::kOwnedPages)] = 200; }, "has no row 200"},
      // Row pointers of moved rows.
      {"row pointer beyond the file", [](Bytes& b, const Landmarks& l) { l.Point(b, 1, 0x00FFFFFF, 0); },
       "points beyond the file"},
      {"row pointer to itself", [](Bytes& b, const Landmarks& l) { l.Point(b, 1, l.dataPage, 1); },
       "not a moved row"},
      {"row pointers in a loop",
       [](Bytes& b, const Landmarks& l) {
         l.Point(b, 1, l.dataPage, 2);
         l.Point(b, 2, l.dataPage, 1);
       },
       "not a moved row"},
      {"row pointer to a row that is not there", [](Bytes& b, const Landmarks& l) { l.Point(b, 1, l.dataPage, 250); },
       "has no row 250"},
      {"two row pointers to one moved row",
       [](Bytes& b, const Landmarks& l) {
         l.Flag(b, 3, kMovedFlag);
         l.Point(b, 1, l.dataPage, 3);
         l.Point(b, 2, l.dataPage, 3);
       },
       "another row's pointer"},
  };
  return cases;
}

TEST(JetDamagedFiles, EachIsAClearErrorNamingTheFileAndTheFileStaysAsItWas) {
  const Bytes original = ReadBytes(JetFile("product/Public.mdb"));
  const Landmarks l = Landmarks::Of(original, "PLZSTM", "TELVOR");
  for (const DamageCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    Bytes damaged = original;
    c.damage(damaged, l);
    ASSERT_NE(damaged, original);
    jet::testing::ScratchDir dir;
    Bytes after;
    const std::string error = ConvertFile(damaged, dir, &after);
    EXPECT_NE(error.find("'D:\\Daten\\test.mdb'"), std::string::npos) << error;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_TRUE(after == damaged) << "the file was changed";
  }
}

TEST(JetDamagedFiles, TheUndamagedCopyConverts) {
  jet::testing::ScratchDir dir;
  Bytes after;
  EXPECT_EQ(ConvertFile(ReadBytes(JetFile("product/Public.mdb")), dir, &after), "");
  EXPECT_NE(after, ReadBytes(JetFile("product/Public.mdb")));
}

}  // namespace
}  // namespace kw::jet::test
