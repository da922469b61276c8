#include "platform/posix/posix_filesystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <string>

namespace kw {
namespace {

class PosixOpenFile : public OpenFile {
 public:
  explicit PosixOpenFile(int fd) : fd_(fd) {}
  // Closing the last descriptor of the open file description drops its lock.
  ~PosixOpenFile() override { close(fd_); }
  PosixOpenFile(const PosixOpenFile&) = delete;
  PosixOpenFile& operator=(const PosixOpenFile&) = delete;

  int64_t ReadAt(uint64_t offset, void* buffer, size_t n) override {
    constexpr uint64_t kMaxOffset = static_cast<uint64_t>(std::numeric_limits<off_t>::max());
    size_t done = 0;
    while (done < n && offset + done < kMaxOffset) {
      const ssize_t got = pread(fd_, static_cast<char*>(buffer) + done, n - done,
                                static_cast<off_t>(offset + done));
      if (got < 0) {
        if (errno == EINTR) continue;
        return -1;
      }
      if (got == 0) break;
      done += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(done);
  }

  int64_t Size() override {
    struct stat st;
    return fstat(fd_, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
  }

 private:
  int fd_;
};

uint32_t Le(std::string_view v, size_t at, int bytes) {
  uint32_t x = 0;
  for (int i = bytes - 1; i >= 0; --i) x = (x << 8) | static_cast<uint8_t>(v[at + i]);
  return x;
}

// "0x22" as Wine writes it; Samba reads the same text with or without "0x".
DosAttrib ParseHexText(std::string_view text) {
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > 8) return {};
  uint32_t v = 0;
  for (char c : text) {
    int d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      d = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      d = c - 'A' + 10;
    } else {
      return {};
    }
    v = (v << 4) | static_cast<uint32_t>(d);
  }
  return {true, v};
}

}  // namespace

DosAttrib ParseDosAttrib(std::string_view value) {
  const size_t nul = value.find('\0');
  const size_t after = nul == std::string_view::npos ? value.size() : nul + 1;
  // Nothing after the text: the old form, the attributes as hex text.
  if (after >= value.size()) return ParseHexText(value.substr(0, nul));
  // The versioned form, laid out by NDR rules: the 16-bit version on a
  // 2-byte boundary, then the 16-bit union level, then the info record on a
  // 4-byte boundary. Version 1 begins with the attributes; versions 2 to 5
  // begin with a 32-bit flags word followed by them.
  size_t pos = (after + 1) & ~size_t{1};
  if (pos + 4 > value.size()) return {};
  const uint32_t version = Le(value, pos, 2);
  pos = (pos + 4 + 3) & ~size_t{3};
  size_t attribAt;
  if (version == 1) {
    attribAt = pos;
  } else if (version >= 2 && version <= 5) {
    attribAt = pos + 4;
  } else {
    return {};
  }
  if (attribAt + 4 > value.size()) return {};
  return {true, Le(value, attribAt, 4)};
}

bool PosixFileSystem::IsNormalFile(std::string_view path) {
  const std::string host = paths_.ToHost(path);
  if (host.empty()) return false;
  struct stat st;
  if (stat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const size_t slash = host.find_last_of('/');
  if (host[slash == std::string::npos ? 0 : slash + 1] == '.') return false;

  char buf[256];
  const ssize_t len = getxattr(host.c_str(), "user.DOSATTRIB", buf, sizeof buf);
  if (len < 0) {
    // No attribute, no attributes on this file system, or a value too long
    // to be one we know: the file has no DOS attributes of note.
    return errno == ENODATA || errno == ENOTSUP || errno == ERANGE;
  }
  const DosAttrib dos = ParseDosAttrib(std::string_view(buf, static_cast<size_t>(len)));
  return !(dos.ok && (dos.attributes & (kDosHidden | kDosSystem)) != 0);
}

std::unique_ptr<OpenFile> PosixFileSystem::OpenExclusive(std::string_view path) {
  const std::string host = paths_.ToHost(path);
  if (host.empty()) return nullptr;
  // O_NONBLOCK: neither a FIFO in the file's place nor a lease held by
  // another process may make the attempt wait.
  constexpr int kCommon = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  bool writable = true;
  int fd = open(host.c_str(), O_RDWR | O_CREAT | kCommon, 0666);
  if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
    // A file that may only be read (read-only file or file system) is opened
    // for reading alone; the callers only read.
    writable = false;
    fd = open(host.c_str(), O_RDONLY | kCommon);
  }
  if (fd < 0) return nullptr;
  auto file = std::make_unique<PosixOpenFile>(fd);

  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;

  // A write lock shuts out every other lock on the file, read or write. A
  // descriptor open for reading alone can only carry a read lock: that still
  // shuts out every writer, but lets other readers with read locks in.
  struct flock lock;
  std::memset(&lock, 0, sizeof lock);
  lock.l_type = writable ? F_WRLCK : F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;  // the whole file, however long it grows
  if (fcntl(fd, F_OFD_SETLK, &lock) != 0) return nullptr;
  return file;
}

}  // namespace kw
