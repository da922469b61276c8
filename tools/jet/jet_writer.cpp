#include "tools/jet/jet_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "platform/jet/format/index_key.h"
#include "platform/jet/format/row_layout.h"
#include "platform/jet/format/table_definition.h"
#include "platform/jet/format/text_codec.h"
#include "tools/jet/jet_catalog.h"
#include "tools/jet/jet_header.h"
#include "tools/jet/jet_index.h"
#include "tools/jet/jet_pages.h"
#include "tools/jet/jet_row.h"
#include "tools/jet/jet_tdef.h"

namespace kw::jetw {

namespace {

constexpr size_t kChainSegment = jet::kMaxRowBytes - jet::long_value::kChainPointer;

// Pages owned by one table or one long-value column, and the one being filled.
struct PageRun {
  uint32_t owner = 0;
  std::optional<DataPageBuilder> current;
  uint32_t currentNumber = 0;
  std::vector<uint32_t> owned;
};

struct TableIndex {
  IndexSchema def;
  std::vector<size_t> columns;  // positions in the table's columns
  std::vector<jet::KeyOrder> orders;  // one for each of them
  IndexEntries entries;
  IndexPages pages;
};

struct Table {
  TableSchema def;
  TableLayout layout;
  uint32_t definitionPage = 0;
  uint32_t mapPage = 0;
  uint32_t rows = 0;
  uint32_t lastAutoNumber = 0;
  PageRun data;
  std::vector<PageRun> longValues;  // one for each memo/OLE column, in column order
  std::vector<int> longValueSlot;   // column number -> index in longValues, -1 for others
  std::vector<TableIndex> indexes;
};

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

std::string Where(const Table& t, const TableIndex& i) { return "table " + t.def.name + ", index " + i.def.name; }

// Checks the table's indexes against its columns and finds their columns.
std::vector<TableIndex> LayOutIndexes(const TableSchema& def, const TableLayout& layout) {
  std::vector<TableIndex> out;
  bool primary = false;
  for (const IndexSchema& d : def.indexes) {
    const std::string where = "table " + def.name + ", index " + d.name;
    const size_t length = jet::Utf16FromUtf8(d.name).size();
    if (length == 0 || length > 64) throw std::invalid_argument(where + ": a name has 1 to 64 characters");
    for (const TableIndex& o : out)
      if (SameName(o.def.name, d.name)) throw std::invalid_argument(where + ": the name is used twice");
    if (d.columns.empty() || d.columns.size() > jet::real_index::kMaxColumns) throw std::invalid_argument(where + ": an index has 1 to 10 columns");
    if (d.primaryKey && primary) throw std::invalid_argument(where + ": a table has one primary key at most");
    primary = primary || d.primaryKey;
    TableIndex i;
    i.def = d;
    for (const std::string& name : d.columns) {
      size_t k = 0;
      while (k < layout.columns.size() && !SameName(layout.columns[k].def.name, name)) ++k;
      if (k == layout.columns.size()) throw std::invalid_argument(where + ": there is no column " + name);
      for (size_t earlier : i.columns)
        if (earlier == k) throw std::invalid_argument(where + ": the column " + name + " is named twice");
      if (!jet::IndexableType(layout.columns[k].def.type))
        throw std::invalid_argument(where + ": the column " + name + " is of a type this writer does not index");
      i.columns.push_back(k);
      i.orders.push_back(jet::KeyOrder::kAscending);
    }
    for (const std::string& name : d.descending) {
      size_t k = 0;
      while (k < d.columns.size() && !SameName(d.columns[k], name)) ++k;
      if (k == d.columns.size())
        throw std::invalid_argument(where + ": the descending column " + name + " is not one of the index's columns");
      i.orders[k] = jet::KeyOrder::kDescending;
    }
    out.push_back(std::move(i));
  }
  return out;
}

}  // namespace

struct JetWriter::State {
  std::string path;
  int fd = -1;
  DateTime created;
  uint32_t nextPage = 0;
  uint32_t pagesWritten = 0;
  bool finished = false;
  std::vector<Table> tables;

  [[noreturn]] void Fail(const std::string& what) const {
    throw std::runtime_error("'" + path + "': " + what);
  }

  uint32_t Allocate() {
    if (nextPage >= jet::kRowPointerPages) Fail("more pages than a Jet file can address");
    return nextPage++;
  }

  void WritePage(uint32_t number, const Bytes& page) {
    off_t at = static_cast<off_t>(number) * static_cast<off_t>(jet::kPageSize);
    size_t done = 0;
    while (done < page.size()) {
      ssize_t n = pwrite(fd, page.data() + done, page.size() - done, at + static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Fail(std::string("cannot write: ") + std::strerror(errno));
      done += static_cast<size_t>(n);
    }
    ++pagesWritten;
  }

  void FlushRun(PageRun& run) {
    if (!run.current) return;
    WritePage(run.currentNumber, run.current->Build());
    run.current.reset();
  }

  // Places a row on the run's page, starting a new page when it does not fit.
  uint32_t Place(PageRun& run, const Bytes& row) {
    if (run.current && !run.current->Fits(row.size())) FlushRun(run);
    if (!run.current) {
      run.current.emplace(run.owner);
      run.currentNumber = Allocate();
      run.owned.push_back(run.currentNumber);
    }
    return jet::RowPointer(run.currentNumber, run.current->Add(row));
  }

  Bytes StoreLongValue(Table& t, size_t column, const Bytes& data) {
    Bytes ref(jet::long_value::kReferenceBytes, 0);
    uint32_t length = static_cast<uint32_t>(data.size());
    if (data.size() <= jet::long_value::kMaxInline) {
      jet::Put32(ref.data(), length | jet::long_value::kInline);
      jet::AppendBytes(ref, data);
      return ref;
    }
    PageRun& run = t.longValues[static_cast<size_t>(t.longValueSlot[column])];
    if (data.size() <= jet::kMaxRowBytes) {
      jet::Put32(ref.data(), length | jet::long_value::kOneRow);
      jet::Put32(ref.data() + jet::long_value::kRowPointer, Place(run, data));
      return ref;
    }
    // A chain: full pieces on pages of their own, the rest where it fits.
    size_t pieces = (data.size() + kChainSegment - 1) / kChainSegment;
    size_t lastStart = (pieces - 1) * kChainSegment;
    Bytes last(jet::long_value::kChainPointer, 0);
    last.insert(last.end(), data.begin() + static_cast<long>(lastStart), data.end());
    uint32_t next = Place(run, last);
    std::vector<uint32_t> pages(pieces - 1);
    for (auto& p : pages) {
      p = Allocate();
      run.owned.push_back(p);
    }
    for (size_t k = 0; k + 1 < pieces; ++k) {
      Bytes piece(jet::long_value::kChainPointer, 0);
      jet::Put32(piece.data(), k + 2 < pieces ? jet::RowPointer(pages[k + 1], 0) : next);
      piece.insert(piece.end(), data.begin() + static_cast<long>(k * kChainSegment),
                   data.begin() + static_cast<long>((k + 1) * kChainSegment));
      DataPageBuilder page(jet::kLongValueOwner);
      page.Add(piece);
      WritePage(pages[k], page.Build());
    }
    jet::Put32(ref.data(), length);
    jet::Put32(ref.data() + jet::long_value::kRowPointer, jet::RowPointer(pages[0], 0));
    return ref;
  }

  void WriteIndex(const Table& t, TableIndex& index) {
    index.entries.Sort();
    if (index.def.primaryKey && index.entries.HasDuplicateKey(true))
      throw std::invalid_argument(Where(t, index) + ": the primary key holds a value twice");
    if (index.def.unique && index.entries.HasDuplicateKey(false))
      throw std::invalid_argument(Where(t, index) + ": the unique index holds a value twice");
    index.pages = WriteIndexPages(
        index.entries, t.definitionPage, [this] { return Allocate(); },
        [this](uint32_t number, const Bytes& page) { WritePage(number, page); });
  }

  // A usage map of the pages as a row of the table's map page (and map pages
  // of its own when the pages lie far apart); gives the row's pointer.
  uint32_t AddMap(const Table& t, DataPageBuilder& mapPage, const std::vector<uint32_t>& pages) {
    std::vector<uint32_t> numbers;
    if (NeedsMapPages(pages))
      for (size_t k = MapSlices(pages).size(); k > 0; --k) numbers.push_back(Allocate());
    UsageMapImage map = BuildUsageMap(pages, numbers);
    for (const auto& [number, content] : map.mapPages) WritePage(number, content);
    if (!mapPage.Fits(map.row.size())) Fail("table " + t.def.name + ": too many usage maps");
    return jet::RowPointer(t.mapPage, mapPage.Add(map.row));
  }

  // The owned and free maps as rows of the table's map page.
  void WriteMaps(Table& t) {
    DataPageBuilder mapPage(0);
    auto add = [&](const PageRun& run) {
      std::vector<uint32_t> free;
      if (!run.owned.empty()) free.push_back(run.owned.back());
      uint32_t owned = AddMap(t, mapPage, run.owned);
      return std::make_pair(owned, AddMap(t, mapPage, free));
    };
    TableCounts counts;
    counts.rows = t.rows;
    counts.nextAutoNumber = t.layout.autoNumberColumn >= 0 ? t.lastAutoNumber + 1 : 0;
    std::tie(counts.usedPagesMap, counts.freePagesMap) = add(t.data);
    for (const PageRun& run : t.longValues) counts.longValueMaps.push_back(add(run));
    for (const TableIndex& index : t.indexes) {
      IndexInfo info;
      info.name = index.def.name;
      for (size_t col : index.columns) info.columns.push_back(t.layout.columns[col].number);
      info.orders = index.orders;
      info.primaryKey = index.def.primaryKey;
      info.unique = index.def.unique;
      info.rows = static_cast<uint32_t>(index.entries.Size());
      info.distinctKeys = index.entries.DistinctKeys();
      info.usageMap = AddMap(t, mapPage, index.pages.pages);
      info.rootPage = index.pages.root;
      counts.indexes.push_back(std::move(info));
    }
    WritePage(t.mapPage, mapPage.Build());
    WritePage(t.definitionPage, TableDefinitionPage(t.layout, t.def.system, counts));
  }
};

JetWriter::JetWriter(const std::string& path, DateTime created) : s_(std::make_unique<State>()) {
  s_->path = path;
  s_->created = created;
  s_->fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (s_->fd < 0) s_->Fail(std::string("cannot create: ") + std::strerror(errno));
  s_->WritePage(s_->Allocate(), DatabaseDefinitionPage(created));
  // Page 1: the file's own maps of pages; no page is free.
  uint32_t global = s_->Allocate();
  DataPageBuilder maps(global);
  for (int k = 0; k < 2; ++k) maps.Add(BuildUsageMap({}, {}).row);
  s_->WritePage(global, maps.Build());
  for (const TableSchema& def : SystemTables()) AddTable(def);
}

JetWriter::~JetWriter() {
  if (s_->fd >= 0) close(s_->fd);
  if (!s_->finished) unlink(s_->path.c_str());
}

size_t JetWriter::AddTable(const TableSchema& def) {
  if (s_->finished) throw std::logic_error("the file is finished");
  for (const Table& t : s_->tables)
    if (SameName(t.def.name, def.name)) throw std::invalid_argument("table " + def.name + " is defined twice");
  Table t;
  t.def = def;
  t.layout = LayOut(def);
  t.indexes = LayOutIndexes(def, t.layout);
  t.definitionPage = s_->Allocate();
  t.mapPage = s_->Allocate();
  t.data.owner = t.definitionPage;
  for (const ColumnLayout& c : t.layout.columns) {
    bool lv = jet::IsLongValue(c.def.type);
    t.longValueSlot.push_back(lv ? static_cast<int>(t.longValues.size()) : -1);
    if (lv) t.longValues.push_back(PageRun{jet::kLongValueOwner, std::nullopt, 0, {}});
  }
  s_->tables.push_back(std::move(t));
  return s_->tables.size() - 1;
}

void JetWriter::AddRow(size_t table, const RowValues& given) {
  if (s_->finished) throw std::logic_error("the file is finished");
  if (table >= s_->tables.size()) throw std::out_of_range("no such table");
  Table& t = s_->tables[table];
  const RowValues* values = &given;
  RowValues numbered;
  if (t.layout.autoNumberColumn >= 0) {
    size_t col = static_cast<size_t>(t.layout.autoNumberColumn);
    if (col < given.size()) {
      if (std::holds_alternative<std::monostate>(given[col])) {
        numbered = given;
        numbered[col] = static_cast<int32_t>(t.lastAutoNumber + 1);
        values = &numbered;
      } else if (const int32_t* n = std::get_if<int32_t>(&given[col])) {
        if (*n <= 0 || static_cast<uint32_t>(*n) <= t.lastAutoNumber)
          throw std::invalid_argument("table " + t.def.name + ", column " + t.layout.columns[col].def.name +
                                      ": autonumbers must grow");
      }
    }
  }
  std::vector<Bytes> keys;
  std::vector<bool> nullKeys;
  for (const TableIndex& index : t.indexes) {
    Bytes key;
    bool nullKey = true;
    for (size_t k = 0; k < index.columns.size(); ++k) {
      const size_t col = index.columns[k];
      const ColumnLayout& c = t.layout.columns[col];
      const Value null;
      const Value& v = col < values->size() ? (*values)[col] : null;
      const bool isNull = std::holds_alternative<std::monostate>(v);
      if (index.def.primaryKey && isNull)
        throw std::invalid_argument(Where(t, index) + ", column " + c.def.name + ": a primary key takes no null");
      nullKey = nullKey && isNull;
      try {
        AppendIndexKey(key, c.def.type, v, index.orders[k]);
      } catch (const std::invalid_argument& e) {
        throw std::invalid_argument(Where(t, index) + ", column " + c.def.name + ": " + e.what());
      }
    }
    if (key.size() > jet::kMaxIndexKey)
      throw std::invalid_argument(Where(t, index) + ": the key of " + std::to_string(key.size()) +
                                  " bytes is longer than an index page takes");
    keys.push_back(std::move(key));
    nullKeys.push_back(nullKey);
  }
  Bytes row = EncodeRow(t.layout, *values, [&](size_t column, const Bytes& data) {
    return s_->StoreLongValue(t, column, data);
  });
  if (row.size() > jet::kMaxRowBytes)
    throw std::invalid_argument("table " + t.def.name + ": a row of " + std::to_string(row.size()) +
                                " bytes does not fit on a page");
  if (t.rows == UINT32_MAX) throw std::length_error("table " + t.def.name + ": too many rows");
  const uint32_t pointer = s_->Place(t.data, row);
  for (size_t k = 0; k < t.indexes.size(); ++k) t.indexes[k].entries.Add(keys[k], pointer, nullKeys[k]);
  ++t.rows;
  if (t.layout.autoNumberColumn >= 0)
    t.lastAutoNumber = static_cast<uint32_t>(std::get<int32_t>((*values)[static_cast<size_t>(t.layout.autoNumberColumn)]));
}

void JetWriter::Finish() {
  if (s_->finished) return;
  std::vector<CatalogTable> entries;
  for (const Table& t : s_->tables) entries.push_back({t.def.name, t.definitionPage, t.def.system});
  if (s_->tables.empty() || s_->tables[0].definitionPage != jet::kCatalogPage)
    throw std::logic_error("the catalog must be the first table");
  for (const RowValues& row : CatalogRows(entries, s_->created)) AddRow(0, row);
  for (Table& t : s_->tables) {
    s_->FlushRun(t.data);
    for (PageRun& run : t.longValues) s_->FlushRun(run);
  }
  for (Table& t : s_->tables)
    for (TableIndex& index : t.indexes) s_->WriteIndex(t, index);
  for (Table& t : s_->tables) s_->WriteMaps(t);
  if (s_->pagesWritten < s_->nextPage) s_->Fail("internal error: a page was left unwritten");
  if (fsync(s_->fd) != 0) s_->Fail(std::string("cannot flush: ") + std::strerror(errno));
  if (close(s_->fd) != 0) {
    s_->fd = -1;
    s_->Fail(std::string("cannot close: ") + std::strerror(errno));
  }
  s_->fd = -1;
  s_->finished = true;
}

}  // namespace kw::jetw
