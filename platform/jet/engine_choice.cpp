#include "platform/jet/engine_choice.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>

#include "platform/jet/file_kind.h"
#include "platform/jet/jet_errors.h"
#include "platform/jet/page_store.h"

namespace kw::jet {

std::unique_ptr<Database> EngineChoice::OpenDatabase(std::string_view name, bool exclusive, bool readOnly) {
  const std::string host = paths_.ToHost(name);
  // Without waiting: a named pipe in the file's place must not hold the run.
  const int fd = host.empty() ? -1 : ::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return sqlite_.OpenDatabase(name, exclusive, readOnly);
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return jet_.OpenDatabase(name, exclusive, readOnly);  // which refuses it, naming it
  }
  std::array<uint8_t, kPageSize> first{};
  ssize_t got = 0;
  while (got < static_cast<ssize_t>(first.size())) {
    const ssize_t n = ::read(fd, first.data() + got, first.size() - static_cast<size_t>(got));
    if (n <= 0) break;
    got += n;
  }
  ::close(fd);
  const FileKind kind = KindOf(std::span<const uint8_t>(first.data(), static_cast<size_t>(got)));
  if (kind == FileKind::kSqlite) return sqlite_.OpenDatabase(name, exclusive, readOnly);
  if (kind == FileKind::kJet4) return jet_.OpenDatabase(name, exclusive, readOnly);
  ThrowRefused(std::string(name), RefusalOf(kind));
}

void EngineChoice::CommitPending() {
  sqlite_.CommitPending();
  jet_.CommitPending();
}

}  // namespace kw::jet
