// Zip64: archives other tools write with Zip64 records are read whole, and ours carry them
// exactly where a value does not fit, in a form the other tools accept.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/SampleTree.h"
#include "support/TestUtil.h"

using namespace quelt::test;

namespace {

std::string cli() {
  return shq(binPath("quelt-cli"));
}

// Python's zipfile with its limits lowered, so every Zip64 record it knows is written for a
// small archive: end record and locator, sizes and offsets in the central extra fields.
const char* kForcedZip64 =
    "python3 -c 'import os,sys,zipfile\n"
    "zipfile.ZIP64_LIMIT = 1\n"
    "zipfile.ZIP_FILECOUNT_LIMIT = 1\n"
    "with zipfile.ZipFile(sys.argv[1], \"w\", zipfile.ZIP_DEFLATED) as z:\n"
    "    for root, dirs, files in sorted(os.walk(\".\")):\n"
    "        for f in sorted(files):\n"
    "            p = os.path.join(root, f)[2:]\n"
    "            with open(p, \"rb\") as s, z.open(p, \"w\", force_zip64=True) as d: "
    "d.write(s.read())' ";

class Zip64Interop : public SampleTreeTest {
 protected:
  RunResult quelt(const std::string& args, const std::string& cwd = "") {
    return run(cli() + " " + args, cwd.empty() ? src() : cwd);
  }
  void expectExtractsExactly(const std::string& archive) {
    std::string dest = path("out-" + std::to_string(++outs_));
    RunResult r = quelt("extract -d " + shq(dest) + " " + shq(archive));
    EXPECT_EQ(r.status, 0) << archive << "\n" << r.out << r.err;
    // Python's streamed entries get the time they were written, not the file's.
    EXPECT_EQ(compareTrees(src(), dest, false), std::vector<std::string>{}) << archive;
    RunResult t = quelt("test " + shq(archive));
    EXPECT_EQ(t.status, 0) << t.out << t.err;
  }
  int outs_ = 0;
};

}  // namespace

TEST_F(Zip64Interop, ArchivesWithZip64RecordsFromOtherToolsReadWhole) {
  std::string py = path("py64.zip");
  ASSERT_EQ(run(std::string(kForcedZip64) + shq(py), src()).status, 0);
  ASSERT_NE(readText(py).find("PK\x06\x06"), std::string::npos);  // it has the Zip64 records
  expectExtractsExactly(py);
  // Sizes come from the Zip64 fields, not the markers in the classic ones.
  RunResult l = quelt("list --format tsv " + shq(py));
  EXPECT_EQ(l.out.find("4294967295"), std::string::npos) << l.out;

  // The same behind a self-extractor's stub that its offsets do not count.
  std::string sfx = path("py64.exe");
  writeFile(sfx, std::string(3000, 'M') + readText(py));
  expectExtractsExactly(sfx);

  // Still readable after we rewrite it: the copied entries keep their Zip64 local headers.
  writeFile(path("new.txt"), std::string("new\n"));
  ASSERT_EQ(quelt("add --paths none " + shq(py) + " " + shq(path("new.txt"))).status, 0);
  RunResult t = run("python3 -m zipfile -t " + shq(py));
  EXPECT_EQ(t.status, 0) << t.out << t.err;
  if (haveTool("unzip")) {
    EXPECT_EQ(run("unzip -tq " + shq(py)).status, 0);
  }

  if (!haveTool("zip")) return;
  // zip streaming from a pipe: Zip64 local header, data descriptor with 8-byte sizes.
  std::string piped = path("piped.zip");
  ASSERT_EQ(run("zip -q -fz " + shq(piped) + " - < big.txt", src()).status, 0);
  std::string dest = path("piped-out");
  RunResult x = quelt("extract -d " + shq(dest) + " " + shq(piped));
  EXPECT_EQ(x.status, 0) << x.out << x.err;
  EXPECT_EQ(readText(dest + "/-"), readText(src() + "/big.txt"));
  // Found by walking its local headers too, when its directory is gone.
  std::string cut = path("cut.zip");
  std::string bytes = readText(piped);
  writeFile(cut, bytes.substr(0, bytes.rfind("PK\x01\x02")));
  RunResult w = quelt("extract -d " + shq(path("cut-out")) + " " + shq(cut));
  EXPECT_EQ(readText(path("cut-out") + "/-"), readText(src() + "/big.txt")) << w.out << w.err;
}

// Also as a block set and behind a self-extractor's stub, where the Zip64 records must still
// be found and kept.
TEST_F(Zip64Interop, SeventyThousandEntriesBothWays) {
#ifdef QUELT_SANITIZED
  GTEST_SKIP() << "tens of thousands of files: too slow under the sanitizers";
#endif
  // Theirs: more entries than the classic end record can count.
  std::string many = path("many.zip");
  ASSERT_EQ(run("python3 -c 'import sys,zipfile\n"
                "with zipfile.ZipFile(sys.argv[1], \"w\") as z:\n"
                "    for i in range(70000): z.writestr(\"d/f%05d\" % i, str(i))' " +
                shq(many))
                .status,
            0);
  RunResult l = quelt("list " + shq(many));
  EXPECT_EQ(l.status, 0) << l.err;
  EXPECT_NE(l.out.find("70000 entries"), std::string::npos) << l.out.substr(l.out.size() - 200);
  RunResult t = quelt("test " + shq(many));
  EXPECT_EQ(t.status, 0) << t.err;

  // Ours: 70,000 files make a Zip64 end record the other tools accept.
  std::string tree = path("tree");
  ASSERT_EQ(run("mkdir " + shq(tree) + " && cd " + shq(tree) +
                " && python3 -c 'for i in range(70000): open(\"f%05d\" % i, \"w\").write(str(i))'")
                .status,
            0);
  std::string ours = path("ours.zip");
  RunResult a =
      quelt("add -l 1 --paths none " + shq(ours) + " " + shq(tree + "/*") + " > /dev/null");
  ASSERT_EQ(a.status, 0) << a.err;
  RunResult py =
      run("python3 -c 'import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); "
          "print(len(z.infolist()), z.read(\"f69999\"))' " +
          shq(ours));
  EXPECT_EQ(py.out, "70000 b'69999'\n") << py.err;
  if (haveTool("unzip")) {
    EXPECT_EQ(run("unzip -tq " + shq(ours)).status, 0);
  }
  if (haveTool("7z")) {
    EXPECT_EQ(run("7z t -bd -bso0 " + shq(ours)).status, 0);
  }
  // The same files as a block set named as zip -s names one; its last block holds the Zip64
  // records.
  const int kEntries = 70000;
  std::string set = path("set.zip");
  a = quelt("add -q -1 --paths none --split 256k --split-names z01 " + shq(set) + " " +
            shq(tree + "/*"));
  ASSERT_EQ(a.status, 0) << a.err;
  ASSERT_TRUE(fileExists(path("set.z02")));
  EXPECT_NE(readText(set).find("PK\x06\x06"), std::string::npos);
  RunResult ts = quelt("test -q " + shq(set));
  EXPECT_EQ(ts.status, 0) << ts.err;
  EXPECT_EQ(quelt("extract -p " + shq(set) + " f69999").out, "69999");
  if (haveTool("7z")) {
    RunResult s = run("7z t -bd " + shq(set));
    EXPECT_EQ(s.status, 0) << s.out.substr(0, 2000);
    EXPECT_NE(s.out.find("Files: " + std::to_string(kEntries)), std::string::npos);
  }
  if (haveTool("zip") && haveTool("unzip")) {
    RunResult j =
        run("zip -s 0 set.zip --out joined.zip > /dev/null && unzip -tq joined.zip", dir_.path());
    EXPECT_EQ(j.status, 0) << j.out << j.err;
  }

  // A self-extractor of our archive, whose stub its offsets do not count; then rewritten.
  std::string exe = path("ours.exe");
  ASSERT_EQ(quelt("sfx -q -o " + shq(exe) + " " + shq(ours)).status, 0);
  writeFile(path("new.txt"), std::string("new\n"));
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round == 0 ? "as built" : "after an entry was added");
    RunResult us = quelt("test -q " + shq(exe));
    EXPECT_EQ(us.status, 0) << us.err;
    RunResult p =
        run("python3 -c 'import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); "
            "print(len(z.infolist()), z.testzip(), z.read(\"f69999\"))' " +
            shq(exe));
    EXPECT_EQ(p.out, std::to_string(kEntries + round) + " None b'69999'\n") << p.err;
    if (haveTool("7z")) {
      RunResult s = run("7z t -bd " + shq(exe));
      EXPECT_NE(s.out.find("Everything is Ok"), std::string::npos) << s.out.substr(0, 2000);
    }
    if (haveTool("unzip")) {
      // unzip warns about a stub the offsets do not count (status 1), until a rewrite counts it.
      EXPECT_EQ(run("unzip -tq " + shq(exe)).status, round == 0 ? 1 : 0);
    }
    if (round == 0) {
      ASSERT_EQ(quelt("add -q --paths none " + shq(exe) + " " + shq(path("new.txt"))).status, 0);
    }
  }
}

// Five GiB of zeros from a sparse file: a minute or more of reading and checking, so it
// runs only when asked for (QUELT_SLOW_TESTS=1, the "slow" label of ctest).
TEST_F(Zip64Interop, SlowFileOfFiveGiB) {
  if (!std::getenv("QUELT_SLOW_TESTS")) GTEST_SKIP() << "set QUELT_SLOW_TESTS=1 to run";
  std::string big = path("big.bin");
  ASSERT_EQ(run("truncate -s 5G " + shq(big)).status, 0);
  std::string archive = path("big.zip");
  RunResult a = quelt("add -l 1 --paths none " + shq(archive) + " " + shq(big) + " hello.txt");
  ASSERT_EQ(a.status, 0) << a.out << a.err;
  RunResult py =
      run("python3 -c 'import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); "
          "print([(i.filename, i.file_size) for i in z.infolist()]); print(z.testzip())' " +
          shq(archive));
  EXPECT_EQ(py.out, "[('big.bin', 5368709120), ('hello.txt', " +
                        std::to_string(readText(src() + "/hello.txt").size()) + ")]\nNone\n")
      << py.err;
  if (haveTool("unzip")) {
    EXPECT_EQ(run("unzip -tq " + shq(archive)).status, 0);
  }
  if (haveTool("7z")) {
    EXPECT_EQ(run("7z t -bd -bso0 " + shq(archive)).status, 0);
  }
  EXPECT_EQ(quelt("test " + shq(archive)).status, 0);
}
