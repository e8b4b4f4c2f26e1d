// Block sets written by quelt-cli, and split sets written by zip, read from any of their
// files; other tools' view of our sets.
#include <gtest/gtest.h>

#include "support/TestUtil.h"

using namespace quelt::test;

namespace {
std::string cli() {
  return shq(binPath("quelt-cli"));
}
}  // namespace

TEST(SplitInterop, BlockSetsListTestAndExtractFromTheirLastFile) {
  TempDir dir;
  writeFile(dir / "src/r.bin", randomBytes(900000, 1));
  writeFile(dir / "src/t.txt", textBytes(2000000, 2));
  RunResult add = run(cli() + " add --split 256k --first-split 100k " + shq(dir / "set.zip") + " .",
                      dir / "src");
  ASSERT_EQ(add.status, 0) << add.out << add.err;
  RunResult files = run("ls " + shq(dir.path()) + " | grep '^set'");
  EXPECT_EQ(files.out.substr(0, 16), "set.001\nset.002\n");
  std::string last =
      dir / ("set.00" + std::to_string(std::count(files.out.begin(), files.out.end(), '\n')));
  EXPECT_EQ(run("stat -c %s " + shq(dir / "set.001")).out, "102400\n");
  EXPECT_EQ(run(cli() + " test " + shq(last)).status, 0);
  RunResult x = run(cli() + " extract -d " + shq(dir / "out") + " " + shq(last));
  EXPECT_EQ(x.status, 0) << x.out << x.err;
  EXPECT_EQ(readFile(dir / "out/r.bin"), readFile(dir / "src/r.bin"));
  EXPECT_EQ(readFile(dir / "out/t.txt"), readFile(dir / "src/t.txt"));
  // A missing block is named.
  ASSERT_EQ(run("mv " + shq(dir / "set.002") + " " + shq(dir / "moved")).status, 0);
  RunResult missing = run(cli() + " test " + shq(last));
  EXPECT_EQ(missing.status, 3);
  EXPECT_NE(missing.err.find("set.002"), std::string::npos) << missing.err;
  ASSERT_EQ(run("mv " + shq(dir / "moved") + " " + shq(dir / "set.002")).status, 0);

  // Renamed the way split sets are named, 7z accepts it without a spanning signature.
  if (haveTool("7z")) {
    RunResult renamed =
        run("n=0; for f in $(ls set.0* | sort); do n=$((n+1)); done; i=0; "
            "for f in $(ls set.0* | sort); do i=$((i+1)); "
            "if [ $i -eq $n ]; then cp $f copy.zip; else cp $f copy.z$(printf %02d $i); fi; done; "
            "7z t copy.zip",
            dir.path());
    EXPECT_EQ(renamed.status, 0) << renamed.out;
    EXPECT_NE(renamed.out.find("Everything is Ok"), std::string::npos) << renamed.out;
  }
}

TEST(SplitInterop, InfoZipSplitSetsExtract) {
  if (!haveTool("zip")) GTEST_SKIP();
  TempDir dir;
  writeFile(dir / "src/r.bin", randomBytes(700000, 3));
  writeFile(dir / "src/t.txt", textBytes(900000, 4));
  // Also with every Zip64 record zip writes (-fz): the Zip64 end record and locator stand on
  // the last volume and point into it.
  for (const std::string options : {"-s 128k", "-fz -s 128k"}) {
    SCOPED_TRACE(options);
    run("rm -rf " + shq(dir / "zs.zip") + " " + shq(dir.path()) + "/zs.z* " + shq(dir / "out"));
    ASSERT_EQ(run("zip -q -r " + options + " " + shq(dir / "zs.zip") + " .", dir / "src").status,
              0);
    ASSERT_TRUE(fileExists(dir / "zs.z02"));
    EXPECT_EQ(readText(dir / "zs.zip").find("PK\x06\x06") != std::string::npos, options[1] == 'f');
    RunResult x = run(cli() + " extract -d " + shq(dir / "out") + " " + shq(dir / "zs.zip"));
    EXPECT_EQ(x.status, 0) << x.out << x.err;
    EXPECT_EQ(readFile(dir / "out/r.bin"), readFile(dir / "src/r.bin"));
    EXPECT_EQ(readFile(dir / "out/t.txt"), readFile(dir / "src/t.txt"));
  }
  // A set cannot be rewritten.
  RunResult add =
      run(cli() + " add --paths none " + shq(dir / "zs.zip") + " " + shq(dir / "src/t.txt"));
  EXPECT_EQ(add.status, 3);
  EXPECT_NE(add.err.find("multi-volume"), std::string::npos) << add.err;
}

TEST(SplitInterop, SetsNamedAsZipSplitsThemAreReadByOtherTools) {
  TempDir dir;
  writeFile(dir / "src/r.bin", randomBytes(500000, 5));
  writeFile(dir / "src/t.txt", textBytes(800000, 6));
  struct Case {
    std::string size;
    std::vector<std::string> files;  // what the set is, in order
    std::string summary;
  };
  const Case cases[] = {
      {"200k",
       {"z.z01", "z.z02", "z.z03", "z.zip"},
       "z.z01 ... " + (dir / "z.zip") + " (4 blocks)"},
      // One block is an ordinary archive under the archive's name.
      {"2m", {"z.zip"}, dir / "z.zip"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    run("rm -f " + shq(dir.path()) + "/z.*");
    RunResult add =
        run(cli() + " add --split " + c.size + " --split-names z01 " + shq(dir / "z.zip") + " .",
            dir / "src");
    ASSERT_EQ(add.status, 0) << add.out << add.err;
    std::string expected;
    for (const std::string& f : c.files) expected += f + "\n";
    EXPECT_EQ(run("ls " + shq(dir.path()) + " | grep '^z\\.'").out, expected);
    EXPECT_NE(add.out.find("compressed into " + (c.files.size() > 1 ? dir / "" : "") + c.summary),
              std::string::npos)
        << add.out;
    RunResult x = run(cli() + " extract -o -d " + shq(dir / "out") + " " + shq(dir / "z.zip"));
    EXPECT_EQ(x.status, 0) << x.out << x.err;
    EXPECT_EQ(readFile(dir / "out/r.bin"), readFile(dir / "src/r.bin"));
    EXPECT_EQ(readFile(dir / "out/t.txt"), readFile(dir / "src/t.txt"));
    if (haveTool("7z")) {
      RunResult t = run("7z t -bd " + shq(dir / "z.zip"));
      EXPECT_EQ(t.status, 0) << t.out;
      if (c.files.size() > 1) {
        EXPECT_NE(t.out.find("Volumes = " + std::to_string(c.files.size())), std::string::npos)
            << t.out;
      }
    }
    if (haveTool("zip") && haveTool("unzip")) {
      RunResult joined =
          run("rm -f joined.zip && zip -s 0 z.zip --out joined.zip && unzip -tq joined.zip",
              dir.path());
      EXPECT_EQ(joined.status, 0) << joined.out << joined.err;
    }
  }
  EXPECT_EQ(run(cli() + " add --split 1m --split-names 001 x.zip src", dir.path()).status, 2);
}
