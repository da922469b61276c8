#include "platform/sqlite/jet_text.h"

#include <algorithm>

#include "platform/text_compare.h"

namespace kw {
namespace {

int CompareFolded(void*, int sizeA, const void* a, int sizeB, const void* b) {
  return JetTextCompare(std::string_view(static_cast<const char*>(a), static_cast<size_t>(sizeA)),
                        std::string_view(static_cast<const char*>(b), static_cast<size_t>(sizeB)));
}

bool IsWordChar(char ch) {
  const auto c = static_cast<unsigned char>(ch);
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || c >= 0x80;
}

bool IsCollateWord(std::string_view word) {
  constexpr std::string_view kCollate = "collate";
  if (word.size() != kCollate.size()) return false;
  for (size_t k = 0; k < word.size(); ++k) {
    char c = word[k];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != kCollate[k]) return false;
  }
  return true;
}

// The offset just past the quoted part opened at i (close: its closing
// character, doubled inside it), or npos when it is not closed.
size_t QuotedEnd(std::string_view s, size_t i, char close) {
  for (size_t j = i + 1; j < s.size(); ++j) {
    if (s[j] != close) continue;
    if (close != ']' && j + 1 < s.size() && s[j + 1] == close) {
      ++j;
      continue;
    }
    return j + 1;
  }
  return std::string_view::npos;
}

}  // namespace

int RegisterJetCollation(sqlite3* db) {
  return sqlite3_create_collation_v2(db, kJetCollation, SQLITE_UTF8, nullptr, CompareFolded,
                                     nullptr);
}

std::string CompareTextAsJet(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 64);
  std::string_view lastWord;  // the word before the current token
  size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    size_t end = i + 1;
    if (s.substr(i, 2) == "--") {
      end = s.find('\n', i);
      end = end == std::string_view::npos ? s.size() : end;
    } else if (s.substr(i, 2) == "/*") {
      end = s.find("*/", i + 2);
      end = end == std::string_view::npos ? s.size() : end + 2;
    } else if (c == '"' || c == '`' || c == '[') {
      end = std::min(QuotedEnd(s, i, c == '[' ? ']' : c), s.size());
      lastWord = {};
    } else if (c == '\'') {
      end = QuotedEnd(s, i, '\'');
      const bool closed = end != std::string_view::npos;
      if (!closed) end = s.size();
      out.append(s.substr(i, end - i));
      if (closed && !IsCollateWord(lastWord)) {
        out.append(" COLLATE ").append(kJetCollation);
        if (end < s.size() && (IsWordChar(s[end]) || s[end] == '\'')) out += ' ';
      }
      lastWord = {};
      i = end;
      continue;
    } else if (IsWordChar(c)) {
      while (end < s.size() && IsWordChar(s[end])) ++end;
      const bool blob = end - i == 1 && (c == 'x' || c == 'X') && end < s.size() && s[end] == '\'';
      if (blob) end = std::min(QuotedEnd(s, end, '\''), s.size());
      lastWord = blob ? std::string_view() : s.substr(i, end - i);
    } else if (c != ' ' && !(c >= '\t' && c <= '\r')) {
      lastWord = {};
    }
    out.append(s.substr(i, end - i));
    i = end;
  }
  return out;
}

}  // namespace kw
