// Entries and sources named exactly: no pattern reading of "[", "*" or "?", no match of the
// same file name in another folder.
#include <gtest/gtest.h>

#include "engine/ZipEngine.h"
#include "support/TestUtil.h"
#include "support/ZipBuilder.h"

using namespace quelt;
using namespace quelt::test;

namespace {

struct ExactNames : ::testing::Test {
  TempDir dir;
  TZipEngine engine;
  std::string out() { return dir / "out"; }
  void SetUp() override { engine.TempPath = dir.path(); }
  // Extracts into a fresh folder and returns the files that landed, as relative paths.
  std::vector<std::string> extract() {
    run("rm -rf " + shq(out()));
    engine.SetDestDir(out());
    engine.ExtractEntries();
    std::vector<std::string> found;
    RunResult r = run("cd " + shq(out()) + " && find . -type f | sort");
    for (size_t at = 0; at < r.out.size();) {
      size_t end = r.out.find('\n', at);
      found.push_back(r.out.substr(at + 2, end - at - 2));
      at = end + 1;
    }
    return found;
  }
};

TEST_F(ExactNames, SelectedNamesExtractOnlyThoseEntries) {
  ZipSpec spec;
  spec.entries = {stored("a.txt", "top"),           stored("one/a.txt", "one"),
                  stored("two/a.txt", "two"),       stored("file1.txt", "1"),
                  stored("file[1].txt", "bracket"), stored("star*.txt", "star"),
                  stored("stars.txt", "s")};
  writeFile(dir / "a.zip", buildZip(spec));
  engine.SetZipName(dir / "a.zip");
  engine.OverwriteMode = Always;
  engine.RecreateDirs = true;
  // FilesList would read these as patterns; the exact names must win over it.
  engine.FilesList = {"*"};

  struct TCase {
    std::vector<std::string> names;
    std::vector<std::string> expected;
  };
  const TCase cases[] = {
      {{"one\\a.txt"}, {"one/a.txt"}},
      {{"a.txt"}, {"a.txt"}},
      {{"file[1].txt"}, {"file[1].txt"}},
      {{"star*.txt"}, {"star*.txt"}},
      {{"two\\a.txt", "file1.txt"}, {"file1.txt", "two/a.txt"}},
      {{"A.TXT"}, {}},  // names differ by letter case here
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.names.front());
    engine.SelectedNames = c.names;
    engine.DoAll = false;
    EXPECT_EQ(extract(), c.expected);
  }

  // Without folders, the one selected "a.txt" lands alone: no other folder's copy over it.
  engine.SelectedNames = {"one\\a.txt"};
  engine.RecreateDirs = false;
  EXPECT_EQ(extract(), std::vector<std::string>{"a.txt"});
  EXPECT_EQ(readText(out() + "/a.txt"), "one");

  // DoAll still takes everything.
  engine.DoAll = true;
  engine.RecreateDirs = true;
  EXPECT_EQ(extract().size(), 7u);
}

TEST_F(ExactNames, LiteralSourcesAreNotPatterns) {
  makeDirs(dir / "src");
  writeFile(dir / "src/file[1].txt", "bracket");
  writeFile(dir / "src/file1.txt", "plain");
  writeFile(dir / "src/what?.txt", "question");
  writeFile(dir / "src/whatX.txt", "x");
  makeDirs(dir / "src/sub");
  writeFile(dir / "src/sub/file[1].txt", "deeper");
  engine.Recurse = true;  // a literal file must not pull in namesakes below it
  engine.SetZipName(dir / "a.zip");
  engine.FilesList = {dir / "src/file[1].txt", dir / "src/what?.txt"};
  engine.LiteralFiles = engine.FilesList;
  EXPECT_EQ(engine.CompressFiles(), 2);
  std::vector<std::string> names;
  for (int i = 0; i < engine.Count(); ++i) names.push_back(engine.Entry(i).FullName());
  EXPECT_EQ(names, (std::vector<std::string>{"file[1].txt", "what?.txt"}));

  // The same text not marked literal is a mask, as before.
  engine.LiteralFiles.clear();
  engine.FilesList = {dir / "src/what?.txt"};
  engine.Recurse = false;
  engine.ZipAction = zaReplace;
  EXPECT_EQ(engine.CompressFiles(), 2);  // what?.txt and whatX.txt
}

TEST_F(ExactNames, LiteralNamesRemoveOnlyTheirOwnEntry) {
  ZipSpec spec;
  spec.entries = {stored("file1.txt", "1"),    stored("file[1].txt", "bracket"),
                  stored("star*.txt", "star"), stored("stars.txt", "s"),
                  stored("one/x?.txt", "q"),   stored("one/xy.txt", "y")};
  struct TCase {
    std::vector<std::string> names;
    bool literal;
    std::vector<std::string> left;
  };
  const TCase cases[] = {
      {{"file[1].txt", "star*.txt", "one\\x?.txt"},
       true,
       {"file1.txt", "stars.txt", "one\\xy.txt"}},
      // Not marked literal, the same strings are masks: "[1]" is the character 1.
      {{"file[1].txt"},
       false,
       {"file[1].txt", "star*.txt", "stars.txt", "one\\x?.txt", "one\\xy.txt"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.names.front());
    writeFile(dir / "a.zip", buildZip(spec));
    engine.SetZipName("");
    engine.SetZipName(dir / "a.zip");
    engine.FilesList = c.names;
    engine.LiteralFiles = c.literal ? c.names : std::vector<std::string>{};
    engine.RemoveEntries();
    std::vector<std::string> left;
    for (int i = 0; i < engine.Count(); ++i) left.push_back(engine.Entry(i).FullName());
    EXPECT_EQ(left, c.left);
    // Each literal name was used up by its one entry.
    EXPECT_TRUE(!c.literal || engine.FilesList.empty());
  }
  engine.LiteralFiles.clear();
}

}  // namespace
