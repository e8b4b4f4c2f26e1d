#include <gtest/gtest.h>
#include <unistd.h>

#include "engine/DirSearch.h"
#include "engine/Errors.h"
#include "support/TestUtil.h"

using namespace quelt;
using namespace quelt::test;

namespace {
std::vector<std::string> all(TDirSearch& search, const std::string& base) {
  std::vector<std::string> found;
  while (auto p = search.Next()) found.push_back(p->substr(base.size() + 1));
  return found;
}
}  // namespace

TEST(DirSearch, DepthFirstInNameOrderWithTheMaskRules) {
  TempDir dir;
  for (const char* f : {"b.txt", "readme", "a.bin", ".profile", "sub/x.txt", "sub/deeper/y.txt",
                        ".cache/hidden.txt", "z.txt"})
    writeFile(dir / f, std::string("x"));
  // A link back up would loop forever if folder links were followed.
  ASSERT_EQ(::symlink(dir.path().c_str(), (dir / "sub/loop").c_str()), 0);

  TDirSearch flat(dir.path(), false, "*.*");
  EXPECT_EQ(all(flat, dir.path()),
            (std::vector<std::string>{".profile", "a.bin", "b.txt", "readme", "z.txt"}));
  // Folders whose names begin with "." are searched like any other.
  TDirSearch deep(dir.path(), true, "*.txt");
  EXPECT_EQ(all(deep, dir.path()),
            (std::vector<std::string>{".cache/hidden.txt", "b.txt", "sub/deeper/y.txt", "sub/x.txt",
                                      "z.txt"}));
  TDirSearch noExtension(dir.path(), true, "*.");
  EXPECT_EQ(all(noExtension, dir.path()), (std::vector<std::string>{"readme"}));
  EXPECT_THROW(TDirSearch(dir / "missing", false, "*"), EInOutError);
}

TEST(DirSearch, EmptyFoldersAndLinksToFolders) {
  TempDir dir;
  makeDirs(dir / "empty");
  makeDirs(dir / "full/empty-inside");
  writeFile(dir / "full/f.txt", std::string("f"));
  ASSERT_EQ(::symlink("full", (dir / "folder-link").c_str()), 0);
  // Holding only a link that is passed over, a folder is not empty.
  makeDirs(dir / "only-link");
  ASSERT_EQ(::symlink("../full", (dir / "only-link/to-full").c_str()), 0);
  ASSERT_EQ(::symlink("full/f.txt", (dir / "file-link").c_str()), 0);

  TDirSearch deep(dir.path(), true, "*");
  EXPECT_EQ(all(deep, dir.path()),
            (std::vector<std::string>{"empty", "file-link", "full/empty-inside", "full/f.txt"}));
  EXPECT_EQ(deep.LinkedFolders(),
            (std::vector<std::string>{dir / "folder-link", dir / "only-link/to-full"}));
  TDirSearch keeping(dir.path(), true, "*", true, true);
  EXPECT_EQ(all(keeping, dir.path()),
            (std::vector<std::string>{"empty", "file-link", "folder-link", "full/empty-inside",
                                      "full/f.txt", "only-link/to-full"}));
  // Without recursion folders are neither entered nor kept, and nothing was missed.
  TDirSearch flat(dir.path(), false, "*");
  EXPECT_EQ(all(flat, dir.path()), std::vector<std::string>{"file-link"});
  EXPECT_TRUE(flat.LinkedFolders().empty());
  // Masks can count case.
  TDirSearch exact(dir.path(), true, "F*", false);
  EXPECT_EQ(all(exact, dir.path()), std::vector<std::string>{});
}
