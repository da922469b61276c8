#include "platform/jet/row_indexes.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "platform/jet/format/definition_page.h"
#include "platform/jet/format/index_page.h"
#include "platform/jet/format/text_codec.h"
#include "platform/jet/jet_errors.h"

namespace kw::jet {
namespace {

// A fixed column's value of `size` bytes, little-endian as the row holds it.
template <typename T>
T Fixed(const ByteView& v, const Column& c) {
  if (v.Size() != sizeof(T))
    throw std::invalid_argument("a value of column " + Quoted(c.name) + " is not " + std::to_string(sizeof(T)) +
                                " bytes long");
  T out;
  std::memcpy(&out, v.Data(), sizeof(T));
  return out;
}

}  // namespace

KeyValue IndexKeyValue(const Column& c, const ByteView& row, const Cell& cell) {
  if (cell.null) return std::monostate{};
  const ByteView v = row.Sub(cell.offset, cell.length, row.What());
  switch (c.type) {
    case ColumnType::kText: return DecodeText(v.Data(), v.Size());
    case ColumnType::kInteger: return static_cast<int32_t>(Fixed<int16_t>(v, c));
    case ColumnType::kLong: return Fixed<int32_t>(v, c);
    case ColumnType::kDouble:
    case ColumnType::kDateTime: return Fixed<double>(v, c);
    default: break;
  }
  throw std::invalid_argument("column " + Quoted(c.name) + " is of a type without index keys");
}

namespace {

constexpr size_t kKeptKeys = 4;

bool IsNull(const KeyValue& v) { return std::holds_alternative<std::monostate>(v); }

}  // namespace

const Column& RowIndexes::ColumnNumbered(uint16_t number) const {
  for (const Column& c : rows_.Table().columns)
    if (c.number == number) return c;
  ThrowDamaged(rows_.Store().Name(), "an index of table " + Quoted(rows_.Table().name) + " names a column it does not have");
}

std::string RowIndexes::Refusal(const std::string& index, const std::string& why) const {
  return "The table " + Quoted(rows_.Table().name) + " in " + Quoted(rows_.Store().Name()) +
         " is left unchanged: its index " + Quoted(index) + " " + why + ".";
}

void RowIndexes::Check(const Index& index) const {
  if (index.related)
    throw RunError(Refusal(index.name, "belongs to a relationship between tables, which this program does not keep"));
  if (index.columns.empty() || index.columns.size() > real_index::kMaxColumns)
    ThrowDamaged(rows_.Store().Name(), "the index " + Quoted(index.name) + " of table " + Quoted(rows_.Table().name) +
                                           " has " + std::to_string(index.columns.size()) + " columns");
  for (const IndexColumn& ic : index.columns) {
    const Column& c = ColumnNumbered(ic.number);
    if (!IndexableType(c.type))
      throw RunError(Refusal(index.name, "holds the column " + Quoted(c.name) +
                                             ", of a type whose index keys this program does not make"));
    if (c.type == ColumnType::kText && (c.sortOrder != kGeneralSortOrder || c.sortVersion != 0))
      throw RunError(Refusal(index.name, "sorts the column " + Quoted(c.name) +
                                             " in another order than \"General\", whose keys this program does not make"));
  }
}

RowIndexes::Values RowIndexes::RowValues(const ByteView& row, const std::vector<Cell>& cells) const {
  Values values;
  const auto& columns = rows_.Table().columns;
  for (uint16_t number : [&] {
         std::vector<uint16_t> all;
         for (const auto& [real, kept] : indexes_)
           for (const IndexColumn& ic : kept.columns) all.push_back(ic.number);
         return all;
       }()) {
    if (values.count(number)) continue;
    const Column& c = ColumnNumbered(number);
    values[number] = IndexKeyValue(c, row, cells[static_cast<size_t>(&c - columns.data())]);
  }
  return values;
}

std::optional<EntryBytes> RowIndexes::Entry(const Kept& index, const Values& values, RowLocation key) const {
  bool allNull = true;
  for (const IndexColumn& ic : index.columns) allNull = allNull && IsNull(values.at(ic.number));
  if (allNull && index.ignoreNulls) return std::nullopt;
  EntryBytes entry;
  for (const IndexColumn& ic : index.columns) {
    // Area codes and countries repeat from row to row: the keys of the last
    // few values of each column are kept.
    const KeyValue& value = values.at(ic.number);
    auto& kept = keys_[uint32_t{ic.number} * 2 + (ic.ascending ? 0 : 1)];
    auto it = std::find_if(kept.begin(), kept.end(), [&](const auto& k) { return k.first == value; });
    if (it == kept.end()) {
      Bytes key;
      AppendIndexKey(key, ColumnNumbered(ic.number).type, value, ic.ascending ? KeyOrder::kAscending : KeyOrder::kDescending);
      if (kept.size() == kKeptKeys) kept.erase(kept.begin());
      it = kept.emplace(kept.end(), value, std::move(key));
    }
    entry.insert(entry.end(), it->second.begin(), it->second.end());
  }
  if (entry.size() > kMaxIndexKey)
    throw std::invalid_argument("a key of " + std::to_string(entry.size()) + " bytes is longer than an index takes");
  AppendBig32(entry, RowPointer(key.page, key.row));
  return entry;
}

void RowIndexes::Hold(const Column& column, const std::vector<RowLocation>& keys) {
  if (Holds(column)) return;
  PageStore& store = rows_.Store();
  std::vector<uint32_t> added;
  try {
    const auto holding = rows_.Table().IndexesOf(column);
    for (const Index* index : holding) Check(*index);
    for (const Index* index : holding) {
      auto& reals = held_[column.number];
      if (std::find(reals.begin(), reals.end(), index->realIndex) == reals.end()) reals.push_back(index->realIndex);
      auto [it, isNew] = indexes_.try_emplace(index->realIndex);
      if (!isNew) continue;
      added.push_back(index->realIndex);
      Kept& k = it->second;
      k.name = index->name;
      k.columns = index->columns;
      k.ignoreNulls = (index->flags & kIgnoreNullsIndex) != 0;
      // Every name of the index data counts: a primary key shares it with others.
      for (const Index* other : holding)
        if (other->realIndex == index->realIndex) {
          k.unique = k.unique || other->Unique() || other->PrimaryKey();
          k.required = k.required || (other->flags & kRequiredIndex) || other->PrimaryKey();
        }
      if (index->rootPage == 0 || index->rootPage >= store.PageCount())
        ThrowDamaged(store.Name(), "the index " + Quoted(k.name) + " of table " + Quoted(rows_.Table().name) +
                                       " has its root outside the file");
      const std::string what = "the index " + Quoted(k.name) + " of table " + Quoted(rows_.Table().name);
      k.tree = std::make_unique<IndexTree>(store, IndexTreeDef{index->rootPage, rows_.Table().page, k.unique, what},
                                           UsageMap::Read(store, index->usageMap, "the pages of " + what));
    }

    // Every row the record set may change has the entry made here.
    PageBytes page;
    uint32_t pageNumber = 0;
    bool havePage = false;
    for (const RowLocation& key : keys) {
      const auto place = rows_.Locate(key, [&](uint32_t n) -> const PageBytes& {
        if (!havePage || pageNumber != n) store.Read(n, page);
        havePage = true;
        pageNumber = n;
        return page;
      });
      if (!place) continue;
      const Slot slot = rows_.Check(page, place->at.page).SlotAt(place->at.row);
      const ByteView row(page.data() + slot.start, slot.end - slot.start, store.Name(), "a row of table " + Quoted(rows_.Table().name));
      const Values values = RowValues(row, DecodeRow(rows_.Table(), row));
      for (uint32_t real : held_[column.number]) {
        Kept& k = indexes_.at(real);
        if (k.unique)
          for (const IndexColumn& ic : k.columns)
            if (ic.number != column.number && IsNull(values.at(ic.number)))
              throw RunError(Refusal(k.name, "is unique and a row's key in it holds a Null, for which this program "
                                             "does not decide what counts as a duplicate"));
        std::optional<EntryBytes> entry;
        try {
          entry = Entry(k, values, key);
        } catch (const std::invalid_argument& e) {
          throw RunError(Refusal(k.name, "would need a key this program cannot make exactly (" + std::string(e.what()) + ")"));
        }
        if (entry && !k.tree->Contains(*entry))
          throw RunError(Refusal(k.name, "does not hold the entry this program makes for a row of it, so its keys "
                                         "are not made here exactly as the file's"));
      }
    }
  } catch (...) {
    held_.erase(column.number);
    for (uint32_t real : added) indexes_.erase(real);
    throw;
  }
}

void RowIndexes::Change(PageEdit& edit, RowLocation key, const ByteView& row, const std::vector<Cell>& cells,
                        std::span<const std::pair<uint16_t, FieldValue>> changes) {
  const auto changing = [&](uint16_t number) {
    return std::any_of(changes.begin(), changes.end(), [&](const auto& c) { return c.first == number; });
  };
  std::vector<Kept*> touched;
  for (const auto& [number, value] : changes) {
    auto it = held_.find(number);
    if (it == held_.end()) continue;
    for (uint32_t real : it->second) {
      Kept* k = &indexes_.at(real);
      if (std::find(touched.begin(), touched.end(), k) == touched.end()) touched.push_back(k);
    }
  }
  if (touched.empty()) return;
  const Values before = RowValues(row, cells);
  Values after = before;
  for (const auto& [number, value] : changes)
    if (after.count(number)) after[number] = value ? KeyValue(*value) : KeyValue(std::monostate{});

  if (!allocator_) allocator_.emplace(rows_.Store());
  PageAllocator& allocator = *allocator_;
  std::vector<IndexTree*> changed;
  try {
    for (Kept* k : touched) {
      std::optional<EntryBytes> from, to;
      try {
        from = Entry(*k, before, key);
        to = Entry(*k, after, key);
      } catch (const std::invalid_argument& e) {
        throw RunError("The row cannot be saved: its key in the index " + Quoted(k->name) + " of table " +
                       Quoted(rows_.Table().name) + " cannot be made exactly (" + e.what() + ").");
      }
      for (const IndexColumn& ic : k->columns) {
        if (!IsNull(after.at(ic.number))) continue;
        if (k->required) throw RunError(kNullInIndex);
        if (k->unique && changing(ic.number))
          throw RunError("The row cannot be saved: this program does not put a Null into the key of the unique index " +
                         Quoted(k->name) + " of table " + Quoted(rows_.Table().name) + ".");
      }
      if (from == to) continue;
      k->tree->Change(edit, allocator, from, to);
      changed.push_back(k->tree.get());
    }
  } catch (...) {
    for (auto it = changed.rbegin(); it != changed.rend(); ++it) (*it)->Undo();
    throw;
  }
}

void RowIndexes::Saved() {
  for (auto& [real, k] : indexes_) k.tree->Keep();
}

void RowIndexes::WritePending(PageEdit& edit) {
  for (auto& [real, k] : indexes_) k.tree->WritePending(edit);
}

void RowIndexes::DropPending() {
  for (auto& [real, k] : indexes_) k.tree->DropPending();
}

void RowIndexes::Forget() {
  for (auto& [real, k] : indexes_) k.tree->Forget();
}

}  // namespace kw::jet
