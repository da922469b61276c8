#pragma once
// A message box as wide as the longest line of its text needs, so that the text breaks
// only where it breaks itself, as the product's messages are laid out; a line too long
// for the screen still wraps, at the screen's width. (Qt's own box wraps every line
// longer than 500 pixels, or half the screen.)
#include <QMessageBox>

namespace kw {

class FittedMessageBox : public QMessageBox {
 public:
  explicit FittedMessageBox(QWidget* parent) : QMessageBox(parent) {}

 protected:
  void showEvent(QShowEvent* event) override;
  bool event(QEvent* event) override;

 private:
  // Lays the box out again after Qt did; true when its size changed.
  bool FitText();
};

}  // namespace kw
