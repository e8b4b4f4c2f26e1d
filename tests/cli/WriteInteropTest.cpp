// Archives written by quelt-cli pass the other tools' integrity tests, extract byte for
// byte with them, and show the right names, dates and comments.
#include <gtest/gtest.h>

#include "support/SampleTree.h"
#include "support/TestUtil.h"

using namespace quelt::test;

namespace {

std::string cli() { return shq(binPath("quelt-cli")); }

class WriteInterop : public SampleTreeTest {
 protected:
  RunResult quelt(const std::string& args, const std::string& cwd = "") {
    return run("TMPDIR=" + shq(tmp_.path()) + " " + cli() + " " + args, cwd.empty() ? src() : cwd);
  }
  // Every other tool accepts the archive, and unzip extracts the source tree from it.
  void expectOthersAccept(const std::string& archive, const std::string& password = "") {
    std::string p = password.empty() ? "" : " -P " + shq(password);
    if (haveTool("unzip")) {
      RunResult t = run("unzip -tq" + p + " " + shq(archive));
      EXPECT_EQ(t.status, 0) << t.out << t.err;
      std::string out = path("unzip-" + std::to_string(++outs_));
      RunResult x = run("unzip -q" + p + " " + shq(archive) + " -d " + shq(out));
      EXPECT_EQ(x.status, 0) << x.out << x.err;
      EXPECT_EQ(compareTrees(src(), out, true), std::vector<std::string>{});
    }
    if (haveTool("7z")) {
      std::string pw = password.empty() ? "-p-" : "-p" + shq(password);
      RunResult t = run("7z t -bd -bso0 " + pw + " " + shq(archive));
      EXPECT_EQ(t.status, 0) << t.out << t.err;
      std::string out = path("7z-" + std::to_string(++outs_));
      RunResult x = run("7z x -bd -bso0 " + pw + " -o" + shq(out) + " " + shq(archive));
      EXPECT_EQ(x.status, 0) << x.out << x.err;
      EXPECT_EQ(compareTrees(src(), out, true), std::vector<std::string>{});
    }
    if (password.empty()) {
      RunResult py = run("python3 -m zipfile -t " + shq(archive));
      EXPECT_EQ(py.status, 0) << py.out << py.err;
      if (haveTool("bsdtar")) {
        EXPECT_EQ(run("bsdtar -tf " + shq(archive) + " > /dev/null").status, 0);
      }
    }
    EXPECT_EQ(run("ls -A " + shq(tmp_.path())).out, "") << "temporary files left behind";
  }

  TempDir tmp_;
  int outs_ = 0;
};

}  // namespace

TEST_F(WriteInterop, NewArchivesAtEveryLevelPassEveryTool) {
  for (const char* level : {"1", "6", "9"}) {
    std::string archive = path(std::string("l") + level + ".zip");
    RunResult r = quelt("add -r -l " + std::string(level) + " " + shq(archive) + " .");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("files compressed into"), std::string::npos);
    expectOthersAccept(archive);
  }
  // Names and dates as zipinfo shows them.
  RunResult info = run("zipinfo -T " + shq(path("l6.zip")) + " hello.txt");
  EXPECT_NE(info.out.find("20190704.133742"), std::string::npos) << info.out;
  RunResult names = run("zipinfo -1 " + shq(path("l6.zip")) + " | sort");
  EXPECT_NE(names.out.find("caf\xc3\xa9/na\xc3\xafve.txt\n"), std::string::npos) << names.out;
  EXPECT_NE(names.out.find("\xe6\x97\xa5\xe6\x9c\xac.txt\n"), std::string::npos) << names.out;
}

TEST_F(WriteInterop, EncryptedArchives) {
  std::string archive = path("enc.zip");
  ASSERT_EQ(quelt("add -r -P 'pass word' " + shq(archive) + " .").status, 0);
  expectOthersAccept(archive, "pass word");
}

TEST_F(WriteInterop, UpdateRemoveAndComments) {
  std::string archive = path("u.zip");
  ASSERT_EQ(quelt("add -r " + shq(archive) + " .").status, 0);
  // Nothing newer: nothing compressed, the archive is rewritten unchanged in content.
  RunResult again = quelt("add -r " + shq(archive) + " .");
  EXPECT_NE(again.out.find("0 files compressed"), std::string::npos) << again.out;
  RunResult removed = quelt("remove " + shq(archive) + " '*.bin' big.txt");
  EXPECT_EQ(removed.status, 0) << removed.out;
  EXPECT_NE(removed.out.find("3 entries removed"), std::string::npos) << removed.out;
  EXPECT_EQ(quelt("comment --set 'Archive note \xc3\xa9' " + shq(archive)).status, 0);
  EXPECT_EQ(quelt("comment --entry hello.txt --set 'entry note' " + shq(archive)).status, 0);
  EXPECT_EQ(quelt("comment " + shq(archive)).out, "Archive note \xc3\xa9\n");
  EXPECT_EQ(quelt("comment --entry hello.txt " + shq(archive)).out, "entry note\n");
  RunResult z = run("unzip -z " + shq(archive));
  EXPECT_NE(z.out.find("Archive note"), std::string::npos) << z.out;
  RunResult py = run("python3 -c 'import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); "
                     "print(z.getinfo(\"hello.txt\").comment.decode())' " + shq(archive));
  EXPECT_EQ(py.out, "entry note\n");
  RunResult t = run("unzip -tq " + shq(archive));
  EXPECT_EQ(t.status, 0) << t.out;
  EXPECT_EQ(run("zipinfo -1 " + shq(archive) + " | grep -c bin").out, "0\n");
}

TEST_F(WriteInterop, StoredPathModes) {
  std::string none = path("none.zip"), full = path("full.zip"), rel = path("rel.zip");
  ASSERT_EQ(quelt("add --paths none " + shq(none) + " caf\xc3\xa9/na\xc3\xafve.txt hello.txt").status, 0);
  EXPECT_EQ(run("zipinfo -1 " + shq(none)).out, "na\xc3\xafve.txt\nhello.txt\n");
  ASSERT_EQ(quelt("add --paths relative --root " + shq(src()) + " " + shq(rel) + " " +
                  shq(src() + "/caf\xc3\xa9/na\xc3\xafve.txt")).status, 0);
  EXPECT_EQ(run("zipinfo -1 " + shq(rel)).out, "caf\xc3\xa9/na\xc3\xafve.txt\n");
  ASSERT_EQ(quelt("add --paths full " + shq(full) + " hello.txt").status, 0);
  // Stored below the mount point, which plays the part of a drive.
  std::string mount = run("stat -c %m " + shq(src())).out;
  mount.pop_back();
  std::string stored = src().substr(mount == "/" ? 1 : mount.size() + 1) + "/hello.txt\n";
  EXPECT_EQ(run("zipinfo -1 " + shq(full)).out, stored);
}

TEST_F(WriteInterop, RepairCutCentralDirectoryAndStub) {
  std::string archive = path("whole.zip");
  ASSERT_EQ(quelt("add -r " + shq(archive) + " .").status, 0);
  RunResult cd = run("python3 -c 'import sys,struct; d=open(sys.argv[1],\"rb\").read(); "
                     "e=d.rfind(b\"PK\\x05\\x06\"); print(struct.unpack(\"<I\", d[e+16:e+20])[0])' " +
                     shq(archive));
  std::string cut = path("cut.zip");
  ASSERT_EQ(run("head -c " + std::to_string(std::stoll(cd.out)) + " " + shq(archive) + " > " + shq(cut)).status, 0);
  const auto damaged = readFile(cut);
  std::string fixed = path("fixed.zip");
  RunResult r = quelt("repair " + shq(cut) + " " + shq(fixed));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(readFile(cut), damaged);
  expectOthersAccept(fixed);

  // A stub in front, offsets not counting it: adding keeps the stub and the listing.
  std::string sfx = path("stub.exe");
  ASSERT_EQ(run("printf 'MZ-stub-bytes' > " + shq(sfx) + " && cat " + shq(archive) + " >> " + shq(sfx)).status, 0);
  writeFile(path("extra.txt"), std::string("added later\n"));
  ASSERT_EQ(quelt("add --paths none " + shq(sfx) + " " + shq(path("extra.txt"))).status, 0);
  EXPECT_EQ(readText(sfx).substr(0, 13), "MZ-stub-bytes");
  RunResult listed = quelt("list --tsv " + shq(sfx));
  EXPECT_EQ(listed.status, 0);
  EXPECT_NE(listed.out.find("extra.txt\t12\t"), std::string::npos) << listed.out;
  EXPECT_EQ(quelt("test " + shq(sfx)).status, 0);
}

TEST_F(WriteInterop, MissingAndUnsuitableSources) {
  std::string archive = path("m.zip");
  RunResult r = quelt("add " + shq(archive) + " hello.txt nowhere.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("missing  "), std::string::npos) << r.err;
  ASSERT_EQ(run("mkfifo " + shq(path("fifo"))).status, 0);
  RunResult f = quelt("add --paths none " + shq(archive) + " " + shq(path("fifo")));
  EXPECT_EQ(f.status, 1);
  EXPECT_NE(f.err.find("not a regular file"), std::string::npos) << f.err;
  EXPECT_EQ(run("zipinfo -1 " + shq(archive)).out, "hello.txt\n");
}

TEST_F(WriteInterop, DescriptorsSurviveARewrite) {
  if (!haveTool("bsdtar")) return;
  // Streamed entries carry data descriptors; copied unchanged they keep them.
  std::string piped = path("piped.zip");
  ASSERT_EQ(run("bsdtar --format zip -cf - hello.txt big.txt > " + shq(piped), src()).status, 0);
  writeFile(path("new.txt"), std::string("new\n"));
  ASSERT_EQ(quelt("add --paths none " + shq(piped) + " " + shq(path("new.txt"))).status, 0);
  RunResult t = run("unzip -tq " + shq(piped));
  EXPECT_EQ(t.status, 0) << t.out;
  RunResult flags = run("python3 -c 'import sys,zipfile; print([i.flag_bits & 8 for i in "
                        "zipfile.ZipFile(sys.argv[1]).infolist()])' " + shq(piped));
  EXPECT_EQ(flags.out, "[8, 8, 0]\n");
  EXPECT_EQ(quelt("test " + shq(piped)).status, 0);
}

TEST_F(WriteInterop, JobsWriteTheArchiveOneThreadWrites) {
  const std::string one = path("one.zip");
  RunResult single = quelt("add -r -6 " + shq(one) + " .");
  ASSERT_EQ(single.status, 0) << single.err;
  for (const char* jobs : {"2", "5"}) {
    SCOPED_TRACE(jobs);
    const std::string many = path(std::string("jobs") + jobs + ".zip");
    RunResult r = quelt("add -r -6 --jobs " + std::string(jobs) + " " + shq(many) + " .");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(many), readFile(one));
    // The same lines in the same order; only the archive's name differs.
    std::string out = r.out;
    out.replace(out.rfind(many), many.size(), one);
    EXPECT_EQ(out, single.out);
  }
  const std::string locked = path("locked.zip");
  ASSERT_EQ(quelt("add -r --jobs 2 -P pw " + shq(locked) + " .").status, 0);
  expectOthersAccept(locked, "pw");
  for (const char* bad : {"0", "-1", "x", "2x", "", "257", "99999999999"}) {
    SCOPED_TRACE(bad);
    RunResult r = quelt("add --jobs '" + std::string(bad) + "' " + shq(path("bad.zip")) + " .");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--jobs takes a number of threads from 1 to 256"), std::string::npos)
        << r.err;
  }
  EXPECT_NE(quelt("add --help").out.find("--jobs N"), std::string::npos);
}
