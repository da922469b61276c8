#include "platform/qt/qt_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <functional>
#include <thread>

#include "platform/posix/interrupt.h"

#include "platform/qt/qt_test_support.h"

namespace kw {
namespace {

using namespace qttest;

class QtWindowTest : public ::testing::Test {
 protected:
  QtWindowTest() {
    AppEnvironment::Ensure();
    window_ = std::make_unique<QtWindow>();
  }
  QWidget& Form() { return window_->Form(); }
  QLabel& Label(int n) { return *Form().findChild<QLabel*>(QString("Label%1").arg(n)); }
  // Lets the throttled event processing run on the next call.
  static void WaitPastThrottle() { std::this_thread::sleep_for(std::chrono::milliseconds(55)); }

  std::unique_ptr<QtWindow> window_;
};

TEST_F(QtWindowTest, WindowAndLabelsHaveTheirTitleSizesAndFont) {
  EXPECT_EQ(Form().windowTitle(), "Anpassen der Telefonvorwahlen");
  EXPECT_EQ(Form().size(), QSize(303, 144));
  EXPECT_EQ(Form().minimumSize(), Form().maximumSize());
  EXPECT_TRUE(Form().windowIcon().availableSizes().contains(QSize(32, 32)));
  // 120 twips from the left, 4335 wide; tops and heights 75/915, 1125/285, 1425/285, 1725/285.
  EXPECT_EQ(Label(4).geometry(), QRect(8, 5, 289, 61));
  EXPECT_EQ(Label(1).geometry(), QRect(8, 75, 289, 19));
  EXPECT_EQ(Label(2).geometry(), QRect(8, 95, 289, 19));
  EXPECT_EQ(Label(3).geometry(), QRect(8, 115, 289, 19));
  for (int n = 1; n <= 3; ++n) {
    EXPECT_EQ(Label(n).text(), "");
    const QFont font = Label(n).font();
    EXPECT_EQ(font.family(), "MS Sans Serif");
    EXPECT_DOUBLE_EQ(font.pointSizeF(), 8.25);
    EXPECT_EQ(font.styleHint(), QFont::SansSerif);
    EXPECT_EQ(font.weight(), QFont::Normal);
  }
}

TEST_F(QtWindowTest, BackgroundsAreDrawnInTheirColours) {
  const QPalette system = QApplication::palette();
  const QImage image = Form().grab().toImage();
  const auto pixel = [&](int x, int y) {
    const qreal ratio = image.devicePixelRatio();
    return image.pixelColor(static_cast<int>(x * ratio), static_cast<int>(y * ratio));
  };
  EXPECT_EQ(pixel(2, 2), QColor(192, 192, 192));
  EXPECT_EQ(pixel(300, 140), QColor(192, 192, 192));
  // The last line of the description is short: its right end is bare background.
  EXPECT_EQ(pixel(294, 64), system.color(QPalette::ToolTipBase));
  for (int top : {75, 95, 115}) EXPECT_EQ(pixel(150, top + 9), system.color(QPalette::Base));
  EXPECT_EQ(Label(1).palette().color(QPalette::WindowText), system.color(QPalette::Text));
  EXPECT_EQ(Label(4).palette().color(QPalette::WindowText), system.color(QPalette::ToolTipText));
}

TEST_F(QtWindowTest, DescriptionIsOneLineOfTextWrappedToFitTheLabel) {
  const QString text = Label(4).text();
  EXPECT_EQ(text.size(), 234);
  EXPECT_TRUE(text.startsWith("Dieses Programm ersetzt im Postleitzahlenstamm und in allen "));
  EXPECT_TRUE(text.contains("Version 6.4 (und höher) umgestellt sind"));
  EXPECT_TRUE(text.endsWith("wird die Vorwahl '044' eingesetzt."));
  EXPECT_FALSE(text.contains('\n'));
  EXPECT_TRUE(Label(4).wordWrap());
  const QFontMetrics metrics(Label(4).font());
  const QRect wrapped = metrics.boundingRect(QRect(0, 0, 289, 100000), Qt::TextWordWrap, text);
  EXPECT_LE(wrapped.height(), 61) << "the last line would be cut off";
  EXPECT_GE(wrapped.height(), 3 * metrics.lineSpacing());
  EXPECT_GE(Label(4).font().pointSizeF(), 6.0);
}

TEST_F(QtWindowTest, IconUsesOnlyTheSixteenStandardColours) {
  const QList<QRgb> vga = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                           0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                           0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
  const QImage icon = Form().windowIcon().pixmap(32, 32).toImage().convertToFormat(
      QImage::Format_ARGB32);
  ASSERT_EQ(icon.size(), QSize(32, 32));
  int opaque = 0;
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const QRgb p = icon.pixel(x, y);
      if (qAlpha(p) == 0) continue;
      ++opaque;
      EXPECT_TRUE(qAlpha(p) == 255 && vga.contains(p & 0xFFFFFF)) << x << "," << y;
    }
  }
  EXPECT_GT(opaque, 200);
}

TEST_F(QtWindowTest, LabelTextsAreUtf8AndNeverMarkup) {
  window_->SetLabel(1, "Müller <b>&</b> Co");
  window_->SetLabel(2, "Überprüfe Feld: Vorwahl");
  window_->SetLabel(0, "none");
  window_->SetLabel(5, "none");
  EXPECT_EQ(Label(1).text(), QString::fromUtf8("Müller <b>&</b> Co"));
  EXPECT_EQ(Label(1).textFormat(), Qt::PlainText);
  EXPECT_EQ(Label(2).text(), QString::fromUtf8("Überprüfe Feld: Vorwahl"));
  EXPECT_EQ(Label(3).text(), "");
}

TEST_F(QtWindowTest, ProgressLineAppearsWhenEventsAreProcessed) {
  window_->Show();
  window_->SetLabel(3, "Bitte warten ...");
  EXPECT_TRUE(window_->ProcessEvents());
  EXPECT_EQ(Label(3).text(), "Bitte warten ...");
  // A new stage is shown at the next round, however soon it comes.
  window_->SetLabel(1, "Mandant 01");
  window_->SetLabel(3, "Bitte warten ... ");
  EXPECT_TRUE(window_->ProcessEvents());
  EXPECT_EQ(Label(3).text(), "Bitte warten ... ");
  for (int i = 0; i < 1000; ++i) {
    window_->SetLabel(3, std::to_string(8000 + i) + " Zürich");
    window_->ProcessEvents();
  }
  WaitPastThrottle();
  EXPECT_TRUE(window_->ProcessEvents());
  EXPECT_EQ(Label(3).text(), QString::fromUtf8("8999 Zürich"));
}

TEST_F(QtWindowTest, LastProgressLineIsShownBeforeABoxAndAtTheEnd) {
  window_->Show();
  window_->ProcessEvents();
  window_->SetLabel(3, "8001 Zürich");
  SeenBox seen;
  QString whileAsking;
  AnswerNextBox(&seen, [&](QMessageBox& box) {
    whileAsking = Label(3).text();
    box.button(QMessageBox::Ok)->click();
  });
  window_->ShowMessageBox("x", kMbOk);
  EXPECT_EQ(whileAsking, QString::fromUtf8("8001 Zürich"));
  window_->SetLabel(3, "8002 Zürich");
  window_->EndProgram();
  EXPECT_EQ(Label(3).text(), QString::fromUtf8("8002 Zürich"));
}

TEST_F(QtWindowTest, StartQuestionAsksYesOrNoWithYesAsDefault) {
  window_->Show();
  SeenBox seen;
  AnswerNextBox(&seen, Click(QMessageBox::Yes));
  EXPECT_EQ(window_->ShowMessageBox("Dieses Programm\r\nMandanten\r\n\r\nMöchten Sie starten", 36),
            kIdYes);
  EXPECT_EQ(seen.title, "Kwandor_Upd");
  EXPECT_EQ(seen.text, QString::fromUtf8("Dieses Programm\nMandanten\n\nMöchten Sie starten"));
  EXPECT_EQ(seen.icon, QMessageBox::Question);
  EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(seen.defaultButton, QMessageBox::Yes);

  const struct {
    const char* how;
    Answer answer;
    int expected;
  } answers[] = {
      {"No", Click(QMessageBox::No), kIdNo},     {"Return", Press(Qt::Key_Return), kIdYes},
      {"Escape", Press(Qt::Key_Escape), kIdNo},  {"close box", CloseBox, kIdNo},
  };
  for (const auto& a : answers) {
    AnswerNextBox(&seen, a.answer);
    EXPECT_EQ(window_->ShowMessageBox("Möchten Sie starten", kMbYesNoQuestion), a.expected) << a.how;
  }
}

// The box is as wide as its longest line: the text breaks at its own line breaks only,
// unless a line is wider than the screen.
TEST_F(QtWindowTest, BoxesBreakTheirTextOnlyWhereItBreaksUpToTheScreensWidth) {
  window_->Show();
  const struct {
    std::string text;
    int style;
    bool fitsTheScreen;
  } cases[] = {
      {"Dieses Programm ersetzt im Postleitzahlenstamm und in allen\r\n"
       "Mandanten, welche auf Version 6.4 (und höher) umgestellt sind, die Telefonvorwahlen.\r\n"
       "Wenn Land = 'CH' ist und die Telefonvorwahl ='01' ist, wird die Vorwahl '044' "
       "eingesetzt.\r\n\r\nMöchten Sie starten",
       kMbYesNoQuestion, true},
      {"(TbDefRead) Can't open file !\r\n'D:\\Daten\\Mand02\\NoltData.def'", kMbOk, true},
      {QString("Vorwahl 01 wird 044. ").repeated(60).toStdString(), kMbIconCritical, false},
  };
  for (const auto& c : cases) {
    SeenBox seen;
    QRect label, box;
    bool wraps = true;
    QFont font;
    AnswerNextBox(&seen, [&](QMessageBox& b) {
      const auto* l = b.findChild<QLabel*>("qt_msgbox_label");
      label = l->geometry();
      wraps = l->wordWrap();
      font = l->font();
      box = b.frameGeometry();
      b.close();
    });
    window_->ShowMessageBox(c.text, c.style);
    const QFontMetrics metrics(font);
    const QStringList lines = QString::fromStdString(NormalizeLineBreaks(c.text)).split('\n');
    EXPECT_LE(box.width(), Form().screen()->availableGeometry().width()) << c.text;
    EXPECT_EQ(wraps, !c.fitsTheScreen) << c.text;
    if (c.fitsTheScreen) {
      int widest = 0;
      for (const QString& line : lines) widest = std::max(widest, metrics.horizontalAdvance(line));
      EXPECT_GE(label.width(), widest) << c.text;
      EXPECT_LT(label.height(), (lines.size() + 1) * metrics.lineSpacing()) << c.text;
    } else {
      EXPECT_GT(label.height(), 2 * metrics.lineSpacing());
    }
  }
}

TEST_F(QtWindowTest, ErrorAndNoticeBoxesHaveOnlyOk) {
  const struct {
    int style;
    QMessageBox::Icon icon;
    Answer answer;
  } cases[] = {
      {kMbIconCritical, QMessageBox::Critical, Click(QMessageBox::Ok)},
      {kMbIconCritical, QMessageBox::Critical, Press(Qt::Key_Escape)},
      {kMbOk, QMessageBox::NoIcon, Press(Qt::Key_Return)},
      {kMbOk, QMessageBox::NoIcon, CloseBox},
  };
  for (const auto& c : cases) {
    SeenBox seen;
    AnswerNextBox(&seen, c.answer);
    EXPECT_EQ(window_->ShowMessageBox("Datei nicht gefunden", c.style), kIdOk) << c.style;
    EXPECT_EQ(seen.title, "Kwandor_Upd");
    EXPECT_EQ(seen.icon, c.icon);
    EXPECT_EQ(seen.buttons, QMessageBox::Ok);
  }
}

TEST_F(QtWindowTest, BoxTextIsPlainAndLoneCarriageReturnsBreakLines) {
  SeenBox seen;
  AnswerNextBox(&seen, Click(QMessageBox::Ok));
  window_->ShowMessageBox("[Orbica-Kontor]\rAllgemeineDaten= LW:\\Pfad\r\r<b>Eintrag</b> !\r",
                      kMbIconCritical);
  EXPECT_EQ(seen.text, "[Orbica-Kontor]\nAllgemeineDaten= LW:\\Pfad\n\n<b>Eintrag</b> !\n");
  EXPECT_EQ(seen.format, Qt::PlainText);
}

TEST_F(QtWindowTest, HourglassIsSetOnceAndRestoredToTheArrow) {
  ASSERT_EQ(QApplication::overrideCursor(), nullptr);
  window_->SetMousePointer(kPointerHourglass);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  window_->SetMousePointer(kPointerHourglass);
  window_->SetMousePointer(kPointerDefault);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  window_->SetMousePointer(kPointerDefault);
  window_->SetMousePointer(kPointerHourglass);
  window_->EndProgram();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(QtWindowTest, CentringInTwipsPutsTheWindowInTheMiddleOfItsScreen) {
  const TwipsSize screen = window_->ScreenSize();
  const QRect screenRect = Form().screen()->geometry();
  EXPECT_EQ(screen.width, screenRect.width() * 15);
  EXPECT_EQ(screen.height, screenRect.height() * 15);
  window_->Show();
  window_->ProcessEvents();
  const TwipsSize outer = window_->WindowSize();
  EXPECT_GE(outer.width, 4545);
  EXPECT_GE(outer.height, 2160);
  window_->Move((screen.width - outer.width) / 2, (screen.height - outer.height) / 2);
  const QRect frame = Form().frameGeometry();
  EXPECT_EQ(frame.width() * 15, outer.width);
  EXPECT_NEAR(frame.center().x(), screenRect.center().x(), 1);
  EXPECT_NEAR(frame.center().y(), screenRect.center().y(), 1);
  window_->Move(1500, -750);
  EXPECT_EQ(Form().frameGeometry().topLeft(), screenRect.topLeft() + QPoint(100, -50));
  window_->Move(22, 8);  // to the nearest pixel
  EXPECT_EQ(Form().frameGeometry().topLeft(), screenRect.topLeft() + QPoint(1, 1));
}

TEST_F(QtWindowTest, ShowReturnsOnceTheWindowIsOnTheScreen) {
  window_->Show();
  ASSERT_NE(Form().windowHandle(), nullptr);
  EXPECT_TRUE(Form().windowHandle()->isExposed());
}

TEST_F(QtWindowTest, ClosingTheWindowEndsTheRunButLeavesItOnScreenUntilTheEnd) {
  window_->Show();
  EXPECT_TRUE(window_->ProcessEvents());
  // As the window manager's close request arrives: through the event queue.
  QCoreApplication::postEvent(&Form(), new QCloseEvent);
  WaitPastThrottle();
  EXPECT_FALSE(window_->ProcessEvents());
  EXPECT_TRUE(Form().isVisible());
  EXPECT_FALSE(window_->ProcessEvents());
  // Nothing more is asked once the user wants to end; a box gets its Esc answer unseen.
  SeenBox seen;
  QPointer<QTimer> waiting = AnswerNextBox(&seen, Click(QMessageBox::Yes));
  EXPECT_EQ(window_->ShowMessageBox("Möchten Sie starten", kMbYesNoQuestion), kIdNo);
  EXPECT_EQ(window_->ShowMessageBox("Datei nicht gefunden", kMbIconCritical), kIdOk);
  EXPECT_EQ(seen.title, "");
  delete waiting;
  window_->EndProgram();
  EXPECT_FALSE(Form().isVisible());
}

// Ctrl-C reaches a window made after the interrupt handler was installed.
class InterruptTest : public QtWindowTest {
 protected:
  InterruptTest() {
    InstallInterruptHandler();
    window_ = std::make_unique<QtWindow>();
  }
  ~InterruptTest() override { std::signal(SIGINT, SIG_DFL); }
};

TEST_F(InterruptTest, CtrlCEndsTheRunAsClosingTheWindowDoes) {
  window_->Show();
  EXPECT_TRUE(window_->ProcessEvents());
  std::raise(SIGINT);
  WaitPastThrottle();
  EXPECT_FALSE(window_->ProcessEvents());
  EXPECT_TRUE(Interrupted());
  EXPECT_TRUE(Form().isVisible());
  window_->EndProgram();
  EXPECT_FALSE(Form().isVisible());
}

TEST_F(InterruptTest, CtrlCAnswersTheOpenBoxWithItsEscapeAnswer) {
  window_->Show();
  SeenBox seen;
  // Yes would be the answer if Ctrl-C did not close the box first.
  QPointer<QTimer> waiting = AnswerNextBox(&seen, [](QMessageBox& box) {
    std::raise(SIGINT);
    QTimer::singleShot(2000, &box, [&box] { box.button(QMessageBox::Yes)->click(); });
  });
  EXPECT_EQ(window_->ShowMessageBox("Möchten Sie starten", kMbYesNoQuestion), kIdNo);
  EXPECT_EQ(seen.title, "Kwandor_Upd");
  EXPECT_FALSE(window_->ProcessEvents());
  delete waiting;
}

TEST_F(InterruptTest, ASecondCtrlCEndsTheProcessAtOnce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::raise(SIGINT);
        std::raise(SIGINT);
        std::_Exit(0);
      },
      ::testing::KilledBySignal(SIGINT), "");
}

TEST_F(QtWindowTest, FactoryUsesTheRunningApplication) {
  int argc = 1;
  char* argv[] = {gProgramName, nullptr};
  EXPECT_NE(MakeQtWindow(argc, argv), nullptr);
}

// Each runs in a fresh process: the factory makes the one application of its process.
class MakeQtWindowTest : public ::testing::Test {
 protected:
  MakeQtWindowTest() { GTEST_FLAG_SET(death_test_style, "threadsafe"); }

  // Exits with 3 when the factory gives no window, 4 when it gives one.
  [[noreturn]] static void Make(const char* platform, const char* display) {
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("XDG_SESSION_TYPE");
    platform != nullptr ? setenv("QT_QPA_PLATFORM", platform, 1) : unsetenv("QT_QPA_PLATFORM");
    display != nullptr ? setenv("DISPLAY", display, 1) : unsetenv("DISPLAY");
    int argc = 1;
    char* argv[] = {gProgramName, nullptr};
    std::_Exit(MakeQtWindow(argc, argv) == nullptr ? 3 : 4);
  }
};

TEST_F(MakeQtWindowTest, NoDisplayOrAnUnreachableOneGivesNoWindowInsteadOfEndingTheProcess) {
  EXPECT_EXIT(Make(nullptr, nullptr), ::testing::ExitedWithCode(3), "");
  EXPECT_EXIT(Make("xcb", ":7391"), ::testing::ExitedWithCode(3), "");
  EXPECT_EXIT(Make(nullptr, ":7391"), ::testing::ExitedWithCode(3), "");
  EXPECT_EXIT(Make("no-such-platform", nullptr), ::testing::ExitedWithCode(3), "");
}

TEST_F(MakeQtWindowTest, PlatformAskedForExplicitlyIsUsed) {
  EXPECT_EXIT(Make("offscreen", nullptr), ::testing::ExitedWithCode(4), "");
}

// Asks the start question in a window made by the factory under the language `lang`
// (LANG, nothing else set) and exits with 4 when its buttons read `yes` and `no` and an
// OK box's button `ok`.
[[noreturn]] void ButtonsRead(const char* lang, const char* yes, const char* no, const char* ok) {
  for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"}) unsetenv(name);
  setenv("LANG", lang, 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int argc = 1;
  char* argv[] = {gProgramName, nullptr};
  std::unique_ptr<WindowSystem> window = MakeQtWindow(argc, argv);
  if (window == nullptr) std::_Exit(3);
  QString seen;
  SeenBox box1, box2;
  const auto read = [&](QMessageBox& box) {
    for (QAbstractButton* b : box.buttons()) seen += b->text() + "|";
    box.close();
  };
  AnswerNextBox(&box1, read);
  window->ShowMessageBox("Möchten Sie starten", kMbYesNoQuestion);
  AnswerNextBox(&box2, read);
  window->ShowMessageBox("Datei nicht gefunden", kMbIconCritical);
  std::fprintf(stderr, "%s\n", qPrintable(seen));
  const QStringList parts = seen.split('|');
  std::_Exit(parts.contains(yes) && parts.contains(no) && parts.contains(ok) ? 4 : 5);
}

TEST_F(MakeQtWindowTest, ButtonsSpeakTheSystemsLanguage) {
  EXPECT_EXIT(ButtonsRead("de_DE.UTF-8", "&Ja", "&Nein", "OK"), ::testing::ExitedWithCode(4), "");
  EXPECT_EXIT(ButtonsRead("de_CH.UTF-8", "&Ja", "&Nein", "OK"), ::testing::ExitedWithCode(4), "");
  EXPECT_EXIT(ButtonsRead("C.UTF-8", "&Yes", "&No", "OK"), ::testing::ExitedWithCode(4), "");
}

}  // namespace
}  // namespace kw
