#include "platform/jet/selection.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/run_error.h"

namespace kw::jet {
namespace {

// The condition written back in one fixed form, to compare parses.
std::string Show(const Operand& op) {
  if (op.kind == Operand::Kind::kText) return "'" + op.name + "'";
  return (op.qualifier.empty() ? "" : op.qualifier + ".") + op.name;
}
std::string Show(const Condition& c) {
  switch (c.kind) {
    case Condition::Kind::kEquals:
      return Show(c.left) + "=" + Show(c.right);
    case Condition::Kind::kIsNull:
      return Show(c.left) + " null";
    case Condition::Kind::kAnd:
    case Condition::Kind::kOr: {
      std::string out = c.kind == Condition::Kind::kAnd ? "and(" : "or(";
      for (size_t i = 0; i < c.parts.size(); ++i) out += (i ? ", " : "") + Show(c.parts[i]);
      return out + ")";
    }
  }
  return "?";
}

std::string RefusalOf(const std::string& source) {
  try {
    ParseSelection(source);
  } catch (const RunError& e) {
    return e.Description();
  }
  return "";
}

TEST(JetSelection, ParsesTheAcceptedForms) {
  struct Case {
    const char* source;
    const char* table;
    const char* where;  // nullptr: no condition
  } cases[] = {
      {"SELECT * FROM PLZSTM", "PLZSTM", nullptr},
      {"select * from plzstm;", "plzstm", nullptr},
      {"  SELECT*FROM [Post Leitzahlen]  ", "Post Leitzahlen", nullptr},
      {"SELECT * FROM PLZSTM WHERE PLZSTM.LAND = 'CH' AND PLZSTM.TELVOR = '01'", "PLZSTM",
       "and(PLZSTM.LAND='CH', PLZSTM.TELVOR='01')"},
      {"SELECT * FROM ADRSTM WHERE ADRSTM.LAND = 'CH' AND ADRSTM.TELVOR2 = '01'", "ADRSTM",
       "and(ADRSTM.LAND='CH', ADRSTM.TELVOR2='01')"},
      {"SELECT * FROM T WHERE a = 'x' OR b = 'y' AND c = 'z'", "T", "or(a='x', and(b='y', c='z'))"},
      {"SELECT * FROM T WHERE (a = 'x' OR b = 'y') AND c = 'z'", "T",
       "and(or(a='x', b='y'), c='z')"},
      {"SELECT * FROM T WHERE a='1' AND b='2' AND c='3'", "T", "and(a='1', b='2', c='3')"},
      {"SELECT * FROM T WHERE a IS NULL OR [T].[b c] is null", "T", "or(a null, T.b c null)"},
      {"SELECT * FROM T WHERE 'it''s' = a", "T", "'it's'=a"},
      {"SELECT * FROM T WHERE a = ''", "T", "a=''"},
      {"SELECT * FROM T WHERE a = b", "T", "a=b"},
      {"SELECT * FROM T WHERE t.a = 'x'", "T", "t.a='x'"},
      {"SELECT * FROM T WHERE ((a = 'x'))", "T", "a='x'"},
      {"SELECT * FROM Straße WHERE STRAßE.Ort = 'Zürich'", "Straße", "STRAßE.Ort='Zürich'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    const Selection s = ParseSelection(c.source);
    EXPECT_EQ(s.table, c.table);
    EXPECT_EQ(s.hasWhere, c.where != nullptr);
    if (c.where) {
      EXPECT_EQ(Show(s.where), c.where);
    }
  }
}

TEST(JetSelection, RefusesWhatItDoesNotUnderstand) {
  struct Case {
    const char* source;
    const char* words;  // part of the refusal
  } cases[] = {
      {"", "expected SELECT * FROM <table> [WHERE <condition>]"},
      {"SELECT a FROM T", "expected SELECT * FROM"},
      {"SELECT T.* FROM T", "expected SELECT * FROM"},
      {"DELETE * FROM T", "expected SELECT * FROM"},
      {"SELECT * FROM T, U", "expected SELECT * FROM"},
      {"SELECT * FROM T ORDER BY a", "expected SELECT * FROM"},
      {"SELECT * FROM db.T", "expected SELECT * FROM"},
      {"SELECT * FROM [T", "expected SELECT * FROM"},
      {"SELECT * FROM []", "expected SELECT * FROM"},
      {"SELECT * FROM [a[b]", "expected SELECT * FROM"},
      {"SELECT * FROM \"T\"", "expected SELECT * FROM"},
      {"SELECT * FROM T WHERE", "Syntax error in query 'SELECT * FROM T WHERE'"},
      {"SELECT * FROM T WHERE a = 'x", "not closed"},
      {"SELECT * FROM T WHERE a = 'x' b", "after the end of the statement"},
      {"SELECT * FROM T WHERE a = 'x'; DROP TABLE T", "after the end of the statement"},
      {"SELECT * FROM T WHERE (a = 'x'", "expected ')'"},
      {"SELECT * FROM T WHERE a = 'x')", "after the end of the statement"},
      {"SELECT * FROM T WHERE a <> 'x'", "found '<> 'x''"},
      {"SELECT * FROM T WHERE a LIKE 'x*'", "found 'LIKE 'x*''"},
      {"SELECT * FROM T WHERE a = 1", "found '1'"},
      {"SELECT * FROM T WHERE a = \"x\"", "found '\"x\"'"},
      {"SELECT * FROM T WHERE NOT a = 'x'", "found 'NOT a = 'x''"},
      {"SELECT * FROM T WHERE a IS NOT NULL", "IS must be followed by NULL"},
      {"SELECT * FROM T WHERE a = NULL", "found 'NULL'"},
      {"SELECT * FROM T WHERE a = 'x' AND", "at the end of the statement"},
      {"SELECT * FROM T WHERE a", "expected '=' or IS NULL at the end"},
      {"SELECT * FROM T WHERE T.", "expected a column name after 'T.'"},
      {"SELECT * FROM T WHERE a = 'x' -- c", "after the end of the statement"},
      {"SELECT * FROM ADRSTM WHERE ADRSTM.LAND = 'CH' AND ADRSTM.TEL VOR = '01'", "found 'VOR"},
      {"SELECT * FROM ADRSTM WHERE ADRSTM.LAND = 'CH' AND ADRSTM.TEL-VOR = '01'", "found '-VOR"},
      {"SELECT * FROM T WHERE U.a = 'x'", "Field 'U.a' not found in table 'T'."},
      {"SELECT * FROM Straße WHERE STRASSE.x = 'y'", "Field 'STRASSE.x' not found"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    const std::string refusal = RefusalOf(c.source);
    ASSERT_FALSE(refusal.empty());
    EXPECT_NE(refusal.find(c.words), std::string::npos) << refusal;
  }
}

TEST(JetSelection, RefusalQuotesTheSelection) {
  EXPECT_EQ(RefusalOf("SELECT x FROM T"),
            "Unsupported selection 'SELECT x FROM T'; expected SELECT * FROM <table> "
            "[WHERE <condition>].");
}

TEST(JetSelection, NestingIsBoundedWithoutExhaustingTheStack) {
  const auto nested = [](int depth) {
    return "SELECT * FROM T WHERE " + std::string(static_cast<size_t>(depth), '(') + "a = 'x'" +
           std::string(static_cast<size_t>(depth), ')');
  };
  EXPECT_EQ(Show(ParseSelection(nested(64)).where), "a='x'");
  EXPECT_NE(RefusalOf(nested(65)).find("deeper than 64"), std::string::npos);
  EXPECT_NE(RefusalOf(nested(1000000)).find("deeper than 64"), std::string::npos);
}

TEST(JetSelection, LongFlatConditionsParse) {
  std::string source = "SELECT * FROM T WHERE a = 'x'";
  for (int i = 0; i < 100000; ++i) source += i % 2 ? " OR a = 'y'" : " AND b = 'z'";
  const Selection s = ParseSelection(source);
  EXPECT_EQ(s.where.kind, Condition::Kind::kOr);
  EXPECT_EQ(ColumnsOf(s.where).size(), 100001u);
}

TEST(JetSelection, ColumnsOfListsColumnOperandsInOrder) {
  const Selection s =
      ParseSelection("SELECT * FROM T WHERE (T.a = 'x' OR 'y' = b) AND c = d AND [e f] IS NULL");
  std::string shown;
  for (const Operand& op : ColumnsOf(s.where)) shown += Show(op) + ";";
  EXPECT_EQ(shown, "T.a;b;c;d;e f;");
}

TEST(JetSelection, EvaluatesWithJetMeaning) {
  const std::map<std::string, FieldValue> row = {
      {"LAND", "ch"}, {"TELVOR", "01"}, {"ORT", std::nullopt}, {"PLZ", "8001"}, {"EMPTY", ""}};
  const ValueOf valueOf = [&](const Operand& op) { return row.at(op.name); };
  struct Case {
    const char* where;
    bool selected;
  } cases[] = {
      {"LAND = 'CH'", true},
      {"LAND = 'Ch' AND T.TELVOR = '01'", true},
      {"LAND = 'CH '", false},
      {"TELVOR = '010'", false},
      {"TELVOR = '1'", false},
      {"ORT = ORT", false},  // NULL equals nothing, not even NULL
      {"ORT = 'x' OR PLZ = '8001'", true},
      {"ORT IS NULL", true},
      {"PLZ IS NULL", false},
      {"EMPTY IS NULL", false},
      {"EMPTY = ''", true},
      {"'x' IS NULL", false},
      {"'a' = 'A'", true},
      {"LAND = PLZ OR TELVOR = '01' AND ORT = 'x'", false},
      {"(LAND = PLZ OR TELVOR = '01') AND PLZ = '8001'", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.where);
    const Selection s = ParseSelection(std::string("SELECT * FROM T WHERE ") + c.where);
    EXPECT_EQ(Evaluate(s.where, valueOf), c.selected);
  }
}

}  // namespace
}  // namespace kw::jet
