// Whole runs with the desktop window over generated installations: what the window shows,
// the message boxes the run brings up, and ending the run by closing the window or Ctrl-C.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <QCloseEvent>
#include <QLabel>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/run.h"
#include "platform/posix/host_platform.h"
#include "platform/posix/interrupt.h"
#include "platform/qt/qt_test_support.h"
#include "platform/qt/qt_window.h"
#include "tools/sample/installation.h"

namespace kw {
namespace {

using namespace qttest;
namespace fs = std::filesystem;

// What the three status lines showed whenever one of them was painted; consecutive
// repeats are left out.
class LabelRecorder : public QObject {
 public:
  struct Shown {
    QString l1, l2, l3;
    bool operator==(const Shown&) const = default;
  };

  explicit LabelRecorder(QWidget& form) {
    for (int n = 1; n <= 3; ++n) {
      labels_[n] = form.findChild<QLabel*>(QString("Label%1").arg(n));
      labels_[n]->installEventFilter(this);
    }
  }

  std::vector<Shown> shown;
  std::function<void(const Shown&)> onChange;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      const Shown now{labels_[1]->text(), labels_[2]->text(), labels_[3]->text()};
      if (shown.empty() || !(shown.back() == now)) {
        shown.push_back(now);
        if (onChange) onChange(now);
      }
    }
    return false;
  }

 private:
  QLabel* labels_[4] = {};
};

// A stage: labels 1 and 2 as shown, with the texts label 3 showed meanwhile.
struct Stage {
  QString l1, l2;
  std::vector<QString> progress;
};

std::vector<Stage> Stages(const std::vector<LabelRecorder::Shown>& shown) {
  std::vector<Stage> out;
  for (const auto& s : shown) {
    if (out.empty() || out.back().l1 != s.l1 || out.back().l2 != s.l2) {
      out.push_back({s.l1, s.l2, {}});
    }
    out.back().progress.push_back(s.l3);
  }
  return out;
}

class Sql {
 public:
  explicit Sql(const std::string& path) {
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK)
        << path;
  }
  ~Sql() { sqlite3_close(db_); }
  // The first column of every row, as text ("<null>" for none).
  std::vector<std::string> Column(const std::string& sql) {
    std::vector<std::string> out;
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sql;
    while (sqlite3_step(st) == SQLITE_ROW) {
      const auto* text = sqlite3_column_text(st, 0);
      out.emplace_back(text ? reinterpret_cast<const char*>(text) : "<null>");
    }
    sqlite3_finalize(st);
    return out;
  }
  std::string Value(const std::string& sql) {
    const auto column = Column(sql);
    return column.empty() ? "<none>" : column[0];
  }
  int Exec(const std::string& sql) {
    return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
  }

 private:
  sqlite3* db_ = nullptr;
};

constexpr char kPlzMatch[] = "FROM PLZSTM WHERE LAND = 'CH' AND TELVOR = '01'";

class WindowRunTest : public ::testing::Test {
 protected:
  WindowRunTest() {
    AppEnvironment::Ensure();
    std::string dir = (fs::temp_directory_path() / "kw_qt_run_XXXXXX").string();
    if (mkdtemp(dir.data()) == nullptr) ADD_FAILURE() << "mkdtemp";
    spec_.prefix = dir;
  }
  ~WindowRunTest() override {
    delete waiting_;
    fs::remove_all(spec_.prefix);
  }

  void Install(int64_t plzRows, int clients, int64_t rowsPerClient) {
    spec_.plzRows = plzRows;
    spec_.clients = sample::DefaultClients(clients, rowsPerClient);
  }
  void Write() { sample::WriteInstallation(spec_); }

  std::string Host(const std::string& windowsPath) const {
    return sample::HostPath(spec_.prefix, windowsPath);
  }
  std::string PublicDb() const { return Host("D:\\Daten\\Public\\Public.mdb"); }
  std::string ClientDb(int n) const {
    return Host("D:\\Daten\\Mand0" + std::to_string(n) + "\\NoltData.mdb");
  }

  // Runs the installation written with a fresh window; `setUp` sees the window before
  // the run starts.
  RunOutcome Run(const std::function<void(QtWindow&)>& setUp = {}) {
    state_.reset();
    host_.reset();
    recorder_.reset();
    window_ = std::make_unique<QtWindow>();
    recorder_ = std::make_unique<LabelRecorder>(window_->Form());
    if (setUp) setUp(*window_);
    host_ = std::make_unique<HostPlatform>(WinePaths(spec_.prefix), *window_);
    state_ = std::make_unique<RunState>();
    return Form_Load(host_->Get(), *state_);
  }

  // Answers the run's message boxes in turn, noting each.
  void AnswerBoxes(std::vector<Answer> answers) {
    delete waiting_;
    boxes_.clear();
    answers_ = std::move(answers);
    AnswerFrom(0);
  }
  void AnswerFrom(size_t i) {
    if (i >= answers_.size()) return;
    waiting_ = AnswerNextBox(&scratch_, [this, i](QMessageBox& box) {
      boxes_.push_back(scratch_);
      AnswerFrom(i + 1);
      answers_[i](box);
    });
  }

  sample::SampleInstallation spec_;
  std::unique_ptr<QtWindow> window_;
  std::unique_ptr<LabelRecorder> recorder_;
  std::unique_ptr<HostPlatform> host_;
  std::unique_ptr<RunState> state_;
  std::vector<Answer> answers_;
  std::vector<SeenBox> boxes_;
  SeenBox scratch_;
  QPointer<QTimer> waiting_;
};

const QString kWait = "Bitte warten ...";

TEST_F(WindowRunTest, WholeRunShowsEachStageAndItsBoxesAndConvertsTheData) {
  Install(300, 6, 200);
  spec_.clients[4].withDefinition = false;  // Mandant 05: its definition file is missing
  // The start question by the Return key (Yes is the default), the others by their button.
  Write();
  AnswerBoxes({Press(Qt::Key_Return), Click(QMessageBox::Ok), Press(Qt::Key_Return)});
  ASSERT_EQ(Run(), RunOutcome::Completed);

  ASSERT_EQ(boxes_.size(), 3u);
  for (const SeenBox& b : boxes_) {
    EXPECT_EQ(b.title, "Kwandor_Upd");
    EXPECT_EQ(b.format, Qt::PlainText);
  }
  EXPECT_EQ(boxes_[0].text, QString::fromUtf8(
      "Dieses Programm ersetzt im Postleitzahlenstamm und in allen\n"
      "Mandanten, welche auf Version 6.4 (und höher) umgestellt sind, die Telefonvorwahlen.\n"
      "Wenn Land = 'CH' ist und die Telefonvorwahl ='01' ist, wird die Vorwahl '044' "
      "eingesetzt.\n\nMöchten Sie starten"));
  EXPECT_EQ(boxes_[0].icon, QMessageBox::Question);
  EXPECT_EQ(boxes_[0].buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(boxes_[0].defaultButton, QMessageBox::Yes);
  EXPECT_EQ(boxes_[1].text, "Der Mandant: Mandant 02\n ist nicht im Format der Version 6.4\n"
                            "Es erfolgt keine Umstellung der Vorwahlnummern");
  EXPECT_EQ(boxes_[2].text, "(TbDefRead) Can't open file !\n'D:\\Daten\\Mand05\\NoltData.def'");
  for (size_t i : {1u, 2u}) {
    EXPECT_EQ(boxes_[i].icon, QMessageBox::NoIcon);
    EXPECT_EQ(boxes_[i].buttons, QMessageBox::Ok);
    EXPECT_EQ(boxes_[i].defaultButton, QMessageBox::Ok);
  }

  // Every stage was on screen, in order; label 3 showed rows that were converted.
  const std::vector<Stage> stages = Stages(recorder_->shown);
  const std::vector<std::pair<QString, QString>> expected = {
      {"", ""},
      {"Allgemeine Datenbank", "Postleitzahlenstamm"},
      {"Allgemeine Datenbank", "Lese Mandanten ein"},
      {"Mandant 01", QString::fromUtf8("Überprüfe Feld: Telefon Vorwahl")},
      {"Mandant 01", QString::fromUtf8("Überprüfe Feld: Fax Vorwahl")},
      {"Mandant 06", QString::fromUtf8("Überprüfe Feld: Telefon Vorwahl")},
      {"Mandant 06", QString::fromUtf8("Überprüfe Feld: Fax Vorwahl")},
  };
  ASSERT_EQ(stages.size(), expected.size());
  for (size_t i = 0; i < stages.size(); ++i) {
    EXPECT_EQ(stages[i].l1, expected[i].first) << i;
    EXPECT_EQ(stages[i].l2, expected[i].second) << i;
  }
  EXPECT_EQ(stages[0].progress, std::vector<QString>{""});
  EXPECT_EQ(stages[2].progress, std::vector<QString>{kWait});
  for (size_t i : {3u, 4u, 5u, 6u}) EXPECT_EQ(stages[i].progress.front(), kWait) << i;

  Sql plz(PublicDb());
  std::vector<std::string> converted = plz.Column(
      "SELECT PLZ || ' ' || ORT FROM PLZSTM WHERE LAND = 'CH' AND TELVOR = '044'");
  ASSERT_FALSE(stages[1].progress.empty());
  for (const QString& row : stages[1].progress) {
    EXPECT_NE(std::find(converted.begin(), converted.end(), row.toStdString()), converted.end())
        << row.toStdString();
  }
  EXPECT_EQ(plz.Value(std::string("SELECT count(*) ") + kPlzMatch), "0");
  for (int n : {1, 6}) {
    Sql client(ClientDb(n));
    EXPECT_EQ(client.Value("SELECT count(*) FROM ADRSTM WHERE LAND = 'CH' AND "
                           "(TELVOR = '01' OR FAXVOR = '01')"), "0") << n;
  }
  for (int n : {2, 5}) {  // too old; no definition
    Sql client(ClientDb(n));
    EXPECT_NE(client.Value("SELECT count(*) FROM ADRSTM WHERE LAND = 'CH' AND TELVOR = '01'"),
              "0") << n;
  }
  EXPECT_FALSE(window_->Form().isVisible());
}

TEST_F(WindowRunTest, AnsweringNoChangesNothingAndAsksNothingMore) {
  Install(300, 3, 50);
  Write();
  AnswerBoxes({Click(QMessageBox::No), Click(QMessageBox::Ok)});
  ASSERT_EQ(Run(), RunOutcome::Declined);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].icon, QMessageBox::Question);
  Sql plz(PublicDb());
  EXPECT_NE(plz.Value(std::string("SELECT count(*) ") + kPlzMatch), "0");
  EXPECT_EQ(plz.Value("SELECT count(*) FROM PLZSTM WHERE TELVOR = '044'"),
            plz.Value("SELECT count(*) FROM PLZSTM WHERE TELVOR = '044' AND PLZ = '8001'"));
  EXPECT_FALSE(window_->Form().isVisible());
}

// Closing the window, or Ctrl-C, during the general pass: the rows saved so far stay saved,
// the rest is untouched, and the database is closed and sound.
TEST_F(WindowRunTest, EndingMidRunLeavesAPrefixOfRowsSavedAndTheDatabaseClosed) {
  const std::string all =
      "SELECT rowid || '|' || LAND || '|' || PLZ || '|' || ORT || '|' || TELVOR FROM PLZSTM "
      "ORDER BY rowid";
  Install(150000, 2, 100);
  Write();
  std::vector<std::string> before, matching;
  {
    Sql plz(PublicDb());
    before = plz.Column(all);
    matching = plz.Column(std::string("SELECT rowid ") + kPlzMatch + " ORDER BY rowid");
  }
  ASSERT_GT(matching.size(), 50000u);
  const fs::path pristine = spec_.prefix + "/pristine.mdb";
  fs::copy_file(PublicDb(), pristine, fs::copy_options::overwrite_existing);

  for (const bool byInterrupt : {false, true}) {
    SCOPED_TRACE(byInterrupt ? "Ctrl-C" : "window closed");
    fs::copy_file(pristine, PublicDb(), fs::copy_options::overwrite_existing);
    InstallInterruptHandler();
    AnswerBoxes({Click(QMessageBox::Yes), Click(QMessageBox::Ok)});
    bool ended = false;
    const RunOutcome outcome = Run([&](QtWindow& window) {
      recorder_->onChange = [&](const LabelRecorder::Shown& shown) {
        // As soon as a row of the general pass is on screen.
        if (ended || shown.l2 != "Postleitzahlenstamm" || shown.l3 == kWait) return;
        ended = true;
        if (byInterrupt) {
          std::raise(SIGINT);
        } else {
          QCoreApplication::postEvent(&window.Form(), new QCloseEvent);
        }
      };
    });
    std::signal(SIGINT, SIG_DFL);
    ASSERT_TRUE(ended);
    EXPECT_EQ(outcome, RunOutcome::Cancelled);
    EXPECT_EQ(Interrupted(), byInterrupt);
    EXPECT_EQ(boxes_.size(), 1u);
    EXPECT_FALSE(window_->Form().isVisible());
    EXPECT_EQ(state_->db, nullptr);
    EXPECT_EQ(state_->rs, nullptr);
    EXPECT_FALSE(fs::exists(PublicDb() + "-journal"));
    EXPECT_FALSE(fs::exists(PublicDb() + "-wal"));

    Sql plz(PublicDb());
    EXPECT_EQ(plz.Value("PRAGMA integrity_check"), "ok");
    EXPECT_EQ(plz.Exec("BEGIN EXCLUSIVE; COMMIT"), SQLITE_OK) << "the database is still held";
    // The rows converted are the first ones of the pass, every other row is as it was.
    const std::vector<std::string> after = plz.Column(all);
    ASSERT_EQ(after.size(), before.size());
    size_t saved = 0;
    for (; saved < matching.size(); ++saved) {
      const size_t row = std::stoul(matching[saved]) - 1;
      ASSERT_EQ(before[row].substr(0, matching[saved].size() + 1), matching[saved] + "|");
      if (after[row] != before[row].substr(0, before[row].size() - 2) + "044") break;
    }
    EXPECT_GT(saved, 0u);
    EXPECT_LT(saved, matching.size());
    std::vector<std::string> expected = before;
    for (size_t i = 0; i < saved; ++i) {
      std::string& row = expected[std::stoul(matching[i]) - 1];
      row = row.substr(0, row.size() - 2) + "044";
    }
    size_t differing = 0;
    for (size_t i = 0; i < after.size(); ++i) {
      if (after[i] != expected[i] && differing++ < 5) ADD_FAILURE() << after[i];
    }
    EXPECT_EQ(differing, 0u);
    // The client pass was never reached.
    Sql client(ClientDb(1));
    EXPECT_NE(client.Value("SELECT count(*) FROM ADRSTM WHERE LAND = 'CH' AND TELVOR = '01'"),
              "0");
  }
}

}  // namespace
}  // namespace kw
