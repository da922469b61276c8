#pragma once
// The pages one change touches, as they will be once it is made: read from
// the store on first use, changed here, and handed to the store together
// only when the whole change has been built and checked. One edit may serve
// change after change (Reset); the room of its pages is kept.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/jet/page_store.h"

namespace kw::jet {

class PageEdit {
 public:
  explicit PageEdit(PageStore& store) : store_(store), next_(store.PageCount()) {}

  // Forgets the pages of the change before, for the next one over the store
  // as it is now.
  void Reset() {
    while (!pages_.empty()) spare_.push_back(pages_.extract(pages_.begin()));
    next_ = store_.PageCount();
  }
  // Page n as changed so far; n must be below PageCount().
  PageBytes& Get(uint32_t n) {
    auto it = pages_.find(n);
    if (it == pages_.end()) {
      it = Add(n);
      store_.Read(n, it->second);
    }
    return it->second;
  }
  // A new page at the end of the file, all zero.
  uint32_t Append() {
    const uint32_t n = next_++;
    auto it = pages_.find(n);
    if (it == pages_.end()) it = Add(n);
    it->second.fill(0);
    return n;
  }
  uint32_t PageCount() const { return next_; }
  const std::string& Name() const { return store_.Name(); }
  // Every page touched, in ascending order (appended pages last, in order).
  const std::map<uint32_t, PageBytes>& Pages() const { return pages_; }

 private:
  using PageMap = std::map<uint32_t, PageBytes>;
  PageMap::iterator Add(uint32_t n) {
    if (spare_.empty()) return pages_.emplace(n, PageBytes{}).first;
    PageMap::node_type node = std::move(spare_.back());
    spare_.pop_back();
    node.key() = n;
    return pages_.insert(std::move(node)).position;
  }

  PageStore& store_;
  uint32_t next_;
  PageMap pages_;
  std::vector<PageMap::node_type> spare_;  // pages of changes before, for reuse
};

}  // namespace kw::jet
