#include "tools/jet/jet_index.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace kw::jetw {
namespace {

constexpr uint8_t kLeafPage = 0x04;
constexpr uint8_t kIntermediatePage = 0x03;

void AppendBig32(Bytes& b, uint32_t v) {
  for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

bool Less(const uint8_t* a, size_t na, const uint8_t* b, size_t nb) {
  const int c = std::memcmp(a, b, std::min(na, nb));
  return c != 0 ? c < 0 : na < nb;
}

struct Span {
  const uint8_t* data;
  size_t length;
};

struct Child {
  uint32_t page;
  Bytes last;  // the last entry's key and row pointer
};

Bytes IndexPage(uint8_t type, uint32_t tdef, uint32_t prev, uint32_t next, const std::vector<Span>& entries) {
  Bytes page(kPageSize, 0);
  uint8_t* p = page.data();
  p[0] = type;
  p[1] = 0x01;
  Put32(p + 4, tdef);
  Put32(p + 12, prev);
  Put32(p + 16, next);
  size_t used = 0;
  for (const Span& e : entries) {
    std::memcpy(p + kIndexEntriesStart + used, e.data, e.length);
    used += e.length;
    p[kIndexMaskStart + used / 8] |= static_cast<uint8_t>(1u << (used % 8));  // where the entry ends
  }
  Put16(p + 2, static_cast<uint32_t>(kIndexEntrySpace - used));
  return page;
}

// One level: its entries cut into pages in order, each as full as it goes.
std::vector<Child> WriteLevel(const std::vector<Span>& entries, bool leaf, uint32_t tdef, size_t childBytes,
                              const std::function<uint32_t()>& allocate,
                              const std::function<void(uint32_t, const Bytes&)>& write,
                              std::vector<uint32_t>& pages) {
  std::vector<std::pair<size_t, size_t>> groups;  // [begin, end)
  size_t begin = 0, used = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].length > kIndexEntrySpace) throw std::length_error("an index entry is longer than a page");
    if (used + entries[i].length > kIndexEntrySpace) {
      groups.emplace_back(begin, i);
      begin = i;
      used = 0;
    }
    used += entries[i].length;
  }
  groups.emplace_back(begin, entries.size());
  std::vector<uint32_t> numbers;
  for (size_t g = 0; g < groups.size(); ++g) numbers.push_back(allocate());
  std::vector<Child> children;
  for (size_t g = 0; g < groups.size(); ++g) {
    const auto [from, to] = groups[g];
    std::vector<Span> on(entries.begin() + static_cast<long>(from), entries.begin() + static_cast<long>(to));
    const uint32_t prev = g > 0 ? numbers[g - 1] : 0;
    const uint32_t next = g + 1 < groups.size() ? numbers[g + 1] : 0;
    write(numbers[g], IndexPage(leaf ? kLeafPage : kIntermediatePage, tdef, prev, next, on));
    pages.push_back(numbers[g]);
    Child c{numbers[g], {}};
    if (!on.empty()) c.last.assign(on.back().data, on.back().data + on.back().length - childBytes);
    children.push_back(std::move(c));
  }
  return children;
}

}  // namespace

void IndexEntries::Add(const Bytes& key, uint32_t rowPointer) {
  if (key.size() > kMaxIndexKey) throw std::length_error("an index key is longer than a page takes");
  spans_.push_back({data_.size(), static_cast<uint16_t>(key.size() + kRowPointerBytes)});
  AppendBytes(data_, key);
  AppendBig32(data_, rowPointer);
}

void IndexEntries::Sort() {
  const uint8_t* d = data_.data();
  std::sort(spans_.begin(), spans_.end(), [d](const Span& a, const Span& b) {
    return Less(d + a.offset, a.length, d + b.offset, b.length);
  });
}

const uint8_t* IndexEntries::Entry(size_t i, size_t* length) const {
  *length = spans_[i].length;
  return data_.data() + spans_[i].offset;
}

uint32_t IndexEntries::DistinctKeys() const {
  uint32_t n = 0;
  for (size_t i = 0; i < spans_.size(); ++i) {
    if (i == 0) {
      ++n;
      continue;
    }
    const Span& a = spans_[i - 1];
    const Span& b = spans_[i];
    if (a.length != b.length ||
        std::memcmp(data_.data() + a.offset, data_.data() + b.offset, a.length - kRowPointerBytes) != 0)
      ++n;
  }
  return n;
}

bool IndexEntries::HasDuplicateKey() const { return DistinctKeys() < spans_.size(); }

IndexPages WriteIndexPages(const IndexEntries& entries, uint32_t tdef, const std::function<uint32_t()>& allocate,
                           const std::function<void(uint32_t, const Bytes&)>& write) {
  IndexPages out;
  std::vector<Span> level;
  for (size_t i = 0; i < entries.Size(); ++i) {
    size_t n = 0;
    const uint8_t* e = entries.Entry(i, &n);
    level.push_back({e, n});
  }
  std::vector<Child> children = WriteLevel(level, true, tdef, 0, allocate, write, out.pages);
  while (children.size() > 1) {
    // Intermediate entries: each child's last entry and the child's page.
    std::vector<Bytes> held;
    held.reserve(children.size());
    for (const Child& c : children) {
      Bytes e = c.last;
      AppendBig32(e, c.page);
      held.push_back(std::move(e));
    }
    level.clear();
    for (const Bytes& e : held) level.push_back({e.data(), e.size()});
    children = WriteLevel(level, false, tdef, kChildPointerBytes, allocate, write, out.pages);
  }
  out.root = children.front().page;
  std::sort(out.pages.begin(), out.pages.end());
  return out;
}

}  // namespace kw::jetw
