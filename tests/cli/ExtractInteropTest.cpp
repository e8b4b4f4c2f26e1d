// Archives written by other tools extract byte for byte, with their dates; damage, unknown
// methods and hostile names are reported per entry.
#include <gtest/gtest.h>

#include "support/SampleTree.h"
#include "support/TestUtil.h"

using namespace quelt::test;

namespace {

std::string cli() { return shq(binPath("quelt-cli")); }

class ExtractInterop : public SampleTreeTest {
 protected:

  std::string make(const std::string& name, const std::string& command) {
    std::string archive = path(name);
    RunResult r = run(command + " " + shq(archive) + " *", src());
    EXPECT_EQ(r.status, 0) << command << "\n" << r.out << r.err;
    return archive;
  }
  RunResult extract(const std::string& archive, const std::string& dest, const std::string& options = "") {
    return run(cli() + " extract " + options + " -d " + shq(dest) + " " + shq(archive));
  }
  void expectExtractsExactly(const std::string& archive, const std::string& options = "") {
    std::string dest = path("out-" + std::to_string(++outs_));
    RunResult r = extract(archive, dest, options);
    EXPECT_EQ(r.status, 0) << archive << "\n" << r.out << r.err;
    EXPECT_EQ(compareTrees(src(), dest, true), std::vector<std::string>{}) << archive;
    RunResult t = run(cli() + " test " + options + " " + shq(archive));
    EXPECT_EQ(t.status, 0) << t.out << t.err;
  }

  int outs_ = 0;
};

}  // namespace

TEST_F(ExtractInterop, InfoZipStoredAndDeflated) {
  if (!haveTool("zip")) GTEST_SKIP();
  for (const char* level : {"-0", "-1", "-6", "-9"})
    expectExtractsExactly(make(std::string("z") + level + ".zip", std::string("zip -q -r ") + level));
  std::string dest = path("folders");
  extract(path("z-6.zip"), dest);
  EXPECT_TRUE(fileExists(dest + "/empty-folder"));
}

TEST_F(ExtractInterop, SevenZipBsdtarAndPython) {
  if (haveTool("7z")) {
    expectExtractsExactly(make("7z.zip", "7z a -tzip -bd -bso0"));
    expectExtractsExactly(make("7z9.zip", "7z a -tzip -mx=9 -bd -bso0"));
  }
  if (haveTool("bsdtar")) {
    expectExtractsExactly(make("bsdtar.zip", "bsdtar --format zip -cf"));
    std::string piped = path("piped.zip");
    ASSERT_EQ(run("bsdtar --format zip -cf - * > " + shq(piped), src()).status, 0);
    expectExtractsExactly(piped);  // every entry followed by a data descriptor
  }
  std::string py = path("py.zip");
  RunResult r = run("python3 -c 'import os,sys,zipfile\n"
                    "with zipfile.ZipFile(sys.argv[1], \"w\", zipfile.ZIP_DEFLATED) as z:\n"
                    "    for root, dirs, files in os.walk(\".\"):\n"
                    "        for f in files: z.write(os.path.join(root, f))' " + shq(py), src());
  ASSERT_EQ(r.status, 0) << r.err;
  expectExtractsExactly(py);
}

TEST_F(ExtractInterop, TraditionalEncryption) {
  std::vector<std::string> archives;
  if (haveTool("zip")) archives.push_back(make("zip-e.zip", "zip -q -r -P s3cret"));
  if (haveTool("7z")) archives.push_back(make("7z-e.zip", "7z a -tzip -ps3cret -mem=ZipCrypto -bd -bso0"));
  for (const auto& archive : archives) {
    expectExtractsExactly(archive, "-P s3cret");
    // A wrong password skips every encrypted entry and writes none of them.
    std::string dest = path("wrong");
    RunResult r = extract(archive, dest, "-P wrong");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.err.find("skipped  hello.txt: wrong password"), std::string::npos) << r.err;
    EXPECT_FALSE(fileExists(dest + "/hello.txt"));
    RunResult t = run(cli() + " test " + shq(archive));  // no password at all, no terminal
    EXPECT_EQ(t.status, 1);
  }
}

TEST_F(ExtractInterop, NewerMethodsExtractAndUnreadableOnesAreNamed) {
  std::string mixed = path("mixed.zip");
  RunResult r = run("python3 -c 'import sys,zipfile\n"
                    "with zipfile.ZipFile(sys.argv[1], \"w\") as z:\n"
                    "    z.write(\"hello.txt\", compress_type=zipfile.ZIP_STORED)\n"
                    "    z.write(\"big.txt\", compress_type=zipfile.ZIP_BZIP2)\n"
                    "    z.write(\"random.bin\", compress_type=zipfile.ZIP_LZMA)\n"
                    "    z.write(\"one.bin\", compress_type=zipfile.ZIP_DEFLATED)' " + shq(mixed), src());
  ASSERT_EQ(r.status, 0) << r.err;
  std::string dest = path("mixed-out");
  RunResult x = extract(mixed, dest);
  EXPECT_EQ(x.status, 0) << x.out << x.err;
  for (const char* name : {"hello.txt", "big.txt", "random.bin", "one.bin"})
    EXPECT_EQ(readFile(dest + "/" + name), readFile(src() + "/" + name)) << name;

  if (!haveTool("7z")) return;
  std::string ppmd = make("ppmd.zip", "7z a -tzip -mm=PPMd -bd -bso0");
  RunResult y = run(cli() + " test " + shq(ppmd));
  EXPECT_EQ(y.status, 1);
  EXPECT_NE((y.out + y.err).find("big.txt: compressed with PPMd, which Quelt cannot read"), std::string::npos) << y.out << y.err;
  EXPECT_NE(y.err.find("Unknown Compression Method: PPMd"), std::string::npos) << y.err;
  for (const char* m : {"BZip2", "LZMA"}) {
    std::string made = make(std::string(m) + ".zip", std::string("7z a -tzip -mm=") + m + " -bd -bso0");
    expectExtractsExactly(made);
  }
}

TEST_F(ExtractInterop, CorruptedDataFailsOnlyThatEntry) {
  if (!haveTool("zip")) GTEST_SKIP();
  std::string archive = make("good.zip", "zip -q -r -6");
  std::string bad = path("bad.zip");
  // Flip bytes in the middle of big.txt's compressed data.
  RunResult r = run("python3 -c 'import sys,zipfile\n"
                    "d=bytearray(open(sys.argv[1],\"rb\").read())\n"
                    "i=zipfile.ZipFile(sys.argv[1]).getinfo(\"big.txt\")\n"
                    "p=i.header_offset+30+len(i.filename)+len(i.extra)+i.compress_size//2\n"
                    "d[p:p+8]=bytes(8)\n"
                    "open(sys.argv[2],\"wb\").write(d)' " + shq(archive) + " " + shq(bad));
  ASSERT_EQ(r.status, 0) << r.err;
  std::string dest = path("bad-out");
  RunResult x = extract(bad, dest);
  EXPECT_EQ(x.status, 1);
  EXPECT_NE(x.err.find("failed   big.txt"), std::string::npos) << x.err;
  EXPECT_FALSE(fileExists(dest + "/big.txt"));
  EXPECT_EQ(readFile(dest + "/random.bin"), readFile(src() + "/random.bin"));
  // A file cut inside its last entry: the entries before the cut still come out.
  std::string cut = path("cut.zip");
  ASSERT_EQ(run("python3 -c 'import sys,zipfile\n"
                "z=zipfile.ZipFile(sys.argv[1]); last=max(z.infolist(), key=lambda i: i.header_offset)\n"
                "d=open(sys.argv[1],\"rb\").read()[:last.header_offset+40+len(last.filename)]\n"
                "open(sys.argv[2],\"wb\").write(d)' " + shq(archive) + " " + shq(cut)).status, 0);
  RunResult c = extract(cut, path("cut-out"));
  EXPECT_EQ(c.status, 1) << c.out;
  EXPECT_TRUE(fileExists(path("cut-out") + "/empty.txt"));
}

TEST_F(ExtractInterop, HostileNamesStayInsideTheDestination) {
  std::string evil = path("evil.zip");
  RunResult r = run("python3 -c 'import sys,zipfile\n"
                    "with zipfile.ZipFile(sys.argv[1], \"w\") as z:\n"
                    "    for n in [\"../escape.txt\", \"/abs.txt\", \"a/../../up.txt\", \"C:/drive.txt\", \"ok.txt\"]:\n"
                    "        z.writestr(zipfile.ZipInfo(n), n)' " + shq(evil));
  ASSERT_EQ(r.status, 0) << r.err;
  std::string root = path("jail");
  std::string dest = root + "/inner";
  RunResult x = extract(evil, dest);
  EXPECT_EQ(x.status, 0) << x.out << x.err;
  EXPECT_EQ(run("cd " + shq(root) + " && find . -type f | sort").out,
            "./inner/a/up.txt\n./inner/abs.txt\n./inner/drive.txt\n./inner/escape.txt\n./inner/ok.txt\n");
  EXPECT_NE(x.err.find("warning  ../escape.txt: unsafe parts"), std::string::npos) << x.err;
}

TEST_F(ExtractInterop, ExitStatusForWhatIsNotAnArchive) {
  std::string junk = path("junk.bin");
  writeFile(junk, randomBytes(5000, 9));
  EXPECT_EQ(run(cli() + " extract " + shq(junk) + " -d " + shq(path("j"))).status, 3);
  EXPECT_EQ(run(cli() + " test --incomplete multi " + shq(junk)).status, 3);
  EXPECT_EQ(run(cli() + " list " + shq(path("missing.zip"))).status, 3);
  EXPECT_EQ(run(cli() + " extract").status, 2);
}
