#include "platform/ini/file_rewrite.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kw {
namespace {

namespace fs = std::filesystem;

class RewriteFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kw_rewrite.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    file_ = dir_ + "/NoltData.ini";
    std::ofstream(file_, std::ios::binary) << "[AdoMand]\r\nVersion=6.4\r\n";
  }
  void TearDown() override {
    chmod(dir_.c_str(), 0755);
    fs::remove_all(dir_);
  }

  static std::string Content(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static struct stat Stat(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st;
  }
  static std::string Attribute(const std::string& path, const char* name) {
    char value[256];
    const ssize_t n = getxattr(path.c_str(), name, value, sizeof value);
    return n < 0 ? "<none>" : std::string(value, static_cast<size_t>(n));
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  bool Rewrite(const std::string& bytes) { return RewriteFile(file_, bytes, Stat(file_)); }

  std::string dir_, file_;
};

constexpr char kNew[] = "[AdoMand]\r\nVersion=6.5\r\nDBName=NoltData\r\n";

TEST_F(RewriteFileTest, ExtendedAttributesAndModeGoOverToTheNewFile) {
  if (setxattr(file_.c_str(), "user.DOSATTRIB", "0x2", 3, 0) != 0) {
    GTEST_SKIP() << "no user attributes on this file system";
  }
  setxattr(file_.c_str(), "user.other", "", 0, 0);
  chmod(file_.c_str(), 0604);
  const ino_t before = Stat(file_).st_ino;
  ASSERT_TRUE(Rewrite(kNew));
  EXPECT_EQ(Content(file_), kNew);
  EXPECT_NE(Stat(file_).st_ino, before) << "a file with one name is replaced whole";
  EXPECT_EQ(Attribute(file_, "user.DOSATTRIB"), "0x2");
  EXPECT_EQ(Attribute(file_, "user.other"), "");
  EXPECT_EQ(Stat(file_).st_mode & 07777, 0604u);
  EXPECT_EQ(Names(), std::vector<std::string>{"NoltData.ini"});
}

// The access list as the kernel stores it: a version, then tag, permissions, id.
std::string AccessList(uint32_t namedUser) {
  std::string acl;
  auto put = [&acl](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) acl += static_cast<char>((v >> (8 * i)) & 0xff);
  };
  put(2, 4);
  const uint32_t none = 0xffffffffu;
  const uint32_t entries[][3] = {{0x01, 6, none},      {0x02, 6, namedUser}, {0x04, 4, none},
                                 {0x10, 6, none},      {0x20, 0, none}};
  for (const auto& e : entries) {
    put(e[0], 2);
    put(e[1], 2);
    put(e[2], 4);
  }
  return acl;
}

TEST_F(RewriteFileTest, AnAccessListGoesOverToTheNewFile) {
  const std::string acl = AccessList(4242);
  if (setxattr(file_.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0) {
    GTEST_SKIP() << "no access lists on this file system";
  }
  ASSERT_TRUE(Rewrite(kNew));
  EXPECT_EQ(Content(file_), kNew);
  EXPECT_EQ(Attribute(file_, "system.posix_acl_access"), acl);
  // The mask of the list shows as the group bits.
  EXPECT_EQ(Stat(file_).st_mode & 0777, 0660u);
}

TEST_F(RewriteFileTest, AFileWithOtherHardLinksIsWrittenInPlace) {
  const std::string other = dir_ + "/copy.ini";
  ASSERT_EQ(link(file_.c_str(), other.c_str()), 0);
  const ino_t before = Stat(file_).st_ino;
  ASSERT_TRUE(Rewrite(kNew));
  EXPECT_EQ(Content(file_), kNew);
  EXPECT_EQ(Content(other), kNew);
  EXPECT_EQ(Stat(file_).st_ino, before);
  EXPECT_EQ(Stat(file_).st_nlink, 2u);
  // A shorter text leaves nothing of the longer one behind.
  ASSERT_TRUE(Rewrite("[A]\r\n"));
  EXPECT_EQ(Content(other), "[A]\r\n");
  EXPECT_EQ(Names(), (std::vector<std::string>{"NoltData.ini", "copy.ini"}));
}

// Runs write in a child process as a user who may write the file but not
// add to its folder; returns the child's exit status.
int AsUserOfTheFileOnly(const std::string& dir, const std::string& file, bool (*write)()) {
  const uid_t user = geteuid() == 0 ? 65534 : geteuid();
  if (geteuid() == 0 && chown(file.c_str(), user, user) != 0) return -1;
  if (chmod(file.c_str(), 0644) != 0 || chmod(dir.c_str(), 0555) != 0) return -1;
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (geteuid() == 0 && (setgid(user) != 0 || setuid(user) != 0)) _exit(2);
    _exit(write() ? 0 : 1);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::string gFile, gNewFile;

TEST_F(RewriteFileTest, AFolderThatCannotTakeANewFileHasTheFileWrittenInPlace) {
  const ino_t before = Stat(file_).st_ino;
  gFile = file_;
  EXPECT_EQ(AsUserOfTheFileOnly(dir_, file_, [] {
              struct stat old {};
              return stat(gFile.c_str(), &old) == 0 && RewriteFile(gFile, kNew, old);
            }),
            0);
  EXPECT_EQ(Content(file_), kNew);
  EXPECT_EQ(Stat(file_).st_ino, before);
  EXPECT_EQ(Names(), std::vector<std::string>{"NoltData.ini"});
}

TEST_F(RewriteFileTest, ANewFileInAFolderThatCannotTakeOneIsNotWritten) {
  gNewFile = dir_ + "/new.ini";
  EXPECT_EQ(AsUserOfTheFileOnly(dir_, file_, [] { return RewriteFile(gNewFile, kNew, std::nullopt); }),
            1);
  EXPECT_EQ(Names(), std::vector<std::string>{"NoltData.ini"});
}

}  // namespace
}  // namespace kw
