#include "platform/console/console_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>

#include "platform/fakes/fake_clock.h"
#include "platform/posix/interrupt.h"

namespace kw {
namespace {

// A console over an input text and a captured output.
class Console {
 public:
  explicit Console(const std::string& input, bool outTty = false) {
    in_ = std::tmpfile();
    out_ = std::tmpfile();
    std::fputs(input.c_str(), in_);
    std::rewind(in_);
    window = std::make_unique<ConsoleWindow>(clock, in_, out_, false, outTty);
  }
  ~Console() {
    std::fclose(in_);
    std::fclose(out_);
  }
  std::string Output() {
    std::fflush(out_);
    std::rewind(out_);
    std::string s;
    int c;
    while ((c = std::fgetc(out_)) != EOF) s += static_cast<char>(c);
    return s;
  }
  FakeClock clock;
  std::unique_ptr<ConsoleWindow> window;

 private:
  std::FILE* in_;
  std::FILE* out_;
};

TEST(ConsoleWindow, YesNoBoxReadsOneLineAndKnowsGermanAndEnglishYes) {
  Console c("j\nJa bitte\ny\nYes\nn\n\nnein\n");
  for (int expected : {kIdYes, kIdYes, kIdYes, kIdYes, kIdNo, kIdNo, kIdNo, kIdNo /* end of input */})
    EXPECT_EQ(c.window->ShowMessageBox("Möchten Sie starten", kMbYesNoQuestion), expected);
}

TEST(ConsoleWindow, BoxesPrintTheirTextThenAPromptWithButtonsAndIcon) {
  Console c("\n");
  EXPECT_EQ(c.window->ShowMessageBox("Zeile 1\r\nZeile 2", kMbYesNoQuestion), kIdNo);
  EXPECT_EQ(c.window->ShowMessageBox("Fehler im Schritt", kMbIconCritical), kIdOk);  // end of input
  EXPECT_EQ(c.window->ShowMessageBox("A\rB", kMbOk), kIdOk);
  EXPECT_EQ(c.window->ShowMessageBox("Nicht vollständig", kMbIconExclamation), kIdOk);
  EXPECT_EQ(c.Output(),
            "Zeile 1\nZeile 2\nFrage [Ja/Nein] \n"
            "Fehler im Schritt\nFehler [OK] \n"
            "A\nB\n[OK] \n"
            "Nicht vollständig\nWarnung [OK] \n");
}

TEST(ConsoleWindow, LabelsOneAndTwoArePrintedWhenTheyChange) {
  Console c("");
  c.window->SetLabel(1, "");
  c.window->SetLabel(1, "Allgemeine Datenbank");
  c.window->SetLabel(2, "Postleitzahlenstamm");
  c.window->SetLabel(1, "Allgemeine Datenbank");
  c.window->SetLabel(2, "Lese Mandanten ein");
  c.window->SetLabel(4, "Beschreibung");
  EXPECT_EQ(c.Output(), "Allgemeine Datenbank\nPostleitzahlenstamm\nLese Mandanten ein\n");
}

TEST(ConsoleWindow, ProgressLineIsNotPrintedWhenOutputIsNoTerminal) {
  Console c("");
  for (int i = 0; i < 100; ++i) {
    c.window->SetLabel(3, "8001 Zürich " + std::to_string(i));
    EXPECT_TRUE(c.window->ProcessEvents());
  }
  c.window->EndProgram();
  EXPECT_EQ(c.Output(), "");
}

TEST(ConsoleWindow, ProgressLineIsOverwrittenInPlaceAndThrottledOnATerminal) {
  Console c("", true);
  // A thousand rows, one every 1/32 s: a redraw at most every tenth of a
  // second, that is every fourth row.
  for (int i = 0; i < 1000; ++i) {
    c.window->SetLabel(3, "Zeile " + std::to_string(i));
    c.window->ProcessEvents();
    c.clock.now += 1.0 / 32;
  }
  c.window->SetLabel(1, "Mandant 01");
  const std::string out = c.Output();
  EXPECT_EQ(out.rfind("\rZeile 0\x1b[K", 0), 0u) << out;
  EXPECT_NE(out.find("\rZeile 4\x1b[K"), std::string::npos) << out;
  EXPECT_EQ(out.find("\rZeile 3\x1b[K"), std::string::npos) << out;
  EXPECT_EQ(std::count(out.begin(), out.end(), '\r'), 251);
  // The status line is cleared before a label line is printed.
  EXPECT_NE(out.find("\r\x1b[KMandant 01\n"), std::string::npos);
}

TEST(ConsoleWindow, AfterCtrlCNoBoxIsShownAndItsEscAnswerIsGiven) {
  Console c("j\n");
  InstallInterruptHandler();
  EXPECT_FALSE(c.window->EndRequested());
  std::raise(SIGINT);
  EXPECT_TRUE(c.window->EndRequested());
  EXPECT_FALSE(c.window->ProcessEvents());
  EXPECT_EQ(c.window->ShowMessageBox("Möchten Sie starten", kMbYesNoQuestion), kIdNo);
  EXPECT_EQ(c.window->ShowMessageBox("Der Mandant: X", kMbOk), kIdOk);
  EXPECT_EQ(c.Output(), "");
  InstallInterruptHandler();  // forgets the interrupt again
  EXPECT_EQ(c.window->ShowMessageBox("Möchten Sie starten", kMbYesNoQuestion), kIdYes);
}

TEST(NormalizeLineBreaks, EveryKindOfLineEndBecomesANewline) {
  EXPECT_EQ(NormalizeLineBreaks("a\r\nb\rc\nd\r\n\r\ne"), "a\nb\nc\nd\n\ne");
}

}  // namespace
}  // namespace kw
