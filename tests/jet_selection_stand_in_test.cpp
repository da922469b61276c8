// Stands in for the selection parser and evaluator of the Jet engine until
// the real ones are built in: just the forms the engine's tests open record
// sets with, "SELECT * FROM t [WHERE a = 'x' [AND b = 'y' ...]]".
#include <cctype>

#include "platform/jet/selection.h"
#include "platform/run_error.h"
#include "platform/text_compare.h"

namespace kw::jet {
namespace {

std::string Word(std::string_view s, size_t& i) {
  while (i < s.size() && s[i] == ' ') ++i;
  if (i < s.size() && s[i] == '\'') {
    std::string out = "'";
    for (++i; i < s.size() && s[i] != '\''; ++i) out += s[i];
    ++i;
    return out;
  }
  std::string out;
  while (i < s.size() && s[i] != ' ') out += s[i++];
  return out;
}

}  // namespace

Selection ParseSelection(std::string_view source) {
  size_t i = 0;
  Selection sel;
  if (Word(source, i) != "SELECT" || Word(source, i) != "*" || Word(source, i) != "FROM")
    throw RunError("Syntax error in the selection.");
  sel.table = Word(source, i);
  if (Word(source, i) != "WHERE") return sel;
  sel.hasWhere = true;
  sel.where.kind = Condition::Kind::kAnd;
  for (;;) {
    Condition eq;
    std::string column = Word(source, i);
    if (const size_t dot = column.find('.'); dot != std::string::npos) {
      eq.left.qualifier = column.substr(0, dot);
      column = column.substr(dot + 1);
    }
    eq.left.kind = Operand::Kind::kColumn;
    eq.left.name = column;
    if (Word(source, i) != "=") throw RunError("Syntax error in the selection.");
    eq.right.name = Word(source, i).substr(1);
    sel.where.parts.push_back(eq);
    if (Word(source, i) != "AND") break;
  }
  return sel;
}

std::vector<Operand> ColumnsOf(const Condition& c) {
  std::vector<Operand> out;
  for (const Condition& p : c.parts) out.push_back(p.left);
  return out;
}

bool Evaluate(const Condition& c, const ValueOf& valueOf) {
  for (const Condition& p : c.parts) {
    const FieldValue v = valueOf(p.left);
    if (!v || !JetTextEqual(*v, p.right.name)) return false;
  }
  return true;
}

}  // namespace kw::jet
