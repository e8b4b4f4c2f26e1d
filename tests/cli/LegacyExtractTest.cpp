// Shrunk, reduced and imploded archives from an independent encoder extract and test byte
// for byte through quelt-cli; damage in one entry fails only that entry.
#include <gtest/gtest.h>

#include "engine/Crc32.h"
#include "support/LegacyArchives.h"
#include "support/Sha256.h"
#include "support/TestUtil.h"

using namespace quelt::test;

namespace {

std::string cli() {
  return shq(binPath("quelt-cli"));
}
std::string legacyPath(const std::string& file) {
  return testdataPath("legacy/" + file);
}

TEST(LegacyExtract, EveryEntryExtractsWithTheManifestBytes) {
  auto manifest = readLegacyManifest();
  ASSERT_EQ(manifest.size(), 9u);
  TempDir dir;
  for (const auto& archive : manifest) {
    SCOPED_TRACE(archive.file);
    std::string dest = dir / archive.file;
    RunResult x = run(cli() + " extract -d " + shq(dest) + " " + shq(legacyPath(archive.file)));
    EXPECT_EQ(x.status, 0) << x.out << x.err;
    for (const auto& want : archive.entries) {
      SCOPED_TRACE(want.path);
      ASSERT_TRUE(fileExists(dest + "/" + want.path));
      auto got = readFile(dest + "/" + want.path);
      EXPECT_EQ(got.size(), want.size);
      EXPECT_EQ(quelt::Crc32Of(got.data(), got.size()), want.crc);
      EXPECT_EQ(sha256Hex(got), want.sha256);
    }
    RunResult t = run(cli() + " test " + shq(legacyPath(archive.file)));
    EXPECT_EQ(t.status, 0) << t.out << t.err;
  }
}

TEST(LegacyExtract, DamagedEntryFailsAloneAndLeavesNoFile) {
  TempDir dir;
  for (const char* file : {"legacy_shrink.zip", "legacy_reduce3.zip", "legacy_implode.zip",
                           "legacy_implode4k_nolit.zip"}) {
    SCOPED_TRACE(file);
    std::string bad = dir / (std::string("bad-") + file);
    // Zero eight bytes in the middle of text.txt's compressed data.
    RunResult r =
        run("python3 -c 'import sys,zipfile\n"
            "d=bytearray(open(sys.argv[1],\"rb\").read())\n"
            "i=zipfile.ZipFile(sys.argv[1]).getinfo(\"legacy/text.txt\")\n"
            "p=i.header_offset+30+len(i.filename)+len(i.extra)+i.compress_size//2\n"
            "d[p:p+8]=bytes(8)\n"
            "open(sys.argv[2],\"wb\").write(d)' " +
            shq(legacyPath(file)) + " " + shq(bad));
    ASSERT_EQ(r.status, 0) << r.err;
    std::string dest = dir / (std::string("out-") + file);
    RunResult x = run(cli() + " extract -d " + shq(dest) + " " + shq(bad));
    EXPECT_EQ(x.status, 1) << x.out;
    EXPECT_NE(x.err.find("failed   legacy/text.txt"), std::string::npos) << x.err;
    EXPECT_FALSE(fileExists(dest + "/legacy/text.txt"));
    EXPECT_TRUE(fileExists(dest + "/legacy/code.c"));
    RunResult t = run(cli() + " test " + shq(bad));
    EXPECT_EQ(t.status, 1) << t.out;
  }
}

}  // namespace
