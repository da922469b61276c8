#include "app/client_pass.h"

#include <cctype>
#include <charconv>
#include <optional>
#include <string>

#include "app/replace_pass.h"
#include "config/paths.h"
#include "config/profile.h"
#include "hostdata/tbdef_read.h"
#include "platform/cp1252.h"

namespace kw {
namespace {

constexpr int16_t kAddressTable = 13;

const MandantRecord* Entry(const ClientList& list, int i) {
  return i >= 1 && static_cast<size_t>(i) < list.Mandanten.size() ? &list.Mandanten[i] : nullptr;
}

// Makes sure entry 13 holds this client's definition, or nothing: a read
// that fails, or a file without a definition of the table, must not leave an
// earlier client's columns in place. A definition record read whole stays,
// even when a record after it in the file could not be read; one read in
// part is left empty by the reader.
void ReadAddressDefinition(Platform& p, RunState& s) {
  TbDefClear(s.defs, kAddressTable);
  TbDefRead(p, s.modul, s.files, s.defs, kAddressTable, false, true);
}

bool HasEntry(const TbDefState& d, int16_t table) {
  return !d.TbDefs.Absent() && d.TbDefs.Lower() <= table && table <= d.TbDefs.Upper();
}

void ConvertClient(Platform& p, RunState& s, StepRunner& r, const MandantRecord& m) {
  const std::string name = r.Run([&] { return TrimBlanks(m.Name); });
  if (name.empty()) return;
  r.Run([&] { s.modul.MandantDir = s.modul.DataDir + AddBackslash(m.Directory); });
  const std::string dbFile = s.modul.MandantDir + "NoltData.mdb";
  if (!r.Run([&] { return FileExists(p, dbFile); })) return;
  const std::string version =
      r.Run([&] { return NoltDataIniRead(p, s.modul, "AdoMand", "Version", "0.0"); });
  if (VersionNumber(version) < kMinVersion) {
    r.Run([&] {
      r.Box("Der Mandant: " + name + "\r\n ist nicht im Format der Version 6.4\r\n" +
                "Es erfolgt keine Umstellung der Vorwahlnummern",
            kMbOk);
    });
    return;
  }
  r.Run([&] { ReadAddressDefinition(p, s); });
  // The reader may have shown its message about the file.
  r.EndIfRequested();
  const int16_t count = r.Run([&]() -> int16_t {
    if (!HasEntry(s.defs, kAddressTable)) return 0;
    return s.defs.TbDefs(kAddressTable).ColCount;
  });
  for (int16_t j = 1; j >= 1 && j <= count; ++j) {
    // A marked column's name goes into the selection as it is, even empty.
    const std::optional<std::string> marked = r.Run([&]() -> std::optional<std::string> {
      const TbDef& def = s.defs.TbDefs(kAddressTable);
      if (!IsAreaCodeColumn(def.ColFlags(j))) return std::nullopt;
      return def.ColName(j);
    });
    if (!marked) continue;
    const std::string& column = *marked;
    r.Run([&] { p.window.SetLabel(1, m.Name); });
    r.Run([&] {
      p.window.SetLabel(2, "Überprüfe Feld: " + s.defs.TbDefs(kAddressTable).ColCaption(j));
    });
    r.Run([&] { p.window.SetLabel(3, "Bitte warten ..."); });
    r.Events();
    r.handler = Handler::Client;
    ReplacePass(p, s, r, dbFile,
                "SELECT * FROM ADRSTM WHERE ADRSTM.LAND = 'CH' AND ADRSTM." + column + " = '01'",
                column);
  }
}

}  // namespace

double VersionNumber(std::string_view text) {
  std::string t;
  for (char c : text)
    if (c != ' ' && c != '\t' && c != '\n') t += c;
  // The longest prefix of the form [sign] digits [. digits] [exponent].
  size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  const size_t digitsFrom = i;
  while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i;
  if (i < t.size() && t[i] == '.') ++i;
  while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i;
  if (i == digitsFrom || (i == digitsFrom + 1 && t[digitsFrom] == '.')) return 0;
  size_t end = i;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    size_t k = i + 1;
    if (k < t.size() && (t[k] == '+' || t[k] == '-')) ++k;
    if (k < t.size() && std::isdigit(static_cast<unsigned char>(t[k]))) {
      while (k < t.size() && std::isdigit(static_cast<unsigned char>(t[k]))) ++k;
      end = k;
    }
  }
  // from_chars ignores the locale: "." is the separator whatever the
  // user's settings.
  const size_t from = t[0] == '+' ? 1 : 0;
  double value = 0;
  std::from_chars(t.data() + from, t.data() + end, value);
  return value;
}

bool IsAreaCodeColumn(std::string_view flags) {
  const std::string padded = std::string(flags) + "  ";
  size_t second = 0;
  NextUtf8(padded, second);
  return second < padded.size() && padded[second] == 'V';
}

void ClientPass(Platform& p, RunState& s, StepRunner& r) {
  const int16_t count = s.clients.MandantCount;
  for (int i = 1; i <= count; ++i) {
    const MandantRecord* m = Entry(s.clients, i);
    if (!m) continue;
    try {
      ConvertClient(p, s, r, *m);
    } catch (const AbandonClient& abandoned) {
      // The client handler: rows saved so far stay saved; on to the next.
      // The end of the run names the client.
      r.NoteAbandoned(TrimBlanks(m->Name), abandoned.reason);
    }
  }
}

}  // namespace kw
