// Arbitrary bytes as a whole Jet database file: the definition page is
// checked, the catalog read, every table found by name, its definition and
// page maps read and every row decoded; then the replacement pass is made on
// PLZSTM and ADRSTM as the run makes it. Every damage must be a RunError;
// besides crashes and sanitizer reports the target stops on a broken
// promise: a pass that succeeded and leaves rows for a second pass.
// Run from a -DKW_FUZZ=ON build directory:
//   ./jet_fuzz -max_total_time=300 CORPUS_DIR ../fuzz/seeds/jet
#include <cstdint>
#include <string>
#include <vector>

#include "platform/jet/catalog.h"
#include "platform/jet/file_kind.h"
#include "platform/jet/row_codec.h"
#include "platform/jet/table_rows.h"
#include "platform/fakes/fake_clock.h"
#include "platform/jet/jet_engine.h"
#include "platform/jet/memory_page_store.h"

namespace {

using namespace kw::jet;

constexpr size_t kMaxTables = 32;

// The names of the catalog's table objects.
std::vector<std::string> TableNames(PageStore& store) {
  TableRows catalog(store, ReadTableDef(store, kCatalogPage, "MSysObjects"));
  const TableDef& t = catalog.Table();
  const Column* name = t.Find("Name");
  const Column* type = t.Find("Type");
  std::vector<std::string> names;
  if (!name || !type || name->type != ColumnType::kText || type->type != ColumnType::kInteger) return names;
  const size_t nameAt = static_cast<size_t>(name - t.columns.data());
  const size_t typeAt = static_cast<size_t>(type - t.columns.data());
  catalog.Scan([&](RowLocation, const ByteView& row, bool) {
    const std::vector<Cell> cells = DecodeRow(t, row);
    const kw::FieldValue kind = CellText(*type, row, cells[typeAt]);
    const kw::FieldValue n = CellText(*name, row, cells[nameAt]);
    if (kind == "1" && n && names.size() < kMaxTables) names.push_back(*n);
  });
  return names;
}

void ReadEveryRow(PageStore& store, const std::string& name) {
  TableRows rows(store, FindTable(store, name));
  const TableDef& t = rows.Table();
  rows.Scan([&](RowLocation, const ByteView& row, bool) {
    const std::vector<Cell> cells = DecodeRow(t, row);
    for (size_t i = 0; i < t.columns.size(); ++i) {
      const ColumnType type = t.columns[i].type;
      if (type == ColumnType::kText || type == ColumnType::kByte || type == ColumnType::kInteger ||
          type == ColumnType::kLong || type == ColumnType::kBoolean)
        CellText(t.columns[i], row, cells[i]);
    }
  });
}

// The replacement pass as the run makes it; the rows changed.
long Pass(kw::DatabaseEngine& engine, const std::string& table) {
  auto db = engine.OpenDatabase("D:\\Daten\\fuzz.mdb", false, false);
  auto rs = db->OpenRecordset("SELECT * FROM " + table + " WHERE LAND = 'CH' AND TELVOR = '01'", 2);
  long n = 0;
  for (; !rs->Eof(); rs->MoveNext()) {
    try {
      rs->Edit();
    } catch (const kw::RunError& e) {
      if (e.Number() != kw::kErrRecordDeleted) throw;
      continue;
    }
    rs->GetValue("LAND");
    rs->SetValue("TELVOR", std::string("044"));
    rs->Update();
    ++n;
  }
  rs->Close();
  db->Close();
  return n;
}

void Convert(const std::vector<uint8_t>& bytes, const std::string& table) {
  MemoryPageStore store("D:\\Daten\\fuzz.mdb", bytes);
  kw::FakeClock clock;
  JetEngine engine([&](std::string_view) { return std::make_unique<BorrowedStore>(store); }, clock);
  long changed = 0;
  try {
    changed = Pass(engine, table);
  } catch (const kw::RunError&) {
    return;
  }
  // Every row the pass changed reads as changed: a second pass finds none.
  long again = -1;
  try {
    again = Pass(engine, table);
  } catch (const kw::RunError&) {
  }
  if (changed > 0 && again != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  MemoryPageStore store("D:\\Daten\\fuzz.mdb", bytes);
  if (store.PageCount() == 0) return 0;
  PageBytes first;
  store.Read(0, first);
  if (KindOf(first) != FileKind::kJet4 || !LockedReason(first).empty()) return 0;
  std::vector<std::string> names;
  try {
    names = TableNames(store);
  } catch (const kw::RunError&) {
    return 0;
  }
  for (const std::string& name : names) {
    try {
      ReadEveryRow(store, name);
    } catch (const kw::RunError&) {
    }
  }
  Convert(bytes, "PLZSTM");
  Convert(bytes, "ADRSTM");
  return 0;
}
