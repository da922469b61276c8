// Saves a picture of the window as it looks during the general database pass.
//   window_shot OUT.png
// Runs offscreen unless QT_QPA_PLATFORM names another platform.
#include <QPixmap>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

#include "platform/qt/qt_window.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT.png\n", argv[0]);
    return 2;
  }
  const char* out = argv[1];
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qtArgc = 1;
  auto window = kw::MakeQtWindow(qtArgc, argv);
  if (window == nullptr) {
    std::fprintf(stderr, "window_shot: no display\n");
    return 1;
  }
  auto& qt = static_cast<kw::QtWindow&>(*window);
  qt.SetLabel(1, "Allgemeine Datenbank");
  qt.SetLabel(2, "Postleitzahlenstamm");
  qt.SetLabel(3, "8000 Zürich");
  qt.Show();
  qt.ProcessEvents();
  if (!qt.Form().grab().save(out, "PNG")) {
    std::fprintf(stderr, "window_shot: cannot write %s\n", out);
    return 1;
  }
  qt.EndProgram();
  return 0;
}
