#include "platform/jet/engine_choice.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>

#include "platform/jet/file_kind.h"
#include "platform/jet/jet_errors.h"
#include "platform/jet/page_store.h"

namespace kw::jet {

std::unique_ptr<Database> EngineChoice::OpenDatabase(std::string_view name, bool exclusive, bool readOnly) {
  const std::string host = paths_.ToHost(name);
  const int fd = host.empty() ? -1 : ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return sqlite_.OpenDatabase(name, exclusive, readOnly);
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
