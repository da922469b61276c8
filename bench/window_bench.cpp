// Times a whole run with the desktop window against the same run on the console, to show
// that the window's per-row label update and round of events do not slow the run down.
//
//   window_bench [matching rows] [runs]      (defaults 100000 and 5)
//
// Writes one sample installation whose postal-code master has exactly the given number of
// rows to convert, then runs the conversion on fresh copies of it, alternately with the
// window (offscreen platform) and with the console (output to /dev/null, not a terminal),
// the start question answered Yes. Prints each run, the medians and their ratio; exits
// with 1 when the window's median exceeds 1.3 times the console's.
#include <sqlite3.h>
#include <stdlib.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/run.h"
#include "platform/console/console_window.h"
#include "platform/posix/host_platform.h"
#include "platform/qt/qt_window.h"
#include "platform/steady_clock.h"
#include "tools/sample/installation.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kAllowedRatio = 1.3;
const char kPublic[] = "D:\\Daten\\Public\\Public.mdb";
const char kMatching[] = "FROM PLZSTM WHERE LAND = 'CH' AND TELVOR = '01'";

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "window_bench: %s\n", what.c_str());
  std::exit(2);
}

long long Exec(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_stmt* st = nullptr;
  long long value = -1;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK ||
      sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    Fail(sql + ": " + sqlite3_errmsg(db));
  }
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) value = sqlite3_column_int64(st, 0);
  if (rc != SQLITE_DONE) Fail(sql + ": " + sqlite3_errmsg(db));
  sqlite3_finalize(st);
  sqlite3_close(db);
  return value;
}

// The installation: no clients, a postal-code master with exactly `matching` rows to change.
void WriteTemplate(const std::string& prefix, long long matching) {
  kw::sample::SampleInstallation setup;
  setup.prefix = prefix;
  setup.plzRows = matching * 3;  // about a third of the rows are Swiss with "01"
  kw::sample::WriteInstallation(setup);
  const std::string db = kw::sample::HostPath(prefix, kPublic);
  if (Exec(db, std::string("SELECT count(*) ") + kMatching) < matching) Fail("too few rows");
  Exec(db, std::string("DELETE FROM PLZSTM WHERE rowid IN (SELECT rowid ") + kMatching +
               " ORDER BY rowid LIMIT -1 OFFSET " + std::to_string(matching) + ")");
  Exec(db, "VACUUM");
}

// The offscreen platform says so each time it is asked for something it does not have.
QtMessageHandler gQtHandler = nullptr;
void QuietOffscreen(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (gQtHandler != nullptr && !text.startsWith("This plugin does not support")) {
    gQtHandler(type, context, text);
  }
}

// Answers the start question with Yes as soon as it is on screen.
class Answerer {
 public:
  Answerer() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (box != nullptr && box->isVisible() && box->button(QMessageBox::Yes) != nullptr) {
          timer_.stop();
          box->button(QMessageBox::Yes)->click();
        }
      }
    });
    timer_.start(1);
  }

 private:
  QTimer timer_;
};

// One run on a fresh copy; returns its seconds.
double TimedRun(const std::string& templ, const std::string& work, bool withWindow,
                long long matching) {
  fs::remove_all(work);
  fs::copy(templ, work, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  std::unique_ptr<kw::WindowSystem> window;
  std::unique_ptr<Answerer> answerer;
  std::FILE* in = nullptr;
  std::FILE* out = nullptr;
  static char answer[] = "j\n";
  kw::SteadyClock consoleClock;

  const auto start = Clock::now();
  if (withWindow) {
    window = std::make_unique<kw::QtWindow>();
    answerer = std::make_unique<Answerer>();
  } else {
    in = fmemopen(answer, 2, "r");
    out = std::fopen("/dev/null", "w");
    if (in == nullptr || out == nullptr) Fail("cannot open the console's streams");
    window = std::make_unique<kw::ConsoleWindow>(consoleClock, in, out, false, false);
  }
  kw::RunOutcome outcome;
  {
    kw::HostPlatform host(kw::WinePaths(work), *window);
    kw::RunState state;
    outcome = kw::Form_Load(host.Get(), state);
  }
  window.reset();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

  if (in != nullptr) std::fclose(in);
  if (out != nullptr) std::fclose(out);
  const std::string db = kw::sample::HostPath(work, kPublic);
  if (outcome != kw::RunOutcome::Completed ||
      Exec(db, std::string("SELECT count(*) ") + kMatching) != 0 ||
      Exec(db, "SELECT count(*) FROM PLZSTM WHERE TELVOR = '044'") < matching) {
    Fail("the run did not convert the rows");
  }
  return seconds;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  const long long matching = argc > 1 ? std::atoll(argv[1]) : 100000;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  if (matching < 1 || runs < 1) {
    std::fprintf(stderr, "usage: window_bench [matching rows] [runs]\n");
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  gQtHandler = qInstallMessageHandler(QuietOffscreen);
  int qtArgc = 1;
  QApplication app(qtArgc, argv);

  std::string root = (fs::temp_directory_path() / "kw_window_bench_XXXXXX").string();
  if (mkdtemp(root.data()) == nullptr) Fail("mkdtemp");
  const std::string templ = root + "/template", work = root + "/run";
  WriteTemplate(templ, matching);
  std::printf("%lld rows to convert, %d runs each\n", matching, runs);

  std::vector<double> window, console;
  for (int i = 0; i < runs; ++i) {
    // Alternate which goes first, so that neither always finds the caches warmer.
    for (const bool withWindow : {i % 2 == 0, i % 2 != 0}) {
      const double s = TimedRun(templ, work, withWindow, matching);
      (withWindow ? window : console).push_back(s);
      std::printf("  run %d %-7s %.3f s\n", i + 1, withWindow ? "window" : "console", s);
    }
  }
  fs::remove_all(root);

  const double w = Median(window), c = Median(console);
  const double ratio = w / c;
  std::printf("median console %.3f s (%.2f us/row)\n", c, c * 1e6 / static_cast<double>(matching));
  std::printf("median window  %.3f s (%.2f us/row)\n", w, w * 1e6 / static_cast<double>(matching));
  std::printf("window / console = %.3f (allowed %.1f): %s\n", ratio, kAllowedRatio,
              ratio <= kAllowedRatio ? "ok" : "TOO SLOW");
  return ratio <= kAllowedRatio ? 0 : 1;
}
