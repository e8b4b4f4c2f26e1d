// Folders held by descriptor: nothing below a destination is reached through a link.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

#include "platform/FileSystem.h"
#include "platform/SafeFolder.h"
#include "support/TestUtil.h"

using namespace quelt::files;
using namespace quelt::test;

namespace {
std::string messageOf(const TFolder& root, const std::string& relative, bool create) {
  try {
    (void)root.Open(relative, create);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}
}  // namespace

TEST(SafeFolder, OpensBelowWithoutFollowingLinks) {
  TempDir dir, outside;
  makeDirs(dir / "real/deeper");
  writeFile(dir / "file", std::string("x"));
  ASSERT_EQ(::symlink(outside.path().c_str(), (dir / "link").c_str()), 0);
  ASSERT_EQ(::symlink("real", (dir / "inner-link").c_str()), 0);
  TFolder root(dir.path());

  EXPECT_EQ(messageOf(root, "real/deeper", false), "");
  EXPECT_EQ(messageOf(root, "made/on/the/way", true), "");
  EXPECT_TRUE(IsFolder(dir / "made/on/the/way"));
  // Links are in the way wherever they point, inside or out.
  EXPECT_EQ(messageOf(root, "link/new", true),
            "\"" + dir.path() + "/link\" is a symbolic link; nothing is written through it");
  EXPECT_EQ(messageOf(root, "inner-link", false),
            "\"" + dir.path() + "/inner-link\" is a symbolic link; nothing is written through it");
  EXPECT_EQ(messageOf(root, "file/x", true),
            "\"" + dir.path() + "/file\" is in the way: it is a file, not a folder");
  EXPECT_NE(messageOf(root, "../x", true).find("leads out of the destination"), std::string::npos);
  EXPECT_NE(messageOf(root, "missing", false).find("No such file"), std::string::npos);
  EXPECT_EQ(run("ls -A " + shq(outside.path())).out, "");

  EXPECT_EQ(root.KindOf("link"), TItemKind::Link);
  EXPECT_EQ(root.KindOf("real"), TItemKind::Folder);
  EXPECT_EQ(root.KindOf("file"), TItemKind::File);
  EXPECT_EQ(root.KindOf("nothing"), TItemKind::None);
}

TEST(SafeFolder, TemporaryFilesLinksAndRenames) {
  TempDir dir;
  TFolder root(dir.path());
  std::string a, b;
  int fa = root.CreateTemp("QLZ", a), fb = root.CreateTemp("QLZ", b);
  ASSERT_GE(fa, 0);
  ASSERT_GE(fb, 0);
  ::close(fa);
  ::close(fb);
  EXPECT_NE(a, b);
  EXPECT_EQ(a.rfind("QLZ", 0), 0u);
  EXPECT_EQ(a.size(), 9u);
  // Permissions as any new file gets them, not the private ones of mkstemp.
  mode_t mask = ::umask(0);
  ::umask(mask);
  struct stat st;
  ASSERT_EQ(::stat((dir / a).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);

  std::string link = root.MakeTempLink("target", "QLZ");
  ASSERT_TRUE(root.Rename(link, "named"));
  EXPECT_EQ(root.KindOf("named"), TItemKind::Link);
  // A rename replaces a link, never what it points to.
  ASSERT_EQ(::symlink((dir / b).c_str(), (dir / "to-b").c_str()), 0);
  writeFile(dir / a, std::string("new"));
  ASSERT_TRUE(root.Rename(a, "to-b"));
  EXPECT_EQ(root.KindOf("to-b"), TItemKind::File);
  EXPECT_EQ(readText(dir / b), "");
  EXPECT_TRUE(root.Remove("named"));
  EXPECT_FALSE(root.Remove("named"));
}

TEST(FileSystem, ResolveLinksFollowsTheWholeChain) {
  TempDir dir;
  makeDirs(dir / "sub");
  ASSERT_EQ(::symlink("sub/second", (dir / "first").c_str()), 0);
  ASSERT_EQ(::symlink("../final.zip", (dir / "sub/second").c_str()), 0);
  EXPECT_EQ(ResolveLinks(dir / "first"), dir / "sub/../final.zip");  // not there yet: fine
  EXPECT_EQ(ResolveLinks(dir / "plain"), dir / "plain");
  ASSERT_EQ(::symlink("loop", (dir / "loop").c_str()), 0);
  EXPECT_EQ(ResolveLinks(dir / "loop"), dir / "loop");  // gives up as the kernel does
}
