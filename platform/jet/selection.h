#pragma once
// The selection a Jet dynaset is opened over, parsed and evaluated by the
// engine itself: "SELECT * FROM <table> [WHERE <condition>]", where a
// condition is built of `=`, `IS NULL`, `AND`, `OR` and parentheses over
// column names (plain, table-qualified or in brackets) and text literals in
// single quotes (a doubled quote stands for one). Keywords in any case.
// Anything else is refused by ParseSelection with a RunError that says what
// was not understood.
//
// Evaluation has Jet's meaning: texts compare without regard to case
// (JetTextEqual), NULL equals nothing (not even NULL), and a condition with
// a NULL operand is false.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/database.h"

namespace kw::jet {

struct Operand {
  enum class Kind { kColumn, kText };
  Kind kind = Kind::kText;
  std::string qualifier;  // kColumn: the table name written before the dot, or empty
  std::string name;       // kColumn: the column name; kText: the literal's text (UTF-8)
};

struct Condition {
  enum class Kind { kEquals, kIsNull, kAnd, kOr };
  Kind kind = Kind::kEquals;
  Operand left, right;            // kEquals: both; kIsNull: left
  std::vector<Condition> parts;   // kAnd, kOr: two or more
};

struct Selection {
  std::string table;              // as written
  bool hasWhere = false;
  Condition where;
};

// Throws RunError naming what it does not accept.
Selection ParseSelection(std::string_view source);

// Every column operand of the condition, in the order written.
std::vector<Operand> ColumnsOf(const Condition& condition);

// The value of a column operand in the row being tested (nullopt is NULL).
using ValueOf = std::function<FieldValue(const Operand& column)>;
bool Evaluate(const Condition& condition, const ValueOf& valueOf);

}  // namespace kw::jet
