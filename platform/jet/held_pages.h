#pragma once
// The pages a file page store keeps in memory, each once: its content as the
// file holds it (the clean copy, from its last read or commit) and as the
// open write group wrote it (the pending copy). A page the group wrote keeps
// its clean copy, the journal's old image of it, until the group ends; other
// clean copies are let go together when more than a bound of them are held.
// A page that is not held is read with the pages after it that the store
// will most likely want next. The buffers of pages let go are used again, so
// that group after group allocates none.
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "platform/jet/format/page.h"

namespace kw::jet {

class HeldPages {
 public:
  // Reads `count` pages of the file, from page `first`, into `out`; throws
  // on a failure.
  using ReadFile = std::function<void(uint32_t first, uint32_t count, uint8_t* out)>;

  // At most `cleanBound` clean copies of pages the group has not written;
  // `readAhead` pages read at most at a time.
  HeldPages(size_t cleanBound, uint32_t readAhead) : cleanBound_(cleanBound), readAhead_(readAhead) {}

  // The group's copy of page n; null when the group has not written it.
  const PageBytes* Pending(uint32_t n) const;
  // The clean copy of page n of the `filePages` pages of the file, read
  // when it is not held. The reference stays valid until the next call that
  // reads or ends the group.
  const PageBytes& Clean(uint32_t n, uint32_t filePages, const ReadFile& read);

  // Page n as the group writes it. A page of the file must have its clean
  // copy held (Clean) first; a page beyond the file has none.
  void Write(uint32_t n, const PageBytes& data);
  // The pages the group wrote, in ascending order.
  const std::vector<uint32_t>& Written();
  // The clean copy of a page the group wrote (null beyond the file) and its
  // pending copy.
  const PageBytes* CleanOfWritten(uint32_t n) const { return held_.at(n).clean.get(); }
  const PageBytes& PendingOfWritten(uint32_t n) const { return *held_.at(n).pending; }
  // One past the highest page the group wrote; 0 when it wrote none.
  uint32_t PendingEnd() const { return pendingEnd_; }

  // The file holds the group's pages now: they become the clean copies.
  void KeepWritten();
  // The group's pages are forgotten.
  void DropWritten();

 private:
  struct Held {
    std::unique_ptr<PageBytes> clean;
    std::unique_ptr<PageBytes> pending;
  };
  std::unique_ptr<PageBytes> Buffer();
  // The entry of page n, made (from one let go before) when there is none.
  Held& Hold(uint32_t n);
  void LetGoClean();

  size_t cleanBound_;
  uint32_t readAhead_;
  std::unordered_map<uint32_t, Held> held_;
  std::vector<uint32_t> written_;
  bool sorted_ = true;
  uint32_t pendingEnd_ = 0;
  size_t cleanOnly_ = 0;  // held pages the group has not written
  std::vector<std::unique_ptr<PageBytes>> spare_;
  std::vector<std::unordered_map<uint32_t, Held>::node_type> spareEntries_;
  std::vector<PageBytes> run_;  // a read of consecutive pages
};

}  // namespace kw::jet
