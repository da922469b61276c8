#pragma once
// File system seam for the host product's binary files. Paths are Windows
// path texts (UTF-8); the implementation maps them to host paths.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace kw {

class OpenFile {
 public:
  // Closing releases the lock.
  virtual ~OpenFile() = default;
  // Reads up to n bytes at a byte offset (from 0). Returns the number read,
  // short at the end of the file, or -1 on a read error.
  virtual int64_t ReadAt(uint64_t offset, void* buffer, size_t n) = 0;
  // The file's size in bytes, or -1 when it cannot be told.
  virtual int64_t Size() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // True only for a normal file: not a directory, not hidden, not system.
  // Any error gives false.
  virtual bool IsNormalFile(std::string_view path) = 0;
  // One attempt to open a file for binary use with a lock that shuts out
  // every other process; a missing file is created empty. nullptr when the
  // attempt fails for any reason (held elsewhere, missing directory, ...).
  virtual std::unique_ptr<OpenFile> OpenExclusive(std::string_view path) = 0;
};

}  // namespace kw
