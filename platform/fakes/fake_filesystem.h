#pragma once
// An in-memory file system for tests. Paths are compared without regard to
// ASCII case, as on Windows. A file can be marked hidden, system or a
// directory, and can be held by "another process" until a clock time.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/filesystem.h"

namespace kw {

class FakeFileSystem : public FileSystem {
 public:
  struct Entry {
    std::string bytes;
    bool hidden = false;
    bool system = false;
    bool directory = false;
    double heldUntil = -1;  // clock seconds; open attempts fail before it
    bool lockedByUs = false;
  };

  explicit FakeFileSystem(Clock& clock) : clock_(clock) {}

  Entry& Add(const std::string& path, std::string bytes = {}) {
    Entry& e = entries_[Key(path)];
    e.bytes = std::move(bytes);
    return e;
  }
  Entry* Find(std::string_view path) {
    auto it = entries_.find(Key(path));
    return it == entries_.end() ? nullptr : &it->second;
  }
  void AddDirectory(const std::string& path) { Add(path).directory = true; }

  bool IsNormalFile(std::string_view path) override {
    Entry* e = Find(path);
    return e && !e->directory && !e->hidden && !e->system;
  }

  std::unique_ptr<OpenFile> OpenExclusive(std::string_view path) override {
    ++openAttempts;
    Entry* e = Find(path);
    if (e && (e->directory || e->lockedByUs || clock_.Seconds() < e->heldUntil)) return nullptr;
    if (!e) {
      const std::string dir = Key(path).substr(0, Key(path).find_last_of('\\') + 1);
      if (!dir.empty() && !Find(dir.substr(0, dir.size() - 1)) && !createAnywhere) return nullptr;
      e = &Add(std::string(path));
    }
    return std::make_unique<File>(*e);
  }

  int openAttempts = 0;
  // When false, a missing file is only created below a directory that was
  // added with AddDirectory.
  bool createAnywhere = true;

 private:
  class File : public OpenFile {
   public:
    explicit File(Entry& e) : e_(e) { e_.lockedByUs = true; }
    ~File() override { e_.lockedByUs = false; }
    int64_t ReadAt(uint64_t offset, void* buffer, size_t n) override {
      if (offset >= e_.bytes.size()) return 0;
      const size_t k = std::min(n, e_.bytes.size() - static_cast<size_t>(offset));
      std::memcpy(buffer, e_.bytes.data() + offset, k);
      return static_cast<int64_t>(k);
    }
    int64_t Size() override { return static_cast<int64_t>(e_.bytes.size()); }

   private:
    Entry& e_;
  };

  static std::string Key(std::string_view path) {
    std::string k(path);
    std::transform(k.begin(), k.end(), k.begin(), [](char c) {
      return c == '/' ? '\\' : (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    });
    return k;
  }

  Clock& clock_;
  std::map<std::string, Entry> entries_;
};

}  // namespace kw
