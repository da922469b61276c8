#include "tools/jet/jet_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "tools/jet/jet_catalog.h"
#include "tools/jet/jet_header.h"
#include "tools/jet/jet_pages.h"
#include "tools/jet/jet_row.h"
#include "tools/jet/jet_tdef.h"

namespace kw::jetw {

namespace {

constexpr size_t kInlineLongValue = 64;
constexpr size_t kChainSegment = kMaxRowBytes - 4;  // a chained piece starts with the next piece's pointer

// Pages owned by one table or one long-value column, and the one being filled.
struct PageRun {
  uint32_t owner = 0;
  std::optional<DataPage> current;
  uint32_t currentNumber = 0;
  std::vector<uint32_t> owned;
};

struct Table {
  TableDef def;
  TableLayout layout;
  uint32_t definitionPage = 0;
  uint32_t mapPage = 0;
  uint32_t rows = 0;
  uint32_t lastAutoNumber = 0;
  PageRun data;
  std::vector<PageRun> longValues;  // one for each memo/OLE column, in column order
  std::vector<int> longValueSlot;   // column number -> index in longValues, -1 for others
};

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
    if (nextPage >= (1u << 24)) Fail("more pages than a Jet file can address");
    return nextPage++;
  }

  void WritePage(uint32_t number, const Bytes& page) {
    off_t at = static_cast<off_t>(number) * static_cast<off_t>(kPageSize);
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
    return RowPointer(run.currentNumber, run.current->Add(row));
  }

  Bytes StoreLongValue(Table& t, size_t column, const Bytes& data) {
    Bytes ref(12, 0);
    uint32_t length = static_cast<uint32_t>(data.size());
    if (data.size() <= kInlineLongValue) {
      Put32(ref.data(), length | 0x80000000u);
      AppendBytes(ref, data);
      return ref;
    }
    PageRun& run = t.longValues[static_cast<size_t>(t.longValueSlot[column])];
    if (data.size() <= kMaxRowBytes) {
      Put32(ref.data(), length | 0x40000000u);
      Put32(ref.data() + 4, Place(run, data));
      return ref;
    }
    // A chain: full pieces on pages of their own, the rest where it fits.
    size_t pieces = (data.size() + kChainSegment - 1) / kChainSegment;
    size_t lastStart = (pieces - 1) * kChainSegment;
    Bytes last(4, 0);
    last.insert(last.end(), data.begin() + static_cast<long>(lastStart), data.end());
    uint32_t next = Place(run, last);
    std::vector<uint32_t> pages(pieces - 1);
    for (auto& p : pages) {
      p = Allocate();
      run.owned.push_back(p);
    }
    for (size_t k = 0; k + 1 < pieces; ++k) {
      Bytes piece(4, 0);
      Put32(piece.data(), k + 2 < pieces ? RowPointer(pages[k + 1], 0) : next);
      piece.insert(piece.end(), data.begin() + static_cast<long>(k * kChainSegment),
                   data.begin() + static_cast<long>((k + 1) * kChainSegment));
      DataPage page(kLongValueOwner);
      page.Add(piece);
      WritePage(pages[k], page.Build());
    }
    Put32(ref.data(), length);
    Put32(ref.data() + 4, RowPointer(pages[0], 0));
    return ref;
  }

  // The owned and free maps as rows of the table's map page.
  void WriteMaps(Table& t) {
    DataPage mapPage(0);
    auto add = [&](const PageRun& run) {
      std::vector<uint32_t> free;
      if (!run.owned.empty()) free.push_back(run.owned.back());
      std::pair<uint32_t, uint32_t> rows;
      for (int which = 0; which < 2; ++which) {
        const std::vector<uint32_t>& pages = which == 0 ? run.owned : free;
        std::vector<uint32_t> numbers;
        if (NeedsMapPages(pages))
          for (size_t k = MapSlices(pages).size(); k > 0; --k) numbers.push_back(Allocate());
        UsageMap map = BuildUsageMap(pages, numbers);
        for (const auto& [number, content] : map.mapPages) WritePage(number, content);
        if (!mapPage.Fits(map.row.size())) Fail("table " + t.def.name + ": too many usage maps");
        uint32_t pointer = RowPointer(t.mapPage, mapPage.Add(map.row));
        (which == 0 ? rows.first : rows.second) = pointer;
      }
      return rows;
    };
    TableCounts counts;
    counts.rows = t.rows;
    counts.nextAutoNumber = t.layout.autoNumberColumn >= 0 ? t.lastAutoNumber + 1 : 0;
    std::tie(counts.usedPagesMap, counts.freePagesMap) = add(t.data);
    for (const PageRun& run : t.longValues) counts.longValueMaps.push_back(add(run));
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
  DataPage maps(global);
  for (int k = 0; k < 2; ++k) maps.Add(BuildUsageMap({}, {}).row);
  s_->WritePage(global, maps.Build());
  for (const TableDef& def : SystemTables()) AddTable(def);
}

JetWriter::~JetWriter() {
  if (s_->fd >= 0) close(s_->fd);
  if (!s_->finished) unlink(s_->path.c_str());
}

size_t JetWriter::AddTable(const TableDef& def) {
  if (s_->finished) throw std::logic_error("the file is finished");
  for (const Table& t : s_->tables) {
    if (t.def.name.size() == def.name.size() &&
        std::equal(t.def.name.begin(), t.def.name.end(), def.name.begin(),
                   [](char x, char y) { return std::toupper(static_cast<unsigned char>(x)) ==
                                               std::toupper(static_cast<unsigned char>(y)); }))
      throw std::invalid_argument("table " + def.name + " is defined twice");
  }
  Table t;
  t.def = def;
  t.layout = LayOut(def);
  t.definitionPage = s_->Allocate();
  t.mapPage = s_->Allocate();
  t.data.owner = t.definitionPage;
  for (const ColumnLayout& c : t.layout.columns) {
    bool lv = c.def.type == ColumnType::kMemo || c.def.type == ColumnType::kOle;
    t.longValueSlot.push_back(lv ? static_cast<int>(t.longValues.size()) : -1);
    if (lv) t.longValues.push_back(PageRun{kLongValueOwner, std::nullopt, 0, {}});
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
  Bytes row = EncodeRow(t.layout, *values, [&](size_t column, const Bytes& data) {
    return s_->StoreLongValue(t, column, data);
  });
  if (row.size() > kMaxRowBytes)
    throw std::invalid_argument("table " + t.def.name + ": a row of " + std::to_string(row.size()) +
                                " bytes does not fit on a page");
  if (t.rows == UINT32_MAX) throw std::length_error("table " + t.def.name + ": too many rows");
  s_->Place(t.data, row);
  ++t.rows;
  if (t.layout.autoNumberColumn >= 0)
    t.lastAutoNumber = static_cast<uint32_t>(std::get<int32_t>((*values)[static_cast<size_t>(t.layout.autoNumberColumn)]));
}

void JetWriter::Finish() {
  if (s_->finished) return;
  std::vector<CatalogTable> entries;
  for (const Table& t : s_->tables) entries.push_back({t.def.name, t.definitionPage, t.def.system});
  if (s_->tables.empty() || s_->tables[0].definitionPage != kCatalogPage)
    throw std::logic_error("the catalog must be the first table");
  for (const RowValues& row : CatalogRows(entries, s_->created)) AddRow(0, row);
  for (Table& t : s_->tables) {
    s_->FlushRun(t.data);
    for (PageRun& run : t.longValues) s_->FlushRun(run);
  }
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
