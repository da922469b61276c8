#pragma once
// A page store over bytes in memory, for tests of the format code; the
// journal and the file lock are the file store's, not this one's.
#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/jet/page_store.h"
#include "platform/run_error.h"

namespace kw::jet {

class MemoryPageStore : public PageStore {
 public:
  // `bytes` is the whole file; a partial last page is left out of the count.
  MemoryPageStore(std::string name, std::vector<uint8_t> bytes)
      : name_(std::move(name)), bytes_(std::move(bytes)) {}

  const std::string& Name() const override { return name_; }
  uint32_t PageCount() const override {
    return static_cast<uint32_t>(bytes_.size() / kPageSize + pending_.size() -
                                 std::count_if(pending_.begin(), pending_.end(), [&](auto& p) {
                                   return p.first < bytes_.size() / kPageSize;
                                 }));
  }
  void Read(uint32_t n, PageBytes& out) override {
    if (n >= PageCount()) throw RunError("'" + name_ + "': page " + std::to_string(n) + " is beyond the end of the file.");
    if (auto it = pending_.find(n); it != pending_.end()) {
      out = it->second;
      return;
    }
    std::copy_n(bytes_.begin() + static_cast<long>(n) * kPageSize, kPageSize, out.begin());
  }
  bool InGroup() const override { return inGroup_; }
  void BeginGroup() override {
    if (inGroup_) throw RunError("'" + name_ + "': a write group is already open.");
    inGroup_ = true;
  }
  void Write(uint32_t n, const PageBytes& data) override {
    if (!inGroup_ || n > PageCount()) throw RunError("'" + name_ + "': write outside a group or beyond the end.");
    pending_[n] = data;
  }
  void Commit() override {
    for (auto& [n, page] : pending_) {
      const size_t at = static_cast<size_t>(n) * kPageSize;
      if (bytes_.size() < at + kPageSize) bytes_.resize(at + kPageSize);
      std::copy(page.begin(), page.end(), bytes_.begin() + static_cast<long>(at));
    }
    pending_.clear();
    inGroup_ = false;
    ++commits_;
  }
  void Rollback() override {
    pending_.clear();
    inGroup_ = false;
  }

  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  int Commits() const { return commits_; }

 private:
  std::string name_;
  std::vector<uint8_t> bytes_;
  std::map<uint32_t, PageBytes> pending_;
  bool inGroup_ = false;
  int commits_ = 0;
};

// Forwards to a store that outlives every engine given it (for tests and
// the fuzz target, which keep the bytes after the engine lets go).
class BorrowedStore : public PageStore {
 public:
  explicit BorrowedStore(PageStore& s) : s_(s) {}
  const std::string& Name() const override { return s_.Name(); }
  uint32_t PageCount() const override { return s_.PageCount(); }
  void Read(uint32_t n, PageBytes& out) override { s_.Read(n, out); }
  const PageBytes& View(uint32_t n) override { return s_.View(n); }
  void ReadPages(uint32_t first, uint32_t count, PageBytes* out) override { s_.ReadPages(first, count, out); }
  bool InGroup() const override { return s_.InGroup(); }
  void BeginGroup() override { s_.BeginGroup(); }
  void Write(uint32_t n, const PageBytes& d) override { s_.Write(n, d); }
  void Commit() override { s_.Commit(); }
  void Rollback() override { s_.Rollback(); }

 private:
  PageStore& s_;
};

}  // namespace kw::jet
