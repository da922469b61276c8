#include "platform/wine/wine_paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/text_compare.h"

namespace kw {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> SplitParts(std::string_view path) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : path) {
    if (c == '\\' || c == '/') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

// Appends parts below base, matching names without regard to case.
std::string Descend(std::string base, const std::vector<std::string>& parts) {
  std::vector<std::string> stack;
  for (const auto& p : parts) {
    if (p == ".") continue;
    if (p == "..") {
      if (!stack.empty()) stack.pop_back();
      continue;
    }
    stack.push_back(p);
  }
  for (const auto& p : stack) {
    std::string found = FindNameNoCase(base, p);
    base += "/" + (found.empty() ? p : found);
  }
  return base;
}

}  // namespace

std::string FindNameNoCase(const std::string& dir, const std::string& name) {
  if (Exists(dir + "/" + name)) return name;
  std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(dir.c_str()), closedir);
  if (!d) return {};
  const std::string want = FoldText(name);
  while (dirent* e = readdir(d.get())) {
    if (FoldText(e->d_name) == want) return e->d_name;
  }
  return {};
}

WinePaths::WinePaths(std::string prefix) : prefix_(std::move(prefix)) {
  while (prefix_.size() > 1 && prefix_.back() == '/') prefix_.pop_back();
}

WinePaths WinePaths::FromEnvironment() {
  const char* p = std::getenv("WINEPREFIX");
  if (p && *p) return WinePaths(p);
  const char* home = std::getenv("HOME");
  return WinePaths(std::string(home ? home : "") + "/.wine");
}

std::string WinePaths::WindowsDir() const { return ToHost("C:\\windows"); }

std::string WinePaths::CurrentDrive() const {
  // The drive whose target holds the current directory; Wine's usual
  // fallback is z:, the host's root.
  char cwd[4096];
  std::string here = getcwd(cwd, sizeof cwd) ? cwd : "/";
  std::string best = "z:";
  size_t bestLen = 0;
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    std::string link = prefix_ + "/dosdevices/" + letter + ":";
    char real[4096];
    if (!realpath(link.c_str(), real)) continue;
    std::string target = real;
    if ((here == target || here.rfind(target + "/", 0) == 0 || target == "/") &&
        target.size() > bestLen) {
      best = std::string(1, letter) + ":";
      bestLen = target.size();
    }
  }
  return best;
}

std::string WinePaths::ToHost(std::string_view path) const {
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) return UncToHost(path.substr(2));
  std::string drive;
  std::string_view rest = path;
  if (path.size() >= 2 && path[1] == ':') {
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(path[0])));
    if (letter < 'a' || letter > 'z') return {};
    drive = std::string(1, letter) + ":";
    rest = path.substr(2);
  } else if (!path.empty() && (path[0] == '\\' || path[0] == '/')) {
    drive = CurrentDrive();
  } else {
    char cwd[4096];
    return Descend(getcwd(cwd, sizeof cwd) ? cwd : ".", SplitParts(path));
  }
  const std::string root = prefix_ + "/dosdevices/" + drive;
  if (!Exists(root)) return {};
  return Descend(root, SplitParts(rest));
}

// What follows the two leading separators of a network path: server\share\rest, kept
// by Wine below dosdevices/unc/<server>/<share>, or the long forms ?\UNC\server\share\rest
// and ?\X:\rest. Other device paths (\\.\...) name no file here.
std::string WinePaths::UncToHost(std::string_view path) const {
  if (path.size() >= 2 && path[0] == '?' && IsSeparator(path[1])) {
    const std::string_view rest = path.substr(2);
    if (rest.size() >= 2 && rest[1] == ':') return ToHost(rest);
    if (rest.size() < 4 || FoldText(rest.substr(0, 3)) != "unc" || !IsSeparator(rest[3])) return {};
    path = rest.substr(4);
  }
  const std::vector<std::string> parts = SplitParts(path);
  if (parts.size() < 2) return {};  // a share is named by its server and its name
  std::string base = prefix_ + "/dosdevices/unc";
  for (size_t i = 0; i < 2; ++i) {
    if (parts[i] == "." || parts[i] == ".." || parts[i].find_first_of("?:") != std::string::npos) return {};
    // A share that is not mapped is not there, whatever follows.
    const std::string found = FindNameNoCase(base, parts[i]);
    if (found.empty()) return {};
    base += "/" + found;
  }
  // ".." stops at the share, as it stops at a drive's root.
  return Descend(base, {parts.begin() + 2, parts.end()});
}

}  // namespace kw
