#include "platform/posix/whole_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace kw {

WholeFileStatus ReadWholeFile(const std::string& path, size_t maxSize, std::string& out,
                              struct stat& st) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT ? WholeFileStatus::kMissing : WholeFileStatus::kError;
  WholeFileStatus status = WholeFileStatus::kError;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) <= maxSize) {
    out.clear();
    char chunk[65536];
    for (;;) {
      const ssize_t n = read(fd, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) break;
      if (n == 0) {
        status = WholeFileStatus::kOk;
        break;
      }
      out.append(chunk, static_cast<size_t>(n));
      if (out.size() > maxSize) break;  // grew while we read
    }
  }
  close(fd);
  return status;
}

}  // namespace kw
