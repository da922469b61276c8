#include "platform/jet/usage_map.h"

#include <algorithm>

#include "platform/jet/byte_view.h"
#include "platform/jet/data_page.h"

namespace kw::jet {
namespace {

constexpr uint8_t kMapPageType = 0x05;
constexpr size_t kMapPageHeader = 4;  // type 05, 01, two zero bytes
constexpr uint32_t kPagesPerMapPage = (kPageSize - kMapPageHeader) * 8;
constexpr size_t kInlineHeader = 5;  // type 0 and the first page, then the bits

void InitMapPage(PageBytes& page) {
  page.fill(0);
  page[0] = kMapPageType;
  page[1] = 0x01;
}

void Put32(uint8_t* at, uint32_t v) {
  Put16(at, v & 0xFFFF);
  Put16(at + 2, v >> 16);
}

void SetBit(uint8_t* bits, uint64_t bit) { bits[bit / 8] = static_cast<uint8_t>(bits[bit / 8] | 1u << (bit % 8)); }

}  // namespace

UsageMap::View UsageMap::Parse(const PageBytes& page, const std::string& file) const {
  const Slot slot = DataPage(page, file, where_.page).SlotAt(where_.row);
  View v;
  v.start = slot.start;
  v.end = slot.end;
  const ByteView row(page.data() + slot.start, slot.end - slot.start, file, what_);
  v.type = row.U8(0);
  if (v.type == 0) {
    v.firstPage = row.U32(1);
  } else if (v.type == 1) {
    for (size_t at = 1; at + 4 <= row.Size(); at += 4) v.mapPages.push_back(row.U32(at));
  } else {
    row.Fail("the usage map is of an unknown type " + std::to_string(v.type));
  }
  return v;
}

UsageMap UsageMap::Read(PageStore& store, RowRef where, std::string what) {
  UsageMap m;
  m.where_ = where;
  m.what_ = std::move(what);
  if (where.page == 0 || where.page >= store.PageCount())
    ThrowDamaged(store.Name(), m.what_ + ": its map is on page " + std::to_string(where.page) +
                                   ", which is not in the file");
  PageBytes page;
  store.Read(where.page, page);
  for (uint32_t p : m.Parse(page, store.Name()).mapPages) {
    if (p == 0) continue;
    if (p >= store.PageCount())
      ThrowDamaged(store.Name(), m.what_ + ": a map page (" + std::to_string(p) + ") is beyond the end of the file");
    PageBytes mapPage;
    store.Read(p, mapPage);
    if (mapPage[0] != kMapPageType)
      ThrowDamaged(store.Name(), m.what_ + ": page " + std::to_string(p) + " is not a usage map page");
  }
  return m;
}

std::vector<uint32_t> UsageMap::PagesOf(const View& v, const std::function<const PageBytes&(uint32_t)>& page,
                                        const std::string& file, uint32_t pageCount) const {
  std::vector<uint32_t> out;
  auto scan = [&](const uint8_t* bits, size_t bytes, uint64_t first) {
    for (size_t i = 0; i < bytes; ++i) {
      if (bits[i] == 0) continue;
      for (int b = 0; b < 8; ++b) {
        if (!(bits[i] >> b & 1)) continue;
        const uint64_t n = first + i * 8 + static_cast<uint64_t>(b);
        // A map that names pages the file does not have belongs to a file
        // cut short or damaged; its table is not read in part.
        if (n >= pageCount)
          ThrowDamaged(file, what_ + ": it names page " + std::to_string(n) + ", beyond the end of the file");
        out.push_back(static_cast<uint32_t>(n));
      }
    }
  };
  if (v.type == 0) {
    scan(page(where_.page).data() + v.start + kInlineHeader, v.end - v.start - kInlineHeader, v.firstPage);
    return out;
  }
  for (size_t k = 0; k < v.mapPages.size(); ++k) {
    if (v.mapPages[k] == 0) continue;
    if (v.mapPages[k] >= pageCount)
      ThrowDamaged(file, what_ + ": a map page (" + std::to_string(v.mapPages[k]) + ") is beyond the end of the file");
    const PageBytes& bits = page(v.mapPages[k]);
    if (bits[0] != kMapPageType)
      ThrowDamaged(file, what_ + ": page " + std::to_string(v.mapPages[k]) + " is not a usage map page");
    scan(bits.data() + kMapPageHeader, kPageSize - kMapPageHeader, uint64_t{k} * kPagesPerMapPage);
  }
  return out;
}

std::vector<uint32_t> UsageMap::Pages(PageStore& store) const {
  PageBytes rowPage, other;
  store.Read(where_.page, rowPage);
  const View v = Parse(rowPage, store.Name());
  return PagesOf(
      v,
      [&](uint32_t n) -> const PageBytes& {
        if (n == where_.page) return rowPage;
        store.Read(n, other);
        return other;
      },
      store.Name(), store.PageCount());
}

bool UsageMap::Mark(PageEdit& edit, uint32_t n, bool on) const {
  PageBytes& rowPage = edit.Get(where_.page);
  const View v = Parse(rowPage, edit.Name());
  uint8_t* byte = nullptr;
  uint32_t bit = 0;
  if (v.type == 0) {
    if (n < v.firstPage || (n - v.firstPage) / 8 >= v.end - v.start - kInlineHeader) return false;
    bit = n - v.firstPage;
    byte = rowPage.data() + v.start + kInlineHeader + bit / 8;
  } else {
    const size_t k = n / kPagesPerMapPage;
    if (k >= v.mapPages.size() || v.mapPages[k] == 0 || v.mapPages[k] >= edit.PageCount()) return false;
    PageBytes& bits = edit.Get(v.mapPages[k]);
    if (bits[0] != kMapPageType)
      ThrowDamaged(edit.Name(), what_ + ": page " + std::to_string(v.mapPages[k]) + " is not a usage map page");
    bit = n % kPagesPerMapPage;
    byte = bits.data() + kMapPageHeader + bit / 8;
  }
  const auto mask = static_cast<uint8_t>(1u << (bit % 8));
  *byte = static_cast<uint8_t>(on ? *byte | mask : *byte & ~mask);
  return true;
}

bool UsageMap::Add(PageEdit& edit, uint32_t n, std::vector<uint32_t>& newMapPages) const {
  if (Mark(edit, n, true)) return true;
  const View v = Parse(edit.Get(where_.page), edit.Name());
  if (v.type == 1) {
    const size_t k = n / kPagesPerMapPage;
    if (k >= v.mapPages.size()) return false;
    const uint32_t m = edit.Append();
    InitMapPage(edit.Get(m));
    Put32(edit.Get(where_.page).data() + v.start + 1 + 4 * k, m);
    newMapPages.push_back(m);
    return Mark(edit, n, true);
  }
  std::vector<uint32_t> pages =
      PagesOf(v, [&](uint32_t p) -> const PageBytes& { return edit.Get(p); }, edit.Name(), edit.PageCount());
  pages.push_back(n);
  std::sort(pages.begin(), pages.end());
  // Moved to start at the first page (on a multiple of 8), when all fit.
  const uint32_t first = pages.front() & ~7u;
  const uint64_t bits = uint64_t{v.end - v.start - kInlineHeader} * 8;
  if (pages.back() - first >= bits) return Promote(edit, v, pages, newMapPages);
  uint8_t* row = edit.Get(where_.page).data() + v.start;
  Put32(row + 1, first);
  std::fill(row + kInlineHeader, row + (v.end - v.start), 0);
  for (uint32_t p : pages) SetBit(row + kInlineHeader, p - first);
  return true;
}

bool UsageMap::Promote(PageEdit& edit, const View& v, const std::vector<uint32_t>& pages,
                       std::vector<uint32_t>& newMapPages) const {
  const size_t pointers = (v.end - v.start - 1) / 4;
  if (pages.back() / kPagesPerMapPage >= pointers) return false;
  std::vector<uint32_t> mapPages(pointers, 0);
  for (uint32_t p : pages) {
    uint32_t& m = mapPages[p / kPagesPerMapPage];
    if (m == 0) {
      m = edit.Append();
      InitMapPage(edit.Get(m));
      newMapPages.push_back(m);
    }
    SetBit(edit.Get(m).data() + kMapPageHeader, p % kPagesPerMapPage);
  }
  uint8_t* row = edit.Get(where_.page).data() + v.start;
  std::fill(row, row + (v.end - v.start), 0);
  row[0] = 1;
  for (size_t k = 0; k < pointers; ++k) Put32(row + 1 + 4 * k, mapPages[k]);
  return true;
}

}  // namespace kw::jet
