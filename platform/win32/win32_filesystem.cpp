#include "platform/win32/win32_filesystem.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/jet/page_store.h"
#include "platform/win32/win32_text.h"

namespace kw {
namespace {

// Reads up to n bytes at an offset; the count read, short at the end of the
// file, or -1 on a read error.
int64_t ReadAtOffset(HANDLE h, uint64_t offset, void* buffer, size_t n) {
  size_t done = 0;
  while (done < n) {
    const DWORD want = static_cast<DWORD>(std::min<size_t>(n - done, 1u << 30));
    OVERLAPPED at{};
    const uint64_t pos = offset + done;
    at.Offset = static_cast<DWORD>(pos);
    at.OffsetHigh = static_cast<DWORD>(pos >> 32);
    DWORD got = 0;
    if (!ReadFile(h, static_cast<char*>(buffer) + done, want, &got, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      return -1;
    }
    if (got == 0) break;
    done += got;
  }
  return static_cast<int64_t>(done);
}

class Win32OpenFile : public OpenFile {
 public:
  explicit Win32OpenFile(HANDLE h) : h_(h) {}
  ~Win32OpenFile() override { CloseHandle(h_); }
  Win32OpenFile(const Win32OpenFile&) = delete;
  Win32OpenFile& operator=(const Win32OpenFile&) = delete;

  int64_t ReadAt(uint64_t offset, void* buffer, size_t n) override {
    return ReadAtOffset(h_, offset, buffer, n);
  }
  int64_t Size() override {
    LARGE_INTEGER size;
    return GetFileSizeEx(h_, &size) ? static_cast<int64_t>(size.QuadPart) : -1;
  }

 private:
  HANDLE h_;
};

}  // namespace

bool Win32FileSystem::IsNormalFile(std::string_view path) {
  const std::string name = win32::AnsiPath(path);
  if (name.empty()) return false;
  const DWORD attributes = GetFileAttributesA(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  constexpr DWORD kNotNormal = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN |
                               FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DEVICE;
  return (attributes & kNotNormal) == 0;
}

std::unique_ptr<OpenFile> Win32FileSystem::OpenExclusive(std::string_view path) {
  const std::string name = win32::AnsiPath(path);
  if (name.empty()) return nullptr;
  HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    // A file that may only be read is opened for reading alone; the callers
    // only read. The share mode still shuts everyone else out.
    h = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                    nullptr);
  }
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  auto file = std::make_unique<Win32OpenFile>(h);
  if (GetFileType(h) != FILE_TYPE_DISK) return nullptr;  // a device such as CON or a pipe
  return file;
}

jet::FirstBytes ReadFirstBytes(std::string_view name) {
  jet::FirstBytes first;
  const std::string ansi = win32::AnsiPath(name);
  if (ansi.empty()) return first;
  const HANDLE h = CreateFileA(ansi.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return first;
  if (GetFileType(h) == FILE_TYPE_DISK) {
    first.bytes.resize(jet::kPageSize);
    const int64_t got = ReadAtOffset(h, 0, first.bytes.data(), first.bytes.size());
    first.read = got >= 0;
    first.bytes.resize(got >= 0 ? static_cast<size_t>(got) : 0);
  }
  CloseHandle(h);
  return first;
}

}  // namespace kw
