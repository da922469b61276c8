#include "app/replace_pass.h"

#include <string>

namespace kw {

void ReplacePass(Platform& p, RunState& s, StepRunner& r, std::string_view databaseFile,
                 std::string_view selection, std::string_view column) {
  r.Run([&] { s.db = p.db.OpenDatabase(databaseFile, false, false); });
  r.Run([&] { s.rs = s.db->OpenRecordset(selection, 2); });
  Recordset& rs = *s.rs;
  const FieldValue newCode = std::string(kNewAreaCode);
  std::string label;
  while (!r.Run([&] { return rs.Eof(); })) {
    r.Run([&] { rs.Edit(); });
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
    r.Run([&] { rs.MoveNext(); });
  }
  r.Run([&] { rs.Close(); });
}

}  // namespace kw
