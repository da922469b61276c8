#pragma once
// Window system seam: the few operations the run needs from the window
// `Frm_Kwandor_Upd`, whatever shows it (a desktop window or the console).
#include <string>
#include <string_view>

namespace kw {

// Message box styles and results as the platform numbers them.
constexpr int kMbOk = 0;
constexpr int kMbIconCritical = 16;   // OK with the critical-stop icon
constexpr int kMbYesNoQuestion = 36; // Yes and No with the question icon, Yes default
constexpr int kMbIconExclamation = 48; // OK with the exclamation mark
constexpr int kIdOk = 1;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

constexpr int kPointerDefault = 0;
constexpr int kPointerHourglass = 11;

struct TwipsSize {
  int width = 0;
  int height = 0;
};

// Message texts break lines with CR LF, some with a CR alone; shows both (and
// a lone LF) as "\n".
std::string NormalizeLineBreaks(std::string_view text);

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;
  // label is 1 to 4 (`Label1` to `Label4`).
  virtual void SetLabel(int label, std::string_view text) = 0;
  virtual TwipsSize ScreenSize() = 0;
  // Outer size, frame included; a window manager may frame the window only
  // when it is shown, so the size can grow with Show.
  virtual TwipsSize WindowSize() = 0;
  virtual void Move(int leftTwips, int topTwips) = 0;
  // Not modal; returns once the window is on the screen, framed and painted.
  virtual void Show() = 0;
  virtual void SetMousePointer(int pointer) = 0;
  // Processes pending events. False when the user asked to end the program
  // (window closed, Ctrl-C); the run then goes to its end.
  virtual bool ProcessEvents() = 0;
  // True once the user has asked to end the program, as far as the window
  // has learnt it so far; does not process events.
  virtual bool EndRequested() = 0;
  // Modal; the title is always the program's. Returns the button number.
  // Once the user has asked to end, no box is shown: the answer is the one
  // Esc gives (No, or OK where OK is the only button). An end asked for while
  // a box waits closes it with that answer.
  virtual int ShowMessageBox(std::string_view text, int style) = 0;
  // Closes the window; the program ends right after.
  virtual void EndProgram() = 0;
};

}  // namespace kw
