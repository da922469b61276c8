// The native window as designed, and how it ends a run. Needs a desktop:
// under Wine a display (scripts/windows.sh gives the tests one).
#include "platform/win32/win32_window.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/cp1252.h"
#include "platform/fakes/fake_clock.h"
#include "platform/form_layout.h"

namespace kw {
namespace {

class Win32WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!window.Created()) {
      // scripts/windows.sh gives the tests a display and says so: there, a
      // window that cannot be made is a failure.
      if (std::getenv("KW_WINDOW_TESTS") != nullptr) FAIL() << "the window could not be made";
      GTEST_SKIP() << "no desktop to show a window on";
    }
    const HDC screen = GetDC(nullptr);
    twipsPerPixel = 1440 / GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
  }
  HWND Label(int n) const { return GetDlgItem(window.Form(), n); }
  std::string Text(HWND h) const {
    char text[1024] = {};
    GetWindowTextA(h, text, sizeof text);
    return text;
  }
  // A child's place in the form's inner area, in twips.
  RECT Place(HWND child) const {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, window.Form(), reinterpret_cast<POINT*>(&r), 2);
    return {r.left * twipsPerPixel, r.top * twipsPerPixel, r.right * twipsPerPixel, r.bottom * twipsPerPixel};
  }

  FakeClock clock;
  Win32Window window{clock};
  int twipsPerPixel = 15;
};

// Within one pixel of the design's twips.
void ExpectNear(int twips, int designed, int twipsPerPixel) { EXPECT_NEAR(twips, designed, twipsPerPixel); }

TEST_F(Win32WindowTest, TheFormIsAsDesigned) {
  EXPECT_EQ(Text(window.Form()), form::kTitle);
  RECT inner;
  GetClientRect(window.Form(), &inner);
  ExpectNear(inner.right * twipsPerPixel, form::kInnerWidth, twipsPerPixel);
  ExpectNear(inner.bottom * twipsPerPixel, form::kInnerHeight, twipsPerPixel);
  for (int n = 1; n <= 4; ++n) {
    SCOPED_TRACE(n);
    const RECT r = Place(Label(n));
    ExpectNear(r.left, form::kLabelLeft, twipsPerPixel);
    ExpectNear(r.right - r.left, form::kLabelWidth, twipsPerPixel);
    ExpectNear(r.top, form::kLabels[n].top, twipsPerPixel);
    ExpectNear(r.bottom - r.top, form::kLabels[n].height, twipsPerPixel);
  }
  EXPECT_EQ(Text(Label(4)), Utf8ToCp1252(form::kDescription));
  for (int n = 1; n <= 3; ++n) EXPECT_EQ(Text(Label(n)), "");
  LOGBRUSH brush{};
  GetObjectA(reinterpret_cast<HBRUSH>(GetClassLongPtrA(window.Form(), GCLP_HBRBACKGROUND)), sizeof brush, &brush);
  EXPECT_EQ(brush.lbColor, RGB(192, 192, 192));
  EXPECT_NE(GetClassLongPtrA(window.Form(), GCLP_HICON), 0);  // the icon resource
  EXPECT_FALSE(IsWindowVisible(window.Form()));  // until Show
}

TEST_F(Win32WindowTest, LabelsTakeUtf8AndTheProgressLineIsShownWithTheNextRoundOfEvents) {
  window.SetLabel(2, "Überprüfe Feld: Telefon Vorwahl");
  EXPECT_EQ(Text(Label(2)), "\xDC" "berpr\xFC" "fe Feld: Telefon Vorwahl");
  window.ProcessEvents();
  window.SetLabel(3, "8001 Zürich");
  EXPECT_EQ(Text(Label(3)), "");  // once a row: shown in batches
  clock.now += 1.0;
  EXPECT_TRUE(window.ProcessEvents());
  EXPECT_EQ(Text(Label(3)), "8001 Z\xFCrich");
}

TEST_F(Win32WindowTest, ItIsCentredAndShownWhereTheRunPutsIt) {
  const TwipsSize screen = window.ScreenSize();
  const TwipsSize outer = window.WindowSize();
  EXPECT_EQ(screen.width, GetSystemMetrics(SM_CXSCREEN) * twipsPerPixel);
  EXPECT_GT(outer.width, form::kInnerWidth);
  window.Move((screen.width - outer.width) / 2, (screen.height - outer.height) / 2);
  window.Show();
  EXPECT_TRUE(IsWindowVisible(window.Form()));
  RECT r;
  GetWindowRect(window.Form(), &r);
  EXPECT_NEAR(r.left * twipsPerPixel, (screen.width - outer.width) / 2, twipsPerPixel);
  EXPECT_NEAR(r.top * twipsPerPixel, (screen.height - outer.height) / 2, twipsPerPixel);
}

TEST_F(Win32WindowTest, ClosingAsksTheRunToEndAndLeavesTheWindowUntilTheEnd) {
  window.Show();
  PostMessageA(window.Form(), WM_CLOSE, 0, 0);
  clock.now += 1.0;
  EXPECT_FALSE(window.ProcessEvents());
  EXPECT_TRUE(window.EndRequested());
  EXPECT_TRUE(IsWindow(window.Form()));
  // No more questions: the Esc answers, nothing shown.
  EXPECT_EQ(window.ShowMessageBox("Möchten Sie starten", kMbYesNoQuestion), kIdNo);
  EXPECT_EQ(window.ShowMessageBox("Fehler", kMbIconCritical), kIdOk);
  const HWND form = window.Form();
  window.EndProgram();
  EXPECT_FALSE(IsWindow(form));
}

TEST_F(Win32WindowTest, ABoxOpenWhenTheWindowIsClosedGetsItsEscAnswer) {
  window.Show();
  static HWND form = nullptr;
  form = window.Form();
  // While the box waits, the window is closed (as by another program).
  SetTimer(nullptr, 0, 300, [](HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    PostMessageA(form, WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(window.ShowMessageBox("Möchten Sie starten", kMbYesNoQuestion), kIdNo);
  EXPECT_TRUE(window.EndRequested());
}

}  // namespace
}  // namespace kw
