#include "hostdata/shared_file.h"

#include <gtest/gtest.h>

#include "tests/support/refusing_platform.h"
#include "platform/fakes/fake_clock.h"
#include "platform/fakes/fake_filesystem.h"
#include "platform/fakes/fake_window.h"

namespace kw {
namespace {

constexpr char kFile[] = "C:\\Daten\\Public\\public.pro";

class SharedFileTest : public ::testing::Test {
 protected:
  FakeClock clock;
  FakeFileSystem fs{clock};
  FakeWindow window;
  kw::testing::RefusingPlatform host{fs, clock, window};
  Platform& p = host.Get();
  FileTable files;
  double Elapsed(double start) const { return clock.now - start; }
};

TEST_F(SharedFileTest, FreeFileOpensAtOnceWithTheLowestFreeNumber) {
  fs.Add(kFile, "abc");
  fs.Add("C:\\b.def");
  fs.Add("C:\\c.def");
  const double start = clock.now;
  EXPECT_EQ(FileOpenRetry(p, files, kFile, true), 1);
  EXPECT_EQ(FileOpenRetry(p, files, "C:\\b.def", true), 2);
  EXPECT_EQ(FileOpenRetry(p, files, "C:\\c.def", false), 3);
  EXPECT_EQ(fs.openAttempts, 3);
  EXPECT_EQ(clock.pauses, 0);
  EXPECT_EQ(window.eventRounds, 0);
  EXPECT_EQ(Elapsed(start), 0);

  FileClose(files, 2);  // the gap is taken first
  EXPECT_EQ(FileOpenRetry(p, files, "C:\\b.def", false), 2);
  EXPECT_EQ(FileOf(files, 1)->Size(), 3);
  for (int n : {0, -1, 4, 256}) EXPECT_EQ(FileOf(files, static_cast<int16_t>(n)), nullptr) << n;
}

TEST_F(SharedFileTest, FileHeldForThreeSecondsOpensAfterAboutThreeSeconds) {
  const double start = clock.now;
  fs.Add(kFile).heldUntil = start + 3.0;
  EXPECT_EQ(FileOpenRetry(p, files, kFile, false), 1);
  EXPECT_GE(Elapsed(start), 3.0);
  EXPECT_LT(Elapsed(start), 3.1);
  // The window was kept painted all the while: a round of events with every attempt.
  EXPECT_EQ(window.eventRounds, fs.openAttempts - 1);
}

TEST_F(SharedFileTest, FileHeldLongerThanTheWindowGivesMinusOneAfterTenSeconds) {
  const double start = clock.now;
  fs.Add(kFile).heldUntil = start + 11.0;
  EXPECT_EQ(FileOpenRetry(p, files, kFile, true), -1);
  EXPECT_GE(Elapsed(start), kRetrySeconds);
  EXPECT_LT(Elapsed(start), kRetrySeconds + 0.1);
  for (int16_t n = 1; n <= kMaxFileNumber; ++n) EXPECT_EQ(FileOf(files, n), nullptr);
}

TEST_F(SharedFileTest, MissingFileThatMustExistGivesMinusOneAtOnceAndIsNotCreated) {
  EXPECT_EQ(FileOpenRetry(p, files, kFile, true), -1);
  EXPECT_EQ(fs.openAttempts, 0);
  EXPECT_EQ(clock.pauses, 0);
  EXPECT_EQ(fs.Find(kFile), nullptr);
}

TEST_F(SharedFileTest, MissingFileMayBeCreatedEmpty) {
  fs.createAnywhere = false;
  fs.AddDirectory("C:\\Daten\\Public");
  const int16_t n = FileOpenRetry(p, files, kFile, false);
  ASSERT_EQ(n, 1);
  EXPECT_EQ(FileOf(files, n)->Size(), 0);
  ASSERT_NE(fs.Find(kFile), nullptr);
  EXPECT_TRUE(FileExists(p, kFile));
}

TEST_F(SharedFileTest, MissingDirectoryGivesMinusOneAfterTheWindow) {
  fs.createAnywhere = false;
  const double start = clock.now;
  EXPECT_EQ(FileOpenRetry(p, files, kFile, false), -1);
  EXPECT_GE(Elapsed(start), kRetrySeconds);
  EXPECT_LT(Elapsed(start), kRetrySeconds + 0.1);
  EXPECT_EQ(fs.Find(kFile), nullptr);
}

TEST_F(SharedFileTest, NoFreeFileNumberGivesMinusOneAfterTheWindow) {
  for (int i = 1; i <= kMaxFileNumber; ++i) {
    const std::string name = "C:\\f" + std::to_string(i);
    fs.Add(name);
    ASSERT_EQ(FileOpenRetry(p, files, name, true), i);
  }
  fs.Add(kFile);
  const double start = clock.now;
  EXPECT_EQ(FileOpenRetry(p, files, kFile, true), -1);
  EXPECT_GE(Elapsed(start), kRetrySeconds);
  // A number that becomes free is used by the next call.
  FileClose(files, 77);
  EXPECT_EQ(FileOpenRetry(p, files, kFile, true), 77);
}

// Time moves a little with every look at the clock, so that a loop that
// never pauses still ends; the test then sees that it did not pause.
class CountingClock : public FakeClock {
 public:
  double Seconds() override {
    now += 0.0001;
    return now;
  }
};

TEST(SharedFileRetry, RetryLoopPausesBetweenAttempts) {
  CountingClock clock;
  FakeFileSystem fs{clock};
  FakeWindow window;
  kw::testing::RefusingPlatform host{fs, clock, window};
  FileTable files;
  fs.Add(kFile).heldUntil = clock.now + 100;
  EXPECT_EQ(FileOpenRetry(host.Get(), files, kFile, false), -1);
  ASSERT_GT(fs.openAttempts, 1);
  EXPECT_EQ(clock.pauses, fs.openAttempts - 1);  // a pause before every retry
  EXPECT_LT(fs.openAttempts, 10000);
}

TEST_F(SharedFileTest, FileExistsSeesOnlyNormalFiles) {
  fs.Add("C:\\normal.mdb");
  fs.Add("C:\\hidden.mdb").hidden = true;
  fs.Add("C:\\system.mdb").system = true;
  fs.AddDirectory("C:\\Mand01");
  EXPECT_TRUE(FileExists(p, "C:\\normal.mdb"));
  EXPECT_TRUE(FileExists(p, "c:\\NORMAL.MDB"));
  EXPECT_FALSE(FileExists(p, "C:\\hidden.mdb"));
  EXPECT_FALSE(FileExists(p, "C:\\system.mdb"));
  EXPECT_FALSE(FileExists(p, "C:\\Mand01"));
  EXPECT_FALSE(FileExists(p, "C:\\missing.mdb"));
  EXPECT_FALSE(FileExists(p, ""));
}

TEST_F(SharedFileTest, CursorReadsLittleEndianNumbersAndCountedTexts) {
  fs.Add(kFile, std::string("\x34\x12\xFE\xFF\xFF\xFF\x03\x00M\xFCh\x7F", 12));
  ASSERT_EQ(FileOpenRetry(p, files, kFile, true), 1);
  FileCursor c(*FileOf(files, 1));
  EXPECT_EQ(c.ReadInt16(), 0x1234);
  EXPECT_EQ(c.ReadInt32(), -2);
  EXPECT_EQ(c.ReadText(), "Müh");
  EXPECT_EQ(c.Remaining(), 1);
  EXPECT_EQ(c.ReadByte(), 0x7F);
  EXPECT_FALSE(c.failed());
  c.Seek(4);  // positions count from 1
  EXPECT_EQ(c.ReadInt32(), 0x03FFFFFF);
}

TEST_F(SharedFileTest, CursorFailsPastTheEndAndOnImpossiblePositions) {
  fs.Add(kFile, std::string("\x01\x02\x03\x05\x00" "ab", 7));
  ASSERT_EQ(FileOpenRetry(p, files, kFile, true), 1);
  FileCursor c(*FileOf(files, 1));
  c.Seek(4);
  EXPECT_EQ(c.ReadText(), "");  // 5 bytes announced, 2 there
  EXPECT_TRUE(c.failed());
  EXPECT_EQ(c.ReadByte(), 0);  // stays failed
  for (int64_t pos : {int64_t{0}, int64_t{-1}, int64_t{8}, INT64_MIN, INT64_MAX}) {
    FileCursor d(*FileOf(files, 1));
    d.Seek(pos);
    EXPECT_EQ(d.ReadInt32(), 0) << pos;
    EXPECT_TRUE(d.failed()) << pos;
  }
  FileCursor e(*FileOf(files, 1));
  e.Seek(4);
  EXPECT_EQ(e.ReadInt32(), 0x62610005);  // the last four bytes exactly
  EXPECT_FALSE(e.failed());
  e.Seek(1);
  EXPECT_EQ(e.ReadText(), "");  // length 0x0201 > what is there
  EXPECT_TRUE(e.failed());
}

}  // namespace
}  // namespace kw
