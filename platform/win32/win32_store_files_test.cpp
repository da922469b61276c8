// The page store over Windows files: what the share mode and the product's
// lock file mean here. The journal and crash cases are the store's own
// tests, run on Windows files as on POSIX ones.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>

#include "platform/jet/file_page_store.h"
#include "platform/run_error.h"
#include "tests/support/temp_dir.h"

namespace kw::jet {
namespace {

class Win32StoreFilesTest : public ::testing::Test {
 protected:
  Win32StoreFilesTest() { std::ofstream(db, std::ios::binary) << std::string(4 * kPageSize, 'p'); }

  std::string OpenError(const std::string& path) {
    try {
      FilePageStore::Open(path, path);
    } catch (const RunError& e) {
      return e.Description();
    }
    return "";
  }
  // Another program's handle: the product's Jet opens for reading and
  // writing and lets others do the same.
  static HANDLE OpenAsTheProduct(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }

  testing::TempDir dir;
  std::string db = dir.Path() + "\\Public.mdb";
};

TEST_F(Win32StoreFilesTest, WhileOpenOthersMayReadTheFileButNoOneMayWriteIt) {
  auto store = FilePageStore::Open(db, db);
  const HANDLE reader = CreateFileA(db.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  CloseHandle(reader);
  const HANDLE product = OpenAsTheProduct(db);
  EXPECT_EQ(product, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(OpenError(db), "Could not use '" + db + "'; file already in use by another program. Close "
                           "Orbica-Kontor on every workstation, then run the conversion again.");
  store.reset();
  const HANDLE after = OpenAsTheProduct(db);
  EXPECT_NE(after, INVALID_HANDLE_VALUE);
  CloseHandle(after);
}

TEST_F(Win32StoreFilesTest, AFileTheProductHasOpenIsRefusedUnwritten) {
  const HANDLE product = OpenAsTheProduct(db);
  ASSERT_NE(product, INVALID_HANDLE_VALUE);
  EXPECT_NE(OpenError(db).find("file already in use by another program"), std::string::npos);
  CloseHandle(product);
}

TEST_F(Win32StoreFilesTest, ALockFileCountsOnlyWhileSomeProcessHoldsIt) {
  const std::string ldb = dir.Path() + "\\Public.ldb";
  std::ofstream(ldb, std::ios::binary) << std::string(64, 'u');  // left by a crash: not held
  EXPECT_EQ(OpenError(db), "");
  const HANDLE user = OpenAsTheProduct(ldb);
  ASSERT_NE(user, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenError(db), "Could not use '" + db + "'; the lock file '" + ldb +
                               "' beside it shows that it is in use. Close Orbica-Kontor on every "
                               "workstation, then run the conversion again. A lock file left behind by a "
                               "crash may be deleted once Orbica-Kontor is closed everywhere.");
  CloseHandle(user);
  EXPECT_EQ(OpenError(db), "");
}

TEST_F(Win32StoreFilesTest, WhatIsNoWritableDatabaseFileIsRefusedWithTheReason) {
  EXPECT_EQ(OpenError(dir.Path() + "\\Missing.mdb"), "Could not find file '" + dir.Path() + "\\Missing.mdb'.");
  EXPECT_NE(OpenError(dir.Path()).find("it is not a file"), std::string::npos);
  ASSERT_TRUE(SetFileAttributesA(db.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(OpenError(db), "Cannot update. Database or object is read-only. (file '" + db + "')");
  SetFileAttributesA(db.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Win32StoreFilesTest, AJournalThatMayNotBeDeletedRefusesTheOpenAndKeepsBoth) {
  const std::string journal = db + "-journal";
  std::ofstream(journal, std::ios::binary) << std::string(100, 'j');
  ASSERT_TRUE(SetFileAttributesA(journal.c_str(), FILE_ATTRIBUTE_READONLY));
  const std::string error = OpenError(db);
  EXPECT_NE(error.find("of an interrupted run cannot be rolled back, so the file is not used"), std::string::npos)
      << error;
  EXPECT_NE(GetFileAttributesA(journal.c_str()), INVALID_FILE_ATTRIBUTES);
  SetFileAttributesA(journal.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(OpenError(db), "");  // cut short: removed, the file kept
  EXPECT_EQ(GetFileAttributesA(journal.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace kw::jet
