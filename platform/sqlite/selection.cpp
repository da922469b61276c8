#include "platform/sqlite/selection.h"

namespace kw::sqlite {

namespace {

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool IsIdChar(char ch) {
  const auto c = static_cast<unsigned char>(ch);
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || c >= 0x80;
}

size_t WordEnd(std::string_view s, size_t i) {
  while (i < s.size() && IsIdChar(s[i])) ++i;
  return i;
}

// Reads the keyword kw at i; returns the offset after it, or npos.
size_t Keyword(std::string_view s, size_t i, std::string_view kw) {
  const size_t end = WordEnd(s, i);
  return EqualNoCase(s.substr(i, end - i), kw) ? end : std::string_view::npos;
}

// Reads a name, bare, "quoted", `quoted` or [bracketed]; returns the offset
// after it, or npos.
size_t ReadName(std::string_view s, size_t i, std::string& name) {
  name.clear();
  if (i >= s.size()) return std::string_view::npos;
  const char open = s[i];
  if (open == '"' || open == '`') {
    for (size_t j = i + 1; j < s.size(); ++j) {
      if (s[j] != open) {
        name += s[j];
      } else if (j + 1 < s.size() && s[j + 1] == open) {
        name += open;
        ++j;
      } else {
        return name.empty() ? std::string_view::npos : j + 1;
      }
    }
    return std::string_view::npos;
  }
  if (open == '[') {
    const size_t close = s.find(']', i);
    if (close == std::string_view::npos || close == i + 1) return std::string_view::npos;
    name = s.substr(i + 1, close - i - 1);
    return close + 1;
  }
  if (open >= '0' && open <= '9') return std::string_view::npos;
  const size_t end = WordEnd(s, i);
  if (end == i) return std::string_view::npos;
  name = s.substr(i, end - i);
  return end;
}

}  // namespace

size_t SkipBlanks(std::string_view s, size_t i) {
  for (;;) {
    while (i < s.size() && IsBlank(s[i])) ++i;
    if (s.substr(i, 2) == "--") {
      i = s.find('\n', i);
      if (i == std::string_view::npos) return s.size();
    } else if (s.substr(i, 2) == "/*") {
      i = s.find("*/", i + 2);
      if (i == std::string_view::npos) return s.size();
      i += 2;
    } else {
      return i;
    }
  }
}

bool ParseSelection(std::string_view s, SelectionForm& form) {
  constexpr size_t npos = std::string_view::npos;
  size_t i = Keyword(s, SkipBlanks(s, 0), "SELECT");
  if (i == npos) return false;
  i = SkipBlanks(s, i);
  if (i >= s.size() || s[i] != '*') return false;
  form.star = i;
  i = Keyword(s, SkipBlanks(s, i + 1), "FROM");
  if (i == npos) return false;
  i = ReadName(s, SkipBlanks(s, i), form.table);
  if (i == npos) return false;
  i = SkipBlanks(s, i);
  if (i == s.size() || s[i] == ';') return true;
  form.condition = Keyword(s, i, "WHERE");
  return form.condition != npos;
}

}  // namespace kw::sqlite
