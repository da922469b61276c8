#include "platform/jet/usage_map.h"

#include "platform/jet/byte_view.h"
#include "platform/jet/data_page.h"

namespace kw::jet {
namespace {

constexpr size_t kMapPageHeader = 4;
constexpr uint32_t kPagesPerMapPage = (kPageSize - kMapPageHeader) * 8;

}  // namespace

UsageMap UsageMap::Read(PageStore& store, RowRef where, std::string what) {
  UsageMap m;
  m.where_ = where;
  m.what_ = std::move(what);
  if (where.page == 0 || where.page >= store.PageCount())
    ThrowDamaged(store.Name(), m.what_ + ": its map is on page " + std::to_string(where.page) +
                                   ", which is not in the file");
  PageBytes page;
  store.Read(where.page, page);
  const DataPage dp(page, store.Name(), where.page);
  const Slot slot = dp.SlotAt(where.row);
  m.rowStart_ = slot.start;
  m.rowEnd_ = slot.end;
  const ByteView row(page.data() + slot.start, slot.end - slot.start, store.Name(), m.what_);
  m.type_ = row.U8(0);
  if (m.type_ == 0) {
    m.firstPage_ = row.U32(1);
  } else if (m.type_ == 1) {
    for (size_t at = 1; at + 4 <= row.Size(); at += 4) {
      const uint32_t p = row.U32(at);
      if (p != 0 && p >= store.PageCount())
        row.Fail("a map page (" + std::to_string(p) + ") is beyond the end of the file");
      if (p != 0) {
        PageBytes mapPage;
        store.Read(p, mapPage);
        if (mapPage[0] != 0x05) row.Fail("page " + std::to_string(p) + " is not a usage map page");
      }
      m.mapPages_.push_back(p);
    }
  } else {
    row.Fail("the usage map is of an unknown type " + std::to_string(m.type_));
  }
  return m;
}

std::optional<UsageMap::Bit> UsageMap::Locate(uint32_t n) const {
  if (type_ == 0) {
    if (n < firstPage_) return std::nullopt;
    const uint64_t bit = n - firstPage_;
    if (bit / 8 >= rowEnd_ - rowStart_ - 5) return std::nullopt;
    // The map's row keeps its length; where it starts is read again at Mark.
    return Bit{where_.page, rowStart_ + 5 + static_cast<size_t>(bit / 8), static_cast<uint8_t>(1u << (bit % 8))};
  }
  const size_t k = n / kPagesPerMapPage;
  if (k >= mapPages_.size() || mapPages_[k] == 0) return std::nullopt;
  const uint32_t bit = n % kPagesPerMapPage;
  return Bit{mapPages_[k], kMapPageHeader + bit / 8, static_cast<uint8_t>(1u << (bit % 8))};
}

std::vector<uint32_t> UsageMap::Pages(PageStore& store) const {
  std::vector<uint32_t> out;
  const uint32_t count = store.PageCount();
  PageBytes page;
  auto scan = [&](const uint8_t* bits, size_t bytes, uint64_t first) {
    for (size_t i = 0; i < bytes; ++i) {
      if (bits[i] == 0) continue;
      for (int b = 0; b < 8; ++b) {
        const uint64_t n = first + i * 8 + static_cast<uint64_t>(b);
        if (!(bits[i] >> b & 1)) continue;
        // A map that names pages the file does not have belongs to a file
        // cut short or damaged; its table is not read in part.
        if (n >= count)
          ThrowDamaged(store.Name(), what_ + ": it names page " + std::to_string(n) + ", beyond the end of the file");
        out.push_back(static_cast<uint32_t>(n));
      }
    }
  };
  if (type_ == 0) {
    store.Read(where_.page, page);
    const Slot now = DataPage(page, store.Name(), where_.page).SlotAt(where_.row);
    if (static_cast<size_t>(now.end - now.start) != rowEnd_ - rowStart_)
      ThrowDamaged(store.Name(), what_ + ": its row changed length");
    scan(page.data() + now.start + 5, rowEnd_ - rowStart_ - 5, firstPage_);
    return out;
  }
  for (size_t k = 0; k < mapPages_.size(); ++k) {
    if (mapPages_[k] == 0) continue;
    store.Read(mapPages_[k], page);
    if (page[0] != 0x05)
      ThrowDamaged(store.Name(), what_ + ": page " + std::to_string(mapPages_[k]) + " is not a usage map page");
    scan(page.data() + kMapPageHeader, kPageSize - kMapPageHeader, uint64_t{k} * kPagesPerMapPage);
  }
  return out;
}

bool UsageMap::Mark(PageEdit& edit, uint32_t n, bool on) const {
  auto bit = Locate(n);
  if (!bit) return false;
  if (type_ == 0) {
    const Slot now = DataPage(edit.Get(where_.page), edit.Name(), where_.page).SlotAt(where_.row);
    if (static_cast<size_t>(now.end - now.start) != rowEnd_ - rowStart_)
      ThrowDamaged(edit.Name(), what_ + ": its row changed length");
    bit->byte = bit->byte - rowStart_ + now.start;
  }
  uint8_t& b = edit.Get(bit->page)[bit->byte];
  b = static_cast<uint8_t>(on ? b | bit->mask : b & ~bit->mask);
  return true;
}

}  // namespace kw::jet
