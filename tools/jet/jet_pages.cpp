#include "tools/jet/jet_pages.h"

#include <stdexcept>

namespace kw::jetw {

namespace map = jet::usage_map;

uint32_t DataPageBuilder::Add(const Bytes& row) {
  const auto slot = Fits(row.size()) ? jet::AppendRow(page_, row, 0) : std::nullopt;
  if (!slot) throw std::logic_error("row does not fit on the page");
  return *slot;
}

bool NeedsMapPages(const std::vector<uint32_t>& pages) {
  return !pages.empty() && pages.back() - pages.front() >= map::kInlineBitmapBytes * 8;
}

std::vector<uint32_t> MapSlices(const std::vector<uint32_t>& pages) {
  std::vector<uint32_t> slices;
  for (uint32_t page : pages) {
    uint32_t slice = page / jet::kPagesPerMapPage;
    if (slices.empty() || slices.back() != slice) slices.push_back(slice);
  }
  return slices;
}

UsageMapImage BuildUsageMap(const std::vector<uint32_t>& pages, const std::vector<uint32_t>& mapPageNumbers) {
  UsageMapImage image;
  image.row.assign(map::kRowBytes, 0);
  if (!NeedsMapPages(pages)) {
    image.row[map::kType] = map::kInline;
    uint32_t start = pages.empty() ? 0 : pages.front();
    jet::Put32(image.row.data() + map::kFirstPage, start);
    for (uint32_t page : pages) jet::SetMapBit(image.row.data() + map::kInlineBits, page - start);
    return image;
  }
  std::vector<uint32_t> slices = MapSlices(pages);
  if (slices.size() != mapPageNumbers.size()) throw std::logic_error("one map page per slice");
  if (slices.back() >= map::kMapPagePointers) throw std::length_error("the file is too large for a usage map");
  image.row[map::kType] = map::kReference;
  size_t next = 0;
  for (size_t s = 0; s < slices.size(); ++s) {
    Bytes content(jet::kPageSize);
    jet::InitMapPage(content.data());
    uint32_t first = slices[s] * jet::kPagesPerMapPage;
    while (next < pages.size() && pages[next] / jet::kPagesPerMapPage == slices[s])
      jet::SetMapBit(content.data() + map::kMapPageBits, pages[next++] - first);
    jet::Put32(image.row.data() + map::kMapPages + 4 * slices[s], mapPageNumbers[s]);
    image.mapPages.emplace_back(mapPageNumbers[s], std::move(content));
  }
  return image;
}

}  // namespace kw::jetw
