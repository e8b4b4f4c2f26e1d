// The temporary folder: the user's own by default, made private, and refused when something
// else stands in its place.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/TempFolder.h"
#include "support/ScopedEnv.h"
#include "support/TestUtil.h"

using namespace quelt;
using namespace quelt::test;

namespace {

mode_t modeOf(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

TEST(TempFolder, TheDefaultIsMadePrivateAndRefusedWhenSomethingElseIsThere) {
  TempDir dir;
  TScopedEnv env;
  env.Set("XDG_CACHE_HOME", dir / "cache");
  const std::string folder = dir / "cache/quelt";
  ASSERT_EQ(DefaultTempFolder(), folder);

  PrepareTempFolder(folder + "/");
  EXPECT_TRUE(S_ISDIR(modeOf(folder)));
  EXPECT_EQ(modeOf(folder) & 0777, 0700u);
  // A folder left open to others is closed again.
  ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
  PrepareTempFolder(folder);
  EXPECT_EQ(modeOf(folder) & 0777, 0700u);

  // A link in its place is not taken, even to a folder.
  ASSERT_EQ(::rmdir(folder.c_str()), 0);
  makeDirs(dir / "elsewhere");
  ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), folder.c_str()), 0);
  EXPECT_THROW(PrepareTempFolder(folder), std::runtime_error);
  ASSERT_EQ(::unlink(folder.c_str()), 0);
  writeFile(folder, "a file");
  EXPECT_THROW(PrepareTempFolder(folder), std::runtime_error);
}

TEST(TempFolder, AFolderTheUserNamedIsMadeWhenMissing) {
  TempDir dir;
  PrepareTempFolder(dir / "mine/deeper");
  EXPECT_TRUE(S_ISDIR(modeOf(dir / "mine/deeper")));
  writeFile(dir / "plain", "x");
  EXPECT_THROW(PrepareTempFolder(dir / "plain"), std::runtime_error);
  EXPECT_THROW(PrepareTempFolder(""), std::runtime_error);
}

}  // namespace
