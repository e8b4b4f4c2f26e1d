// What a Linux file has besides its bytes: permissions, times in any time zone, empty
// folders and symbolic links, through our archives and the other tools' both ways.
#include <gtest/gtest.h>

#include "support/SampleTree.h"
#include "support/TestUtil.h"

using namespace quelt::test;

namespace {

std::string cli() {
  return shq(binPath("quelt-cli"));
}

// Whole seconds, so that archives that keep seconds can give the times back exactly.
constexpr const char* kFileTime = "@1234567890";    // 2009-02-13 23:31:30 UTC
constexpr const char* kFolderTime = "@1300000000";  // 2011-03-13 07:06:40 UTC

class MetadataInterop : public ::testing::Test {
 protected:
  RunResult quelt(const std::string& args, const std::string& cwd = "",
                  const std::string& tz = "") {
    std::string env = "TMPDIR=" + shq(tmp_.path()) + (tz.empty() ? "" : " TZ=" + tz);
    return run(env + " " + cli() + " " + args, cwd);
  }
  // One line per item that `filter` selects: path, permissions, modification time.
  std::string find(const std::string& root, const std::string& filter,
                   const std::string& format = "%p %m %T@") {
    return run("find . -mindepth 1 \\( " + filter + " \\) -printf '" + format +
                   "\\n' | LC_ALL=C sort",
               root)
        .out;
  }
  // A script, a private file, a set-user file, case twins, an empty folder with its own mode.
  std::string tree() {
    std::string t = dir / "tree";
    writeFile(t + "/bin/run.sh", std::string("#!/bin/sh\necho hi\n"));
    writeFile(t + "/private.txt", std::string("private\n"));
    writeFile(t + "/setuid", std::string("#!/bin/sh\n"));
    writeFile(t + "/Case.txt", std::string("C\n"));
    writeFile(t + "/case.txt", std::string("c\n"));
    makeDirs(t + "/empty/inner-empty");
    const std::string setup =
        "chmod 755 bin/run.sh && chmod 600 private.txt && chmod 4755 setuid && "
        "chmod 700 empty/inner-empty && find . -type f -exec touch -d " +
        std::string(kFileTime) + " {} + && touch -d " + kFolderTime + " empty/inner-empty";
    EXPECT_EQ(run(setup, t).status, 0);
    return t;
  }

  TempDir dir, tmp_;
};

}  // namespace

TEST_F(MetadataInterop, PermissionsFromEveryToolAndToThem) {
  const std::string t = tree();
  struct TTool {
    const char* name;
    std::string command;  // run in the tree, archive name last
  } tools[] = {{"zip", "zip -q -r %A ."},
               {"7z", "7z a -tzip -bd -bso0 %A ."},
               {"bsdtar", "bsdtar --format zip -cf %A ."},
               {"python3",
                "python3 -c 'import os,sys,zipfile\n"
                "with zipfile.ZipFile(sys.argv[1], \"w\") as z:\n"
                "    for r, ds, fs in os.walk(\".\"):\n"
                "        for n in ds + fs: z.write(os.path.join(r, n))' %A"},
               {"quelt-cli", cli() + " add -r %A ."}};
  for (const TTool& tool : tools) {
    if (tool.name != std::string("quelt-cli") && !haveTool(tool.name)) continue;
    SCOPED_TRACE(tool.name);
    const std::string archive = dir / (std::string(tool.name) + ".zip");
    std::string command = tool.command;
    command.replace(command.find("%A"), 2, shq(archive));
    ASSERT_EQ(run(command, t).status, 0);
    const std::string out = dir / (std::string(tool.name) + "-out");
    RunResult x = quelt("extract -d " + shq(out) + " " + shq(archive));
    EXPECT_EQ(x.status, 0) << x.out << x.err;
    // The set-user bit is never restored; the rest is.
    EXPECT_EQ(find(out, "-type f -o -type d -name '*empty'", "%p %m"),
              "./Case.txt 644\n./bin/run.sh 755\n./case.txt 644\n./empty 755\n"
              "./empty/inner-empty 700\n./private.txt 600\n./setuid 755\n");
  }
  // Ours as the others see them.
  RunResult info = run("zipinfo " + shq(dir / "quelt-cli.zip") + " bin/run.sh private.txt");
  EXPECT_NE(info.out.find("-rwxr-xr-x  2.0 unx"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("-rw-------  2.0 unx"), std::string::npos) << info.out;
  ASSERT_EQ(run("unzip -q " + shq(dir / "quelt-cli.zip") + " -d " + shq(dir / "u")).status, 0);
  EXPECT_EQ(find(dir / "u", "-name run.sh -o -name inner-empty", "%p %m"),
            "./bin/run.sh 755\n./empty/inner-empty 700\n");
}

TEST_F(MetadataInterop, TimesHoldAcrossTimeZones) {
  const std::string t = tree();
  const std::string items = "-type f -o -type d -empty";
  const std::string expected = find(t, items, "%p %T@");
  // Ours, made in UTC, read by unzip nine hours east; and the other way round.
  const std::string ours = dir / "ours.zip";
  ASSERT_EQ(quelt("add -r " + shq(ours) + " .", t, "UTC0").status, 0);
  ASSERT_EQ(run("TZ=JST-9 unzip -q " + shq(ours) + " -d " + shq(dir / "u")).status, 0);
  EXPECT_EQ(find(dir / "u", items, "%p %T@"), expected);
  if (haveTool("zip")) {
    const std::string theirs = dir / "theirs.zip";
    ASSERT_EQ(run("TZ=EST5 zip -q -r " + shq(theirs) + " .", t).status, 0);
    ASSERT_EQ(quelt("extract -d " + shq(dir / "q") + " " + shq(theirs), "", "UTC0").status, 0);
    EXPECT_EQ(find(dir / "q", items, "%p %T@"), expected);
  }
  ASSERT_EQ(quelt("extract -d " + shq(dir / "qq") + " " + shq(ours), "", "JST-9").status, 0);
  EXPECT_EQ(find(dir / "qq", items, "%p %T@"), expected);

  // A DOS date-time of zero lists as it is, as Python reads it, never as today.
  const std::string zero = dir / "zero.zip";
  ASSERT_EQ(run("python3 -c 'import sys,zipfile\n"
                "with zipfile.ZipFile(sys.argv[1], \"w\") as z:\n"
                "    z.writestr(zipfile.ZipInfo(\"z.txt\", (1980, 0, 0, 0, 0, 0)), \"z\")' " +
                shq(zero))
                .status,
            0);
  RunResult listed = quelt("list --tsv " + shq(zero));
  EXPECT_NE(listed.out.find("\t1980-00-00 00:00:00\t"), std::string::npos) << listed.out;
}

TEST_F(MetadataInterop, LinksFromZipAndBsdtarStayInside) {
  const std::string t = dir / "tree";
  writeFile(t + "/target.txt", std::string("target\n"));
  // Dangling on purpose: only the names matter, and nothing outside is ever touched.
  const std::string setup =
      "ln -s target.txt in.lnk && mkdir sub && ln -s ../target.txt sub/up.lnk && "
      "ln -s ../../nowhere out.lnk && ln -s /nonexistent/abs abs.lnk && ln -s sub dir.lnk";
  ASSERT_EQ(run(setup, t).status, 0);
  std::vector<std::string> archives;
  if (haveTool("zip")) {
    archives.push_back(dir / "zip-y.zip");
    ASSERT_EQ(run("zip -q -r -y " + shq(archives.back()) + " .", t).status, 0);
  }
  if (haveTool("bsdtar")) {
    archives.push_back(dir / "bsdtar.zip");
    ASSERT_EQ(run("bsdtar --format zip -cf " + shq(archives.back()) + " .", t).status, 0);
  }
  archives.push_back(dir / "quelt-y.zip");
  ASSERT_EQ(quelt("add -r -y " + shq(archives.back()) + " .", t).status, 0);
  for (const std::string& archive : archives) {
    SCOPED_TRACE(archive);
    const std::string out = archive + "-out";
    RunResult x = quelt("extract -d " + shq(out) + " " + shq(archive));
    EXPECT_EQ(x.status, 1) << x.out;
    EXPECT_NE(x.err.find("out.lnk: its link target \"../../nowhere\" leads out of the destination"),
              std::string::npos)
        << x.err;
    EXPECT_NE(x.err.find("abs.lnk: its link target \"/nonexistent/abs\" leads out"),
              std::string::npos)
        << x.err;
    EXPECT_EQ(run("find . -type l -printf '%p -> %l\\n' | LC_ALL=C sort", out).out,
              "./dir.lnk -> sub\n./in.lnk -> target.txt\n./sub/up.lnk -> ../target.txt\n");
  }
  // Without -y a link to a file stores the file, and a link to nothing is reported.
  RunResult followed = quelt("add -r " + shq(dir / "followed.zip") + " .", t);
  EXPECT_EQ(followed.status, 1);
  EXPECT_NE(followed.err.find("skipped  out.lnk: it is a symbolic link to nothing"),
            std::string::npos)
      << followed.err;
  EXPECT_NE(followed.err.find("skipped  dir.lnk: it is a link to a folder"), std::string::npos);
  EXPECT_EQ(run("unzip -p " + shq(dir / "followed.zip") + " in.lnk").out, "target\n");

  // A link already in the destination is never written through.
  TempDir outside;
  const std::string dest = dir / "dest";
  makeDirs(dest);
  ASSERT_EQ(run("ln -s " + shq(outside.path()) + " " + shq(dest + "/sub")).status, 0);
  RunResult x = quelt("extract -d " + shq(dest) + " " + shq(archives.back()));
  EXPECT_EQ(x.status, 1);
  EXPECT_NE(x.err.find("sub/up.lnk: \"" + dest + "/sub\" is a symbolic link"), std::string::npos)
      << x.err;
  EXPECT_EQ(run("ls -A " + shq(outside.path())).out, "");
}

// Ours, unzip, zip and ours again: the same names, bytes, permissions and times. Folders
// holding files are stored only by their files, so their times come back as the time of
// extraction; empty folders keep theirs.
TEST_F(MetadataInterop, RoundTripThroughTheOtherTools) {
  if (!haveTool("zip") || !haveTool("unzip")) GTEST_SKIP();
  std::string t = tree();
  ASSERT_EQ(run("chmod 755 setuid", t).status, 0);  // the set-user bit does not travel
  const std::string first = dir / "first.zip", second = dir / "second.zip";
  ASSERT_EQ(quelt("add -r " + shq(first) + " .", t).status, 0);
  ASSERT_EQ(run("unzip -q " + shq(first) + " -d " + shq(dir / "u")).status, 0);
  ASSERT_EQ(run("zip -q -r " + shq(second) + " .", dir / "u").status, 0);
  RunResult x = quelt("extract -d " + shq(dir / "back") + " " + shq(second));
  EXPECT_EQ(x.status, 0) << x.out << x.err;
  EXPECT_EQ(find(dir / "back", "-type f -o -type d -empty"), find(t, "-type f -o -type d -empty"));
  EXPECT_EQ(find(dir / "back", "-type d", "%p %m"), find(t, "-type d", "%p %m"));
  EXPECT_EQ(compareTrees(t, dir / "back", true), std::vector<std::string>{});
}
