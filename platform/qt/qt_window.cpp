#include "platform/qt/qt_window.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <QTranslator>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>

#include "platform/form_layout.h"
#include "platform/icon_xpm.h"
#include "platform/posix/interrupt.h"
#include "platform/qt/fitted_message_box.h"

namespace kw {
namespace {

using form::kBoxTitle;
using form::kDescription;
using form::kTitle;

// A repaint more often than the screen refreshes shows nothing new; the run asks once per
// changed row.
qint64 RefreshIntervalMs(const QScreen* screen) {
  const double hz = screen != nullptr ? screen->refreshRate() : 60.0;
  return static_cast<qint64>(1000.0 / std::clamp(hz, 20.0, 250.0));
}

// How long the display probe may take before the display counts as unreachable.
constexpr int kProbeTimeoutMs = 10000;
// How long the window may take to come on screen: a window manager frames it first.
constexpr int kShowTimeoutMs = 3000;
// How long a closed box may take to leave the screen, with the window beneath it painting
// what the box covered.
constexpr int kUncoverTimeoutMs = 500;

int Pixels(int twips) {
  return twips >= 0 ? (twips + kTwipsPerPixel / 2) / kTwipsPerPixel
                    : -((-twips + kTwipsPerPixel / 2) / kTwipsPerPixel);
}

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QLabel* MakeLabel(QWidget* form, const char* name, int topTwips, int heightTwips,
                  QPalette::ColorRole background, QPalette::ColorRole foreground) {
  auto* label = new QLabel(form);
  label->setObjectName(name);
  label->setGeometry(Pixels(120), Pixels(topTwips), Pixels(4335), Pixels(heightTwips));
  label->setTextFormat(Qt::PlainText);  // names from the data are never markup
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  QPalette palette = label->palette();
  palette.setColor(QPalette::Window, QApplication::palette().color(background));
  palette.setColor(QPalette::WindowText, QApplication::palette().color(foreground));
  label->setPalette(palette);
  label->setAutoFillBackground(true);
  return label;
}

// The description was laid out for a narrow bitmap font; a wider stand-in would cut off
// its last line, so the stand-in is made smaller until the whole text fits.
void FitWrappedText(QLabel& label) {
  constexpr double kSmallest = 6.0;
  QFont font = label.font();
  for (;;) {
    const QRect needed = QFontMetrics(font).boundingRect(
        QRect(0, 0, label.width(), 100000), Qt::TextWordWrap | Qt::AlignLeft, label.text());
    if (needed.height() <= label.height() || font.pointSizeF() - 0.25 < kSmallest) break;
    font.setPointSizeF(font.pointSizeF() - 0.25);
  }
  if (font != label.font()) label.setFont(font);
}

// Processes events until done() or until the time is up; a timer wakes the wait.
template <class Done>
void ProcessEventsUntil(Done done, int timeoutMs) {
  QElapsedTimer elapsed;
  elapsed.start();
  QTimer tick;
  tick.start(5);
  while (!done() && elapsed.elapsed() < timeoutMs)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// Notes when the window system tells a window that a part of it can be seen again, which
// the window paints at once.
class ExposeWatch : public QObject {
 public:
  explicit ExposeWatch(QWindow* window) : window_(window) {
    if (window_ != nullptr) window_->installEventFilter(this);
  }
  ~ExposeWatch() override {
    if (window_ != nullptr) window_->removeEventFilter(this);
  }
  bool seen = false;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Expose) seen = true;
    return false;
  }

 private:
  QPointer<QWindow> window_;
};

// The offscreen platform shows nothing on a screen: nothing there waits to be painted.
bool OnScreen() { return QGuiApplication::platformName() != QStringLiteral("offscreen"); }

// Qt's own words (the buttons Yes, No, OK) in the system's language, from Qt's
// translations where they are installed (Debian's qt6-translations-l10n).
void InstallQtTranslations(QApplication& app) {
  auto* qt = new QTranslator(&app);
  if (qt->load(QLocale::system(), QStringLiteral("qtbase"), QStringLiteral("_"),
               QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(qt);
  } else {
    delete qt;
  }
}

bool DisplayConfigured() {
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

// Qt ends the process when its platform plugin cannot connect to a display, so the
// connection is first tried in a child process. Its messages are silenced: the caller
// falls back to the console.
bool PlatformConnects(int argc, char** argv) {
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    const int devNull = open("/dev/null", O_WRONLY);
    if (devNull >= 0) {
      dup2(devNull, STDOUT_FILENO);
      dup2(devNull, STDERR_FILENO);
    }
    QGuiApplication probe(argc, argv);
    _exit(QGuiApplication::primaryScreen() != nullptr ? 0 : 1);
  }
  int status = 0;
  for (int waited = 0;; waited += 10) {
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) break;
    if (done < 0 && errno != EINTR) return false;
    if (waited >= kProbeTimeoutMs) {  // a display that accepts but never answers
      kill(child, SIGKILL);
      while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
      }
      return false;
    }
    const timespec pause{0, 10'000'000};
    nanosleep(&pause, nullptr);
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

// Closing by the user is remembered and refused: the run notices it at its next round of
// events and goes to its end, which closes the window for good.
class FormWidget : public QWidget {
 public:
  bool closeRequested = false;
  bool mayClose = false;

 protected:
  void closeEvent(QCloseEvent* event) override {
    if (mayClose) {
      event->accept();
    } else {
      closeRequested = true;
      event->ignore();
    }
  }
};

QtWindow::QtWindow(std::unique_ptr<QApplication> ownedApp)
    : app_(std::move(ownedApp)),
      form_(std::make_unique<FormWidget>()),
      eventIntervalMs_(RefreshIntervalMs(QGuiApplication::primaryScreen())) {
  if (InterruptFd() >= 0) {
    interruptWatch_ = std::make_unique<QSocketNotifier>(InterruptFd(), QSocketNotifier::Read);
    QObject::connect(interruptWatch_.get(), &QSocketNotifier::activated, [this] {
      char drain[64];
      while (read(InterruptFd(), drain, sizeof drain) > 0) {
      }
      RequestEnd();
    });
  }

  const QIcon icon{QPixmap(kIconXpm)};
  QApplication::setWindowIcon(icon);  // message boxes show it too

  QWidget& form = *form_;
  form.setObjectName("Frm_Kwandor_Upd");
  form.setWindowTitle(kTitle);
  form.setWindowIcon(icon);
  form.setFixedSize(Pixels(4545), Pixels(2160));
  QPalette palette = form.palette();
  palette.setColor(QPalette::Window, QColor(192, 192, 192));
  form.setPalette(palette);
  form.setAutoFillBackground(true);
  QFont font("MS Sans Serif");
  font.setStyleHint(QFont::SansSerif);  // where it is not installed
  font.setPointSizeF(8.25);
  font.setWeight(QFont::Normal);
  form.setFont(font);

  labels_[4] = MakeLabel(&form, "Label4", 75, 915, QPalette::ToolTipBase, QPalette::ToolTipText);
  labels_[4]->setWordWrap(true);
  labels_[4]->setText(kDescription);
  FitWrappedText(*labels_[4]);
  // Windows' window background and window text are Qt's Base and Text.
  labels_[1] = MakeLabel(&form, "Label1", 1125, 285, QPalette::Base, QPalette::Text);
  labels_[2] = MakeLabel(&form, "Label2", 1425, 285, QPalette::Base, QPalette::Text);
  labels_[3] = MakeLabel(&form, "Label3", 1725, 285, QPalette::Base, QPalette::Text);
}

QtWindow::~QtWindow() {
  if (cursorOverridden_) QApplication::restoreOverrideCursor();
  interruptWatch_.reset();
  form_.reset();
}

QWidget& QtWindow::Form() { return *form_; }

void QtWindow::SetLabel(int label, std::string_view text) {
  if (label == 3) {
    pendingLabel3_.assign(text);
    label3Pending_ = true;
  } else if (label >= 1 && label <= 4) {
    const QString value = FromUtf8(text);
    if (labels_[label]->text() == value) return;
    labels_[label]->setText(value);
    stageChanged_ = true;
  }
}

void QtWindow::RequestEnd() {
  form_->closeRequested = true;
  if (openBox_ != nullptr) openBox_->close();
}

bool QtWindow::EndRequested() { return form_->closeRequested; }

void QtWindow::ShowPendingLabel() {
  if (!label3Pending_) return;
  labels_[3]->setText(FromUtf8(pendingLabel3_));
  label3Pending_ = false;
}

TwipsSize QtWindow::ScreenSize() {
  const QScreen* screen = form_->screen();
  if (screen == nullptr) return {};
  const QSize size = screen->geometry().size();
  return {size.width() * kTwipsPerPixel, size.height() * kTwipsPerPixel};
}

TwipsSize QtWindow::WindowSize() {
  // The frame is known only once the window manager has framed the window.
  const QSize size = form_->frameGeometry().size();
  return {size.width() * kTwipsPerPixel, size.height() * kTwipsPerPixel};
}

void QtWindow::Move(int leftTwips, int topTwips) {
  const QScreen* screen = form_->screen();
  const QPoint origin = screen != nullptr ? screen->geometry().topLeft() : QPoint();
  form_->move(origin.x() + Pixels(leftTwips), origin.y() + Pixels(topTwips));
}

// The run goes on without rounds of events for a while after this: the window is on the
// screen, framed by the window manager (its outer size is known only then) and painted
// before it does, and before any box can come over it.
void QtWindow::Show() {
  ShowPendingLabel();
  form_->show();
  form_->raise();
  ProcessEventsUntil(
      [this] { return form_->windowHandle() != nullptr && form_->windowHandle()->isExposed(); },
      kShowTimeoutMs);
  eventIntervalMs_ = RefreshIntervalMs(form_->screen());
}

void QtWindow::SetMousePointer(int pointer) {
  if (pointer == kPointerHourglass) {
    if (!cursorOverridden_) QApplication::setOverrideCursor(Qt::WaitCursor);
    cursorOverridden_ = true;
  } else if (cursorOverridden_) {
    QApplication::restoreOverrideCursor();
    cursorOverridden_ = false;
  }
}

bool QtWindow::ProcessEvents() {
  if (stageChanged_ || !sinceEvents_.isValid() || sinceEvents_.elapsed() >= eventIntervalMs_) {
    stageChanged_ = false;
    ShowPendingLabel();
    QCoreApplication::processEvents();
    sinceEvents_.start();
  }
  return !EndRequested();
}

int QtWindow::ShowMessageBox(std::string_view text, int style) {
  const bool yesNo = (style & 0x0F) == 4;
  // The user has asked to end: no more questions. The answer is the Esc answer.
  if (EndRequested()) return yesNo ? kIdNo : kIdOk;
  ShowPendingLabel();
  FittedMessageBox box(form_->isVisible() ? form_.get() : nullptr);
  box.setWindowTitle(kBoxTitle);
  box.setTextFormat(Qt::PlainText);
  box.setText(FromUtf8(NormalizeLineBreaks(text)));
  switch (style & 0xF0) {
    case 16: box.setIcon(QMessageBox::Critical); break;
    case 32: box.setIcon(QMessageBox::Question); break;
    case 48: box.setIcon(QMessageBox::Warning); break;
    case 64: box.setIcon(QMessageBox::Information); break;
    default: box.setIcon(QMessageBox::NoIcon); break;
  }
  const auto first = yesNo ? QMessageBox::Yes : QMessageBox::Ok;
  box.setStandardButtons(yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
  box.setDefaultButton(first);
  // Esc and the close box answer No, or OK where OK is the only button.
  box.setEscapeButton(yesNo ? QMessageBox::No : QMessageBox::Ok);
  openBox_ = &box;
  box.exec();
  openBox_ = nullptr;
  LeaveNoTraceOf(box);
  if (!yesNo) return kIdOk;
  return box.standardButton(box.clickedButton()) == QMessageBox::Yes ? kIdYes : kIdNo;
}

// The run may go on for long without a round of events once a box is answered (while a
// big table is selected, say): the window beneath the box paints what the box covered
// before the run goes on. Otherwise the box's picture stays on the screen over the window,
// and black where it stood over the bare desktop, until the next round of events.
void QtWindow::LeaveNoTraceOf(QWidget& box) {
  const bool covered = OnScreen() && form_->isVisible() &&
                       box.frameGeometry().intersects(form_->frameGeometry());
  ExposeWatch uncovered(form_->windowHandle());
  box.hide();
  if (covered) ProcessEventsUntil([&] { return uncovered.seen; }, kUncoverTimeoutMs);
}

void QtWindow::EndProgram() {
  ShowPendingLabel();
  SetMousePointer(kPointerDefault);
  form_->mayClose = true;
  form_->close();
  QCoreApplication::processEvents();
}

std::unique_ptr<WindowSystem> MakeQtWindow(int& argc, char** argv) {
  if (QCoreApplication::instance() != nullptr) {
    // Widgets need a QApplication; one made elsewhere is used as it is.
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return nullptr;
    return std::make_unique<QtWindow>();
  }
  if (!DisplayConfigured() || !PlatformConnects(argc, argv)) return nullptr;
  auto app = std::make_unique<QApplication>(argc, argv);
  QApplication::setApplicationName(kBoxTitle);
  InstallQtTranslations(*app);
  return std::make_unique<QtWindow>(std::move(app));
}

}  // namespace kw
