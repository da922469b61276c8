#include "platform/win32/win32_window.h"

#include "platform/cp1252.h"
#include "platform/form_layout.h"
#include "platform/win32/resource.h"

namespace kw {
namespace {

constexpr char kClassName[] = "Frm_Kwandor_Upd";
// A round of events at most this often, unless a new stage began: a redraw
// more often than the screen refreshes shows nothing new.
constexpr double kPumpInterval = 1.0 / 60.0;
constexpr int kExitStatusEnded = 130;

std::string Ansi(std::string_view text) { return Utf8ToCp1252(text); }

// The message box of this thread that is open, if any.
BOOL CALLBACK FindBox(HWND hwnd, LPARAM found) {
  char name[16] = {};
  GetClassNameA(hwnd, name, sizeof name);
  if (std::string_view(name) != "#32770") return TRUE;
  *reinterpret_cast<HWND*>(found) = hwnd;
  return FALSE;
}

}  // namespace

Win32Window::Win32Window(Clock& clock) : clock_(clock) {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  if (const HDC screen = GetDC(nullptr)) {
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    if (dpi > 0) twipsPerPixel_ = 1440 / dpi;
    ReleaseDC(nullptr, screen);
  }
  background_ = CreateSolidBrush(RGB(form::kBackground[0], form::kBackground[1], form::kBackground[2]));
  icon_ = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(KW_ICON), IMAGE_ICON, 32, 32, 0));
  smallIcon_ = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(KW_ICON), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), 0));
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &Win32Window::Procedure;
  wc.hInstance = instance;
  wc.hIcon = icon_;
  wc.hIconSm = smallIcon_;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = background_;
  wc.lpszClassName = kClassName;
  RegisterClassExA(&wc);

  constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  RECT outer{0, 0, Pixels(form::kInnerWidth), Pixels(form::kInnerHeight)};
  AdjustWindowRectEx(&outer, kStyle, FALSE, 0);
  form_ = CreateWindowExA(0, kClassName, form::kTitle, kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                          outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr,
                          instance, this);
  if (form_ == nullptr) return;

  const HDC dc = GetDC(form_);
  const int dpi = dc != nullptr ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
  if (dc != nullptr) ReleaseDC(form_, dc);
  font_ = CreateFontA(-MulDiv(static_cast<int>(form::kFontPoints * 100), dpi, 7200), 0, 0, 0, FW_NORMAL,
                      FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                      DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, form::kFontName);
  for (int i = 1; i <= 4; ++i) {
    // Label4 wraps its description; the status lines stay on one line.
    const DWORD wrap = i == 4 ? SS_LEFT : SS_LEFTNOWORDWRAP;
    labels_[i] = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_NOPREFIX | wrap,
                                 Pixels(form::kLabelLeft), Pixels(form::kLabels[i].top),
                                 Pixels(form::kLabelWidth), Pixels(form::kLabels[i].height), form_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(i)), instance, nullptr);
    SendMessageA(labels_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  }
  SetWindowTextA(labels_[4], Ansi(form::kDescription).c_str());
}

Win32Window::~Win32Window() {
  mayClose_ = true;
  if (form_ != nullptr) DestroyWindow(form_);
  if (font_ != nullptr) DeleteObject(font_);
  if (background_ != nullptr) DeleteObject(background_);
  if (icon_ != nullptr) DestroyIcon(icon_);
  if (smallIcon_ != nullptr) DestroyIcon(smallIcon_);
}

int Win32Window::Pixels(int twips) const {
  return twips >= 0 ? (twips + twipsPerPixel_ / 2) / twipsPerPixel_
                    : -((-twips + twipsPerPixel_ / 2) / twipsPerPixel_);
}

LRESULT CALLBACK Win32Window::Procedure(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<CREATESTRUCTA*>(l);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (self == nullptr || self->form_ != hwnd) return DefWindowProcA(hwnd, message, w, l);
  return self->OnMessage(message, w, l);
}

LRESULT Win32Window::OnMessage(UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_CTLCOLORSTATIC: {
      // Label4 on the tool-tip colours, the status lines on the window's.
      const bool description = reinterpret_cast<HWND>(l) == labels_[4];
      const auto dc = reinterpret_cast<HDC>(w);
      SetTextColor(dc, GetSysColor(description ? COLOR_INFOTEXT : COLOR_WINDOWTEXT));
      SetBkColor(dc, GetSysColor(description ? COLOR_INFOBK : COLOR_WINDOW));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(description ? COLOR_INFOBK : COLOR_WINDOW));
    }
    case WM_SETCURSOR:
      if (hourglass_) {
        SetCursor(LoadCursor(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
    case WM_CLOSE:
      if (mayClose_) break;
      RequestEnd();
      return 0;
    case WM_QUERYENDSESSION:
      // Windows is shutting down: the run ends at its next round of events.
      RequestEnd();
      return FALSE;
    default:
      break;
  }
  return DefWindowProcA(form_, message, w, l);
}

void Win32Window::RequestEnd() {
  if (endRequested_) {
    // Asked twice: at once, as a second Ctrl-C. An interrupted write group
    // is rolled back by its journal when the file is next opened.
    TerminateProcess(GetCurrentProcess(), kExitStatusEnded);
  }
  endRequested_ = true;
  if (boxOpen_) {
    HWND box = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), &FindBox, reinterpret_cast<LPARAM>(&box));
    if (box != nullptr) PostMessageA(box, WM_COMMAND, boxYesNo_ ? IDNO : IDOK, 0);
  }
}

void Win32Window::SetLabel(int label, std::string_view text) {
  if (label == 3) {
    pendingLabel3_.assign(text);
    label3Pending_ = true;
  } else if (label >= 1 && label <= 4 && labels_[label] != nullptr) {
    const std::string value = Ansi(text);
    char current[1024] = {};
    GetWindowTextA(labels_[label], current, sizeof current);
    if (value == current) return;
    SetWindowTextA(labels_[label], value.c_str());
    stageChanged_ = true;
  }
}

void Win32Window::ShowPendingLabel() {
  if (!label3Pending_ || labels_[3] == nullptr) return;
  SetWindowTextA(labels_[3], Ansi(pendingLabel3_).c_str());
  label3Pending_ = false;
}

TwipsSize Win32Window::ScreenSize() {
  return {GetSystemMetrics(SM_CXSCREEN) * twipsPerPixel_, GetSystemMetrics(SM_CYSCREEN) * twipsPerPixel_};
}

TwipsSize Win32Window::WindowSize() {
  RECT r{};
  if (form_ == nullptr || !GetWindowRect(form_, &r)) return {};
  return {(r.right - r.left) * twipsPerPixel_, (r.bottom - r.top) * twipsPerPixel_};
}

void Win32Window::Move(int leftTwips, int topTwips) {
  if (form_ == nullptr) return;
  SetWindowPos(form_, nullptr, Pixels(leftTwips), Pixels(topTwips), 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Window::Show() {
  if (form_ == nullptr) return;
  ShowPendingLabel();
  ShowWindow(form_, SW_SHOWNORMAL);
  UpdateWindow(form_);
  SetForegroundWindow(form_);
}

void Win32Window::SetMousePointer(int pointer) {
  hourglass_ = pointer == kPointerHourglass;
  SetCursor(LoadCursor(nullptr, hourglass_ ? IDC_WAIT : IDC_ARROW));
}

void Win32Window::Pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) break;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

bool Win32Window::ProcessEvents() {
  const double now = clock_.Seconds();
  if (stageChanged_ || lastPump_ < 0 || now - lastPump_ >= kPumpInterval) {
    stageChanged_ = false;
    ShowPendingLabel();
    Pump();
    lastPump_ = now;
  }
  return !endRequested_;
}

int Win32Window::ShowMessageBox(std::string_view text, int style) {
  const bool yesNo = (style & 0x0F) == MB_YESNO;
  // The user has asked to end: no more questions. The answer is the Esc answer.
  if (endRequested_) return yesNo ? kIdNo : kIdOk;
  ShowPendingLabel();
  boxOpen_ = true;
  boxYesNo_ = yesNo;
  const HWND owner = form_ != nullptr && IsWindowVisible(form_) ? form_ : nullptr;
  const int answer = MessageBoxA(owner, Ansi(text).c_str(), form::kBoxTitle, static_cast<UINT>(style));
  boxOpen_ = false;
  if (!yesNo) return kIdOk;
  return answer == IDYES && !endRequested_ ? kIdYes : kIdNo;
}

void Win32Window::EndProgram() {
  ShowPendingLabel();
  SetMousePointer(kPointerDefault);
  mayClose_ = true;
  if (form_ != nullptr) {
    DestroyWindow(form_);
    form_ = nullptr;
  }
  Pump();
}

}  // namespace kw
