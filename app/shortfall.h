#pragma once
// What a run left undone, and the one message that owns up to it at the end
// of the run: the clients the client handler abandoned (silently, while the
// run went on) and the databases that lost rows Update had reported saved.
#include <string>
#include <string_view>
#include <vector>

namespace kw {

struct AbandonedClient {
  std::string name;    // as the messages show a client: blanks at both ends removed
  std::string reason;  // the error's description as the engine words it
};

struct Shortfall {
  std::vector<AbandonedClient> clients;  // in the order they were abandoned
  std::vector<std::string> lostRowsIn;   // database files, each once, in order
  bool rowsLost = false;                 // also when the database was not known

  bool Any() const { return !clients.empty() || rowsLost; }
  void Abandoned(std::string_view name, std::string_view reason);
  void LostRows(std::string_view database);
};

// The closing message, lines broken by CR LF; empty when nothing was left
// undone. Long lists are cut short, so that the box fits on a screen.
std::string ClosingMessage(const Shortfall& s);
// Its style: the critical-stop icon when saved rows were lost, else the
// exclamation mark.
int ClosingMessageStyle(const Shortfall& s);

}  // namespace kw
