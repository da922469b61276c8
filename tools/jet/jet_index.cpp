#include "tools/jet/jet_index.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "platform/jet/format/index_key.h"

namespace kw::jetw {
namespace {

[[noreturn]] void WrongValue() { throw std::invalid_argument("the value does not match the column's type"); }

jet::KeyValue KeyValueOf(ColumnType type, const Value& v) {
  if (std::holds_alternative<std::monostate>(v)) return {};
  if (type == ColumnType::kDouble) {
    if (const Double* d = std::get_if<Double>(&v)) return d->value;
    WrongValue();
  }
  if (type == ColumnType::kDateTime) {
    if (const DateTime* d = std::get_if<DateTime>(&v)) return d->days;
    WrongValue();
  }
  if (const int32_t* n = std::get_if<int32_t>(&v)) return *n;
  if (const std::string* s = std::get_if<std::string>(&v)) return *s;
  WrongValue();
}

using Span = std::span<const uint8_t>;

struct Child {
  uint32_t page;
  Bytes last;  // the last entry's key and row pointer
};

Bytes IndexPage(uint8_t type, uint32_t tdef, uint32_t prev, uint32_t next, const std::vector<Span>& entries) {
  jet::IndexPageHeader header;
  header.type = type;
  header.owner = tdef;
  header.prev = prev;
  header.next = next;
  jet::PageBytes page{};
  if (!jet::BuildIndexPage(page, header, entries)) throw std::length_error("index entries do not fit on a page");
  return Bytes(page.begin(), page.end());
}

// One level: its entries cut into pages in order, each as full as it goes.
std::vector<Child> WriteLevel(const std::vector<Span>& entries, bool leaf, uint32_t tdef, size_t childBytes,
                              const std::function<uint32_t()>& allocate,
                              const std::function<void(uint32_t, const Bytes&)>& write,
                              std::vector<uint32_t>& pages) {
  std::vector<std::pair<size_t, size_t>> groups;  // [begin, end)
  size_t begin = 0, used = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].size() > jet::kIndexEntrySpace) throw std::length_error("an index entry is longer than a page");
    if (used + entries[i].size() > jet::kIndexEntrySpace) {
      groups.emplace_back(begin, i);
      begin = i;
      used = 0;
    }
    used += entries[i].size();
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
    write(numbers[g], IndexPage(leaf ? jet::kIndexLeafPageType : jet::kIndexNodePageType, tdef, prev, next, on));
    pages.push_back(numbers[g]);
    Child c{numbers[g], {}};
    if (!on.empty()) c.last.assign(on.back().begin(), on.back().end() - static_cast<long>(childBytes));
    children.push_back(std::move(c));
  }
  return children;
}

}  // namespace

void AppendIndexKey(Bytes& key, ColumnType type, const Value& value, jet::KeyOrder order) {
  jet::AppendIndexKey(key, type, KeyValueOf(type, value), order);
}

void IndexEntries::Add(const Bytes& key, uint32_t rowPointer, bool nullKey) {
  if (key.size() > jet::kMaxIndexKey) throw std::length_error("an index key is longer than a page takes");
  spans_.push_back({data_.size(), static_cast<uint16_t>(key.size() + jet::kEntryRowPointerBytes), nullKey});
  jet::AppendBytes(data_, key);
  jet::AppendEntryRow(data_, rowPointer);
}

void IndexEntries::Sort() {
  const uint8_t* d = data_.data();
  std::sort(spans_.begin(), spans_.end(), [d](const Span& a, const Span& b) {
    return jet::CompareEntries({d + a.offset, a.length}, {d + b.offset, b.length}) < 0;
  });
}

const uint8_t* IndexEntries::Entry(size_t i, size_t* length) const {
  *length = spans_[i].length;
  return data_.data() + spans_[i].offset;
}

bool IndexEntries::SameKey(const Span& a, const Span& b) const {
  return a.length == b.length &&
         std::memcmp(data_.data() + a.offset, data_.data() + b.offset, a.length - jet::kEntryRowPointerBytes) == 0;
}

uint32_t IndexEntries::DistinctKeys() const {
  uint32_t n = 0;
  for (size_t i = 0; i < spans_.size(); ++i)
    if (i == 0 || !SameKey(spans_[i - 1], spans_[i])) ++n;
  return n;
}

bool IndexEntries::HasDuplicateKey(bool nullKeysCount) const {
  for (size_t i = 1; i < spans_.size(); ++i)
    if (SameKey(spans_[i - 1], spans_[i]) && (nullKeysCount || !spans_[i].nullKey)) return true;
  return false;
}

IndexPages WriteIndexPages(const IndexEntries& entries, uint32_t tdef, const std::function<uint32_t()>& allocate,
                           const std::function<void(uint32_t, const Bytes&)>& write) {
  IndexPages out;
  std::vector<Span> level;
  for (size_t i = 0; i < entries.Size(); ++i) {
    size_t n = 0;
    const uint8_t* e = entries.Entry(i, &n);
    level.emplace_back(e, n);
  }
  std::vector<Child> children = WriteLevel(level, true, tdef, 0, allocate, write, out.pages);
  while (children.size() > 1) {
    // Intermediate entries: each child's last entry and the child's page.
    std::vector<Bytes> held;
    held.reserve(children.size());
    for (const Child& c : children) {
      Bytes e = c.last;
      jet::AppendEntryChild(e, c.page);
      held.push_back(std::move(e));
    }
    level.clear();
    for (const Bytes& e : held) level.emplace_back(e);
    children = WriteLevel(level, false, tdef, jet::kEntryChildPointerBytes, allocate, write, out.pages);
  }
  out.root = children.front().page;
  std::sort(out.pages.begin(), out.pages.end());
  return out;
}

}  // namespace kw::jetw
