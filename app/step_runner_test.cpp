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
  EXPECT_EQ(window.boxes[0].style, kMbIconCritical);
  EXPECT_EQ(window.boxes[1].text, "second");
  EXPECT_EQ(window.pointer, kPointerDefault);
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

TEST_F(StepRunnerTest, FailuresThatDifferOnlyInNumbersAreTheSameFailureAcrossSteps) {
  // Each step fails once and then goes through, as a full disk makes every
  // write group fail in turn.
  int rows = 250;
  auto failingOnce = [&] {
    bool failed = false;
    return [&, failed]() mutable {
      if (failed) return;
      failed = true;
      rows += 3;
      throw RunError("database or disk is full. " + std::to_string(rows) +
                         " updated rows were not saved.",
                     kErrRowsNotSaved);
    };
  };
  r.Run(failingOnce());
  r.Run(failingOnce());
  try {
    r.Run(failingOnce());
    FAIL() << "the third message of the same failure should end the run";
  } catch (const EndRun& e) {
    EXPECT_EQ(e.reason, EndRun::Failed);
  }
  ASSERT_EQ(window.boxes.size(), 3u);
  EXPECT_EQ(window.boxes[2].text, "database or disk is full. 259 updated rows were not saved.");
  EXPECT_TRUE(r.Undone().rowsLost);
}

TEST(FailureShape, BlanksOutNumbersAndKeepsEverythingElse) {
  const struct {
    const char* a;
    const char* b;
    bool same;
  } cases[] = {
      {"256 updated rows were not saved.", "17 updated rows were not saved.", true},
      {"Row 12 of 'D:\\Daten\\Mand01\\NoltData.mdb'", "Row 7 of 'D:\\Daten\\Mand01\\NoltData.mdb'",
       true},
      {"Mand01 is locked", "Mand02 is locked", true},
      {"Could not update; currently locked.", "Record is deleted.", false},
      {"12 rows", "12  rows", false},
      {"", "", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FailureShape(c.a) == FailureShape(c.b), c.same) << c.a << " / " << c.b;
}

TEST_F(StepRunnerTest, AFailedCommitBeforeTheMessageIsShownFirstAndCountsAsLostRows) {
  r.DatabaseInHand("D:\\Daten\\Public\\Public.mdb");
  db.faults.push_back({"CommitPending", 0, 1,
                       "Could not save the changes to 'D:\\Daten\\Public\\Public.mdb': disk I/O "
                       "error. 40 updated rows were not saved.",
                       kErrRowsNotSaved});
  int calls = 0;
  r.Run([&] {
    if (++calls == 1) throw RunError("Could not update; currently locked.");
  });
  EXPECT_EQ(calls, 2);
  ASSERT_EQ(window.boxes.size(), 2u);
  EXPECT_EQ(window.boxes[0].text,
            "Could not save the changes to 'D:\\Daten\\Public\\Public.mdb': disk I/O error. 40 "
            "updated rows were not saved.");
  EXPECT_EQ(window.boxes[0].style, kMbIconCritical);
  EXPECT_EQ(window.boxes[1].text, "Could not update; currently locked.");
  EXPECT_TRUE(r.Undone().rowsLost);
  EXPECT_EQ(r.Undone().lostRowsIn, std::vector<std::string>{"D:\\Daten\\Public\\Public.mdb"});
  EXPECT_TRUE(r.Undone().clients.empty());
}

TEST_F(StepRunnerTest, UnderTheClientHandlerAFailedCommitIsSilentButCounted) {
  r.handler = Handler::Client;
  db.faults.push_back({"CommitPending", 0, 1, "disk full. 3 updated rows were not saved.",
                       kErrRowsNotSaved});
  r.DatabaseInHand("D:\\Daten\\Mand01\\NoltData.mdb");
  try {
    r.Run([] { throw RunError("Record is deleted."); });
    FAIL() << "the client should have been abandoned";
  } catch (const AbandonClient& a) {
    EXPECT_EQ(a.reason, "Record is deleted.");
  }
  EXPECT_TRUE(window.boxes.empty());
  EXPECT_EQ(r.Undone().lostRowsIn, std::vector<std::string>{"D:\\Daten\\Mand01\\NoltData.mdb"});
}

TEST_F(StepRunnerTest, OnlyErrorsNumberedSoCountAsLostRows) {
  r.Run([calls = 0]() mutable {
    if (++calls == 1) throw RunError("Could not update; currently locked.");
  });
  r.Run([calls = 0]() mutable {
    if (++calls == 1) throw std::runtime_error("std::bad_alloc");
  });
  EXPECT_EQ(window.boxes.size(), 2u);
  EXPECT_FALSE(r.Undone().Any());
  r.Account(RunError("1 updated row was not saved.", kErrRowsNotSaved));
  EXPECT_TRUE(r.Undone().rowsLost);
}

// Their messages tell the user what to do before running the conversion
// again: so the run ends after the one message, as the message says.
TEST_F(StepRunnerTest, AFileInUseElsewhereOrAJournalThatNoLongerFitsEndsTheRunAfterItsOneMessage) {
  for (int number : {kErrFileInUse, kErrJournalMisfit}) {
    SCOPED_TRACE(number);
    window.boxes.clear();
    int calls = 0;
    try {
      r.Run([&] {
        ++calls;
        throw RunError("Could not use 'D:\\Daten\\Public\\Public.mdb'; ... then run the conversion again.", number);
      });
      FAIL() << "the run should have ended";
    } catch (const EndRun& e) {
      EXPECT_EQ(e.reason, EndRun::Failed);
    }
    EXPECT_EQ(calls, 1);
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].style, kMbIconCritical);
  }
}

TEST_F(StepRunnerTest, AnEndAskedForDuringAnErrorMessageEndsTheRunInsteadOfRetrying) {
  window.endDuringBox = 1;
  int calls = 0;
  try {
    r.Run([&] {
      ++calls;
      throw RunError("Could not update; currently locked.");
    });
    FAIL();
  } catch (const EndRun& e) {
    EXPECT_EQ(e.reason, EndRun::Cancelled);
  }
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(window.boxes.size(), 1u);
}

TEST_F(StepRunnerTest, NoBoxIsShownOnceTheEndWasAskedFor) {
  window.endRequested = true;
  EXPECT_THROW(r.Box("Der Mandant: X", kMbOk), EndRun);
  EXPECT_THROW(r.EndIfRequested(), EndRun);
  EXPECT_TRUE(window.boxes.empty());
}

}  // namespace
}  // namespace kw
