// What a self-extractor's record tells it: the default folder ("><" for a new private one),
// the overwrite mode, which questions it may ask on a terminal, and the command it runs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "cli/SfxSupport.h"

using namespace quelt::test;

namespace {

class SfxPrompts : public ::testing::Test {
 protected:
  // A Quelt archive of two files, a.txt in the root and b.txt in a folder.
  std::string archive() {
    writeFile(dir / "src/a.txt", std::string("new a\n"));
    writeFile(dir / "src/sub/b.txt", std::string("new b\n"));
    const std::string zip = dir / "two.zip";
    EXPECT_EQ(run(cliProgram() + " add -r " + shq(zip) + " a.txt sub", dir / "src").status, 0);
    return zip;
  }
  // A destination that already holds an old a.txt.
  std::string oldDestination(const std::string& name) {
    writeFile(dir / name + "/a.txt", std::string("old a\n"));
    return dir / name;
  }

  TempDir dir;
};

TEST_F(SfxPrompts, OverwriteModesWithoutATerminal) {
  const std::string zip = archive();
  struct Case {
    const char* record;  // --overwrite of the builder
    const char* option;  // the self-extractor's own option
    bool replaced;
  } cases[] = {
      {"confirm", "", false},  {"always", "", true},  {"never", "", false},
      {"always", "-n", false}, {"never", "-o", true}, {"confirm", "-o", true},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.record) + " " + c.option);
    const std::string exe = makeSfx(zip, std::string("--overwrite ") + c.record);
    const std::string dest = oldDestination("d" + std::to_string(n++));
    RunResult r = runSfx(exe, std::string(c.option) + " -d " + shq(dest));
    EXPECT_EQ(readText(dest + "/a.txt"), c.replaced ? "new a\n" : "old a\n") << r.out;
    EXPECT_EQ(readText(dest + "/sub/b.txt"), "new b\n");
    EXPECT_EQ(r.status, c.replaced ? 0 : 1) << r.out;
    if (!c.replaced) {
      EXPECT_NE(r.out.find("skipped  a.txt: the file exists"), std::string::npos) << r.out;
    }
  }
}

TEST_F(SfxPrompts, QuestionsOnATerminal) {
  const std::string zip = archive();
  // "Ask user": each existing file is asked about.
  std::string exe = makeSfx(zip, "--overwrite confirm --dir " + shq(dir / "default"));
  std::string dest = oldDestination("yes");
  RunResult r = runOnTerminal(exe, "",
                              {{"Extract to [" + dir / "default" + "]: ", dest},
                               {"Existing files: [a]sk", ""},
                               {"Replace " + dest + "/a.txt? [y/N] ", "y"}});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(readText(dest + "/a.txt"), "new a\n");
  dest = oldDestination("no");
  r = runOnTerminal(exe, "-d " + shq(dest), {{"Existing files", ""}, {"Replace ", "n"}});
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(readText(dest + "/a.txt"), "old a\n");
  // The user may change the mode, unless the record hides that choice.
  dest = oldDestination("changed");
  r = runOnTerminal(exe, "-d " + shq(dest), {{"Existing files", "w"}});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(readText(dest + "/a.txt"), "new a\n");
  exe = makeSfx(zip, "--overwrite never --hide-overwrite");
  dest = oldDestination("hidden");
  r = runOnTerminal(exe, "-d " + shq(dest), {});
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(r.out.find("Existing files"), std::string::npos) << r.out;
  EXPECT_EQ(readText(dest + "/a.txt"), "old a\n");
  // The files to extract, when the record lets the user choose them.
  exe = makeSfx(zip, "--ask-files --hide-overwrite");
  r = runOnTerminal(exe, "-d " + shq(dir / "chosen"), {{"Files to extract", "2"}});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("   2  sub/b.txt"), std::string::npos) << r.out;
  EXPECT_TRUE(fileExists(dir / "chosen/sub/b.txt"));
  EXPECT_FALSE(fileExists(dir / "chosen/a.txt"));
  r = runOnTerminal(exe, "-d " + shq(dir / "pattern"),
                    {{"Files to extract", "9"}, {"Files to extract", "*.txt"}});
  EXPECT_NE(r.out.find("No entry 9"), std::string::npos) << r.out;
  EXPECT_TRUE(fileExists(dir / "pattern/sub/b.txt"));
  EXPECT_TRUE(fileExists(dir / "pattern/a.txt"));
  // -y asks nothing, even on a terminal.
  r = runOnTerminal(exe, "-y -d " + shq(dir / "quiet"), {});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("Files to extract"), std::string::npos) << r.out;
}

TEST_F(SfxPrompts, FreshFolderAndTheCommand) {
  const std::string zip = archive();
  const std::string env = "TMPDIR=" + shq(dir.path());
  // "><" in the folder is a new private folder, in the command the extraction folder.
  std::string exe = makeSfx(zip, "--dir '><' --run 'cp|><a.txt \"><sub/copy of a.txt\"'");
  RunResult r = runSfx(exe, "-y", env);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  std::string folder = extractedInto(r.out);
  ASSERT_EQ(folder.substr(0, dir.path().size() + 11), dir / "quelt-sfx-") << r.out;
  struct stat st;
  ASSERT_EQ(::stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(readText(folder + "sub/copy of a.txt"), "new a\n");
  // Each run gets a folder of its own.
  r = runSfx(exe, "-y", env);
  EXPECT_NE(extractedInto(r.out), folder);

  // A folder with blanks given with -d stays one argument; no shell sees the command.
  exe = makeSfx(zip, "--run 'touch|><made;rm ><a.txt'");
  r = runSfx(exe, "-y -d " + shq(dir / "with blank"));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(fileExists(dir / "with blank/made;rm"));
  EXPECT_TRUE(fileExists(dir / "with blank/a.txt"));  // "rm" was only part of a name

  // Asking before running: on a terminal the user may decline; without one it runs.
  exe = makeSfx(zip, "--ask-command --overwrite always --run 'touch|><ran'");
  r = runOnTerminal(exe, "-d " + shq(dir / "declined"),
                    {{"Existing files", ""}, {"Run touch ", "n"}});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_FALSE(fileExists(dir / "declined/ran"));
  r = runOnTerminal(exe, "-d " + shq(dir / "accepted"),
                    {{"Existing files", ""}, {"Run touch ", ""}});
  EXPECT_TRUE(fileExists(dir / "accepted/ran")) << r.out;
  r = runSfx(exe, "-d " + shq(dir / "script"));
  EXPECT_TRUE(fileExists(dir / "script/ran")) << r.out;
  // Without the flag it runs without asking.
  exe = makeSfx(zip, "--overwrite always --run 'touch|><ran'");
  r = runOnTerminal(exe, "-d " + shq(dir / "unasked"), {{"Existing files", ""}});
  EXPECT_EQ(r.out.find("Run touch"), std::string::npos) << r.out;
  EXPECT_TRUE(fileExists(dir / "unasked/ran"));

  // Not after a failed extraction, and a command that fails is reported.
  exe = makeSfx(zip, "--overwrite never --run 'touch|><ran'");
  r = runSfx(exe, "-d " + shq(oldDestination("incomplete")));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Not running touch"), std::string::npos) << r.out;
  EXPECT_FALSE(fileExists(dir / "incomplete/ran"));
  for (const char* command : {"false", "no-such-program-here"}) {
    exe = makeSfx(zip, std::string("--overwrite always --run ") + command);
    r = runSfx(exe, "-d " + shq(dir / "failing"));
    EXPECT_EQ(r.status, 1) << command << r.out << r.err;
    EXPECT_NE(r.err.find(command), std::string::npos) << r.err;
  }
}

TEST_F(SfxPrompts, BuilderMessagesOnTheCommandLine) {
  const std::string zip = archive();
  RunResult r = run(cliProgram() + " sfx " + shq(zip));
  EXPECT_EQ(r.status, 0) << r.err;
  r = run(cliProgram() + " sfx " + shq(zip));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("already exists"), std::string::npos) << r.err;
  r = run(cliProgram() + " sfx -o " + shq(dir / "named.run") + " --caption " +
          shq(std::string(250, 'c')) + " " + shq(zip));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("exceeds 249!"), std::string::npos) << r.err;
  EXPECT_EQ(run(cliProgram() + " sfx -o " + shq(dir / "named.run") + " " + shq(zip)).status, 0);
  EXPECT_TRUE(fileExists(dir / "named.run"));
  writeFile(dir / "not.zip", std::string("plain text, no archive"));
  EXPECT_EQ(run(cliProgram() + " sfx " + shq(dir / "not.zip")).status, 3);
  EXPECT_FALSE(fileExists(dir / "not.exe"));
  EXPECT_EQ(run(cliProgram() + " sfx " + shq(dir / "missing.zip")).status, 3);
  EXPECT_EQ(run(cliProgram() + " sfx --overwrite sometimes " + shq(zip)).status, 2);
}

}  // namespace
