// Feeds arbitrary text to the Jet engine's selection parser. Besides crashes
// and sanitizer reports it stops on a broken promise: a refusal that is not
// one of the parser's own, or an accepted selection that, written back in
// a fixed form, does not parse again to the same thing. Run from a
// -DKW_FUZZ=ON build directory:
//   ./jet_selection_fuzz -max_total_time=120 CORPUS_DIR ../fuzz/seeds/jet_selection
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/jet/selection.h"
#include "platform/run_error.h"

namespace {

using kw::jet::Condition;
using kw::jet::Operand;

std::string Text(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

std::string Write(const Operand& op) {
  if (op.kind == Operand::Kind::kText) return Text(op.name);
  if (op.name.empty()) abort();
  return (op.qualifier.empty() ? "" : "[" + op.qualifier + "].") + "[" + op.name + "]";
}

std::string Write(const Condition& c) {
  switch (c.kind) {
    case Condition::Kind::kEquals:
      return Write(c.left) + " = " + Write(c.right);
    case Condition::Kind::kIsNull:
      return Write(c.left) + " IS NULL";
    case Condition::Kind::kAnd:
    case Condition::Kind::kOr: {
      if (c.parts.size() < 2) abort();
      const bool isAnd = c.kind == Condition::Kind::kAnd;
      std::string out;
      for (const Condition& part : c.parts) {
        if (!out.empty()) out += isAnd ? " AND " : " OR ";
        const bool paren = isAnd && part.kind == Condition::Kind::kOr;
        out += paren ? "(" + Write(part) + ")" : Write(part);
      }
      return out;
    }
  }
  abort();
}

std::string Write(const kw::jet::Selection& s) {
  std::string out = "SELECT * FROM [" + s.table + "]";
  if (s.hasWhere) out += " WHERE " + Write(s.where);
  return out;
}

bool OwnRefusal(const std::string& d) {
  return d.rfind("Unsupported selection '", 0) == 0 || d.rfind("Syntax error in query '", 0) == 0 ||
         d.rfind("Field '", 0) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string source(reinterpret_cast<const char*>(data), size);
  kw::jet::Selection parsed;
  try {
    parsed = kw::jet::ParseSelection(source);
  } catch (const kw::RunError& e) {
    if (!OwnRefusal(e.Description())) abort();
    return 0;
  }
  if (parsed.table.empty()) abort();
  const std::string written = Write(parsed);
  kw::jet::Selection again;
  try {
    again = kw::jet::ParseSelection(written);
  } catch (const kw::RunError&) {
    abort();
  }
  if (Write(again) != written) abort();
  if (parsed.hasWhere) {
    size_t columns = 0;
    const auto valueOf = [&](const Operand&) -> kw::FieldValue {
      return ++columns % 3 == 0 ? kw::FieldValue() : kw::FieldValue("ch");
    };
    kw::jet::Evaluate(parsed.where, valueOf);
    if (columns > kw::jet::ColumnsOf(parsed.where).size()) abort();
  }
  return 0;
}
