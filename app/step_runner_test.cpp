#include "app/step_runner.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/fakes/fake_platform.h"

namespace kw {
namespace {

struct Fixture : ::testing::Test, FakePlatform {
  StepRunner r{p};
};

using StepRunnerTest = Fixture;

TEST_F(StepRunnerTest, GeneralHandlerShowsTheDescriptionAndRepeatsTheStep) {
  int calls = 0;
  const int result = r.Run([&] {
    if (++calls < 3) throw RunError(calls == 1 ? "first" : "second");
    return 42;
  });
  EXPECT_EQ(result, 42);
  EXPECT_EQ(calls, 3);
  ASSERT_EQ(window.boxes.size(), 2u);
  EXPECT_EQ(window.boxes[0].text, "first");
  EXPECT_EQ(window.boxes[0].style, MB_ICONCRITICAL);
  EXPECT_EQ(window.boxes[1].text, "second");
  EXPECT_EQ(window.pointer, POINTER_DEFAULT);
  // Pending work is committed before each message.
  EXPECT_EQ(std::count(db.log.begin(), db.log.end(), "CommitPending"), 2);
}

TEST_F(StepRunnerTest, ThirdSameFailureInARowEndsTheRunAfterItsMessage) {
  int calls = 0;
  try {
    r.Run([&] {
      ++calls;
      throw RunError("Could not find file 'D:\\Daten\\Public\\Public.mdb'.");
    });
    FAIL() << "the run should have ended";
  } catch (const EndRun& e) {
    EXPECT_EQ(e.reason, EndRun::Failed);
  }
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(window.boxes.size(), 3u);
}

TEST_F(StepRunnerTest, ChangingDescriptionsKeepRetrying) {
  int calls = 0;
  r.Run([&] {
    ++calls;
    if (calls < 6) throw RunError(calls % 2 ? "locked" : "busy");
  });
  EXPECT_EQ(calls, 6);
  EXPECT_EQ(window.boxes.size(), 5u);
}

TEST_F(StepRunnerTest, ClientHandlerAbandonsSilently) {
  r.handler = Handler::Client;
  int calls = 0;
  EXPECT_THROW(r.Run([&] {
    ++calls;
    throw RunError("Record is deleted.");
  }),
               AbandonClient);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(window.boxes.empty());
}

TEST_F(StepRunnerTest, ClosingTheWindowEndsTheRun) {
  window.closeAfterRounds = 1;
  try {
    r.Events();
    FAIL();
  } catch (const EndRun& e) {
    EXPECT_EQ(e.reason, EndRun::Cancelled);
  }
}

}  // namespace
}  // namespace kw
