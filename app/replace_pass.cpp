#include "app/replace_pass.h"

#include <string>

#include "platform/run_error.h"
#include "platform/text_compare.h"

namespace kw {
namespace {

// What the selection of every pass asks of a row besides its table.
constexpr std::string_view kCountryColumn = "LAND";
constexpr std::string_view kSwiss = "CH";
constexpr std::string_view kOldAreaCode = "01";

bool Holds(const FieldValue& value, std::string_view text) {
  return value && JetTextEqual(*value, text);
}

}  // namespace

void ReplacePass(Platform& p, RunState& s, StepRunner& r, std::string_view databaseFile,
                 std::string_view selection, std::string_view column) {
  r.Run([&] { s.db = p.db.OpenDatabase(databaseFile, false, false); });
  r.DatabaseInHand(databaseFile);
  r.Run([&] {
    // What the pass reads of each row, so that the engine may keep it as it
    // selects the rows.
    s.db->WillRead({std::string(kCountryColumn), std::string(column), "PLZ", "ORT"});
    s.rs = s.db->OpenRecordset(selection, 2);
  });
  Recordset& rs = *s.rs;
  const FieldValue newCode = std::string(kNewAreaCode);
  std::string label;
  while (!r.Run([&] { return rs.Eof(); })) {
    // Another user may have deleted or changed the row since the selection
    // was made; such a row is left as that user left it.
    const bool editable = r.Run([&] {
      try {
        rs.Edit();
      } catch (const RunError& e) {
        if (e.Number() != kErrRecordDeleted) throw;
        return false;
      }
      return true;
    });
    const bool selected = editable && r.Run([&] {
      return Holds(rs.GetValue(kCountryColumn), kSwiss) &&
             Holds(rs.GetValue(column), kOldAreaCode);
    });
    if (selected) {
      r.Run([&] { rs.SetValue(column, newCode); });
      r.Run([&] {
        // A postal code or town without a value shows as the empty text; the
        // row is changed all the same.
        const FieldValue plz = rs.GetValue("PLZ");
        const FieldValue ort = rs.GetValue("ORT");
        label.clear();
        if (plz) label += *plz;
        label += ' ';
        if (ort) label += *ort;
        p.window.SetLabel(3, label);
      });
      r.Events();
      r.Run([&] { rs.Update(); });
    }
    r.Run([&] { rs.MoveNext(); });
  }
  r.Run([&] { rs.Close(); });
}

}  // namespace kw
