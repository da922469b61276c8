#include "app/run.h"

#include "app/client_pass.h"
#include "app/replace_pass.h"
#include "app/startup.h"
#include "hostdata/client_list.h"

namespace kw {

const char* const kStartQuestion =
    "Dieses Programm ersetzt im Postleitzahlenstamm und in allen\r\n"
    "Mandanten, welche auf Version 6.4 (und höher) umgestellt sind, die Telefonvorwahlen.\r\n"
    "Wenn Land = 'CH' ist und die Telefonvorwahl ='01' ist, wird die Vorwahl '044' eingesetzt.\r\n"
    "\r\n"
    "Möchten Sie starten";

namespace {

void Centre(Platform& p) {
  const TwipsSize screen = p.window.ScreenSize();
  const TwipsSize window = p.window.WindowSize();
  p.window.Move((screen.width - window.width) / 2, (screen.height - window.height) / 2);
}

// Steps 1 to 14 of the run; returns how it ended.
RunOutcome Convert(Platform& p, RunState& s, StepRunner& r) {
  const bool haveDataDir = r.Run([&] { return DataDirectoryStep(p, s); });
  r.EndIfRequested();
  if (!haveDataDir) return RunOutcome::Failed;
  r.Run([&] {
    p.window.SetLabel(1, "");
    p.window.SetLabel(2, "");
  });
  r.Run([&] { Centre(p); });
  r.Run([&] { p.window.Show(); });
  // A window manager frames the window when it shows it: centred again by the outer size
  // now known (where it was known before, nothing moves).
  r.Run([&] { Centre(p); });
  r.Run([&] { SettingsStep(p, s); });
  r.Run([&] { p.window.SetMousePointer(kPointerDefault); });
  if (r.Run([&] { return r.Box(kStartQuestion, kMbYesNoQuestion); }) != kIdYes)
    return RunOutcome::Declined;
  r.Run([&] { p.window.SetMousePointer(kPointerHourglass); });
  r.Events();
  r.Run([&] {
    p.window.SetLabel(1, "Allgemeine Datenbank");
    p.window.SetLabel(2, "Postleitzahlenstamm");
    p.window.SetLabel(3, "Bitte warten ...");
  });
  ReplacePass(p, s, r, s.modul.PublicDir + "Public.mdb",
              "SELECT * FROM PLZSTM WHERE PLZSTM.LAND = 'CH' AND PLZSTM.TELVOR = '01'", "TELVOR");
  r.Run([&] {
    p.window.SetLabel(1, "Allgemeine Datenbank");
    p.window.SetLabel(2, "Lese Mandanten ein");
    p.window.SetLabel(3, "Bitte warten ...");
  });
  r.Events();
  r.Run([&] { PublicProRead(p, s.modul, s.files, s.clients, 1); });
  ClientPass(p, s, r);
  return RunOutcome::Completed;
}

// Step 15: every error is ignored from here on; one that loses saved rows
// is still counted. A run that left something undone says so before the
// program ends, unless the user asked to end it.
void EndOfRun(Platform& p, RunState& s, StepRunner& r) {
  auto ignore = [&r](auto&& f) {
    try {
      f();
    } catch (const std::exception& e) {
      r.Account(e);
    } catch (...) {
    }
  };
  ignore([&] { s.rs.reset(); });
  ignore([&] {
    if (!s.db) throw RunError("no database");
    s.db->Close();
  });
  ignore([&] { s.db.reset(); });
  ignore([&] { p.db.CommitPending(); });
  ignore([&] { p.window.SetMousePointer(kPointerDefault); });
  ignore([&] { p.window.ProcessEvents(); });
  ignore([&] {
    const Shortfall& undone = r.Undone();
    if (undone.Any() && !p.window.EndRequested())
      p.window.ShowMessageBox(ClosingMessage(undone), ClosingMessageStyle(undone));
  });
  ignore([&] { p.window.EndProgram(); });
}

}  // namespace

RunOutcome Form_Load(Platform& p, RunState& s) {
  StepRunner r(p);
  RunOutcome outcome;
  try {
    outcome = Convert(p, s, r);
  } catch (const EndRun& e) {
    outcome = e.reason == EndRun::Cancelled ? RunOutcome::Cancelled : RunOutcome::Failed;
  }
  EndOfRun(p, s, r);
  // Closing the window or Ctrl-C, even while the run was ending: ended by the user.
  if (p.window.EndRequested()) return RunOutcome::Cancelled;
  if (outcome == RunOutcome::Completed && r.Undone().Any()) return RunOutcome::Incomplete;
  return outcome;
}

int ExitStatus(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::Completed:
    case RunOutcome::Declined:
      return 0;
    case RunOutcome::Incomplete:
      return 3;
    case RunOutcome::Cancelled:
      return 130;  // what a shell expects after Ctrl-C
    case RunOutcome::Failed:
      return 1;
  }
  return 1;
}

}  // namespace kw
