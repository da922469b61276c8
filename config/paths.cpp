#include "config/paths.h"

namespace kw {

std::string TrimBlanks(std::string_view s) {
  const size_t first = s.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return std::string(s.substr(first, s.find_last_not_of(' ') - first + 1));
}

std::string TrimTrailingBlanks(std::string_view s) {
  const size_t last = s.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string() : std::string(s.substr(0, last + 1));
}

std::string AddBackslash(std::string_view Path) {
  std::string p = TrimBlanks(Path);
  if (p.empty() || p.back() != '\\') p += '\\';
  return p;
}

}  // namespace kw
