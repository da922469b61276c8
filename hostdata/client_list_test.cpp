#include "hostdata/client_list.h"

#include <gtest/gtest.h>

#include "platform/fakes/fake_window.h"
#include "tests/support/refusing_platform.h"
#include "platform/cp1252.h"
#include "platform/fakes/fake_clock.h"
#include "platform/fakes/fake_filesystem.h"
#include "tools/sample/sample_files.h"

namespace kw {
namespace {

using sample::PutInt16;
using sample::PutInt32;

constexpr char kPublicDir[] = "C:\\Daten\\Public\\";
constexpr char kFile[] = "C:\\Daten\\Public\\public.pro";

// 100 bytes of head, the client position P, four bytes the reader skips,
// filler up to P, then `block` (count and records).
std::string FileWithBlock(int32_t position, const std::string& block) {
  std::string f(100, '\x55');
  PutInt32(f, position);
  f += "\xAA\xAA\xAA\xAA";
  if (position > 0 && position < 100000 && static_cast<size_t>(position - 1) > f.size()) {
    f.resize(static_cast<size_t>(position - 1), '\x66');
  }
  return f + block;
}

std::string Record(std::string_view name1252, std::string_view dir1252) {
  std::string r;
  PutInt16(r, static_cast<int16_t>(name1252.size()));
  r += name1252;
  PutInt16(r, static_cast<int16_t>(dir1252.size()));
  r += dir1252;
  return r;
}

std::string Count(int32_t n) {
  std::string s;
  PutInt32(s, n);
  return s;
}

class PublicProReadTest : public ::testing::Test {
 protected:
  PublicProReadTest() { m.PublicDir = kPublicDir; }

  // Reads with a list that already holds one client, to see what changes;
  // checks that the file is closed again.
  bool Read(int16_t kind = 1) {
    list.Mandanten = {{}, {"Alt", "Alt"}};
    list.MandantCount = 1;
    const bool result = PublicProRead(host.Get(), m, files, list, kind);
    for (int16_t n = 1; n <= kMaxFileNumber; ++n) EXPECT_EQ(FileOf(files, n), nullptr);
    if (auto* e = fs.Find(kFile)) {
      EXPECT_FALSE(e->lockedByUs);
    }
    return result;
  }
  bool ListUnchanged() const {
    return list.MandantCount == 1 && list.Mandanten.size() == 2 &&
           list.Mandanten[1].Name == "Alt";
  }

  FakeClock clock;
  FakeFileSystem fs{clock};
  FakeWindow window;
  kw::testing::RefusingPlatform host{fs, clock, window};
  KwandorModul m;
  FileTable files;
  ClientList list;
};

TEST_F(PublicProReadTest, ReadsASmallFileByteForByte) {
  std::string f(100, '\0');
  f += std::string("\x79\x00\x00\x00", 4);  // P = 121
  f += std::string(16, '\0');  // up to offset 120
  f += std::string("\x02\x00\x00\x00", 4);  // n = 2
  f += std::string("\x01\x00\x41\x02\x00\x4D\x31", 7);  // "A", "M1"
  f += std::string("\x00\x00\x02\x00\x4D\x32", 6);  // "", "M2"
  ASSERT_EQ(f.size(), 137u);
  fs.Add(kFile, f);
  EXPECT_TRUE(Read());
  EXPECT_EQ(list.MandantCount, 2);
  ASSERT_EQ(list.Mandanten.size(), 3u);
  EXPECT_EQ(list.Mandanten[1].Name, "A");
  EXPECT_EQ(list.Mandanten[1].Directory, "M1");
  EXPECT_EQ(list.Mandanten[2].Name, "");
  EXPECT_EQ(list.Mandanten[2].Directory, "M2");
}

TEST_F(PublicProReadTest, NoClientPositionMeansNoClients) {
  const std::string block = Count(1) + Record("A", "M1");
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case cases[] = {
      {"empty file", ""},
      {"100 bytes", std::string(100, '\x01')},
      {"position cut short", FileWithBlock(121, block).substr(0, 103)},
      {"position 0, block at 121 all the same", FileWithBlock(0, std::string(12, '\0') + block)},
      {"negative position", FileWithBlock(-5, block)},
  };
  for (const Case& c : cases) {
    fs.Add(kFile, c.bytes);
    EXPECT_FALSE(Read()) << c.what;
    EXPECT_TRUE(ListUnchanged()) << c.what;
  }
}

TEST_F(PublicProReadTest, MissingFileIsCreatedEmptyAndGivesNoClients) {
  EXPECT_FALSE(Read());
  EXPECT_TRUE(ListUnchanged());
  ASSERT_NE(fs.Find(kFile), nullptr);
  EXPECT_EQ(fs.Find(kFile)->bytes, "");
}

TEST_F(PublicProReadTest, FileThatCannotBeOpenedLeavesTheListAfterTheWindow) {
  fs.Add(kFile, FileWithBlock(121, Count(1) + Record("A", "M1"))).heldUntil = clock.now + 60;
  const double start = clock.now;
  EXPECT_FALSE(Read());
  EXPECT_TRUE(ListUnchanged());
  EXPECT_GE(clock.now - start, kRetrySeconds);
}

TEST_F(PublicProReadTest, OtherKindsOpenNothingAndChangeNothing) {
  for (int16_t kind : {int16_t{0}, int16_t{2}, int16_t{-1}}) {
    EXPECT_FALSE(Read(kind));
    EXPECT_TRUE(ListUnchanged());
  }
  EXPECT_EQ(fs.openAttempts, 0);
  EXPECT_EQ(fs.Find(kFile), nullptr);
}

TEST_F(PublicProReadTest, ZeroAndNegativeCountsAreTakenButListNoClients) {
  fs.Add(kFile, FileWithBlock(121, Count(0) + Record("A", "M1")));
  EXPECT_FALSE(Read());
  EXPECT_EQ(list.MandantCount, 0);

  fs.Add(kFile, FileWithBlock(121, Count(-3) + Record("A", "M1")));
  EXPECT_FALSE(Read());
  EXPECT_EQ(list.MandantCount, -3);
  EXPECT_EQ(list.Mandanten[1].Name, "Alt");  // the records are not touched

  fs.Add(kFile, FileWithBlock(121, Count(-32768)));
  EXPECT_FALSE(Read());
  EXPECT_EQ(list.MandantCount, -32768);
}

TEST_F(PublicProReadTest, CountsBeyondSixteenBitsLeaveTheListAlone) {
  for (int32_t n : {32768, 65537, INT32_MAX, -32769, INT32_MIN}) {
    fs.Add(kFile, FileWithBlock(121, Count(n) + Record("A", "M1")));
    EXPECT_FALSE(Read()) << n;
    EXPECT_TRUE(ListUnchanged()) << n;
  }
}

TEST_F(PublicProReadTest, CountBeyondTheEndOfTheFileIsNoCount) {
  fs.Add(kFile, FileWithBlock(121, ""));
  EXPECT_FALSE(Read());
  EXPECT_TRUE(ListUnchanged());
  fs.Add(kFile, FileWithBlock(121, std::string("\x02\x00", 2)));  // half a count
  EXPECT_FALSE(Read());
  EXPECT_TRUE(ListUnchanged());
  fs.Add(kFile, std::string(100, '\0') + Count(INT32_MAX) + Count(1) + Record("A", "M1"));
  EXPECT_FALSE(Read());
  EXPECT_TRUE(ListUnchanged());
}

TEST_F(PublicProReadTest, LargestCountInAShortFileReadsWhatIsThere) {
  fs.Add(kFile, FileWithBlock(121, Count(32767) + Record("A", "M1") + Record("B", "M2")));
  EXPECT_TRUE(Read());
  EXPECT_EQ(list.MandantCount, 32767);
  ASSERT_EQ(list.Mandanten.size(), 32768u);
  EXPECT_EQ(list.Mandanten[2].Name, "B");
  for (size_t i = 3; i < list.Mandanten.size(); ++i) {
    ASSERT_TRUE(list.Mandanten[i].Name.empty() && list.Mandanten[i].Directory.empty()) << i;
  }
}

TEST_F(PublicProReadTest, EveryCutOfAValidFileGivesOnlyWhatTheFileHolds) {
  const MandantRecord want[] = {{"Muster AG", "Mand01"}, {"", "Mand02"}, {"Zürich", "Z"}};
  std::string block = Count(3);
  block += Record("Muster AG", "Mand01");
  block += Record("", "Mand02");
  block += Record("Z\xfcrich", "Z");
  const std::string full = FileWithBlock(121, block);
  for (size_t len = 0; len <= full.size(); ++len) {
    fs.Add(kFile, full.substr(0, len));
    const bool result = Read();
    const bool countThere = len >= 124;
    EXPECT_EQ(result, countThere) << len;
    if (!countThere) {
      EXPECT_TRUE(ListUnchanged()) << len;
      continue;
    }
    EXPECT_EQ(list.MandantCount, 3) << len;
    ASSERT_EQ(list.Mandanten.size(), 4u) << len;
    size_t end = 124;  // offset just after record i
    for (int i = 1; i <= 3; ++i) {
      const MandantRecord& got = list.Mandanten[static_cast<size_t>(i)];
      const MandantRecord& w = want[i - 1];
      end += 4 + Utf8ToCp1252(w.Name).size() + w.Directory.size();
      if (len >= end) {
        EXPECT_EQ(got.Name, w.Name) << len << " record " << i;
        EXPECT_EQ(got.Directory, w.Directory) << len << " record " << i;
      } else {
        EXPECT_EQ(got.Name, "") << len << " record " << i;
        EXPECT_EQ(got.Directory, "") << len << " record " << i;
      }
    }
  }
}

TEST_F(PublicProReadTest, NegativeRecordLengthEndsTheList) {
  std::string block = Count(3) + Record("A", "M1");
  PutInt16(block, -1);
  block += "garbage" + Record("C", "M3");
  fs.Add(kFile, FileWithBlock(121, block));
  EXPECT_TRUE(Read());
  EXPECT_EQ(list.Mandanten[1].Name, "A");
  EXPECT_EQ(list.Mandanten[2].Name, "");
  EXPECT_EQ(list.Mandanten[3].Name, "");
}

TEST_F(PublicProReadTest, TextsAreOneBytePerCharacterInCodePage1252) {
  // "Müller" is six bytes after a length of 6.
  fs.Add(kFile, FileWithBlock(200, Count(1) + std::string("\x06\x00M\xfcller\x05\x00\xc4rzte", 15) +
                                       "trailing bytes are never read"));
  EXPECT_TRUE(Read());
  EXPECT_EQ(list.Mandanten[1].Name, "Müller");
  EXPECT_EQ(list.Mandanten[1].Directory, "Ärzte");
}

}  // namespace
}  // namespace kw
