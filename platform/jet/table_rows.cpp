#include "platform/jet/table_rows.h"

#include <set>
#include <utility>

namespace kw::jet {

TableRows::TableRows(PageStore& store, TableDef table)
    : store_(store),
      table_(std::move(table)),
      owned_(UsageMap::Read(store, table_.ownedPages, "the page map of table " + Quoted(table_.name))),
      free_(UsageMap::Read(store, table_.freePages, "the free-space map of table " + Quoted(table_.name))) {}

DataPage TableRows::Check(const PageBytes& bytes, uint32_t n) const {
  DataPage page(bytes, store_.Name(), n);
  if (page.TableDefPage() != table_.page)
    ThrowDamaged(store_.Name(), "data page " + std::to_string(n) + " does not belong to table " +
                                    Quoted(table_.name));
  return page;
}

std::optional<RowPlace> TableRows::Locate(RowLocation key,
                                          const std::function<const PageBytes&(uint32_t)>& page) const {
  if (key.page == 0 || key.page >= store_.PageCount())
    ThrowDamaged(store_.Name(), "row location on page " + std::to_string(key.page) + " is not in the file");
  const PageBytes& bytes = page(key.page);
  const DataPage header = Check(bytes, key.page);
  const Slot slot = header.SlotAt(key.row);
  if (slot.Deleted() || slot.MovedCopy()) return std::nullopt;
  if (!slot.Pointer()) return RowPlace{key, false, slot};
  const ByteView pointer(bytes.data() + slot.start, slot.end - slot.start, store_.Name(),
                         "the pointer of row " + std::to_string(key.row) + " on page " + std::to_string(key.page));
  const RowRef ref = RowOf(pointer.U32(0));
  const RowLocation to{ref.page, ref.row};
  if (to.page == 0 || to.page >= store_.PageCount()) pointer.Fail("it points beyond the file");
  const PageBytes& target = page(to.page);
  const Slot copy = Check(target, to.page).SlotAt(to.row);
  if (!copy.MovedCopy()) pointer.Fail("it points to a row that is not a moved row");
  return RowPlace{to, true, copy};
}

void TableRows::Scan(const Visit& visit) {
  PageBytes target;
  uint32_t targetNumber = 0;
  bool haveTarget = false;
  std::set<std::pair<uint32_t, uint16_t>> copies;  // moved copies reached so far
  std::string what;
  auto scanPage = [&](uint32_t n, const PageBytes& bytes) {
    if (bytes[kPageTypeAt] != kDataPageType || IsLongValuePage(bytes)) return;
    const DataPage page = Check(bytes, n);
    const bool tidy = page.FreeSpaceAgrees();
    what = "a row of page " + std::to_string(n) + " of table " + Quoted(table_.name);
    for (uint16_t i = 0; i < page.RowCount(); ++i) {
      const Slot slot = page.SlotAt(i);
      if (slot.Deleted() || slot.MovedCopy()) continue;
      if (!slot.Pointer()) {
        visit({n, i}, ByteView::Described(bytes.data() + slot.start, slot.end - slot.start, store_.Name(), what),
              tidy);
        continue;
      }
      const auto place = Locate({n, i}, [&](uint32_t p) -> const PageBytes& {
        if (p == n) return bytes;
        if (!haveTarget || targetNumber != p) {
          store_.Read(p, target);
          targetNumber = p;
          haveTarget = true;
        }
        return target;
      });
      if (!copies.emplace(place->at.page, place->at.row).second)
        ThrowDamaged(store_.Name(), what + ": its pointer leads to a row that another row's pointer leads to");
      const PageBytes& holder = place->at.page == n ? bytes : target;
      const Slot copy = place->slot;
      visit({n, i}, ByteView::Described(holder.data() + copy.start, copy.end - copy.start, store_.Name(), what),
            tidy && DataPage(holder, store_.Name(), place->at.page).FreeSpaceAgrees());
    }
  };
  // Consecutive pages of the table come in one read, up to kRun at a time.
  constexpr size_t kRun = 64;
  std::vector<PageBytes> run(kRun);
  const std::vector<uint32_t> pages = owned_.Pages(store_);
  for (size_t first = 0; first < pages.size();) {
    size_t end = first + 1;
    while (end < pages.size() && end - first < kRun && pages[end] == pages[end - 1] + 1) ++end;
    store_.ReadPages(pages[first], static_cast<uint32_t>(end - first), run.data());
    for (size_t k = first; k < end; ++k) scanPage(pages[k], run[k - first]);
    first = end;
  }
}

}  // namespace kw::jet
