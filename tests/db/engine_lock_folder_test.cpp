// The private lock folder of the embedded engine: where it goes, which existing folders it
// refuses (naming them), and that FIREBIRD_LOCK is set only when it was not.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "db/EngineLockFolder.h"
#include "tests/support/OrdinaryUser.h"
#include "tests/support/Process.h"

namespace {

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

// Sets or unsets an environment variable for the life of the object.
class Variable {
 public:
  Variable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~Variable() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(EngineLockFolder, GoesInTheUsersRuntimeFolderElseInTheTemporaryFolder) {
  test::TempDir runtime, tmp;
  Variable tmpdir("TMPDIR", tmp.Path().c_str());
  const std::string own = tmp.Path() + "/lirenta-" + std::to_string(geteuid());
  {
    Variable xdg("XDG_RUNTIME_DIR", runtime.Path().c_str());
    EXPECT_EQ(db::PrivateLockFolderPath(), runtime.Path() + "/lirenta");
    test::HandTo(runtime.Path(), test::kNobody, 0700);  // another user's runtime folder
    EXPECT_EQ(db::PrivateLockFolderPath(), own);
  }
  Variable xdg("XDG_RUNTIME_DIR", nullptr);
  EXPECT_EQ(db::PrivateLockFolderPath(), own);
  Variable relative("TMPDIR", "relative");
  EXPECT_EQ(db::PrivateLockFolderPath(), "/tmp/lirenta-" + std::to_string(geteuid()));
}

TEST(EngineLockFolder, MakesOrNarrowsAFolderOfTheUsersAndRefusesAnyOtherNamingIt) {
  test::TempDir dir;
  const std::string made = dir.File("made"), open = dir.File("open");
  EXPECT_EQ(db::MakePrivateFolder(made), std::nullopt);
  EXPECT_EQ(ModeOf(made), 0700u);
  ASSERT_EQ(mkdir(open.c_str(), 0777), 0);
  chmod(open.c_str(), 0777);
  EXPECT_EQ(db::MakePrivateFolder(open), std::nullopt);
  EXPECT_EQ(ModeOf(open), 0700u);

  const std::string link = dir.File("link"), file = dir.File("file"), other = dir.File("other");
  std::filesystem::create_directory_symlink(made, link);
  test::WriteFile(file, "");
  ASSERT_EQ(mkdir(other.c_str(), 0700), 0);
  test::HandTo(other, test::kNobody, 0700);
  EXPECT_EQ(db::MakePrivateFolder(link),
            "Cannot use the lock folder " + link + ": it is a symbolic link.");
  EXPECT_EQ(db::MakePrivateFolder(file),
            "Cannot use the lock folder " + file + ": it is not a folder.");
  EXPECT_EQ(db::MakePrivateFolder(other),
            "Cannot use the lock folder " + other + ": it belongs to another user (uid 65534).");
  EXPECT_EQ(
      db::MakePrivateFolder(dir.File("none/deeper")),
      "Cannot use the lock folder " + dir.File("none/deeper") + ": No such file or directory.");
  EXPECT_EQ(ModeOf(other), 0700u);
}

TEST(EngineLockFolder, SetsTheVariableOnlyWhenItIsNotSet) {
  test::TempDir runtime;
  Variable xdg("XDG_RUNTIME_DIR", runtime.Path().c_str());
  {
    Variable lock(db::kLockFolderVariable, "/srv/locks");
    EXPECT_EQ(db::UsePrivateLockFolder(), std::nullopt);
    EXPECT_STREQ(std::getenv(db::kLockFolderVariable), "/srv/locks");
    EXPECT_FALSE(std::filesystem::exists(runtime.Path() + "/lirenta"));
  }
  Variable lock(db::kLockFolderVariable, nullptr);
  {
    // A refused folder leaves the variable unset: the engine keeps its own default.
    test::WriteFile(runtime.Path() + "/lirenta", "");
    EXPECT_NE(db::UsePrivateLockFolder(), std::nullopt);
    EXPECT_EQ(std::getenv(db::kLockFolderVariable), nullptr);
    std::filesystem::remove(runtime.Path() + "/lirenta");
  }
  EXPECT_EQ(db::UsePrivateLockFolder(), std::nullopt);
  ASSERT_NE(std::getenv(db::kLockFolderVariable), nullptr);
  EXPECT_EQ(std::getenv(db::kLockFolderVariable), runtime.Path() + "/lirenta");
  EXPECT_EQ(ModeOf(runtime.Path() + "/lirenta"), 0700u);
}

}  // namespace
