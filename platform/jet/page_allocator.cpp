#include "platform/jet/page_allocator.h"

#include "platform/jet/jet_errors.h"

namespace kw::jet {
namespace {

constexpr RowRef kFreePagesMap{1, 0};

}  // namespace

PageAllocator::PageAllocator(PageStore& store) : free_(UsageMap::Read(store, kFreePagesMap, "the map of free pages")) {}

uint32_t PageAllocator::Append(PageEdit& edit, const UsageMap& owner, const UsageMap* withRoom,
                               const std::string& what) {
  const uint32_t n = edit.Append();
  std::vector<uint32_t> mapPages;
  if (!owner.Add(edit, n, mapPages))
    throw RunError("The page map of " + what + " in " + Quoted(edit.Name()) +
                   " has no room for a new page; a row that needs one cannot be changed.");
  if (withRoom) withRoom->Mark(edit, n, true);  // a hint for inserts; harmless where it has no bit
  // Pages beyond the map of free pages count as used.
  free_.Mark(edit, n, false);
  for (uint32_t m : mapPages) free_.Mark(edit, m, false);
  return n;
}

void PageAllocator::Free(PageEdit& edit, uint32_t n, const UsageMap& owner) {
  owner.Mark(edit, n, false);
  edit.Get(n).fill(0);
  free_.Mark(edit, n, true);
}

}  // namespace kw::jet
