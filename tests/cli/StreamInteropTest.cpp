// Archives through pipes: `add -` streams one to standard output, the file "-" adds standard
// input as an entry, and the archive "-" of extract, test and list is read from standard input.
#include <gtest/gtest.h>

#include "support/SampleTree.h"
#include "support/TestUtil.h"

using namespace quelt::test;

namespace {

std::string cli() {
  return shq(binPath("quelt-cli"));
}

// Python's view of an archive on standard input (a pipe cannot seek, so it reads it whole):
// entries whose sizes follow their data, the descriptor after each (8-byte sizes where the
// local header has a Zip64 field), and what testzip finds wrong.
const char* kStreamReport =
    "python3 -c 'import io,struct,sys,zipfile\n"
    "data = sys.stdin.buffer.read()\n"
    "z = zipfile.ZipFile(io.BytesIO(data))\n"
    "for i in z.infolist():\n"
    "    h = i.header_offset\n"
    "    n, e = struct.unpack(\"<HH\", data[h + 26:h + 30])\n"
    "    extra = data[h + 30 + n:h + 30 + n + e]\n"
    "    ids, k = [], 0\n"
    "    while k + 4 <= len(extra):\n"
    "        t, l = struct.unpack(\"<HH\", extra[k:k + 4]); ids.append(t); k += 4 + l\n"
    "    end = h + 30 + n + e + i.compress_size\n"
    "    d = 0\n"
    "    if i.flag_bits & 8:\n"
    "        assert data[end:end + 4] == b\"PK\\x07\\x08\"\n"
    "        d = 24 if 1 in ids else 16\n"
    "        assert data[end + d:end + d + 2] == b\"PK\"\n"
    "    if not i.is_dir(): print(i.filename, i.flag_bits & 8, 1 in ids, d, i.file_size)\n"
    "print(\"bad:\", z.testzip())'";

class StreamInterop : public SampleTreeTest {
 protected:
  RunResult quelt(const std::string& args, const std::string& cwd = "") {
    return run(cli() + " " + args, cwd.empty() ? src() : cwd);
  }
};

}  // namespace

TEST_F(StreamInterop, ArchiveWrittenToAPipeIsReadByOtherTools) {
  // Files above the 128 KiB held back before the method is certain, random ones that stay
  // stored, and one that deflates.
  writeFile(path("more/text.txt"), textBytes(700000, 7));
  writeFile(path("more/random.bin"), randomBytes(300000, 8));
  writeFile(path("more/small.bin"), randomBytes(5000, 9));
  const std::string more = path("more");

  RunResult listed =
      run(cli() + " add -r - . 2>" + shq(path("err")) + " | " + kStreamReport, src());
  ASSERT_EQ(listed.status, 0) << listed.out << listed.err;
  EXPECT_NE(listed.out.find("bad: None"), std::string::npos) << listed.out;
  // Every file's sizes follow its data, in a descriptor of the classic size.
  EXPECT_EQ(listed.out.find(" 0 False 0 "), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("hello.txt 8 False 16 "), std::string::npos) << listed.out;
  // The messages left standard output to the archive.
  EXPECT_NE(readText(path("err")).find("compressed into standard output"), std::string::npos);

  // bsdtar reads it as a stream, from the pipe, and gets every file back.
  const std::string untarred = path("bsdtar");
  makeDirs(untarred);
  if (haveTool("bsdtar")) {
    RunResult b = run(cli() + " add -q -r - . | bsdtar -xf - -C " + shq(untarred), more);
    EXPECT_EQ(b.status, 0) << b.err;
    EXPECT_EQ(compareTrees(more, untarred, false), std::vector<std::string>{});
  }

  // Saved, it is an ordinary archive to the tools that need to seek.
  const std::string saved = path("saved.zip");
  ASSERT_EQ(run(cli() + " add -q -r - . > " + shq(saved), src()).status, 0);
  RunResult l = run("python3 -m zipfile -l /dev/stdin < " + shq(saved));
  EXPECT_NE(l.out.find("hello.txt"), std::string::npos) << l.out << l.err;
  if (haveTool("unzip")) {
    RunResult t = run("unzip -t " + shq(saved));
    EXPECT_EQ(t.status, 0) << t.out;
  }
  if (haveTool("7z")) {
    EXPECT_EQ(run("7z t -bd -bso0 " + shq(saved)).status, 0);
  }
  // And ours reads it from a pipe too.
  const std::string out = path("out");
  RunResult x = run("cat " + shq(saved) + " | " + cli() + " extract - -d " + shq(out));
  EXPECT_EQ(x.status, 0) << x.out << x.err;
  EXPECT_EQ(compareTrees(src(), out, true), std::vector<std::string>{});
  RunResult piped = run(cli() + " extract " + shq(saved) + " -p hello.txt | sha256sum");
  EXPECT_EQ(piped.out, run("sha256sum < " + shq(src() + "/hello.txt")).out);
}

TEST_F(StreamInterop, StandardInputBecomesOneEntry) {
  const std::string data = path("data.bin");
  std::vector<uint8_t> bytes = textBytes(400000, 3);
  auto noise = randomBytes(200000, 4);
  bytes.insert(bytes.end(), noise.begin(), noise.end());
  writeFile(data, bytes);
  struct Case {
    std::string options;
    bool toPipe;      // the archive "-": streamed, the size of standard input unknown
    bool zip64Local;  // a Zip64 field in the local header, 8-byte sizes after the data
    std::string password;
  };
  const Case cases[] = {
      {"--stdin-name in/data.bin", true, true, ""},
      {"-0 --stdin-name in/data.bin", true, true, ""},
      {"-P pw --stdin-name in/data.bin", true, true, "pw"},
      {"-P pw --aes --stdin-name in/data.bin", true, true, "pw"},
      // Into a file, standard input is copied first: sizes known, written in the header.
      {"--stdin-name in/data.bin", false, false, ""},
      {"-P pw --stdin-name in/data.bin", false, false, "pw"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options + (c.toPipe ? " to a pipe" : " to a file"));
    const std::string archive = path("s" + std::to_string(++n) + ".zip");
    const std::string add = cli() + " add -q " + c.options + " " +
                            (c.toPipe ? "- -" : shq(archive) + " -") + " < " + shq(data);
    RunResult a = run(c.toPipe ? add + " | cat > " + shq(archive) : add);
    ASSERT_EQ(a.status, 0) << a.err;
    if (c.password.empty()) {
      RunResult r = run("cat " + shq(archive) + " | " + kStreamReport);
      EXPECT_EQ(r.out, "in/data.bin " + std::string(c.toPipe ? "8 " : "0 ") +
                           (c.zip64Local ? "True 24 " : "False 0 ") + std::to_string(bytes.size()) +
                           "\nbad: None\n")
          << r.err;
    }
    const std::string pw = c.password.empty() ? "" : " -P " + c.password;
    RunResult p =
        run(cli() + " extract" + pw + " " + shq(archive) + " -p in/data.bin | cmp - " + shq(data));
    EXPECT_EQ(p.status, 0) << p.out << p.err;
    if (haveTool("7z")) {
      RunResult t =
          run("7z t -bd -bso0 -p" + (c.password.empty() ? "x" : c.password) + " " + shq(archive));
      EXPECT_EQ(t.status, 0) << t.out << t.err;
    }
  }

  // Added again, it replaces the entry of its name.
  const std::string archive = path("again.zip");
  ASSERT_EQ(run("echo one | " + cli() + " add -q " + shq(archive) + " - --stdin-name a.txt").status,
            0);
  RunResult again = run("echo two | " + cli() + " add " + shq(archive) + " - " +
                        shq(src() + "/hello.txt") + " --stdin-name a.txt --paths none");
  EXPECT_EQ(again.status, 0) << again.out << again.err;
  EXPECT_NE(again.out.find("added    standard input as a.txt"), std::string::npos) << again.out;
  EXPECT_EQ(run(cli() + " extract -p " + shq(archive) + " a.txt").out, "two\n");
  EXPECT_EQ(run(cli() + " list -q --tsv " + shq(archive) + " | wc -l").out, "2\n");
}

TEST_F(StreamInterop, RefusalsAndDamagedInput) {
  struct Case {
    std::string command;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {cli() + " add --split 100k - hello.txt > /dev/null", 2, "cannot be split"},
      {"echo x | " + cli() + " add - - - > /dev/null", 2, "once"},
      {"echo x | " + cli() + " add --stdin-name dir/ - - > /dev/null", 2, "needs a file name"},
      {"head -c 5000 /dev/urandom | " + cli() + " extract - -d out", 3,
       "standard input is damaged"},
      {": | " + cli() + " list -", 3, "standard input is damaged"},
  };
  const std::string tmp = path("tmp");
  makeDirs(tmp);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    RunResult r = run("export TMPDIR=" + shq(tmp) + "; " + c.command, dir_.path());
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  // The copies of standard input are gone, whatever happened.
  EXPECT_EQ(run("ls -A " + shq(tmp)).out, "");
  // Not onto a terminal.
  RunResult tty = run("python3 " + shq(sourcePath("tests/cli/pty_session.py")) + " -- " + cli() +
                          " add - hello.txt",
                      src());
  EXPECT_EQ(tty.status, 2) << tty.out;
  EXPECT_NE(tty.out.find("terminal"), std::string::npos) << tty.out;
}
