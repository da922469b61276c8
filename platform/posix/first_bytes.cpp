#include "platform/posix/first_bytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/jet/page_store.h"

namespace kw {

jet::FirstBytes ReadFirstBytes(const WinePaths& paths, std::string_view name) {
  jet::FirstBytes first;
  const std::string host = paths.ToHost(name);
  // Without waiting: a named pipe in the file's place must not hold the run.
  const int fd = host.empty() ? -1 : ::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return first;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return first;  // the Jet engine refuses it, naming it
  }
  first.bytes.resize(jet::kPageSize);
  size_t got = 0;
  bool failed = false;
  while (got < first.bytes.size()) {
    const ssize_t n = ::read(fd, first.bytes.data() + got, first.bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed = n < 0;
      break;
    }
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  first.bytes.resize(got);
  first.read = !failed;
  return first;
}

}  // namespace kw
