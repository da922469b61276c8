#pragma once
// A list that carries its own bounds, the way the host product's definition
// files store their lists: absent (no dimensions, no elements), one dimension,
// or two, each dimension with its own lower bound and element count.
//
// Indexing outside the bounds, with the wrong number of indices, or into an
// absent list throws RunError("Subscript out of range"), so that a caller
// outside hostdata hands it to the run's error handler like any other failing
// step. An absent list costs one pointer, which keeps a large table of
// mostly empty definitions small.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "platform/run_error.h"

namespace kw {

inline constexpr const char* kSubscriptOutOfRange = "Subscript out of range";

template <typename T>
class BoundedList {
 public:
  BoundedList() = default;
  BoundedList(const BoundedList& other) : body_(Copy(other.body_)) {}
  BoundedList& operator=(const BoundedList& other) {
    if (this != &other) body_ = Copy(other.body_);
    return *this;
  }
  BoundedList(BoundedList&&) noexcept = default;
  BoundedList& operator=(BoundedList&&) noexcept = default;

  static BoundedList OneDim(int32_t lower, int32_t count) {
    BoundedList l;
    l.Fresh(lower, count);
    return l;
  }

  int Dimensions() const { return body_ ? body_->dims : 0; }
  bool Absent() const { return !body_; }
  // Bounds of dimension 1 or 2; an index error for a dimension the list lacks.
  int32_t Lower(int dim = 1) const { return Dim(dim).lower; }
  int32_t Count(int dim = 1) const { return Dim(dim).count; }
  int64_t Upper(int dim = 1) const { return int64_t{Dim(dim).lower} + Dim(dim).count - 1; }

  // Makes the list absent.
  void Erase() { body_.reset(); }

  // A fresh list lower..lower+count-1 (count 0 gives an empty dimension); the
  // old contents are discarded and every element is empty. A negative count,
  // or an upper bound beyond the 32-bit range, is an index error.
  void Fresh(int32_t lower, int32_t count) { body_ = Make(1, {{lower, count}, {0, 0}}); }
  void Fresh(int32_t lower1, int32_t count1, int32_t lower2, int32_t count2) {
    body_ = Make(2, {{lower1, count1}, {lower2, count2}});
  }

  // Makes an absent or one-dimensional list span lower..lower+count-1. An
  // element whose index lies in both the old and the new bounds keeps its
  // value; the others are empty. A two-dimensional list cannot change its
  // shape this way: index error. On any failure the list stays as it was.
  void Resize(int32_t lower, int32_t count) {
    if (body_ && body_->dims != 1) throw RunError(kSubscriptOutOfRange);
    if (body_ && body_->d[0].lower == lower) {
      CheckBounds(lower, count);
      body_->items.resize(static_cast<size_t>(count));
      body_->d[0].count = count;
      return;
    }
    std::unique_ptr<Body> next = Make(1, {{lower, count}, {0, 0}});
    if (body_) {
      const Bounds& old = body_->d[0];
      const int64_t from = std::max(lower, old.lower);
      const int64_t to = std::min(int64_t{lower} + count, int64_t{old.lower} + old.count);
      for (int64_t i = from; i < to; ++i)
        next->items[static_cast<size_t>(i - lower)] =
            std::move(body_->items[static_cast<size_t>(i - old.lower)]);
    }
    body_ = std::move(next);
  }

  // The offset is found (or the index error thrown) before the body is touched.
  T& operator()(int64_t i) {
    const size_t k = Offset(i);
    return body_->items[k];
  }
  const T& operator()(int64_t i) const {
    const size_t k = Offset(i);
    return body_->items[k];
  }
  T& operator()(int64_t i, int64_t j) {
    const size_t k = Offset(i, j);
    return body_->items[k];
  }
  const T& operator()(int64_t i, int64_t j) const {
    const size_t k = Offset(i, j);
    return body_->items[k];
  }

  // Every element in storage order (with two dimensions the first index
  // varies fastest); empty for an absent list.
  const std::vector<T>& Elements() const {
    static const std::vector<T> kNone;
    return body_ ? body_->items : kNone;
  }
  // The same, writable; an index error for an absent list.
  std::vector<T>& Elements() {
    if (!body_) throw RunError(kSubscriptOutOfRange);
    return body_->items;
  }

  bool operator==(const BoundedList& other) const {
    if (!body_ || !other.body_) return !body_ && !other.body_;
    return *body_ == *other.body_;
  }

 private:
  struct Bounds {
    int32_t lower = 0;
    int32_t count = 0;
    bool operator==(const Bounds&) const = default;
  };
  struct Body {
    int dims = 0;
    Bounds d[2];
    std::vector<T> items;
    bool operator==(const Body&) const = default;
  };

  static std::unique_ptr<Body> Copy(const std::unique_ptr<Body>& b) {
    return b ? std::make_unique<Body>(*b) : nullptr;
  }

  static void CheckBounds(int32_t lower, int32_t count) {
    if (count < 0 || int64_t{lower} + count - 1 > std::numeric_limits<int32_t>::max())
      throw RunError(kSubscriptOutOfRange);
  }

  static std::unique_ptr<Body> Make(int dims, std::initializer_list<Bounds> bounds) {
    auto b = std::make_unique<Body>();
    b->dims = dims;
    size_t total = 1;
    int k = 0;
    for (const Bounds& x : bounds) {
      if (k < dims) {
        CheckBounds(x.lower, x.count);
        b->d[k] = x;
        total *= static_cast<size_t>(x.count);
      }
      ++k;
    }
    b->items.resize(total);
    return b;
  }

  const Bounds& Dim(int dim) const {
    if (!body_ || dim < 1 || dim > body_->dims) throw RunError(kSubscriptOutOfRange);
    return body_->d[dim - 1];
  }

  static size_t Along(const Bounds& b, int64_t i) {
    const int64_t k = i - b.lower;
    if (k < 0 || k >= b.count) throw RunError(kSubscriptOutOfRange);
    return static_cast<size_t>(k);
  }
  size_t Offset(int64_t i) const {
    if (!body_ || body_->dims != 1) throw RunError(kSubscriptOutOfRange);
    return Along(body_->d[0], i);
  }
  size_t Offset(int64_t i, int64_t j) const {
    if (!body_ || body_->dims != 2) throw RunError(kSubscriptOutOfRange);
    return Along(body_->d[0], i) + Along(body_->d[1], j) * static_cast<size_t>(body_->d[0].count);
  }

  std::unique_ptr<Body> body_;
};

}  // namespace kw
