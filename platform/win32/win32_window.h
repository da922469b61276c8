#pragma once
// The window `Frm_Kwandor_Upd` as a native Win32 window: the four labels on
// grey, the program's icon, MessageBoxA for the boxes, and a message pump
// that runs whenever the run processes events.
//
// Closing the window asks the run to end, as Ctrl-C does on a terminal:
// ProcessEvents then returns false while the window stays on screen until
// EndProgram; a box that is open then is closed with its Esc answer, and a
// box asked for afterwards is not shown and gets that answer at once. A
// second close ends the process at once.
#include <windows.h>

#include <string>

#include "platform/clock.h"
#include "platform/window.h"

namespace kw {

class Win32Window : public WindowSystem {
 public:
  // Creates the window, hidden. The clock paces the redraws of the progress
  // line and is not owned.
  explicit Win32Window(Clock& clock);
  ~Win32Window() override;
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // False when the window could not be made (no window station).
  bool Created() const { return form_ != nullptr; }
  HWND Form() const { return form_; }

  void SetLabel(int label, std::string_view text) override;
  TwipsSize ScreenSize() override;
  TwipsSize WindowSize() override;
  void Move(int leftTwips, int topTwips) override;
  void Show() override;
  void SetMousePointer(int pointer) override;
  bool ProcessEvents() override;
  bool EndRequested() override { return endRequested_; }
  int ShowMessageBox(std::string_view text, int style) override;
  void EndProgram() override;

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM w, LPARAM l);
  LRESULT OnMessage(UINT message, WPARAM w, LPARAM l);
  void RequestEnd();
  void ShowPendingLabel();
  void Pump();
  int Pixels(int twips) const;

  Clock& clock_;
  HWND form_ = nullptr;
  HWND labels_[5] = {};  // 1 to 4
  HFONT font_ = nullptr;
  HBRUSH background_ = nullptr;
  HICON icon_ = nullptr;
  HICON smallIcon_ = nullptr;
  int twipsPerPixel_ = 15;
  std::string pendingLabel3_;  // the progress line changes once per row: shown in batches
  bool label3Pending_ = false;
  bool stageChanged_ = false;
  double lastPump_ = -1.0;
  bool endRequested_ = false;
  bool mayClose_ = false;
  bool hourglass_ = false;
  bool boxOpen_ = false;
  bool boxYesNo_ = false;
};

}  // namespace kw
