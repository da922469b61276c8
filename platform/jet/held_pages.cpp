#include "platform/jet/held_pages.h"

#include <algorithm>

namespace kw::jet {

std::unique_ptr<PageBytes> HeldPages::Buffer() {
  if (spare_.empty()) return std::make_unique<PageBytes>();
  std::unique_ptr<PageBytes> b = std::move(spare_.back());
  spare_.pop_back();
  return b;
}

HeldPages::Held& HeldPages::Hold(uint32_t n) {
  if (const auto it = held_.find(n); it != held_.end()) return it->second;
  if (spareEntries_.empty()) return held_[n];
  auto entry = std::move(spareEntries_.back());
  spareEntries_.pop_back();
  entry.key() = n;
  return held_.insert(std::move(entry)).position->second;
}

void HeldPages::LetGoClean() {
  for (auto it = held_.begin(); it != held_.end();) {
    if (it->second.pending) {
      ++it;
      continue;
    }
    spare_.push_back(std::move(it->second.clean));
    spareEntries_.push_back(held_.extract(it++));
  }
  cleanOnly_ = 0;
}

const PageBytes* HeldPages::Pending(uint32_t n) const {
  const auto it = held_.find(n);
  return it == held_.end() ? nullptr : it->second.pending.get();
}

const PageBytes& HeldPages::Clean(uint32_t n, uint32_t filePages, const ReadFile& read) {
  if (const auto it = held_.find(n); it != held_.end() && it->second.clean) return *it->second.clean;
  // Page n and the pages after it up to the first one held.
  uint32_t count = 1;
  while (count < readAhead_ && n + count < filePages && !held_.count(n + count)) ++count;
  if (cleanOnly_ + count > cleanBound_) LetGoClean();
  run_.resize(readAhead_);
  read(n, count, run_[0].data());
  for (uint32_t i = 0; i < count; ++i) {
    Held& h = Hold(n + i);
    h.clean = Buffer();
    *h.clean = run_[i];
    if (!h.pending) ++cleanOnly_;
  }
  return *held_.at(n).clean;
}

void HeldPages::Write(uint32_t n, const PageBytes& data) {
  Held& h = Hold(n);
  if (!h.pending) {
    h.pending = Buffer();
    if (h.clean) --cleanOnly_;
    sorted_ = sorted_ && (written_.empty() || written_.back() < n);
    written_.push_back(n);
    pendingEnd_ = std::max(pendingEnd_, n + 1);
  }
  *h.pending = data;
}

const std::vector<uint32_t>& HeldPages::Written() {
  if (!sorted_) std::sort(written_.begin(), written_.end());
  sorted_ = true;
  return written_;
}

void HeldPages::KeepWritten() {
  for (uint32_t n : written_) {
    Held& h = held_.at(n);
    if (h.clean) spare_.push_back(std::move(h.clean));
    h.clean = std::move(h.pending);
    ++cleanOnly_;
  }
  written_.clear();
  sorted_ = true;
  pendingEnd_ = 0;
}

void HeldPages::DropWritten() {
  for (uint32_t n : written_) {
    const auto it = held_.find(n);
    spare_.push_back(std::move(it->second.pending));
    if (it->second.clean) {
      ++cleanOnly_;
    } else {
      spareEntries_.push_back(held_.extract(it));
    }
  }
  written_.clear();
  sorted_ = true;
  pendingEnd_ = 0;
}

}  // namespace kw::jet
