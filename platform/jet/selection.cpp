#include "platform/jet/selection.h"

#include <utility>

#include "platform/run_error.h"
#include "platform/text_compare.h"

namespace kw::jet {
namespace {

// Parentheses nest at most this deep; deeper is refused, so that neither
// the parser nor the evaluation can run out of stack on a hostile text.
constexpr int kMaxDepth = 64;

std::string Quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool IsIdChar(char ch) {
  const auto c = static_cast<unsigned char>(ch);
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || c >= 0x80;
}

bool EqualAsciiNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

// Words that are never a plain name here.
bool IsReserved(std::string_view word) {
  for (const char* kw : {"SELECT", "FROM", "WHERE", "AND", "OR", "NOT", "IS", "NULL"}) {
    if (EqualAsciiNoCase(word, kw)) return true;
  }
  return false;
}

class Parser {
 public:
  explicit Parser(std::string_view s) : s_(s) {}

  Selection Parse() {
    Selection out;
    if (!Keyword("SELECT") || !Symbol('*') || !Keyword("FROM") || !Name(out.table)) {
      FailForm();
    }
    if (Peek() == '.') FailForm();  // a table of another database, or "X.Y"
    table_ = out.table;
    if (Keyword("WHERE")) {
      out.hasWhere = true;
      out.where = Or(0);
    } else if (!AtEnd() && Peek() != ';') {
      FailForm();
    }
    Symbol(';');
    if (!AtEnd()) {
      SyntaxError("characters found after the end of the statement, at " + Rest());
    }
    return out;
  }

 private:
  // --- conditions -----------------------------------------------------------

  Condition Or(int depth) {
    Condition first = And(depth);
    if (!Keyword("OR")) return first;
    Condition out;
    out.kind = Condition::Kind::kOr;
    out.parts.push_back(std::move(first));
    do {
      out.parts.push_back(And(depth));
    } while (Keyword("OR"));
    return out;
  }

  Condition And(int depth) {
    Condition first = Primary(depth);
    if (!Keyword("AND")) return first;
    Condition out;
    out.kind = Condition::Kind::kAnd;
    out.parts.push_back(std::move(first));
    do {
      out.parts.push_back(Primary(depth));
    } while (Keyword("AND"));
    return out;
  }

  Condition Primary(int depth) {
    if (Symbol('(')) {
      if (depth + 1 > kMaxDepth) {
        throw RunError("Unsupported selection " + Quoted(s_) +
                       "; its condition nests parentheses deeper than " +
                       std::to_string(kMaxDepth) + ".");
      }
      Condition inner = Or(depth + 1);
      if (!Symbol(')')) SyntaxError("expected ')' at " + Rest());
      return inner;
    }
    Condition out;
    out.left = ReadOperand();
    if (Keyword("IS")) {
      if (!Keyword("NULL")) Unsupported("IS must be followed by NULL, found " + Rest());
      out.kind = Condition::Kind::kIsNull;
      return out;
    }
    if (!Symbol('=')) {
      if (AtEnd()) SyntaxError("expected '=' or IS NULL at the end of the statement");
      Unsupported("expected '=' or IS NULL, found " + Rest());
    }
    out.kind = Condition::Kind::kEquals;
    out.right = ReadOperand();
    return out;
  }

  Operand ReadOperand() {
    Skip();
    Operand op;
    if (Peek() == '\'') {
      op.kind = Operand::Kind::kText;
      op.name = Literal();
      return op;
    }
    op.kind = Operand::Kind::kColumn;
    if (!Name(op.name)) {
      if (AtEnd()) SyntaxError("expected a column or a text at the end of the statement");
      Unsupported("expected a column or a text in single quotes, found " + Rest());
    }
    if (Peek() == '.') {
      ++i_;
      op.qualifier = std::move(op.name);
      if (!Name(op.name)) SyntaxError("expected a column name after " + Quoted(op.qualifier + "."));
      if (!JetTextEqual(op.qualifier, table_)) {
        throw RunError("Field " + Quoted(op.qualifier + "." + op.name) + " not found in table " +
                       Quoted(table_) + ".");
      }
    }
    return op;
  }

  // A text in single quotes, a doubled quote standing for one.
  std::string Literal() {
    std::string text;
    for (size_t j = i_ + 1; j < s_.size(); ++j) {
      if (s_[j] != '\'') {
        text += s_[j];
      } else if (j + 1 < s_.size() && s_[j + 1] == '\'') {
        text += '\'';
        ++j;
      } else {
        i_ = j + 1;
        return text;
      }
    }
    SyntaxError("a text in single quotes is not closed");
  }

  // --- words and symbols ----------------------------------------------------

  void Skip() {
    while (i_ < s_.size() && IsBlank(s_[i_])) ++i_;
  }
  char Peek() {
    Skip();
    return i_ < s_.size() ? s_[i_] : '\0';
  }
  bool AtEnd() {
    Skip();
    return i_ == s_.size();
  }
  bool Symbol(char c) {
    if (Peek() != c) return false;
    ++i_;
    return true;
  }
  size_t WordEnd(size_t from) const {
    while (from < s_.size() && IsIdChar(s_[from])) ++from;
    return from;
  }
  bool Keyword(std::string_view kw) {
    Skip();
    const size_t end = WordEnd(i_);
    if (!EqualAsciiNoCase(s_.substr(i_, end - i_), kw)) return false;
    i_ = end;
    return true;
  }
  // A name, plain or [bracketed].
  bool Name(std::string& name) {
    Skip();
    if (i_ >= s_.size()) return false;
    if (s_[i_] == '[') {
      const size_t close = s_.find_first_of("[]", i_ + 1);
      if (close == std::string_view::npos || s_[close] != ']' || close == i_ + 1) return false;
      name = std::string(s_.substr(i_ + 1, close - i_ - 1));
      i_ = close + 1;
      return true;
    }
    if (s_[i_] >= '0' && s_[i_] <= '9') return false;
    const size_t end = WordEnd(i_);
    if (end == i_ || IsReserved(s_.substr(i_, end - i_))) return false;
    name = std::string(s_.substr(i_, end - i_));
    i_ = end;
    return true;
  }

  // What follows the current position, shortened, for error texts.
  std::string Rest() {
    Skip();
    std::string_view rest = s_.substr(i_);
    if (rest.size() > 20) return Quoted(std::string(rest.substr(0, 20)) + "...");
    return Quoted(rest);
  }

  [[noreturn]] void FailForm() {
    throw RunError("Unsupported selection " + Quoted(s_) +
                   "; expected SELECT * FROM <table> [WHERE <condition>].");
  }
  [[noreturn]] void SyntaxError(const std::string& what) {
    throw RunError("Syntax error in query " + Quoted(s_) + ": " + what + ".");
  }
  [[noreturn]] void Unsupported(const std::string& what) {
    throw RunError("Unsupported selection " + Quoted(s_) +
                   "; its condition may only compare columns and texts with =, IS NULL, AND, "
                   "OR and parentheses: " +
                   what + ".");
  }

  std::string_view s_;
  size_t i_ = 0;
  std::string table_;
};

void CollectColumns(const Condition& c, std::vector<Operand>& out) {
  switch (c.kind) {
    case Condition::Kind::kEquals:
      if (c.left.kind == Operand::Kind::kColumn) out.push_back(c.left);
      if (c.right.kind == Operand::Kind::kColumn) out.push_back(c.right);
      return;
    case Condition::Kind::kIsNull:
      if (c.left.kind == Operand::Kind::kColumn) out.push_back(c.left);
      return;
    case Condition::Kind::kAnd:
    case Condition::Kind::kOr:
      for (const Condition& part : c.parts) CollectColumns(part, out);
      return;
  }
}

FieldValue ValueOfOperand(const Operand& op, const ValueOf& valueOf) {
  if (op.kind == Operand::Kind::kText) return op.name;
  return valueOf(op);
}

}  // namespace

Selection ParseSelection(std::string_view source) { return Parser(source).Parse(); }

std::vector<Operand> ColumnsOf(const Condition& condition) {
  std::vector<Operand> out;
  CollectColumns(condition, out);
  return out;
}

bool Evaluate(const Condition& condition, const ValueOf& valueOf) {
  switch (condition.kind) {
    case Condition::Kind::kEquals: {
      const FieldValue left = ValueOfOperand(condition.left, valueOf);
      if (!left) return false;
      const FieldValue right = ValueOfOperand(condition.right, valueOf);
      return right && JetTextEqual(*left, *right);
    }
    case Condition::Kind::kIsNull:
      return !ValueOfOperand(condition.left, valueOf).has_value();
    case Condition::Kind::kAnd:
      for (const Condition& part : condition.parts) {
        if (!Evaluate(part, valueOf)) return false;
      }
      return true;
    case Condition::Kind::kOr:
      for (const Condition& part : condition.parts) {
        if (Evaluate(part, valueOf)) return true;
      }
      return false;
  }
  return false;
}

}  // namespace kw::jet
