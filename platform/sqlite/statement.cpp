#include "platform/sqlite/statement.h"

#include <algorithm>

namespace kw::sqlite {
namespace {

// Row ids asked for in ascending order are found without a search.
void RowIn(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto* span = static_cast<KeySpan*>(sqlite3_value_pointer(argv[0], kKeySpanType));
  if (!span) {
    sqlite3_result_int(ctx, 0);
    return;
  }
  const sqlite3_int64 key = sqlite3_value_int64(argv[1]);
  const sqlite3_int64* p = span->hint;
  if ((p != span->end && *p < key) || (p != span->begin && p[-1] >= key)) {
    p = std::lower_bound(span->begin, span->end, key);
  }
  const bool found = p != span->end && *p == key;
  span->hint = found ? p + 1 : p;
  sqlite3_result_int(ctx, found);
}

}  // namespace

std::string QuoteId(std::string_view id) {
  std::string out = "\"";
  for (char c : id) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

int RegisterRowIn(sqlite3* db) {
  return sqlite3_create_function_v2(db, "kw_row_in", 2, SQLITE_UTF8 | SQLITE_DIRECTONLY, nullptr,
                                    RowIn, nullptr, nullptr, nullptr);
}

}  // namespace kw::sqlite
