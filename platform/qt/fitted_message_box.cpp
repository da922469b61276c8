#include "platform/qt/fitted_message_box.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLayout>
#include <QScreen>
#include <QShowEvent>

namespace kw {
namespace {

// Room left at the screen's edges for the window manager's frame.
constexpr int kScreenMargin = 32;

}  // namespace

void FittedMessageBox::showEvent(QShowEvent* event) {
  QMessageBox::showEvent(event);  // Qt's layout, and the box centred over its parent
  if (FitText() && !event->spontaneous()) {
    adjustPosition(parentWidget());  // centred again with its new size
    setAttribute(Qt::WA_Moved, false);
  }
}

bool FittedMessageBox::event(QEvent* event) {
  const bool handled = QMessageBox::event(event);
  // Qt lays the box out again, its own way, whenever a layout is asked for.
  if (event->type() == QEvent::LayoutRequest && isVisible()) FitText();
  return handled;
}

bool FittedMessageBox::FitText() {
  auto* label = findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
  if (label == nullptr || layout() == nullptr || screen() == nullptr) return false;
  const int limit = screen()->availableGeometry().width() - kScreenMargin;
  label->setWordWrap(false);
  layout()->activate();
  int width = layout()->totalMinimumSize().width();
  if (width > limit) {
    label->setWordWrap(true);
    width = limit;
    layout()->activate();
  }
  const int height = layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width)
                                                   : layout()->totalMinimumSize().height();
  const QSize fitted(width, height);
  // Changing the label asked for a layout again; this is it.
  QCoreApplication::removePostedEvents(this, QEvent::LayoutRequest);
  if (size() == fitted && minimumSize() == fitted && maximumSize() == fitted) return false;
  setFixedSize(fitted);
  return true;
}

}  // namespace kw
