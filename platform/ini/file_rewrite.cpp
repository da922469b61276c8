#include "platform/ini/file_rewrite.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <vector>

namespace kw {
namespace {

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Removes the temporary files that writers of base killed mid-write left in
// dir: ".<base>.<pid>.<n>.tmp" of a process that no longer runs.
void RemoveStaleTemporaries(const std::string& dir, const std::string& base) {
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  const std::string start = "." + base + ".";
  while (const dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name.size() <= start.size() + 4 || name.compare(0, start.size(), start) != 0 ||
        name.compare(name.size() - 4, 4, ".tmp") != 0)
      continue;
    char* end = nullptr;
    const long pid = std::strtol(name.c_str() + start.size(), &end, 10);
    if (pid <= 0 || *end != '.' || pid == getpid()) continue;
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) unlink((dir + "/" + name).c_str());
  }
  closedir(d);
}

// Reads the extended attribute list of path into names (NUL-separated).
// False when it cannot be read; a file system without them has none.
bool AttributeNames(const std::string& path, std::vector<char>& names) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    const ssize_t size = listxattr(path.c_str(), nullptr, 0);
    if (size < 0) return errno == ENOTSUP;
    names.resize(static_cast<size_t>(size));
    if (size == 0) return true;
    const ssize_t got = listxattr(path.c_str(), names.data(), names.size());
    if (got >= 0) {
      names.resize(static_cast<size_t>(got));
      return true;
    }
    if (errno != ERANGE) return false;  // ERANGE: the list grew meanwhile
  }
  return false;
}

// Gives fd every extended attribute of the file at path; false when one of
// them cannot be read or set.
bool CopyAttributes(const std::string& path, int fd) {
  std::vector<char> names;
  if (!AttributeNames(path, names)) return false;
  std::vector<char> value;
  for (size_t at = 0; at < names.size();) {
    const char* name = names.data() + at;
    at += std::char_traits<char>::length(name) + 1;
    ssize_t size = getxattr(path.c_str(), name, nullptr, 0);
    if (size < 0) return false;
    value.resize(static_cast<size_t>(size));
    size = getxattr(path.c_str(), name, value.data(), value.size());
    if (size < 0) return false;
    if (fsetxattr(fd, name, value.data(), static_cast<size_t>(size), 0) != 0) return false;
  }
  return true;
}

// Writes bytes over the file's own content and flushes it.
bool WriteInPlace(const std::string& path, const std::string& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, bytes) && ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 &&
            fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  return ok;
}

enum class Outcome { kDone, kFailed, kInPlace };

// Writes bytes to a new file beside path that takes over what old had, then
// renames it over path. kInPlace when the new file cannot be made or cannot
// take the old one's attributes.
Outcome ReplaceByRename(const std::string& path, const std::string& bytes,
                        const std::optional<struct stat>& old) {
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  static std::atomic<unsigned> counter{0};
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = dir + "/." + base + "." + std::to_string(getpid()) + "." + std::to_string(++counter) +
           ".tmp";
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return old ? Outcome::kInPlace : Outcome::kFailed;
  const auto giveUp = [&](Outcome outcome) {
    close(fd);
    unlink(temp.c_str());
    return outcome;
  };
  if (old) {
    // Only a privileged user may give the file back to its owner; for anyone
    // else the new file is theirs, as a copy would be.
    if ((old->st_uid != geteuid() || old->st_gid != getegid()) &&
        fchown(fd, old->st_uid, old->st_gid) != 0) {
    }
    // The mode first: an access list set afterwards keeps its own mask.
    if (fchmod(fd, old->st_mode & 07777) != 0 || !CopyAttributes(path, fd)) {
      return giveUp(Outcome::kInPlace);
    }
  }
  if (!WriteAll(fd, bytes) || fsync(fd) != 0) return giveUp(Outcome::kFailed);
  if (close(fd) != 0 || rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    return Outcome::kFailed;
  }
  // Make the rename itself durable; the new text is complete either way.
  const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
  RemoveStaleTemporaries(dir, base);
  return Outcome::kDone;
}

}  // namespace

bool RewriteFile(const std::string& path, const std::string& bytes,
                 const std::optional<struct stat>& old) {
  // A new file in place of one with other names would part it from them.
  if (old && old->st_nlink > 1) return WriteInPlace(path, bytes);
  switch (ReplaceByRename(path, bytes, old)) {
    case Outcome::kDone:
      return true;
    case Outcome::kFailed:
      return false;
    case Outcome::kInPlace:
      break;
  }
  return WriteInPlace(path, bytes);
}

}  // namespace kw
