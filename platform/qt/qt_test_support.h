#pragma once
// Shared by the Qt test files: one offscreen application for the test process, and a way
// to answer the message boxes a test brings up.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QPointer>
#include <QTimer>
#include <functional>

namespace kw::qttest {

inline char gProgramName[] = "kw_qt_tests";
inline QtMessageHandler gQtHandler = nullptr;

// The offscreen platform says so each time it is asked for something it does not have.
inline void QuietOffscreen(QtMsgType type, const QMessageLogContext& context,
                           const QString& text) {
  if (gQtHandler != nullptr && !text.startsWith("This plugin does not support")) {
    gQtHandler(type, context, text);
  }
}

// One offscreen application for the test process, made on first use, deleted at the end.
class AppEnvironment : public ::testing::Environment {
 public:
  static void Ensure() {
    static int argc = 1;
    static char* argv[] = {gProgramName, nullptr};
    if (app_ != nullptr) return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    gQtHandler = qInstallMessageHandler(QuietOffscreen);
    app_ = new QApplication(argc, argv);
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  static inline QApplication* app_ = nullptr;
};
inline const auto* const gAppEnvironment =
    ::testing::AddGlobalTestEnvironment(new AppEnvironment);

struct SeenBox {
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
  Qt::TextFormat format = Qt::AutoText;
};
using Answer = std::function<void(QMessageBox&)>;

inline SeenBox Describe(QMessageBox& box) {
  return {box.windowTitle(), box.text(), box.icon(), box.standardButtons(),
          box.standardButton(box.defaultButton()), box.textFormat()};
}

// The message box on screen, or nullptr.
inline QMessageBox* VisibleBox() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (box != nullptr && box->isVisible()) return box;
  }
  return nullptr;
}

// Waits for the next message box, notes what it shows and answers it. The timer that
// waits deletes itself once it has answered.
inline QTimer* AnswerNextBox(SeenBox* seen, Answer answer) {
  auto* timer = new QTimer;
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [=] {
    QMessageBox* box = VisibleBox();
    if (box == nullptr) return;
    timer->stop();
    timer->deleteLater();
    *seen = Describe(*box);
    answer(*box);
  });
  timer->start();
  return timer;
}

inline Answer Click(QMessageBox::StandardButton b) {
  return [b](QMessageBox& box) { box.button(b)->click(); };
}
inline Answer Press(Qt::Key key) {
  return [key](QMessageBox& box) { QTest::keyClick(&box, key); };
}
inline void CloseBox(QMessageBox& box) { box.close(); }

}  // namespace kw::qttest
