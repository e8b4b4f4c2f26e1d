// Names as Linux has them: letter case tells files apart, a "\" is part of a name, and a
// source outside the current folder is stored the way other zip tools store it.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/TestUtil.h"

using namespace quelt::test;

namespace {

std::string cli() {
  return shq(binPath("quelt-cli"));
}

class NamesInterop : public ::testing::Test {
 protected:
  RunResult quelt(const std::string& args, const std::string& cwd = "") {
    return run("TMPDIR=" + shq(tmp_.path()) + " " + cli() + " " + args, cwd);
  }
  std::string listing(const std::string& archive) {
    return run("unzip -Z1 " + shq(archive) + " | LC_ALL=C sort").out;
  }

  TempDir dir, tmp_;
};

}  // namespace

TEST_F(NamesInterop, CaseTwinsAreTwoFilesAndLiteralNamesCompareExactly) {
  writeFile(dir / "t/X.txt", std::string("upper\n"));
  writeFile(dir / "t/x.txt", std::string("lower\n"));
  writeFile(dir / "t/sub/Y.TXT", std::string("shouting\n"));
  const std::string archive = dir / "a.zip";
  RunResult add = quelt("add -r " + shq(archive) + " t", dir.path());
  EXPECT_EQ(add.status, 0) << add.out;
  EXPECT_EQ(listing(archive), "t/X.txt\nt/sub/Y.TXT\nt/x.txt\n");
  // An archive holding both is rewritten and repaired like any other.
  RunResult again = quelt("add -r " + shq(archive) + " t", dir.path());
  EXPECT_EQ(again.status, 0) << again.out << again.err;
  EXPECT_NE(again.out.find("0 files compressed"), std::string::npos) << again.out;
  RunResult repair = quelt("repair " + shq(archive) + " " + shq(dir / "fixed.zip"));
  EXPECT_EQ(repair.status, 0) << repair.out << repair.err;
  EXPECT_EQ(listing(dir / "fixed.zip"), listing(archive));

  // Patterns count case by default; -C gives the old rule.
  RunResult exact = quelt("extract -d " + shq(dir / "o1") + " " + shq(archive) + " '*.txt'");
  EXPECT_NE(exact.out.find("2 of 2 entries extracted"), std::string::npos) << exact.out;
  RunResult folded = quelt("extract -C -d " + shq(dir / "o2") + " " + shq(archive) + " '*.txt'");
  EXPECT_NE(folded.out.find("3 of 3 entries extracted"), std::string::npos) << folded.out;
  EXPECT_EQ(readText(dir / "o1/t/X.txt"), "upper\n");
  EXPECT_EQ(readText(dir / "o1/t/x.txt"), "lower\n");

  RunResult removed = quelt("remove " + shq(archive) + " t/x.txt");
  EXPECT_EQ(removed.status, 0) << removed.out;
  EXPECT_EQ(listing(archive), "t/X.txt\nt/sub/Y.TXT\n");
  RunResult none = quelt("remove " + shq(archive) + " t/SUB/y.txt");
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("no entry matches t/SUB/y.txt"), std::string::npos) << none.err;
}

TEST_F(NamesInterop, SourcesOutsideTheCurrentFolderAndBackslashes) {
  TempDir elsewhere;
  writeFile(elsewhere / "abs/file.txt", std::string("absolute\n"));
  writeFile(dir / "sibling/s.txt", std::string("sibling\n"));
  writeFile(dir / "work/we\\ird.txt", std::string("backslash\n"));
  const std::string archive = dir / "b.zip";
  RunResult r = quelt("add " + shq(archive) + " " + shq(elsewhere / "abs/file.txt") +
                          " ../sibling/s.txt 'we\\ird.txt'",
                      dir / "work");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  // The log shows the names as given.
  EXPECT_NE(r.out.find("added    " + elsewhere / "abs/file.txt"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("added    ../sibling/s.txt"), std::string::npos) << r.out;
  // Stored without the leading "/" and the ".." parts, as zip and bsdtar store them.
  std::vector<std::string> names = {elsewhere.path().substr(1) + "/abs/file.txt", "sibling/s.txt",
                                    "we\\ird.txt"};
  std::sort(names.begin(), names.end());
  EXPECT_EQ(listing(archive), names[0] + "\n" + names[1] + "\n" + names[2] + "\n");
  // unzip, reading an entry made on Unix, writes the "\" as part of the name.
  ASSERT_EQ(run("unzip -q " + shq(archive) + " -d " + shq(dir / "u")).status, 0);
  EXPECT_EQ(readText(dir / "u/we\\ird.txt"), "backslash\n");
}

// The tree of system headers holds case twins (linux/netfilter) and links of both kinds.
// The whole of /usr/include takes several seconds; the automated check takes a part of it
// with each kind of name in it.
TEST_F(NamesInterop, SystemHeadersComeBackAsFindSeesThem) {
  const std::string root = "/usr/include";
  const std::string parts = "linux ncursesw clang";
  if (run("test -d " + root + "/linux/netfilter").status != 0) GTEST_SKIP() << "no kernel headers";
  const std::string archive = dir / "u.zip";
  RunResult add = quelt("add " + shq(archive) + " -r " + parts, root);
  const std::string stored = listing(archive);
  const std::string found =
      run("find " + parts + " -xtype f | LC_ALL=C sort", root).out;  // file links followed
  EXPECT_EQ(stored, found);
  EXPECT_NE(stored.find("linux/netfilter/xt_CONNMARK.h\n"), std::string::npos);
  EXPECT_NE(stored.find("linux/netfilter/xt_connmark.h\n"), std::string::npos);
  // Links to folders are reported, one line each, and make the status 1.
  const std::string folderLinks = run("find " + parts + " -type l -xtype d | wc -l", root).out;
  int reported = 0;
  for (size_t at = 0;
       (at = add.err.find("links to folders are not followed", at)) != std::string::npos; ++at)
    ++reported;
  EXPECT_EQ(std::to_string(reported) + "\n", folderLinks) << add.err;
  EXPECT_EQ(add.status, reported > 0 ? 1 : 0);
  EXPECT_EQ(run("unzip -tq " + shq(archive)).status, 0);
}
