#pragma once
// The window `Frm_Kwandor_Upd` as a Qt Widgets desktop window.
//
// Sizes and positions cross the seam in twips at 15 twips per pixel. Qt's pixels are
// device-independent, so on a screen with a device pixel ratio above 1 the window grows
// with the screen's scale as it would on a high-resolution Windows desktop.
#include <QElapsedTimer>
#include <memory>
#include <string>

#include "platform/window.h"

class QApplication;
class QLabel;
class QMessageBox;
class QSocketNotifier;
class QWidget;

namespace kw {

constexpr int kTwipsPerPixel = 15;

class FormWidget;

// The user ends the run by closing the window, or by Ctrl-C when the interrupt handler
// (platform/posix/interrupt.h) was installed before the window was made: ProcessEvents then
// returns false, while the window stays on screen until EndProgram. Ctrl-C also closes an
// open message box with its Esc answer; a box asked for once the end was requested is not
// shown and gets that answer at once. A second Ctrl-C ends the process.
class QtWindow : public WindowSystem {
 public:
  // Needs a QApplication; takes it over when `ownedApp` is given.
  explicit QtWindow(std::unique_ptr<QApplication> ownedApp = nullptr);
  ~QtWindow() override;
  QtWindow(const QtWindow&) = delete;
  QtWindow& operator=(const QtWindow&) = delete;

  void SetLabel(int label, std::string_view text) override;
  TwipsSize ScreenSize() override;
  TwipsSize WindowSize() override;
  void Move(int leftTwips, int topTwips) override;
  void Show() override;
  void SetMousePointer(int pointer) override;
  bool ProcessEvents() override;
  bool EndRequested() override;
  int ShowMessageBox(std::string_view text, int style) override;
  void EndProgram() override;

  // The window itself, for tests and screenshots.
  QWidget& Form();

 private:
  void ShowPendingLabel();
  void RequestEnd();
  void LeaveNoTraceOf(QWidget& box);

  std::unique_ptr<QApplication> app_;  // destroyed last
  std::unique_ptr<FormWidget> form_;
  std::unique_ptr<QSocketNotifier> interruptWatch_;
  QLabel* labels_[5] = {};  // 1 to 4, owned by the form
  std::string pendingLabel3_;  // the progress line changes once per row: shown in batches
  bool label3Pending_ = false;
  // Rounds of events come at most once a screen refresh, except right after label 1 or 2
  // changed: a new stage is shown before its work starts.
  QElapsedTimer sinceEvents_;
  qint64 eventIntervalMs_;
  bool stageChanged_ = false;
  QMessageBox* openBox_ = nullptr;
  bool cursorOverridden_ = false;
};

// The desktop window when a display can be reached, else nullptr (the caller then falls
// back to the console): nullptr at once when none of QT_QPA_PLATFORM, DISPLAY and
// WAYLAND_DISPLAY is set, and nullptr when Qt's platform plugin cannot connect. Qt ends the
// process on that failure, so the connection is first tried in a child process (at most
// 10 seconds). The offscreen platform is used only when QT_QPA_PLATFORM asks for it.
// Creates the QApplication, which keeps `argc` by reference; uses the running one if there
// is one. Call it before the process starts other threads (it forks).
std::unique_ptr<WindowSystem> MakeQtWindow(int& argc, char** argv);

}  // namespace kw
