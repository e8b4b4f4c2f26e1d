// quelt-cli uuencode and uudecode against GNU's uuencode, uudecode and base64: each side decodes
// what the other wrote, byte for byte.
#include <gtest/gtest.h>

#include "support/TestUtil.h"

using namespace quelt::test;

namespace {

std::string cli() {
  return shq(binPath("quelt-cli"));
}

class UUInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!haveTool("uuencode") || !haveTool("uudecode") || !haveTool("base64")) GTEST_SKIP();
    for (size_t n : kSizes) writeFile(name(n), randomBytes(n, uint32_t(n)));
  }
  std::string name(size_t n) const { return dir / ("f" + std::to_string(n) + ".bin"); }

  static constexpr size_t kSizes[] = {0, 1, 2, 3, 10, 44, 45, 46, 57, 90, 100, 4000};
  TempDir dir;
};

TEST_F(UUInterop, GnuDecodesOurs) {
  for (size_t n : kSizes) {
    SCOPED_TRACE(n);
    const std::string in = name(n);
    for (const char* lineEnd : {"", "--lf"}) {
      ASSERT_EQ(
          run(cli() + " uuencode --force " + lineEnd + " " + shq(in) + " -o " + shq(dir / "o.uue"))
              .status,
          0);
      RunResult r = run("uudecode -o " + shq(dir / "gnu.out") + " " + shq(dir / "o.uue"));
      EXPECT_EQ(r.status, 0) << lineEnd << r.err;
      EXPECT_EQ(readFile(dir / "gnu.out"), readFile(in)) << lineEnd;
    }
    // Base64: GNU uudecode takes LF lines; base64 -d takes the lines between the header lines.
    ASSERT_EQ(
        run(cli() + " uuencode --force --lf --base64 " + shq(in) + " -o " + shq(dir / "o.b64"))
            .status,
        0);
    RunResult r = run("uudecode -o " + shq(dir / "gnu64.out") + " " + shq(dir / "o.b64"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(dir / "gnu64.out"), readFile(in));
    r = run("sed '1d;$d' " + shq(dir / "o.b64") + " | base64 -d > " + shq(dir / "b64.out"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(dir / "b64.out"), readFile(in));
    // CR LF lines (the default) need their carriage returns dropped first.
    ASSERT_EQ(
        run(cli() + " uuencode --force --base64 " + shq(in) + " -o " + shq(dir / "c.b64")).status,
        0);
    r = run("sed '1d;$d' " + shq(dir / "c.b64") + " | tr -d '\\r' | base64 -d > " +
            shq(dir / "b64.out"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(dir / "b64.out"), readFile(in));
  }
}

TEST_F(UUInterop, WeDecodeGnus) {
  for (size_t n : kSizes) {
    SCOPED_TRACE(n);
    for (const char* flag : {"", "-m"}) {
      ASSERT_EQ(run("uuencode " + std::string(flag) + " " + shq(name(n)) + " gnu.bin > " +
                    shq(dir / "g.txt"))
                    .status,
                0);
      RunResult r =
          run(cli() + " uudecode --force -d " + shq(dir / "ours") + " " + shq(dir / "g.txt"));
      EXPECT_EQ(r.status, 0) << flag << r.out << r.err;
      EXPECT_EQ(readFile(dir / "ours/gnu.bin"), readFile(name(n))) << flag;
    }
  }
}

TEST_F(UUInterop, CommandLineNamesAndRefusals) {
  const std::string in = dir / "backup.2024.zip";
  writeFile(in, randomBytes(500, 3));
  RunResult r = run(cli() + " uuencode --xx " + shq(in));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "encoded as " + dir / "backup.uue" + "\n");
  // The decoder writes beside the text, under the begin line's name.
  ASSERT_EQ(::rename(in.c_str(), (dir / "original").c_str()), 0);
  r = run(cli() + " uudecode " + shq(dir / "backup.uue"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readFile(in), readFile(dir / "original"));
  // Existing files are kept unless --force (no terminal to ask on).
  r = run(cli() + " uudecode " + shq(dir / "backup.uue"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("already exists"), std::string::npos) << r.err;
  r = run(cli() + " uuencode " + shq(in));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(run(cli() + " uuencode --force " + shq(in)).status, 0);
  EXPECT_EQ(run(cli() + " uuencode --xx --base64 " + shq(in)).status, 2);
  writeFile(dir / "hostile.uue", std::string("begin 644 ../../outside\nhello\n`\nend\n"));
  r = run(cli() + " uudecode -d " + shq(dir / "in") + " " + shq(dir / "hostile.uue"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fileExists(dir / "in/outside"));
  EXPECT_EQ(run(cli() + " uudecode " + shq(dir / "none.uue")).status, 3);
}

}  // namespace
