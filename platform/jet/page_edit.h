#pragma once
// The pages one change touches, as they will be once it is made: read from
// the store on first use, changed here, and handed to the store together
// only when the whole change has been built and checked.
#include <cstdint>
#include <map>
#include <string>

#include "platform/jet/page_store.h"

namespace kw::jet {

class PageEdit {
 public:
  explicit PageEdit(PageStore& store) : store_(store), next_(store.PageCount()) {}

  // Page n as changed so far; n must be below PageCount().
  PageBytes& Get(uint32_t n) {
    auto it = pages_.find(n);
    if (it == pages_.end()) {
      it = pages_.emplace(n, PageBytes{}).first;
      store_.Read(n, it->second);
    }
    return it->second;
  }
  // A new page at the end of the file, all zero.
  uint32_t Append() {
    const uint32_t n = next_++;
    pages_[n].fill(0);
    return n;
  }
  uint32_t PageCount() const { return next_; }
  const std::string& Name() const { return store_.Name(); }
  // Every page touched, in ascending order (appended pages last, in order).
  const std::map<uint32_t, PageBytes>& Pages() const { return pages_; }

 private:
  PageStore& store_;
  uint32_t next_;
  std::map<uint32_t, PageBytes> pages_;
};

}  // namespace kw::jet
