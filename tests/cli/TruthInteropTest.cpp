// quelt-cli tells the truth: damaged and empty archives say so, one entry that cannot be put
// in place fails alone, and an interrupted command leaves nothing half-written behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/TestUtil.h"

using namespace quelt::test;
namespace fs = std::filesystem;

namespace {

std::string cli() {
  return shq(binPath("quelt-cli"));
}

// Whether a temporary file of ours is in the folder.
bool hasTemp(const std::string& folder) {
  std::error_code error;
  for (const auto& item : fs::directory_iterator(folder, error))
    if (item.path().filename().string().rfind("QLZ", 0) == 0) return true;
  return false;
}

class TruthInterop : public ::testing::Test {
 protected:
  RunResult quelt(const std::string& args, const std::string& cwd = "") {
    return run("TMPDIR=" + shq(tmp_.path()) + " " + cli() + " " + args, cwd);
  }
  std::string archiveOf(const std::string& name, const std::string& python) {
    std::string archive = dir / name;
    RunResult r =
        run("python3 -c 'import sys,zipfile\nwith zipfile.ZipFile(sys.argv[1], \"w\") as z:\n" +
            python + "' " + shq(archive));
    EXPECT_EQ(r.status, 0) << r.err;
    return archive;
  }
  TempDir dir, tmp_;
};

// Runs quelt-cli, waits until a temporary file shows in `watch`, stops the program there and
// sends it `sig`; returns its exit status, or -1 when it ended before it could be caught.
int interrupted(const std::vector<std::string>& args, const std::string& watch, int sig,
                const std::string& tmpdir) {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("TMPDIR", tmpdir.c_str(), 1);
    std::vector<char*> argv;
    std::string program = binPath("quelt-cli");
    argv.push_back(program.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (!freopen("/dev/null", "w", stdout)) _exit(126);
    ::execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  for (int i = 0; i < 20000; ++i) {
    if (::waitpid(pid, &status, WNOHANG) == pid) return -1;  // too quick to catch
    if (hasTemp(watch)) break;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  // Stopped, it cannot finish before the signal is there; then it goes on and sees it.
  ::kill(pid, SIGSTOP);
  ::kill(pid, sig);
  ::kill(pid, SIGCONT);
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

}  // namespace

TEST_F(TruthInterop, DamagedAndEmptyArchivesSaySo) {
  writeFile(dir / "src/a.txt", std::string("a\n"));
  writeFile(dir / "src/b.txt", std::string("b\n"));
  const std::string whole = dir / "whole.zip";
  ASSERT_EQ(quelt("add " + shq(whole) + " a.txt b.txt", dir / "src").status, 0);
  // Cut where the central directory starts.
  const std::string cut = dir / "cut.zip";
  ASSERT_EQ(run("python3 -c 'import sys,struct; d=open(sys.argv[1],\"rb\").read(); "
                "e=d.rfind(b\"PK\\x05\\x06\"); o=struct.unpack(\"<I\", d[e+16:e+20])[0]; "
                "open(sys.argv[2],\"wb\").write(d[:o])' " +
                shq(whole) + " " + shq(cut))
                .status,
            0);
  for (const std::string& command :
       std::vector<std::string>{"list", "test", "extract -d " + shq(dir / "out")}) {
    SCOPED_TRACE(command);
    RunResult r = quelt(command + " " + shq(cut));
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.err.find("cut.zip is damaged or incomplete: it has no end record"),
              std::string::npos)
        << r.err;
  }
  EXPECT_EQ(readText(dir / "out/b.txt"), "b\n");  // what was found still came out

  // Removing the last entry leaves the 22 bytes of an empty archive: empty, not damaged.
  const std::string empty = dir / "empty.zip";
  ASSERT_EQ(quelt("add " + shq(empty) + " a.txt", dir / "src").status, 0);
  ASSERT_EQ(quelt("remove " + shq(empty) + " a.txt").status, 0);
  ASSERT_EQ(fs::file_size(empty), 22u);
  RunResult listed = quelt("list " + shq(empty));
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_NE(listed.out.find("0 entries, 0 bytes (0 KB), packed 0 bytes (the archive is empty)"),
            std::string::npos)
      << listed.out;
  RunResult tested = quelt("test " + shq(empty));
  EXPECT_EQ(tested.status, 0) << tested.err;
  EXPECT_EQ(tested.out, "0 of 0 entries tested OK (the archive is empty)\n");

  // The first volume of a split set alone: listed from the walk, said to be incomplete.
  if (haveTool("zip")) {
    writeFile(dir / "src/r.bin", randomBytes(150000, 3));
    ASSERT_EQ(run("zip -q -s 64k " + shq(dir / "set.zip") + " r.bin a.txt", dir / "src").status, 0);
    makeDirs(dir / "alone");
    fs::copy(dir / "set.z01", dir / "alone/set.z01");
    RunResult one = quelt("list --tsv " + shq(dir / "alone/set.z01"));
    EXPECT_EQ(one.status, 1);
    EXPECT_EQ(one.out.substr(0, 6), "r.bin\t");
    EXPECT_NE(one.err.find("only one volume of a multi-volume set"), std::string::npos);
  }
}

TEST_F(TruthInterop, AnEntryThatCannotBePutInPlaceFailsAlone) {
  const std::string archive = archiveOf("mixed.zip",
                                        "    z.writestr(\"a.txt\", \"a\")\n"
                                        "    z.writestr(\"dir/b.txt\", \"b\")\n"
                                        "    z.writestr(\"same.txt\", \"first\")\n"
                                        "    z.writestr(\"same.txt\", \"second\")\n"
                                        "    z.writestr(\"c.txt\", \"c\")\n");
  const std::string out = dir / "out";
  writeFile(out + "/dir", std::string("a file where a folder should be"));
  RunResult x = quelt("extract -d " + shq(out) + " " + shq(archive));
  EXPECT_EQ(x.status, 1) << x.out << x.err;
  EXPECT_NE(x.err.find("skipped  dir/b.txt: \"" + out +
                       "/dir\" is in the way: it is a file, not a folder"),
            std::string::npos)
      << x.err;
  EXPECT_NE(x.err.find("skipped  same.txt: another entry of the archive was already extracted to"),
            std::string::npos)
      << x.err;
  EXPECT_NE(x.out.find("3 of 5 entries extracted"), std::string::npos) << x.out;
  EXPECT_EQ(readText(out + "/same.txt"), "first");
  EXPECT_EQ(readText(out + "/c.txt"), "c");
  EXPECT_FALSE(hasTemp(out));

  // Encrypted entries tested without a password say that no password was given.
  writeFile(dir / "s.txt", std::string("secret"));
  ASSERT_EQ(quelt("add -P pw " + shq(dir / "enc.zip") + " s.txt", dir.path()).status, 0);
  RunResult t = quelt("test " + shq(dir / "enc.zip"));
  EXPECT_EQ(t.status, 1);
  EXPECT_NE(t.err.find("skipped  s.txt: no password given"), std::string::npos) << t.err;
}

TEST_F(TruthInterop, InterruptedCommandsLeaveNothingHalfWritten) {
  writeFile(dir / "big.bin", randomBytes(16 << 20, 5));
  // A new archive: interrupted while the file is compressed, neither it nor a temporary
  // file is left, not even a truncated archive under its own name.
  const std::string archive = dir / "new.zip";
  int status =
      interrupted({"add", "-l", "9", archive, dir / "big.bin"}, dir.path(), SIGTERM, tmp_.path());
  ASSERT_NE(status, -1) << "the command ended before it could be interrupted";
  EXPECT_EQ(status, 128 + SIGTERM);
  EXPECT_FALSE(fs::exists(archive));
  EXPECT_FALSE(hasTemp(dir.path()));

  // Extraction: the partly written file beside its destination goes too.
  // Stored by Python, which is quicker to make than to extract.
  const std::string python =
      "python3 -c 'import sys,zipfile\nwith zipfile.ZipFile(sys.argv[1], \"w\") as z: "
      "z.write(\"big.bin\")' ";
  ASSERT_EQ(run(python + shq(archive), dir.path()).status, 0);
  const std::string out = dir / "out";
  makeDirs(out);
  for (int attempt = 0; attempt < 5; ++attempt) {
    status = interrupted({"extract", "-d", out, archive}, out, SIGINT, tmp_.path());
    if (status != -1) break;
    fs::remove(out + "/big.bin");
  }
  ASSERT_NE(status, -1) << "the extraction ended before it could be interrupted";
  EXPECT_EQ(status, 128 + SIGINT);
  EXPECT_FALSE(hasTemp(out));
  EXPECT_FALSE(fs::exists(out + "/big.bin"));
  EXPECT_EQ(run("ls -A " + shq(tmp_.path())).out, "");

  // An archive reached through a link is rewritten behind it; the link stays.
  ASSERT_EQ(::symlink(archive.c_str(), (dir / "link.zip").c_str()), 0);
  writeFile(dir / "more.txt", std::string("more"));
  ASSERT_EQ(quelt("add " + shq(dir / "link.zip") + " more.txt", dir.path()).status, 0);
  EXPECT_TRUE(fs::is_symlink(dir / "link.zip"));
  EXPECT_EQ(run("unzip -Z1 " + shq(archive)).out, "big.bin\nmore.txt\n");
}
