#pragma once
// Values of some columns of the selected rows, kept as the key set is read,
// so that Edit need not read them again while they are still the file's.
#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sqlite/statement.h"

namespace kw::sqlite {

// Values of some columns of the first rows of a key set, kept as it is
// read, as long as the engine's budget lasts. Rows lie in blocks, so that
// growing never copies much; the bytes go back to the budget with them.
class KeptValues {
 public:
  KeptValues(std::vector<size_t> columns, size_t& budget)
      : columns_(std::move(columns)), budget_(budget), values_(columns_.size()) {}
  ~KeptValues() { budget_ += bytes_; }
  KeptValues(const KeptValues&) = delete;
  KeptValues& operator=(const KeptValues&) = delete;

  size_t Rows() const { return rows_; }
  // The place of a column among the kept ones, or -1.
  int Slot(size_t column) const {
    for (size_t k = 0; k < columns_.size(); ++k) {
      if (columns_[k] == column) return static_cast<int>(k);
    }
    return -1;
  }

  // Keeps the kept columns of the row on which s stands, found from its
  // result column `first` on; takes no more rows once one does not fit.
  void Add(sqlite3_stmt* s, int first) {
    if (full_) return;
    const size_t n = columns_.size();
    size_t size = 0;
    for (size_t k = 0; k < n; ++k) {
      const int col = first + static_cast<int>(k);
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, col));
      if (!text && sqlite3_column_type(s, col) != SQLITE_NULL) {
        full_ = true;  // out of memory
        return;
      }
      values_[k] = text ? std::string_view(text, static_cast<size_t>(sqlite3_column_bytes(s, col)))
                        : std::string_view();
      size += values_[k].size();
    }
    if (rows_ % kBlockRows == 0) {
      if (!blocks_.empty()) Trim(blocks_.back());
      if (!Take(kBlockRows * n * sizeof(uint32_t))) return;
      blocks_.emplace_back().ends.reserve(kBlockRows * n);
    }
    Block& b = blocks_.back();
    if (b.text.size() + size > b.text.capacity()) {
      const size_t want = std::max(b.text.size() + size, 2 * b.text.capacity());
      if (want >= kNull || !Take(want - b.text.capacity())) {
        full_ = true;
        return;
      }
      b.text.reserve(want);
    }
    for (const std::string_view value : values_) {
      b.text.append(value);
      b.ends.push_back(static_cast<uint32_t>(b.text.size()) | (value.data() ? 0 : kNull));
    }
    ++rows_;
  }

  // Gives back what the last block holds in reserve.
  void Finish() {
    if (!blocks_.empty()) Trim(blocks_.back());
  }

  // The value of row r in slot k.
  void Get(size_t r, int slot, Cell& cell) const {
    const Block& b = blocks_[r / kBlockRows];
    const size_t i = (r % kBlockRows) * columns_.size() + static_cast<size_t>(slot);
    const size_t start = i == 0 ? 0 : b.ends[i - 1] & ~kNull;
    cell.null = (b.ends[i] & kNull) != 0;
    if (!cell.null) cell.text.assign(b.text, start, (b.ends[i] & ~kNull) - start);
  }

 private:
  static constexpr size_t kBlockRows = 1024;
  static constexpr uint32_t kNull = 0x80000000u;  // in an end: the value is null
  struct Block {
    std::vector<uint32_t> ends;  // where each value ends in text, row by row
    std::string text;
  };

  bool Take(size_t bytes) {
    if (bytes > budget_) {
      full_ = true;
      return false;
    }
    budget_ -= bytes;
    bytes_ += bytes;
    return true;
  }
  void Trim(Block& b) {
    const size_t before = b.ends.capacity() * sizeof(uint32_t) + b.text.capacity();
    b.ends.shrink_to_fit();
    b.text.shrink_to_fit();
    const size_t after = b.ends.capacity() * sizeof(uint32_t) + b.text.capacity();
    if (after < before) {
      budget_ += before - after;
      bytes_ -= before - after;
    }
  }

  std::vector<size_t> columns_;
  size_t& budget_;
  std::vector<std::string_view> values_;  // of the row being kept; no data when null
  size_t bytes_ = 0;  // taken from the budget
  size_t rows_ = 0;
  bool full_ = false;
  std::vector<Block> blocks_;
};

}  // namespace kw::sqlite
