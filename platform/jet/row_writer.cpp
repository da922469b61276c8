#include "platform/jet/row_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <set>

#include "platform/jet/row_codec.h"

namespace kw::jet {
namespace {

constexpr RowRef kGlobalMap{kGlobalMapPage, 0};

ByteView RowBytes(const PageBytes& page, const Slot& s, const std::string& file) {
  return ByteView(page.data() + s.start, s.end - s.start, file, "a changed row");
}

// Whether rows lo .. hi - 1, none of them changed, kept their flags, lengths
// and bytes. Rows that keep their lengths one after another each move by as
// much as the first one's end moved, and lie in one piece on both pages.
// The pages must have been checked whole (DataPage), so that no offset
// added to a row's word reaches its flags.
bool PieceKept(const PageBytes& before, const PageBytes& after, uint16_t lo, uint16_t hi) {
  if (lo >= hi) return true;
  const uint32_t endA = lo == 0 ? kPageSize : SlotWord(before, lo - 1) & kSlotOffsetMask;
  const uint32_t endB = lo == 0 ? kPageSize : SlotWord(after, lo - 1) & kSlotOffsetMask;
  const auto shift = static_cast<uint16_t>(endB - endA);
  uint32_t moved = 0;
  for (uint32_t i = lo; i < hi; ++i)
    moved |= static_cast<uint32_t>(SlotWord(after, static_cast<uint16_t>(i)) !=
                                   static_cast<uint16_t>(SlotWord(before, static_cast<uint16_t>(i)) + shift));
  const uint32_t startA = SlotWord(before, hi - 1) & kSlotOffsetMask;
  const uint32_t startB = SlotWord(after, hi - 1) & kSlotOffsetMask;
  return moved == 0 && std::memcmp(before.data() + startA, after.data() + startB, endA - startA) == 0;
}

}  // namespace

void CheckOthersKept(const PageBytes& before, const PageBytes& after, uint32_t n, const std::string& file,
                     std::span<const uint16_t> changed) {
  // Both pages are checked whole here (every row inside the page, in order),
  // so the code below may read their row offsets directly.
  const DataPage was(before, file, n), now(after, file, n);
  if (now.RowCount() < was.RowCount() || !now.FreeSpaceAgrees())
    throw RunError("Internal check failed for page " + std::to_string(n) + " of " + Quoted(file) + "; nothing was written.");
  // The rows between the changed ones, a piece at a time; row by row only
  // when that finds a difference, to name the row (or `changed` was not in
  // order).
  bool kept = true;
  uint16_t lo = 0;
  for (const uint16_t c : changed) {
    if (c >= was.RowCount() || c < lo) {
      kept = kept && c >= lo;
      break;
    }
    kept = kept && PieceKept(before, after, lo, c);
    lo = static_cast<uint16_t>(c + 1);
  }
  if (kept && PieceKept(before, after, lo, was.RowCount())) return;
  constexpr uint16_t kOffset = kSlotOffsetMask;  // the rest of a row's word are its flags
  uint32_t endA = kPageSize, endB = kPageSize;
  for (uint16_t i = 0; i < was.RowCount(); ++i) {
    const uint16_t a = SlotWord(before, i), b = SlotWord(after, i);
    const uint32_t startA = a & kOffset, startB = b & kOffset;
    if (std::find(changed.begin(), changed.end(), i) == changed.end() &&
        ((a & ~kOffset) != (b & ~kOffset) || endA - startA != endB - startB ||
         std::memcmp(before.data() + startA, after.data() + startB, endA - startA) != 0))
      throw RunError("Internal check failed for row " + std::to_string(i) + " of page " + std::to_string(n) +
                     " of " + Quoted(file) + "; nothing was written.");
    endA = startA;
    endB = startB;
  }
}

RowWriter::RowWriter(PageStore& store, TableRows& rows)
    : store_(store), rows_(rows), global_(UsageMap::Read(store, kGlobalMap, "the map of free pages")) {}

bool RowWriter::HasRoom(PageEdit& edit, uint32_t n, size_t rowSize) {
  if (n >= edit.PageCount()) return false;
  const PageBytes& bytes = edit.Get(n);
  if (bytes[kPageTypeAt] != kDataPageType) return false;
  const DataPage page(bytes, store_.Name(), n);
  return page.TableDefPage() == rows_.Table().page && page.FreeSpaceAgrees() &&
         page.RowCount() < kMaxRowsOnPage && page.Room() >= rowSize + 2;
}

uint32_t RowWriter::PageWithRoom(PageEdit& edit, size_t rowSize, uint32_t notThis) {
  if (lastRoom_ && *lastRoom_ != notThis && HasRoom(edit, *lastRoom_, rowSize)) return *lastRoom_;
  if (!searched_) {
    searched_ = true;
    std::vector<uint32_t> pages = rows_.OwnedPages().Pages(store_);
    for (auto it = pages.rbegin(); it != pages.rend(); ++it)
      if (*it != notThis && HasRoom(edit, *it, rowSize)) return *(lastRoom_ = *it);
  }
  const uint32_t n = edit.Append();
  InitDataPage(edit.Get(n), rows_.Table().page);
  std::vector<uint32_t> mapPages;
  if (!rows_.OwnedPages().Add(edit, n, mapPages))
    throw RunError("The page map of table " + Quoted(rows_.Table().name) + " in " + Quoted(store_.Name()) +
                   " has no room for a new page; a row that needs one cannot be changed.");
  rows_.FreePages().Mark(edit, n, true);  // a hint for inserts; harmless where it has no bit
  // Pages beyond the map of free pages count as used.
  global_.Mark(edit, n, false);
  for (uint32_t m : mapPages) global_.Mark(edit, m, false);
  lastRoom_ = n;
  return n;
}

void RowWriter::SetValue(PageEdit& edit, RowLocation key, const Column& column,
                         const std::optional<std::vector<uint8_t>>& value) {
  const std::string& file = store_.Name();
  const auto place = rows_.Locate(key, [&](uint32_t n) -> const PageBytes& { return edit.Get(n); });
  if (!place) throw RunError(kRecordDeleted, kErrRecordDeleted);
  const RowLocation at = place->at;
  const PageBytes before = edit.Get(at.page);
  const DataPage beforePage(before, file, at.page);
  const Slot slot = beforePage.SlotAt(at.row);
  const ByteView old = RowBytes(before, slot, file);
  WithValue(rows_.Table(), old, column, value, row_);
  const std::vector<uint8_t>& row = row_;

  // The rebuilt row must hold the new value and every other cell as it was.
  const ByteView rebuilt(row.data(), row.size(), file, "a changed row");
  DecodeRow(rows_.Table(), old, was_);
  DecodeRow(rows_.Table(), rebuilt, now_);
  const std::vector<Cell>& was = was_;
  const std::vector<Cell>& now = now_;
  for (size_t i = 0; i < was.size(); ++i) {
    const Column& c = rows_.Table().columns[i];
    const bool same = was[i].null == now[i].null && was[i].flag == now[i].flag && was[i].length == now[i].length &&
                      std::equal(old.Data() + was[i].offset, old.Data() + was[i].offset + was[i].length,
                                 row.data() + now[i].offset);
    const bool isTarget = c.number == column.number;
    const bool holdsValue = value ? !now[i].null && std::equal(value->begin(), value->end(), row.data() + now[i].offset) &&
                                        now[i].length == value->size()
                                  : now[i].null;
    if (isTarget ? !holdsValue : !same)
      throw RunError("Internal check failed for a row of table " + Quoted(rows_.Table().name) + " in " +
                     Quoted(file) + "; nothing was written.");
  }

  if (!beforePage.FreeSpaceAgrees())
    throw RunError("The free space of page " + std::to_string(at.page) + " of " + Quoted(file) +
                   " does not agree with its rows; the row is left unchanged.");
  PageBytes& page = edit.Get(at.page);
  if (ReplaceRow(page, at.row, row, slot.flags)) {
    CheckOthersKept(before, page, at.page, file, {&at.row, 1});
    return;
  }

  // No room on its page: the row moves. Every data page touched is checked
  // against its state before, with the slots meant to change left out.
  const uint32_t target = PageWithRoom(edit, row.size(), at.page);
  std::map<uint32_t, std::pair<PageBytes, std::set<uint16_t>>> touched;
  auto touch = [&](uint32_t n, std::optional<uint16_t> changing) -> PageBytes& {
    auto it = touched.find(n);
    if (it == touched.end()) it = touched.emplace(n, std::make_pair(edit.Get(n), std::set<uint16_t>{})).first;
    if (changing) it->second.second.insert(*changing);
    return edit.Get(n);
  };
  const auto copy = AppendRow(touch(target, std::nullopt), row, kMovedFlag);
  if (!copy) throw RunError("Internal check failed: no room on page " + std::to_string(target) + " of " + Quoted(file) + ".");
  touched[target].second.insert(*copy);
  std::array<uint8_t, kRowPointerBytes> pointer;
  Put32(pointer.data(), RowPointer(target, *copy));
  if (place->moved) {
    // The earlier copy is deleted; the row's own slot points to the new one.
    PageBytes& oldPage = touch(at.page, at.row);
    Put16(&oldPage[kDataHeader + 2u * at.row], kDeletedFlags | slot.start);
    PageBytes& head = touch(key.page, key.row);
    const Slot h = DataPage(head, file, key.page).SlotAt(key.row);
    if (!h.Pointer() || static_cast<size_t>(h.end - h.start) < kRowPointerBytes) throw RunError("Internal check failed: a row pointer of " + Quoted(file) + " is not one.");
    std::copy(pointer.begin(), pointer.end(), head.begin() + h.start);
  } else if (!ReplaceRow(touch(key.page, key.row), key.row, pointer, kPointerFlag)) {
    throw RunError("Internal check failed: no room for a row pointer in " + Quoted(file) + ".");
  }
  for (auto& [n, state] : touched) {
    changed_.assign(state.second.begin(), state.second.end());
    CheckOthersKept(state.first, edit.Get(n), n, file, changed_);
  }
}

}  // namespace kw::jet
