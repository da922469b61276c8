#pragma once
// The window shown on a terminal: label 1 and 2 changes are printed as lines,
// label 3 is a status line overwritten in place (only on a terminal, at most
// ten times a second), message boxes print their text and a prompt and read
// the answer from a line of input. Ctrl-C asks the run to end (once the
// interrupt handler of platform/posix/interrupt.h is installed): as in the desktop
// window, a box waiting for its answer then returns the Esc answer, and no
// further box is shown.
#include <cstdio>
#include <string>

#include "platform/clock.h"
#include "platform/window.h"

namespace kw {

class ConsoleWindow : public WindowSystem {
 public:
  // clock, in and out are not owned. outIsTerminal decides whether label 3
  // is shown; inIsTerminal whether the answer to a prompt echoes its own
  // line end. The clock paces the redraws of label 3.
  ConsoleWindow(Clock& clock, std::FILE* in, std::FILE* out, bool inIsTerminal, bool outIsTerminal);

  void SetLabel(int label, std::string_view text) override;
  TwipsSize ScreenSize() override { return {}; }
  TwipsSize WindowSize() override { return {}; }
  void Move(int, int) override {}
  void Show() override {}
  void SetMousePointer(int) override {}
  bool ProcessEvents() override;
  bool EndRequested() override;
  int ShowMessageBox(std::string_view text, int style) override;
  void EndProgram() override;

 private:
  void ClearStatus();
  // One character of input; EOF at the end of input or once the user asked to end.
  int ReadChar();
  void DrawStatus(bool force);
  std::FILE* in_;
  std::FILE* out_;
  bool inTty_, outTty_;
  std::string labels_[5];
  bool statusDirty_ = false;
  bool statusShown_ = false;
  Clock& clock_;
  double lastDraw_ = -1e9;
};

}  // namespace kw
