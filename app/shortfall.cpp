#include "app/shortfall.h"

#include <algorithm>

#include "platform/window.h"

namespace kw {
namespace {

// Entries listed of each kind; the rest are counted.
constexpr size_t kListed = 10;

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "\r\n") + line;
  return text;
}

std::string More(size_t n, const char* one, const char* many) {
  return "... und " + std::to_string(n) + (n == 1 ? one : many);
}

}  // namespace

void Shortfall::Abandoned(std::string_view name, std::string_view reason) {
  clients.push_back({std::string(name), std::string(reason)});
}

void Shortfall::LostRows(std::string_view database) {
  rowsLost = true;
  if (!database.empty() && std::find(lostRowsIn.begin(), lostRowsIn.end(), database) == lostRowsIn.end())
    lostRowsIn.emplace_back(database);
}

// The pieces are set apart by blank lines; each entry names the client or
// database on its first line, as the version message names a client.
std::string ClosingMessage(const Shortfall& s) {
  if (!s.Any()) return {};
  std::vector<std::string> lines = {"Die Umstellung der Vorwahlnummern ist nicht vollständig."};
  if (!s.clients.empty()) lines.emplace_back();
  for (size_t i = 0; i < s.clients.size() && i < kListed; ++i) {
    lines.push_back("Der Mandant: " + s.clients[i].name);
    lines.push_back(" wurde nicht vollständig umgestellt (" + s.clients[i].reason + ")");
  }
  if (s.clients.size() > kListed)
    lines.push_back(More(s.clients.size() - kListed, " weiterer Mandant", " weitere Mandanten"));
  if (s.rowsLost) lines.emplace_back();
  for (size_t i = 0; i < s.lostRowsIn.size() && i < kListed; ++i) {
    lines.push_back("In der Datenbank: " + s.lostRowsIn[i]);
    lines.push_back(" konnten geänderte Datensätze nicht gespeichert werden");
  }
  if (s.lostRowsIn.size() > kListed)
    lines.push_back(More(s.lostRowsIn.size() - kListed, " weitere Datenbank", " weitere Datenbanken"));
  if (s.rowsLost && s.lostRowsIn.empty())
    lines.push_back("Geänderte Datensätze konnten nicht gespeichert werden");
  lines.emplace_back();
  lines.push_back(
      "Starten Sie die Umstellung erneut, sobald die Ursache behoben ist; sie stellt um, was noch "
      "fehlt.");
  return JoinLines(lines);
}

int ClosingMessageStyle(const Shortfall& s) {
  return s.rowsLost ? kMbIconCritical : kMbIconExclamation;
}

}  // namespace kw
