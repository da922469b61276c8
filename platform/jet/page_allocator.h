#pragma once
// New pages for a table's rows or an index, and pages given back: a new
// page goes at the end of the file, is entered in its owner's page map
// (which grows as Jet grows it) and taken out of the database's map of free
// pages (page 1); a page given back leaves its owner's map and joins the
// free ones.
#include <cstdint>
#include <string>

#include "platform/jet/page_edit.h"
#include "platform/jet/usage_map.h"

namespace kw::jet {

class PageAllocator {
 public:
  explicit PageAllocator(PageStore& store);

  // A new, all-zero page in `edit`, entered in `owner` and, when given, in
  // `withRoom` (a map of the owner's pages with free space). Throws RunError
  // naming `what` (the owner) when its map has no room even for a map page.
  uint32_t Append(PageEdit& edit, const UsageMap& owner, const UsageMap* withRoom, const std::string& what);
  // Page n is no longer `owner`'s.
  void Free(PageEdit& edit, uint32_t n, const UsageMap& owner);

 private:
  UsageMap free_;
};

}  // namespace kw::jet
