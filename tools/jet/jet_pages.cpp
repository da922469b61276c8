#include "tools/jet/jet_pages.h"

#include <stdexcept>

namespace kw::jetw {

DataPage::DataPage(uint32_t owner) : owner_(owner), free_(kPageSize - kDataHeader) {}

uint32_t DataPage::Add(const Bytes& row) {
  if (!Fits(row.size())) throw std::logic_error("row does not fit on the page");
  rows_.push_back(row);
  used_ += row.size();
  free_ -= row.size() + 2;
  return static_cast<uint32_t>(rows_.size() - 1);
}

Bytes DataPage::Build() const {
  Bytes page(kPageSize, 0);
  uint8_t* p = page.data();
  p[0] = 0x01;
  p[1] = 0x01;
  Put16(p + 2, static_cast<uint32_t>(free_));
  Put32(p + 4, owner_);
  Put16(p + 12, static_cast<uint32_t>(rows_.size()));
  size_t end = kPageSize;
  for (size_t i = 0; i < rows_.size(); ++i) {
    end -= rows_[i].size();
    std::copy(rows_[i].begin(), rows_[i].end(), page.begin() + static_cast<long>(end));
    Put16(p + kDataHeader + 2 * i, static_cast<uint32_t>(end));
  }
  return page;
}

bool NeedsMapPages(const std::vector<uint32_t>& pages) {
  return !pages.empty() && pages.back() - pages.front() >= kInlineMapBits;
}

std::vector<uint32_t> MapSlices(const std::vector<uint32_t>& pages) {
  std::vector<uint32_t> slices;
  for (uint32_t page : pages) {
    uint32_t slice = static_cast<uint32_t>(page / kMapPageBits);
    if (slices.empty() || slices.back() != slice) slices.push_back(slice);
  }
  return slices;
}

UsageMap BuildUsageMap(const std::vector<uint32_t>& pages, const std::vector<uint32_t>& mapPageNumbers) {
  UsageMap map;
  if (!NeedsMapPages(pages)) {
    map.row.assign(5 + kInlineMapBits / 8, 0);
    uint32_t start = pages.empty() ? 0 : pages.front();
    Put32(map.row.data() + 1, start);
    for (uint32_t page : pages) {
      uint32_t bit = page - start;
      map.row[5 + bit / 8] = static_cast<uint8_t>(map.row[5 + bit / 8] | (1u << (bit % 8)));
    }
    return map;
  }
  std::vector<uint32_t> slices = MapSlices(pages);
  if (slices.size() != mapPageNumbers.size()) throw std::logic_error("one map page per slice");
  if (slices.back() >= kMapPagePointers) throw std::length_error("the file is too large for a usage map");
  map.row.assign(1 + 4 * kMapPagePointers, 0);
  map.row[0] = 0x01;
  size_t next = 0;
  for (size_t s = 0; s < slices.size(); ++s) {
    Bytes content(kPageSize, 0);
    content[0] = 0x05;
    content[1] = 0x01;
    uint32_t first = slices[s] * static_cast<uint32_t>(kMapPageBits);
    while (next < pages.size() && pages[next] / kMapPageBits == slices[s]) {
      uint32_t bit = pages[next++] - first;
      content[4 + bit / 8] = static_cast<uint8_t>(content[4 + bit / 8] | (1u << (bit % 8)));
    }
    Put32(map.row.data() + 1 + 4 * slices[s], mapPageNumbers[s]);
    map.mapPages.emplace_back(mapPageNumbers[s], std::move(content));
  }
  return map;
}

}  // namespace kw::jetw
