#include "platform/win32/win32_filesystem.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "hostdata/shared_file.h"
#include "platform/fakes/fake_clock.h"
#include "platform/fakes/fake_window.h"
#include "tests/support/child_process.h"
#include "tests/support/refusing_platform.h"
#include "tests/support/temp_dir.h"

namespace kw {
namespace {

class Win32FileSystemTest : public ::testing::Test {
 protected:
  // A file named in the system's 8-bit code page, as the product names them.
  std::string Make(const std::string& name, const std::string& bytes) {
    const std::string path = dir.Path() + "\\" + name;
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD wrote = 0;
    EXPECT_TRUE(h != INVALID_HANDLE_VALUE && WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr));
    CloseHandle(h);
    return path;
  }
  // Whether another process can read the file now.
  static bool OtherProcessReads(const std::string& path) {
    return testing::RunCommand({"cmd", "/c", "type", path}).status == 0;
  }

  testing::TempDir dir;
  Win32FileSystem files;
};

TEST_F(Win32FileSystemTest, OpensExistingFilesReadsByPositionAndCreatesMissingOnesEmpty) {
  const std::string path = Make("public.pro", "0123456789");
  auto file = files.OpenExclusive(path);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Size(), 10);
  char buffer[8] = {};
  EXPECT_EQ(file->ReadAt(6, buffer, sizeof buffer), 4);  // short at the end
  EXPECT_EQ(std::string(buffer, 4), "6789");
  EXPECT_EQ(file->ReadAt(100, buffer, sizeof buffer), 0);
  file.reset();

  auto created = files.OpenExclusive(dir / "new.pro");
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(created->Size(), 0);
  EXPECT_EQ(files.OpenExclusive(dir / "missing\\new.pro"), nullptr);
  EXPECT_EQ(files.OpenExclusive(dir.Path()), nullptr);  // a folder
  EXPECT_EQ(files.OpenExclusive("NUL"), nullptr);        // a device
}

TEST_F(Win32FileSystemTest, WhileOpenNoOneElseMayOpenTheFileNotEvenToRead) {
  const std::string path = Make("public.pro", "abc");
  ASSERT_TRUE(OtherProcessReads(path));
  auto held = files.OpenExclusive(path);
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(files.OpenExclusive(path), nullptr);  // a second opener
  const HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(reader, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(OtherProcessReads(path));
  held.reset();
  EXPECT_TRUE(OtherProcessReads(path));
  EXPECT_NE(files.OpenExclusive(path), nullptr);
}

TEST_F(Win32FileSystemTest, TheRetryWindowRunsOnTheClockAndEndsOnceTheFileIsFree) {
  const std::string path = Make("public.pro", "abc");
  FakeClock clock;
  FakeWindow window;  // kept painted while it waits
  testing::RefusingPlatform host{files, clock, window};
  FileTable table;
  auto other = files.OpenExclusive(path);  // someone else has it
  const double start = clock.now;
  EXPECT_EQ(FileOpenRetry(host.Get(), table, path, true), -1);
  EXPECT_GE(clock.now - start, kRetrySeconds);
  EXPECT_LT(clock.now - start, kRetrySeconds + 0.1);
  other.reset();
  EXPECT_EQ(FileOpenRetry(host.Get(), table, path, true), 1);
}

TEST_F(Win32FileSystemTest, AReadOnlyFileIsOpenedForReadingAndStillShutsOthersOut) {
  const std::string path = Make("NoltData.def", "def");
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
  auto file = files.OpenExclusive(path);
  ASSERT_NE(file, nullptr);
  char buffer[3];
  EXPECT_EQ(file->ReadAt(0, buffer, 3), 3);
  EXPECT_EQ(files.OpenExclusive(path), nullptr);
  file.reset();
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Win32FileSystemTest, NormalFilesAreVisibleFilesOnDisk) {
  const std::string plain = Make("plain.mdb", "x");
  const std::string readOnly = Make("readonly.mdb", "x");
  const std::string hidden = Make("hidden.mdb", "x");
  const std::string system = Make("system.mdb", "x");
  SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
  SetFileAttributesA(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN);
  SetFileAttributesA(system.c_str(), FILE_ATTRIBUTE_SYSTEM);
  EXPECT_TRUE(files.IsNormalFile(plain));
  EXPECT_TRUE(files.IsNormalFile(readOnly));
  EXPECT_FALSE(files.IsNormalFile(hidden));
  EXPECT_FALSE(files.IsNormalFile(system));
  EXPECT_FALSE(files.IsNormalFile(dir.Path()));
  EXPECT_FALSE(files.IsNormalFile(dir / "missing.mdb"));
  EXPECT_FALSE(files.IsNormalFile(""));
  for (const std::string& p : {readOnly, hidden, system}) SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Win32FileSystemTest, PathsInUtf8ReachFilesNamedInTheProductsCodePage) {
  const std::string path = Make("K\xF6ln.pro", "x");  // named in code page 1252
  EXPECT_TRUE(files.IsNormalFile(dir.Path() + "\\Köln.pro"));
  EXPECT_NE(files.OpenExclusive(dir.Path() + "\\Köln.pro"), nullptr);
}

TEST_F(Win32FileSystemTest, FirstBytesAreReadSharedAndNotAtAllFromAHeldFile) {
  const std::string path = Make("Public.mdb", std::string(5000, 'j'));
  jet::FirstBytes first = ReadFirstBytes(path);
  EXPECT_TRUE(first.read);
  EXPECT_EQ(first.bytes.size(), 4096u);
  auto held = files.OpenExclusive(path);
  EXPECT_FALSE(ReadFirstBytes(path).read);
  EXPECT_FALSE(ReadFirstBytes(dir / "missing.mdb").read);
}

}  // namespace
}  // namespace kw
