// Saves a picture of the window in the middle of a real run:
//   window_shot OUT.png
// Writes a sample installation into a temporary prefix, runs the conversion on it with the
// desktop window (offscreen unless QT_QPA_PLATFORM names another platform), answers the
// start question with Yes, grabs the window as soon as the progress line shows a row of
// the general pass, and then closes the window, which ends the run. The prefix is removed.
#include <stdlib.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "app/run.h"
#include "platform/posix/host_platform.h"
#include "platform/qt/qt_window.h"
#include "tools/sample/installation.h"

namespace {

// Answers the start question with Yes and takes the picture once a row is shown.
// Runs within the run's rounds of events.
class Photographer {
 public:
  Photographer(kw::QtWindow& window, const char* out) : window_(window), out_(out) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
    timer_.start(1);
  }
  bool saved = false;

 private:
  void Look() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (box != nullptr && box->isVisible() && box->button(QMessageBox::Yes) != nullptr) {
        box->button(QMessageBox::Yes)->click();
        return;
      }
    }
    QWidget& form = window_.Form();
    const QString stage = form.findChild<QLabel*>("Label2")->text();
    const QString row = form.findChild<QLabel*>("Label3")->text();
    if (saved || stage != "Postleitzahlenstamm" || row.isEmpty() || row == "Bitte warten ...") {
      return;
    }
    saved = form.grab().save(out_, "PNG");
    if (!saved) std::fprintf(stderr, "window_shot: cannot write %s\n", out_);
    timer_.stop();
    form.close();  // ends the run at its next round of events
  }

  kw::QtWindow& window_;
  const char* out_;
  QTimer timer_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT.png\n", argv[0]);
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  namespace fs = std::filesystem;
  std::string prefix = (fs::temp_directory_path() / "kw_window_shot_XXXXXX").string();
  if (mkdtemp(prefix.data()) == nullptr) {
    std::perror("window_shot: mkdtemp");
    return 1;
  }
  bool saved = false;
  try {
    kw::sample::SampleInstallation setup;
    setup.prefix = prefix;
    setup.plzRows = 20000;
    setup.clients = kw::sample::DefaultClients(3, 200);
    kw::sample::WriteInstallation(setup);

    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    kw::QtWindow window;
    Photographer photographer(window, argv[1]);
    kw::HostPlatform host(kw::WinePaths(prefix), window);
    kw::RunState state;
    kw::Form_Load(host.Get(), state);
    saved = photographer.saved;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "window_shot: %s\n", e.what());
  }
  fs::remove_all(prefix);
  if (!saved) {
    std::fprintf(stderr, "window_shot: no picture taken\n");
    return 1;
  }
  return 0;
}
