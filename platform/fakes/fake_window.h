#pragma once
// A window for tests: records every label change and message box, and
// answers message boxes from a script (default: Yes / OK). The user's request
// to end comes at a chosen round of events or while a chosen box is up; boxes
// asked for afterwards are recorded all the same, so that a test sees them.
#include <deque>
#include <string>
#include <vector>

#include "platform/window.h"

namespace kw {

class FakeWindow : public WindowSystem {
 public:
  struct Box {
    std::string text;
    int style;
  };

  void SetLabel(int label, std::string_view text) override {
    labels[label] = std::string(text);
    events.push_back("Label" + std::to_string(label) + "=" + std::string(text));
  }
  TwipsSize ScreenSize() override { return {15360, 11520}; }
  TwipsSize WindowSize() override { return {4665, 2595}; }
  void Move(int leftTwips, int topTwips) override {
    left = leftTwips;
    top = topTwips;
  }
  void Show() override { shown = true; }
  void SetMousePointer(int p) override {
    pointer = p;
    events.push_back("Pointer=" + std::to_string(p));
  }
  bool ProcessEvents() override {
    ++eventRounds;
    if (closeAfterRounds >= 0 && eventRounds >= closeAfterRounds) endRequested = true;
    return !endRequested;
  }
  bool EndRequested() override { return endRequested; }
  int ShowMessageBox(std::string_view text, int style) override {
    boxes.push_back({std::string(text), style});
    events.push_back("Box(" + std::to_string(style) + ")=" + std::string(text));
    const bool yesNo = style == kMbYesNoQuestion;
    if (endDuringBox == static_cast<int>(boxes.size())) endRequested = true;
    if (endRequested) return yesNo ? kIdNo : kIdOk;
    if (!answers.empty()) {
      int a = answers.front();
      answers.pop_front();
      return a;
    }
    return yesNo ? kIdYes : kIdOk;
  }
  void EndProgram() override { ended = true; }

  std::string labels[5];
  std::vector<std::string> events;
  std::vector<Box> boxes;
  std::deque<int> answers;
  int left = -1, top = -1, pointer = -1, eventRounds = 0;
  int closeAfterRounds = -1;  // ProcessEvents returns false from this round on
  int endDuringBox = -1;      // the user asks to end while this box (1 = the first) is up
  bool endRequested = false;
  bool shown = false, ended = false;
};

}  // namespace kw
