// AES-encrypted archives of another tool: read with the right password at every key size,
// refused with a wrong one, and an entry changed after encryption fails its authentication.
#include <gtest/gtest.h>

#include "support/SampleTree.h"
#include "support/TestUtil.h"

using namespace quelt::test;

namespace {

std::string cli() {
  return shq(binPath("quelt-cli"));
}

class AesInterop : public SampleTreeTest {};

}  // namespace

TEST_F(AesInterop, SevenZipAesArchivesReadRefuseAndAuthenticate) {
  if (!haveTool("7z")) GTEST_SKIP() << "7z missing";
  struct Case {
    const char* name;
    const char* switches;
  } cases[] = {{"aes128.zip", "-mem=AES128"},
               {"aes192.zip", "-mem=AES192 -mm=Copy"},
               {"aes256.zip", "-mem=AES256 -mm=BZip2"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string archive = path(c.name);
    RunResult made =
        run(std::string("7z a -tzip -bd -bso0 -pS3cr3t ") + c.switches + " " + shq(archive) + " *",
            src());
    ASSERT_EQ(made.status, 0) << made.err;
    std::string dest = path(std::string(c.name) + "-out");
    RunResult x = run(cli() + " extract -P S3cr3t -d " + shq(dest) + " " + shq(archive));
    EXPECT_EQ(x.status, 0) << x.out << x.err;
    EXPECT_EQ(compareTrees(src(), dest, false), std::vector<std::string>{});

    RunResult wrong = run(cli() + " test -P nope " + shq(archive));
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.err.find("skipped  hello.txt: wrong password"), std::string::npos) << wrong.err;
  }

  // One byte of big.txt's encrypted data flipped: that entry fails, the others pass.
  std::string tampered = path("tampered.zip");
  RunResult t =
      run("python3 -c 'import sys,zipfile\n"
          "d=bytearray(open(sys.argv[1],\"rb\").read())\n"
          "i=zipfile.ZipFile(sys.argv[1]).getinfo(\"big.txt\")\n"
          "d[i.header_offset+30+len(i.filename)+len(i.extra)+i.compress_size//2]^=1\n"
          "open(sys.argv[2],\"wb\").write(d)' " +
          shq(path("aes256.zip")) + " " + shq(tampered));
  ASSERT_EQ(t.status, 0) << t.err;
  std::string dest = path("tampered-out");
  RunResult x = run(cli() + " extract -P S3cr3t -d " + shq(dest) + " " + shq(tampered));
  EXPECT_EQ(x.status, 1);
  EXPECT_NE(x.err.find("skipped  big.txt: its authentication code does not match"),
            std::string::npos)
      << x.err;
  EXPECT_FALSE(fileExists(dest + "/big.txt"));
  EXPECT_EQ(readText(dest + "/hello.txt"), readText(src() + "/hello.txt"));
}

TEST_F(AesInterop, OurAes256ArchivesPassTheOtherToolsCheck) {
  std::string archive = path("ours.zip");
  RunResult a = run(cli() + " add --aes -P S3cr3t " + shq(archive) + " *", src());
  ASSERT_EQ(a.status, 0) << a.out << a.err;
  // AE-2: the real method in the AES field, no CRC to tell about the plain text.
  RunResult py =
      run("python3 -c 'import sys,zipfile; i=zipfile.ZipFile(sys.argv[1]).getinfo(\"big.txt\"); "
          "print(i.compress_type, i.CRC, i.flag_bits & 1, i.extra.hex().find(\"0199070002004145\") "
          ">= 0)' " +
          shq(archive));
  EXPECT_EQ(py.out, "99 0 1 True\n") << py.err;
  RunResult own = run(cli() + " extract -P S3cr3t -d " + shq(path("own")) + " " + shq(archive));
  EXPECT_EQ(own.status, 0) << own.out;
  EXPECT_EQ(compareTrees(src(), path("own"), true), std::vector<std::string>{});
  EXPECT_EQ(run(cli() + " test -P wrong " + shq(archive)).status, 1);
  if (!haveTool("7z")) return;
  RunResult t = run("7z t -bd -bso0 -pS3cr3t " + shq(archive));
  EXPECT_EQ(t.status, 0) << t.out << t.err;
  RunResult x = run("7z x -bd -bso0 -pS3cr3t -o" + shq(path("7z")) + " " + shq(archive));
  EXPECT_EQ(x.status, 0) << x.out << x.err;
  EXPECT_EQ(compareTrees(src(), path("7z"), false), std::vector<std::string>{});
  EXPECT_NE(run("7z t -bd -bso0 -pwrong " + shq(archive)).status, 0);
}

TEST_F(AesInterop, OurAesEntriesAreStoredAtLevelZeroAndWhenDeflateWouldEnlargeThem) {
  // The real method is the last two bytes of the AES field (found by walking the fields: its
  // id may also stand inside another field's bytes); stored data gains only the
  // salt, verifier and authentication code (28 bytes for AES-256).
  const std::string check =
      "import sys,zipfile\n"
      "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
      "  if i.is_dir(): continue\n"
      "  e,k,m=i.extra,0,None\n"
      "  while k+4<=len(e):\n"
      "    t,n=int.from_bytes(e[k:k+2],\"little\"),int.from_bytes(e[k+2:k+4],\"little\")\n"
      "    if t==0x9901: m=int.from_bytes(e[k+9:k+11],\"little\")\n"
      "    k+=4+n\n"
      "  print(i.filename, m, i.compress_size-i.file_size if m==0 else \"-\")\n";
  for (const char* level : {"-0", "-6"}) {
    SCOPED_TRACE(level);
    std::string archive = path(std::string("level") + level + ".zip");
    RunResult a =
        run(cli() + " add " + level + " --aes -P S3cr3t " + shq(archive) + " big.txt random.bin",
            src());
    ASSERT_EQ(a.status, 0) << a.out << a.err;
    RunResult py = run("python3 -c " + shq(check) + " " + shq(archive));
    EXPECT_NE(py.out.find("random.bin 0 28\n"), std::string::npos) << py.out << py.err;
    EXPECT_NE(py.out.find(std::string("big.txt ") + (level[1] == '0' ? "0 28" : "8 -")),
              std::string::npos)
        << py.out;
    RunResult own = run(cli() + " test -P S3cr3t " + shq(archive));
    EXPECT_EQ(own.status, 0) << own.out << own.err;
    if (haveTool("7z")) {
      EXPECT_EQ(run("7z t -bd -bso0 -pS3cr3t " + shq(archive)).status, 0);
    }
  }
}
