// Archives written by other tools list exactly as those tools' own readers see them.
#include <gtest/gtest.h>

#include "engine/UnZipEngine.h"
#include "support/SampleTree.h"
#include "support/TestUtil.h"

using namespace quelt;
using namespace quelt::test;

namespace {

std::string cli() { return shq(binPath("quelt-cli")); }
std::string reference(const std::string& mode, const std::string& archive) {
  RunResult r = run("python3 " + shq(sourcePath("tests/cli/zip_reference.py")) + " " + mode + " " +
                    shq(archive));
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

std::string hex(const std::string& s) {
  static const char* digits = "0123456789abcdef";
  std::string h;
  for (unsigned char c : s) {
    h += digits[c >> 4];
    h += digits[c & 15];
  }
  return h;
}

// One tree of files, made once, that every tool archives.
class ListInterop : public SampleTreeTest {
 protected:
  std::string out(const std::string& name) const { return path(name); }

  // Makes an archive with a shell command run inside the source folder.
  std::string make(const std::string& name, const std::string& command) {
    std::string archive = out(name);
    bool python = command.rfind("python3", 0) == 0;  // walks the folder itself
    RunResult r = run(command + " " + shq(archive) + (python ? "" : " *"), src());
    EXPECT_EQ(r.status, 0) << command << "\n" << r.out << r.err;
    return archive;
  }

  void expectSameListing(const std::string& archive) {
    RunResult ours = run(cli() + " list --tsv " + shq(archive));
    ASSERT_EQ(ours.status, 0) << ours.err;
    EXPECT_EQ(ours.out, reference("list", archive)) << archive;
  }

  void expectSameComments(const std::string& archive) {
    TUnZipEngine engine;
    engine.SetZipName(archive);
    engine.LoadCatalogue();
    std::string ours = hex(engine.ArchiveComment()) + "\n";
    for (int i = 0; i < engine.Count(); ++i) ours += hex(engine.EntryComment(i)) + "\n";
    EXPECT_EQ(ours, reference("comments", archive));
  }

  // A copy of the archive cut where its central directory starts.
  std::string cutCentralDirectory(const std::string& archive, const std::string& name) {
    RunResult cd = run(
        "python3 -c 'import sys,struct; d=open(sys.argv[1],\"rb\").read(); "
        "e=d.rfind(b\"PK\\x05\\x06\"); print(struct.unpack(\"<I\", d[e+16:e+20])[0])' " +
        shq(archive));
    EXPECT_EQ(cd.status, 0) << cd.err;
    std::string cut = out(name);
    EXPECT_EQ(run("head -c " + std::to_string(std::stoll(cd.out)) + " " + shq(archive) + " > " +
                  shq(cut)).status, 0);
    return cut;
  }

};

const char* kPythonWriter = R"(python3 -c '
import sys, zipfile, os
method = {"stored": zipfile.ZIP_STORED, "deflated": zipfile.ZIP_DEFLATED, "bzip2": zipfile.ZIP_BZIP2}[sys.argv[1]]
with zipfile.ZipFile(sys.argv[2], "w", method) as z:
    for root, dirs, files in sorted(os.walk(".")):
        for d in sorted(dirs):
            z.write(os.path.join(root, d))
        for f in sorted(files):
            z.write(os.path.join(root, f))
    for i, info in enumerate(z.infolist()):
        info.comment = ("comment %d \u00e9\u65e5" % i).encode("utf-8")
    z.comment = "archive comment \u00e9".encode("utf-8")
')";

}  // namespace

TEST_F(ListInterop, InfoZipArchives) {
  if (!haveTool("zip")) GTEST_SKIP() << "zip is not installed";
  for (const char* level : {"-0", "-1", "-6", "-9"}) {
    std::string archive = make(std::string("zip") + level + ".zip", std::string("zip -q -r ") + level);
    expectSameListing(archive);
    // zipinfo agrees on the names too.
    RunResult names = run("zipinfo -1 " + shq(archive));
    RunResult ours = run(cli() + " list --tsv " + shq(archive) + " | cut -f1");
    EXPECT_EQ(ours.out, names.out);
  }
  std::string encrypted = make("zip-e.zip", "zip -q -r -P secret");
  expectSameListing(encrypted);
  RunResult r = run(cli() + " list --tsv " + shq(encrypted) + " | cut -f7 | sort -u");
  EXPECT_EQ(r.out, "0\n1\n");  // folders are not encrypted, files are
}

TEST_F(ListInterop, SevenZipArchives) {
  if (!haveTool("7z")) GTEST_SKIP() << "7z is not installed";
  expectSameListing(make("7z.zip", "7z a -tzip -bd -bso0"));
  expectSameListing(make("7z-mx9.zip", "7z a -tzip -mx=9 -bd -bso0"));
  expectSameListing(make("7z-crypt.zip", "7z a -tzip -pfoo -mem=ZipCrypto -bd -bso0"));
}

TEST_F(ListInterop, BsdtarArchives) {
  if (!haveTool("bsdtar")) GTEST_SKIP() << "bsdtar is not installed";
  std::string archive = make("bsdtar.zip", "bsdtar --format zip -cf");
  expectSameListing(archive);
  // Streamed from a pipe, every entry has a data descriptor; the catalogue still lists
  // them and so does the walk when the central directory is cut off.
  std::string piped = out("piped.zip");
  RunResult r = run("bsdtar --format zip -cf - * > " + shq(piped), src());
  ASSERT_EQ(r.status, 0) << r.err;
  expectSameListing(piped);
  RunResult flags = run("python3 -c 'import sys,zipfile; print(max(i.flag_bits & 8 for i in "
                        "zipfile.ZipFile(sys.argv[1]).infolist()))' " + shq(piped));
  ASSERT_EQ(flags.out, "8\n");
  RunResult walked = run(cli() + " list --tsv " + shq(cutCentralDirectory(piped, "piped-cut.zip")));
  EXPECT_EQ(walked.status, 1) << walked.err;  // listed, but said to be damaged
  EXPECT_EQ(walked.out, run(cli() + " list --tsv " + shq(piped)).out);
}

TEST_F(ListInterop, PythonArchivesWithComments) {
  for (const char* method : {"stored", "deflated", "bzip2"}) {
    std::string archive = make(std::string("py-") + method + ".zip", std::string(kPythonWriter) + " " + method);
    expectSameListing(archive);
    expectSameComments(archive);
  }
}

TEST_F(ListInterop, SelfExtractorsAndGarbageInFront) {
  if (!haveTool("zip")) GTEST_SKIP() << "zip is not installed";
  std::string archive = make("plain.zip", "zip -q -r");
  RunResult expected = run(cli() + " list --tsv " + shq(archive));
  // Garbage in front, offsets not adjusted: the walk finds every entry.
  std::string stubbed = out("stubbed.exe");
  ASSERT_EQ(run("head -c 5000 /dev/urandom | tr -d P > " + shq(stubbed) + " && cat " + shq(archive) +
                " >> " + shq(stubbed)).status, 0);
  RunResult walked = run(cli() + " list --tsv " + shq(stubbed));
  EXPECT_EQ(walked.status, 0) << walked.err;
  EXPECT_EQ(walked.out, expected.out);
  // Offsets adjusted the way zip -A does: read straight from the central directory.
  std::string adjusted = out("adjusted.exe");
  ASSERT_EQ(run("cp " + shq(stubbed) + " " + shq(adjusted) + " && zip -q -A " + shq(adjusted)).status, 0);
  EXPECT_EQ(run(cli() + " list --tsv " + shq(adjusted)).out, expected.out);
}

TEST_F(ListInterop, CentralDirectoryCutOff) {
  if (!haveTool("zip")) GTEST_SKIP() << "zip is not installed";
  std::string archive = make("whole.zip", "zip -q -r");
  RunResult expected = run(cli() + " list --tsv " + shq(archive));
  std::string cut = cutCentralDirectory(archive, "cut.zip");
  RunResult walked = run(cli() + " list --tsv " + shq(cut));
  // What the walk finds is listed, and the archive is said to be damaged.
  EXPECT_EQ(walked.status, 1);
  EXPECT_NE(walked.err.find("cut.zip is damaged or incomplete: it has no end record"),
            std::string::npos) << walked.err;
  EXPECT_EQ(walked.out, expected.out);
  // Asked to treat it as part of a set, it is refused.
  RunResult multi = run(cli() + " list --incomplete multi " + shq(cut));
  EXPECT_EQ(multi.status, 3);
  EXPECT_NE(multi.err.find("Incomplete Zip File"), std::string::npos);
}

TEST_F(ListInterop, SplitSetsListFromTheirLastFile) {
  if (!haveTool("zip")) GTEST_SKIP() << "zip is not installed";
  std::string archive = make("split.zip", "zip -q -r -s 200k");
  ASSERT_TRUE(fileExists(out("split.z01")));
  std::string whole = make("unsplit.zip", "zip -q -r");
  RunResult ours = run(cli() + " list --tsv " + shq(archive));
  EXPECT_EQ(ours.status, 0) << ours.err;
  EXPECT_EQ(ours.out, run(cli() + " list --tsv " + shq(whole)).out);
}
