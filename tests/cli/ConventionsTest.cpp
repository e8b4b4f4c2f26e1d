// quelt-cli behaves as a command-line archiver is expected to: quiet and verbose, errors on
// standard error, options people type beside zip, unzip and bsdtar, listings for people
// (aligned by display width) and for scripts (escaped TSV, JSON).
#include <gtest/gtest.h>

#include "support/TestUtil.h"

using namespace quelt::test;

namespace {

std::string cli() {
  return shq(binPath("quelt-cli"));
}
std::string ptySession() {
  return "python3 " + shq(sourcePath("tests/cli/pty_session.py"));
}

class Conventions : public ::testing::Test {
 protected:
  RunResult quelt(const std::string& args, const std::string& cwd = "",
                  const std::string& input = "") {
    return run(cli() + " " + args, cwd.empty() ? dir.path() : cwd, input);
  }
  // The method column of unzip -v for each entry, by name.
  std::string unzipMethods(const std::string& archive) {
    RunResult r = run("unzip -v " + shq(archive) +
                      " | awk 'NR>3 && $8 != \"\" && $2 != \"--------\" {print $8, $2}' | sort");
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }
  TempDir dir;
};

// How many different display columns the lines' first dates (YYYY-MM-DD, or the header
// "Date") start at, counted with Python's own Unicode tables: 1 when they line up.
std::string dateColumns(const std::string& listing) {
  const std::string script = R"(
import re, sys, unicodedata
def width(s):
    return sum(0 if unicodedata.combining(c) or unicodedata.category(c) in ("Mn", "Me", "Cf")
               else 2 if unicodedata.east_asian_width(c) in ("W", "F") else 1 for c in s)
cols = set()
for line in sys.stdin.read().splitlines()[:-1]:
    m = re.search(r"  (Date|\d{4}-\d\d-\d\d)  ", line)
    cols.add(width(line[:m.start()]) if m else -1)
print(len(cols), min(cols))
)";
  return run("python3 -c " + shq(script), "", listing).out;
}

}  // namespace

TEST_F(Conventions, VersionHelpAndCommonOptionsOnEveryCommand) {
  RunResult v = quelt("--version");
  EXPECT_EQ(v.status, 0);
  EXPECT_NE(v.out.find("quelt-cli "), std::string::npos) << v.out;
  EXPECT_NE(v.out.find("Methods read: 0 Stored"), std::string::npos) << v.out;
  EXPECT_NE(v.out.find("8 Deflated, 9 Deflate64, 12 bzip2"), std::string::npos) << v.out;
  EXPECT_NE(v.out.find("Methods written: 0 Stored, 8 Deflated\n"), std::string::npos) << v.out;
  RunResult help = quelt("--help");
  EXPECT_NE(help.out.find("130  interrupted by Ctrl-C"), std::string::npos) << help.out;
  for (const char* command : {"list", "extract", "test", "add", "remove", "comment", "repair",
                              "sfx", "uuencode", "uudecode"}) {
    SCOPED_TRACE(command);
    RunResult h = quelt(std::string(command) + " --help");
    EXPECT_EQ(h.status, 0);
    for (const char* option : {"-q, --quiet", "-v, --verbose", "--progress", "--version"})
      EXPECT_NE(h.out.find(option), std::string::npos) << option;
    EXPECT_EQ(quelt(std::string(command) + " --version").out, v.out);
    EXPECT_EQ(quelt(std::string(command) + " --no-such-option x").status, 2);
  }
}

TEST_F(Conventions, LevelsStoreWhatDeflateWouldEnlarge) {
  if (!haveTool("unzip")) GTEST_SKIP() << "unzip is not installed";
  makeDirs(dir / "src");
  writeFile(dir / "src/random.bin", randomBytes(300000, 7));
  writeFile(dir / "src/text.txt", textBytes(300000, 7));
  writeFile(dir / "src/tiny.txt", std::string("a"));
  const struct {
    const char* option;
    const char* methods;  // unzip -v's method column by name
  } cases[] = {
      {"-0", "random.bin Stored\ntext.txt Stored\ntiny.txt Stored\n"},
      {"-1", "random.bin Stored\ntext.txt Defl:F\ntiny.txt Stored\n"},
      {"-6", "random.bin Stored\ntext.txt Defl:N\ntiny.txt Stored\n"},
      {"-9", "random.bin Stored\ntext.txt Defl:X\ntiny.txt Stored\n"},
      {"--level 0", "random.bin Stored\ntext.txt Stored\ntiny.txt Stored\n"},
      {"-l 3", "random.bin Stored\ntext.txt Defl:N\ntiny.txt Stored\n"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.option);
    const std::string archive = dir / ("l" + std::to_string(n++) + ".zip");
    RunResult r = quelt("add -q " + std::string(c.option) + " " + shq(archive) + " .", dir / "src");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "") << "-q prints nothing";
    EXPECT_EQ(unzipMethods(archive), c.methods);
    EXPECT_EQ(run("unzip -tq " + shq(archive)).status, 0);
  }
  // Encrypted and stored: the encryption header comes first, the CRC still checks.
  const std::string locked = dir / "locked.zip";
  ASSERT_EQ(quelt("add -P pw " + shq(locked) + " random.bin", dir / "src").status, 0);
  EXPECT_EQ(unzipMethods(locked), "random.bin Stored\n");
  EXPECT_EQ(run("unzip -tq -P pw " + shq(locked)).status, 0);
  EXPECT_EQ(quelt("add -l 10 x.zip a").status, 2);
}

TEST_F(Conventions, AddExcludesJunksPathsAndEndsOptions) {
  makeDirs(dir / "src/sub");
  writeFile(dir / "src/a.txt", std::string("a"));
  writeFile(dir / "src/sub/b.txt", std::string("b"));
  writeFile(dir / "src/sub/c.log", std::string("c"));
  writeFile(dir / "src/-dash.txt", std::string("d"));
  const struct {
    std::string args;
    std::string listed;  // list --tsv's paths
  } cases[] = {
      {"-r -x '*.log' OUT a.txt sub", "a.txt\nsub/b.txt\n"},
      {"-r --exclude 'sub/*' -x a.txt OUT .", "-dash.txt\n"},
      {"-r -j OUT sub", "b.txt\nc.log\n"},
      {"-r --junk-paths -x 'c*' OUT sub", "b.txt\n"},
      {"OUT -- -dash.txt", "-dash.txt\n"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    std::string archive = dir / ("x" + std::to_string(n++) + ".zip");
    std::string args = c.args;
    args.replace(args.find("OUT"), 3, shq(archive));
    RunResult r = quelt("add " + args, dir / "src");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    RunResult l = run(cli() + " list --tsv " + shq(archive) + " | cut -f1 | sort");
    EXPECT_EQ(l.out, c.listed);
  }
  // A missing file is an error: on standard error, status 1.
  RunResult missing = quelt("add " + shq(dir / "m.zip") + " a.txt nothere.txt", dir / "src");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("missing  nothere.txt"), std::string::npos) << missing.err;
  EXPECT_EQ(missing.out.find("nothere"), std::string::npos) << missing.out;
}

TEST_F(Conventions, ExtractPipesExcludesAndReportsUnmatchedPatterns) {
  makeDirs(dir / "src/sub");
  writeFile(dir / "src/big.bin", randomBytes(200000, 3));
  writeFile(dir / "src/sub/b.txt", std::string("bee\n"));
  writeFile(dir / "src/sub/c.log", std::string("sea\n"));
  const std::string archive = dir / "a.zip";
  ASSERT_EQ(quelt("add -r " + shq(archive) + " .", dir / "src").status, 0);

  RunResult piped = quelt("extract " + shq(archive) + " -p big.bin | sha256sum");
  EXPECT_EQ(piped.out, run("sha256sum < " + shq(dir / "src/big.bin")).out);
  RunResult two = quelt("extract --pipe " + shq(archive) + " 'sub/*'");
  EXPECT_EQ(two.status, 0) << two.err;
  EXPECT_EQ(two.out, "bee\nsea\n");  // the data alone, in archive order
  EXPECT_EQ(run("ls -A " + shq(dir.path())).out, "a.zip\nsrc\n") << "nothing left behind";

  const struct {
    std::string args;
    int status;
    std::string files;  // what the destination holds afterwards
    std::string err;    // expected on standard error
  } cases[] = {
      {"-x '*.log'", 0, "big.bin\nsub\nsub/b.txt\n", ""},
      {"'sub/*' -x c.log", 0, "sub\nsub/b.txt\n", ""},
      {"b.txt nothing.txt", 1, "sub\nsub/b.txt\n", "quelt-cli: no entry matches nothing.txt\n"},
      {"'*.none'", 1, "", "quelt-cli: no entry matches *.none\n"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    std::string out = dir / ("out" + std::to_string(n++));
    makeDirs(out);
    RunResult r = quelt("extract " + shq(archive) + " -d " + shq(out) + " " + c.args);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(run("find . -mindepth 1 | sed 's|^./||' | sort", out).out, c.files);
  }
  // The same through test.
  RunResult t = quelt("test " + shq(archive) + " nothing");
  EXPECT_EQ(t.status, 1);
  EXPECT_NE(t.err.find("no entry matches nothing"), std::string::npos);
}

TEST_F(Conventions, OverwriteAsksOnATerminalOnly) {
  makeDirs(dir / "src");
  writeFile(dir / "src/a.txt", std::string("new a\n"));
  writeFile(dir / "src/b.txt", std::string("new b\n"));
  const std::string archive = dir / "a.zip";
  ASSERT_EQ(quelt("add " + shq(archive) + " a.txt b.txt", dir / "src").status, 0);
  const struct {
    std::string how;   // how quelt-cli is run
    std::string a, b;  // the files afterwards
    int status;
    bool asked;
  } cases[] = {
      // No terminal: replaced, as before.
      {cli() + " extract ARCHIVE -d OUT", "new a\n", "new b\n", 0, false},
      {cli() + " extract -n ARCHIVE -d OUT", "old\n", "old\n", 0, false},
      // A terminal: asked; "n" keeps one file, "A" replaces the rest.
      {ptySession() + " --expect 'Replace' --send n --expect 'Replace' --send A -- " + cli() +
           " extract ARCHIVE -d OUT",
       "old\n", "new b\n", 0, true},
      {ptySession() + " --expect 'Replace' --send N -- " + cli() + " extract ARCHIVE -d OUT",
       "old\n", "old\n", 0, true},
      {ptySession() + " -- " + cli() + " extract -o ARCHIVE -d OUT", "new a\n", "new b\n", 0,
       false},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.how);
    std::string out = dir / ("o" + std::to_string(n++));
    writeFile(out + "/a.txt", std::string("old\n"));
    writeFile(out + "/b.txt", std::string("old\n"));
    std::string how = c.how;
    how.replace(how.find("ARCHIVE"), 7, shq(archive));
    how.replace(how.find("OUT"), 3, shq(out));
    RunResult r = run(how);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_EQ(readText(out + "/a.txt"), c.a);
    EXPECT_EQ(readText(out + "/b.txt"), c.b);
    EXPECT_EQ(r.out.find("Replace") != std::string::npos, c.asked) << r.out;
  }
}

TEST_F(Conventions, ListingsForPeopleAndScripts) {
  makeDirs(dir / "src/d");
  const std::vector<std::string> names = {"plain.txt",
                                          "d/é-accent.txt",
                                          "d/日本語の名前.txt",
                                          "d/😀 emoji.txt",
                                          "d/e\xCC\x81-combining.txt",
                                          "d/tab\there.txt",
                                          "d/back\\slash.txt"};
  for (const auto& name : names) writeFile(dir / ("src/" + name), name);
  const std::string archive = dir / "names.zip";
  ASSERT_EQ(quelt("add -r " + shq(archive) + " .", dir / "src").status, 0);

  RunResult table = quelt("list " + shq(archive));
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_NE(table.out.find("Method"), std::string::npos);
  EXPECT_NE(table.out.find("Stored"), std::string::npos);
  EXPECT_NE(table.out.find("d/日本語の名前.txt"), std::string::npos)
      << "folder and name in one path";
  // A control character in a stored name is shown as its byte behind U+FFFD, never raw.
  EXPECT_NE(table.out.find("d/tab\uFFFD09here.txt"), std::string::npos);
  // The widest name is "d/日本語の名前.txt": 18 columns, in more bytes than any other.
  EXPECT_EQ(dateColumns(table.out), "1 18\n") << table.out;
  EXPECT_NE(table.out.find("7 entries, "), std::string::npos) << table.out;

  RunResult tsv = quelt("list --tsv " + shq(archive) + " 'd/*'");
  EXPECT_NE(tsv.out.find("d/tab\uFFFD09here.txt\t"), std::string::npos) << tsv.out;
  EXPECT_NE(tsv.out.find("d/back\\\\slash.txt\t"), std::string::npos) << tsv.out;
  EXPECT_EQ(run("grep -c . ", "", tsv.out).out, "6\n");

  const std::string check = R"(
import json, sys
rows = json.load(sys.stdin)
by = {r["path"]: r for r in rows}
r = by["d/tab\ufffd09here.txt"]
assert r["size"] == len("d/tab\there.txt") and r["method"] == "Stored", r
assert set(r) == {"path", "size", "packed", "method", "method_number", "crc32", "time", "mode",
                  "folder", "encrypted", "comment"}, r
assert r["time"][10] == "T" and r["time"][19] in "+-", r["time"]
assert r["mode"].endswith("644") and not r["folder"] and not r["encrypted"], r
assert "d/back\\slash.txt" in by and "d/😀 emoji.txt" in by
print(len(rows))
)";
  RunResult json = run(cli() + " list --json " + shq(archive) + " | python3 -c " + shq(check));
  EXPECT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out, "7\n");
  EXPECT_EQ(run(cli() + " list --json " + shq(archive) + " nothing | python3 -m json.tool").out,
            "[]\n");

  RunResult none = quelt("list " + shq(archive) + " '*.txt' nothing");
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err, "quelt-cli: no entry matches nothing\n");
  RunResult quiet = quelt("list -q -x 'd/*' " + shq(archive));
  EXPECT_EQ(quiet.out.find("entries"), std::string::npos) << "no summary with -q";
  EXPECT_NE(quiet.out.find("plain.txt"), std::string::npos);
  EXPECT_EQ(quiet.out.find("emoji"), std::string::npos);
}

TEST_F(Conventions, TheSystemHeadersListAligned) {
  if (!fileExists("/usr/include/stdio.h")) GTEST_SKIP() << "no /usr/include";
  const std::string archive = dir / "include.zip";
  // Links to folders are reported and left out; the rest is stored.
  quelt("add -q -0 -r " + shq(archive) + " include", "/usr");
  RunResult table = quelt("list " + shq(archive));
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_NE(table.out.find("include/stdio.h "), std::string::npos);
  RunResult cols = run("python3 -c " + shq(R"(
import sys
lines = sys.stdin.read().splitlines()[:-1]
print(len({l.index(" Date  ") if i == 0 else l.index(" 2") for i, l in enumerate(lines)}))
)"),
                       "", table.out);
  EXPECT_EQ(cols.out, "1\n");
}

TEST_F(Conventions, RemoveAndCommentSayWhatWentWrong) {
  makeDirs(dir / "src");
  for (const char* name : {"a.txt", "-b.txt", "c.log"})
    writeFile(dir / ("src/" + std::string(name)), std::string(name));
  const std::string archive = dir / "a.zip";
  ASSERT_EQ(quelt("add " + shq(archive) + " -- a.txt -b.txt c.log", dir / "src").status, 0);

  RunResult dash = quelt("remove " + shq(archive) + " -- -b.txt");
  EXPECT_EQ(dash.status, 0) << dash.err;
  EXPECT_EQ(dash.out, "removed  -b.txt\n1 entry removed\n");
  RunResult wild = quelt("remove " + shq(archive) + " '*.none' c.log");
  EXPECT_EQ(wild.status, 1);
  EXPECT_EQ(wild.err, "quelt-cli: no entry matches *.none\n");
  EXPECT_NE(wild.out.find("removed  c.log"), std::string::npos) << "the rest is removed";

  ASSERT_EQ(quelt("comment " + shq(archive) + " --set 'no newline'").status, 0);
  EXPECT_EQ(quelt("comment " + shq(archive)).out, "no newline\n");
  ASSERT_EQ(quelt("comment " + shq(archive) + " --set " + shq("two\nlines\n")).status, 0);
  EXPECT_EQ(quelt("comment " + shq(archive)).out, "two\nlines\n");
  RunResult unknown = quelt("comment " + shq(archive) + " --entry nothing.txt");
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("holds no entry nothing.txt"), std::string::npos) << unknown.err;
}

TEST_F(Conventions, ProgressLineOnATerminalOnly) {
  makeDirs(dir / "src");
  // Text at level 6: the work lasts well past the line's first redraw (200 ms) even on a fast
  // machine, which random data at level 1 no longer does.
  writeFile(dir / "src/big.bin", textBytes(24 << 20, 5));
  const std::string archive = dir / "big.zip";
  const std::string zipped = dir / "piped.zip";
  // Standard error a terminal: the line shows and is cleared at the end.
  RunResult shown =
      run(ptySession() + " -- " + cli() + " add -6 " + shq(archive) + " big.bin", dir / "src");
  ASSERT_EQ(shown.status, 0) << shown.out;
  EXPECT_NE(shown.out.find("% "), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find(" MiB of 24.0 MiB"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("  big.bin\x1b[K"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("\r\x1b[K"), std::string::npos) << shown.out;
  // Piped: none, unless asked for.
  RunResult piped = run(cli() + " add -1 " + shq(zipped) + " big.bin", dir / "src");
  EXPECT_EQ(piped.err, "");
  RunResult asked =
      run(cli() + " add -6 --progress " + shq(dir / "asked.zip") + " big.bin", dir / "src");
  EXPECT_NE(asked.err.find("MiB of 24.0 MiB"), std::string::npos) << asked.err;
  // -q on a terminal: nothing at all.
  RunResult quiet = run(ptySession() + " -- " + cli() + " test -q " + shq(archive));
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out, "");
}

TEST_F(Conventions, SplitSummaryNamesTheBlocksWritten) {
  makeDirs(dir / "src");
  writeFile(dir / "src/r.bin", randomBytes(150000, 9));
  RunResult r = quelt("add --split 64k " + shq(dir / "set.zip") + " r.bin", dir / "src");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("1 file compressed into " + dir / "set.001 ... " + dir / "set.003" +
                       " (3 blocks)"),
            std::string::npos)
      << r.out;
  EXPECT_FALSE(fileExists(dir / "set.zip"));
  RunResult t = quelt("test -v " + shq(dir / "set.003"));
  EXPECT_EQ(t.status, 0) << t.err;
  EXPECT_NE(t.out.find("OK       r.bin (150000 bytes, Stored, CRC-32 "), std::string::npos)
      << t.out;
}

TEST_F(Conventions, InterruptedAddEndsWith130AndLeavesNothing) {
  makeDirs(dir / "src");
  makeDirs(dir / "tmp");
  writeFile(dir / "src/big.bin", randomBytes(64 << 20, 11));
  // The signal goes once the archive being built shows beside src and tmp: by then the handler
  // is in place (a background job of a script starts with SIGINT ignored until then).
  RunResult r = run("TMPDIR=" + shq(dir / "tmp") + " " + cli() + " add -9 " + shq(dir / "big.zip") +
                        " big.bin & pid=$!; i=0; until [ $(ls -A " + shq(dir.path()) +
                        " | wc -l) -gt 2 ] || [ $i -ge 200 ]; do sleep 0.05; i=$((i+1)); done; "
                        "kill -INT $pid; "
                        "wait $pid; echo $?",
                    dir / "src");
  EXPECT_EQ(r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1), "130\n") << r.out << r.err;
  EXPECT_NE(r.err.find("interrupted by SIGINT"), std::string::npos) << r.err;
  EXPECT_FALSE(fileExists(dir / "big.zip"));
  EXPECT_EQ(run("ls -A " + shq(dir / "tmp")).out, "");
}

TEST_F(Conventions, ManualPageAndCompletionFollowTheHelp) {
  const std::string page = binPath("../share/man/man1/quelt-cli.1");
  ASSERT_TRUE(fileExists(page)) << page;
  const std::string text = readText(page);
  // Every option of every command's --help, as roff writes it.
  RunResult options =
      run("for c in $(" + cli() +
          " --help | sed -n '/^Commands:/,/^$/s/^  \\([a-z]*\\) .*/\\1/p'); do " + cli() +
          " $c --help | grep -oE -- '^ +(-[A-Za-z0-9], )?--?[A-Za-z0-9][-A-Za-z0-9]*'; done | "
          "sed 's/^ *//' | sort -u");
  ASSERT_GT(options.out.size(), 200u) << options.err;
  size_t from = 0, lines = 0;
  for (size_t at; (at = options.out.find('\n', from)) != std::string::npos; from = at + 1) {
    std::string option = options.out.substr(from, at - from), roff;
    for (char ch : option) roff += ch == '-' ? std::string("\\-") : std::string(1, ch);
    EXPECT_NE(text.find("\\fB" + roff), std::string::npos) << option;
    ++lines;
  }
  EXPECT_GT(lines, 30u);
  EXPECT_NE(text.find(".SS extract"), std::string::npos);
  EXPECT_NE(text.find(".SH EXIT STATUS"), std::string::npos);
  if (haveTool("groff")) {
    RunResult rendered = run("groff -man -Tutf8 -ww -z " + shq(page));
    EXPECT_EQ(rendered.err, "");
  }

  const struct {
    std::string words;
    std::string offered;  // some of what the completion must offer
  } cases[] = {
      {"li", "list"},
      {"extract --ex", "--exclude"},
      {"add --ju", "--junk-paths"},
      {"list --sort da", "date"},
      {"test -", "--password"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.words);
    RunResult r =
        run("bash -c " + shq("source " + shq(sourcePath("cli/quelt-cli.bash")) + "; COMP_WORDS=(" +
                             cli() + " " + c.words + "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); " +
                             "_quelt_cli; printf '%s\\n' \"${COMPREPLY[@]}\""));
    EXPECT_NE(("\n" + r.out).find("\n" + c.offered + "\n"), std::string::npos) << r.out << r.err;
  }
}
