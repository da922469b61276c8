#include "platform/console/console_window.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/interrupt.h"

namespace kw {
namespace {

constexpr double kStatusInterval = 0.1;  // seconds between status redraws

}  // namespace

ConsoleWindow::ConsoleWindow(Clock& clock, std::FILE* in, std::FILE* out, bool inIsTerminal, bool outIsTerminal)
    : in_(in), out_(out), inTty_(inIsTerminal), outTty_(outIsTerminal), clock_(clock) {}

void ConsoleWindow::SetLabel(int label, std::string_view text) {
  if (label < 1 || label > 4) return;
  if (label == 3) {
    if (labels_[3] != text) {
      labels_[3].assign(text);
      statusDirty_ = true;
    }
    return;
  }
  if (labels_[label] == text) return;
  labels_[label].assign(text);
  if (label == 4) return;
  // A new database line starts a new block: its activity line is printed
  // even when the text is the same as the block before had last, so that a
  // client's first column is never missing from the log.
  if (label == 1) labels_[2].clear();
  ClearStatus();
  std::fprintf(out_, "%s\n", NormalizeLineBreaks(text).c_str());
  std::fflush(out_);
}

bool ConsoleWindow::ProcessEvents() {
  DrawStatus(false);
  return !EndRequested();
}

bool ConsoleWindow::EndRequested() { return Interrupted(); }

void ConsoleWindow::DrawStatus(bool force) {
  if (!outTty_ || !statusDirty_) return;
  const double now = clock_.Seconds();
  if (!force && now - lastDraw_ < kStatusInterval) return;
  lastDraw_ = now;
  statusDirty_ = false;
  statusShown_ = true;
  std::fprintf(out_, "\r%s\x1b[K", NormalizeLineBreaks(labels_[3]).c_str());
  std::fflush(out_);
}

void ConsoleWindow::ClearStatus() {
  if (!statusShown_) return;
  std::fputs("\r\x1b[K", out_);
  statusShown_ = false;
  statusDirty_ = !labels_[3].empty();
}

int ConsoleWindow::ReadChar() {
  const int fd = fileno(in_);
  if (fd < 0) return EndRequested() ? EOF : std::fgetc(in_);
  // The input is read past stdio, byte by byte, so that waiting for it can
  // also watch for Ctrl-C: one that came just before the wait would
  // otherwise leave the prompt waiting for a line.
  for (;;) {
    if (EndRequested()) return EOF;
    pollfd fds[2] = {{fd, POLLIN, 0}, {InterruptFd(), POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) return EOF;
    if (EndRequested()) return EOF;
    if (fds[0].revents == 0) continue;
    unsigned char c;
    const ssize_t n = read(fd, &c, 1);
    if (n == 1) return c;
    if (n == 0 || errno != EINTR) return EOF;
  }
}

int ConsoleWindow::ShowMessageBox(std::string_view text, int style) {
  const bool yesNo = style == kMbYesNoQuestion;
  if (EndRequested()) return yesNo ? kIdNo : kIdOk;
  ClearStatus();
  const char* prompt = yesNo                           ? "Frage [Ja/Nein] "
                       : style == kMbIconCritical      ? "Fehler [OK] "
                       : style == kMbIconExclamation   ? "Warnung [OK] "
                                                       : "[OK] ";
  std::fprintf(out_, "%s\n%s", NormalizeLineBreaks(text).c_str(), prompt);
  std::fflush(out_);
  std::string answer;
  int c;
  while ((c = ReadChar()) != EOF && c != '\n') answer += static_cast<char>(c);
  if (c == EOF) clearerr(in_);
  if (!inTty_ || c == EOF) std::fputc('\n', out_);
  std::fflush(out_);
  if (!yesNo || EndRequested()) return yesNo ? kIdNo : kIdOk;
  const char first = answer.empty() ? '\0' : answer[0];
  return first == 'j' || first == 'J' || first == 'y' || first == 'Y' ? kIdYes : kIdNo;
}

void ConsoleWindow::EndProgram() {
  if (statusShown_) std::fputc('\n', out_);
  statusShown_ = false;
  std::fflush(out_);
}

}  // namespace kw
