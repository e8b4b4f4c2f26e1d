#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "platform/LinuxShellFileOps.h"
#include "support/FakeShellFileOps.h"
#include "support/TestUtil.h"

using namespace quelt;
using namespace quelt::test;
namespace fs = std::filesystem;

namespace {

struct TStat {
  ino_t ino;
  mode_t mode;
  time_t mtime;
};

TStat statOf(const std::string& path) {
  struct stat st;
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return {st.st_ino, st.st_mode & 07777, st.st_mtime};
}

std::set<std::string> namesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename());
  return names;
}

// Records the questions asked and answers them all alike.
struct TAsker {
  bool answer = true;
  std::vector<std::string> asked;
  TConfirmReplace confirm() {
    return [this](const std::string& target) {
      asked.push_back(target);
      return answer;
    };
  }
};

using TOp = TFileOpOutcome (IShellFileOps::*)(const std::string&, const std::string&,
                                              const TConfirmReplace&);
struct TNamedOp {
  const char* name;
  TOp op;
  bool removesSource;
};
const TNamedOp kOps[] = {{"copy", &IShellFileOps::CopyFile, false},
                         {"move", &IShellFileOps::MoveFile, true}};

std::string errorOf(const std::function<void()>& body) {
  try {
    body();
  } catch (const EPlatformError& e) {
    return e.what();
  }
  return "no error";
}

void expectContains(const std::string& text, const std::string& part) {
  EXPECT_NE(text.find(part), std::string::npos) << text;
}

}  // namespace

TEST(ShellFileOps, CopyKeepsBytesPermissionsAndTimeAndLeavesNoScratch) {
  TempDir dir;
  auto bytes = randomBytes(3 * 1024 * 1024 + 17, 5);  // more than one chunk
  writeFile(dir / "a.zip", bytes);
  ::chmod((dir / "a.zip").c_str(), 0640);
  setLocalMTime(dir / "a.zip", 2001, 2, 3, 4, 5, 6);
  makeDirs(dir / "out");
  TLinuxShellFileOps ops;
  TAsker asker;
  EXPECT_EQ(ops.CopyFile(dir / "a.zip", dir / "out/b.zip", asker.confirm()), TFileOpOutcome::Done);
  EXPECT_TRUE(asker.asked.empty()) << "nothing to replace, nothing asked";
  EXPECT_EQ(readFile(dir / "out/b.zip"), bytes);
  EXPECT_EQ(readFile(dir / "a.zip"), bytes);
  EXPECT_EQ(statOf(dir / "out/b.zip").mode, 0640u);
  EXPECT_EQ(statOf(dir / "out/b.zip").mtime, statOf(dir / "a.zip").mtime);
  EXPECT_EQ(namesIn(dir / "out"), std::set<std::string>{"b.zip"});
}

TEST(ShellFileOps, AsksBeforeReplacingAndKeepsWhatTheUserKeeps) {
  // The fake the window's tests use must keep the same promise as the real layer.
  TLinuxShellFileOps real;
  TFakeShellFileOps fake;
  for (IShellFileOps* ops :
       {static_cast<IShellFileOps*>(&real), static_cast<IShellFileOps*>(&fake)}) {
    for (const auto& k : kOps) {
      for (bool answer : {false, true}) {
        TempDir dir;
        writeFile(dir / "a.zip", "new archive");
        writeFile(dir / "b.zip", "old archive");
        TAsker asker;
        asker.answer = answer;
        auto outcome = (ops->*k.op)(dir / "a.zip", dir / "b.zip", asker.confirm());
        SCOPED_TRACE(std::string(ops == &real ? "real " : "fake ") + k.name +
                     (answer ? " yes" : " no"));
        EXPECT_EQ(asker.asked, std::vector<std::string>{dir / "b.zip"});
        EXPECT_EQ(outcome, answer ? TFileOpOutcome::Done : TFileOpOutcome::Declined);
        EXPECT_EQ(readText(dir / "b.zip"), answer ? "new archive" : "old archive");
        EXPECT_EQ(fileExists(dir / "a.zip"), !(answer && k.removesSource));
      }
      // With no one to ask, nothing is replaced.
      TempDir dir;
      writeFile(dir / "a.zip", "new");
      writeFile(dir / "b.zip", "old");
      EXPECT_EQ((ops->*k.op)(dir / "a.zip", dir / "b.zip", nullptr), TFileOpOutcome::Declined);
      EXPECT_EQ(readText(dir / "b.zip"), "old");
    }
  }
  EXPECT_EQ(fake.calls.size(), 6u);
  EXPECT_TRUE(fake.calls[0].asked);
}

TEST(ShellFileOps, RefusesAFileOntoItselfHoweverItIsNamed) {
  for (const auto& k : kOps) {
    TempDir dir;
    writeFile(dir / "a.zip", "archive");
    ::link((dir / "a.zip").c_str(), (dir / "hard.zip").c_str());
    ::symlink((dir / "a.zip").c_str(), (dir / "soft.zip").c_str());
    makeDirs(dir / "sub");
    for (std::string target :
         {dir / "a.zip", dir / "sub/../a.zip", dir / "hard.zip", dir / "soft.zip"}) {
      TLinuxShellFileOps ops;
      TAsker asker;
      auto error = errorOf([&] { (void)(ops.*k.op)(dir / "a.zip", target, asker.confirm()); });
      expectContains(error, "same file");
      expectContains(error, std::string("Unable to ") + k.name);
      EXPECT_TRUE(asker.asked.empty()) << "refused before asking";
      EXPECT_EQ(readText(dir / "a.zip"), "archive") << k.name << " " << target;
    }
  }
}

TEST(ShellFileOps, FailuresNameTheProblemAndLeaveNothingBehind) {
  TempDir dir;
  writeFile(dir / "a.zip", "archive");
  makeDirs(dir / "folder");
  struct Case {
    std::string source, target, message;
  } cases[] = {
      {dir / "missing.zip", dir / "b.zip", "No such file or directory"},
      {dir / "folder", dir / "b.zip", "the source is not a file"},
      {dir / "a.zip", dir / "folder", "the target is a folder"},
      {dir / "a.zip", dir / "no-folder/b.zip", "there is no folder " + dir / "no-folder"},
  };
  for (const auto& k : kOps) {
    for (const auto& c : cases) {
      TLinuxShellFileOps ops;
      auto error = errorOf([&] { (void)(ops.*k.op)(c.source, c.target, nullptr); });
      expectContains(error, c.message);
      expectContains(error, "\"" + c.source + "\" to \"" + c.target + "\"");
      EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"a.zip", "folder"})) << error;
      EXPECT_TRUE(fs::is_empty(dir / "folder"));
    }
  }
}

TEST(ShellFileOps, AFailedWriteKeepsTheOldTargetWhole) {
  // A file-size limit makes the copy fail half-way, as a full disk would.
  TempDir dir;
  writeFile(dir / "a.zip", randomBytes(200000, 1));
  writeFile(dir / "b.zip", "old archive");
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{50000, 50000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    TLinuxShellFileOps ops;
    auto error = errorOf(
        [&] { (void)ops.CopyFile(dir / "a.zip", dir / "b.zip", [](auto&) { return true; }); });
    ::_exit(error.find("File too large") != std::string::npos ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the failure was reported";
  EXPECT_EQ(readText(dir / "b.zip"), "old archive");
  EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"a.zip", "b.zip"}));
}

TEST(ShellFileOps, MoveOnOneFileSystemIsARename) {
  TempDir dir;
  writeFile(dir / "a.zip", "archive");
  makeDirs(dir / "out");
  auto before = statOf(dir / "a.zip");
  TLinuxShellFileOps ops;
  EXPECT_EQ(ops.MoveFile(dir / "a.zip", dir / "out/a.zip", nullptr), TFileOpOutcome::Done);
  EXPECT_FALSE(fileExists(dir / "a.zip"));
  EXPECT_EQ(statOf(dir / "out/a.zip").ino, before.ino);
}

TEST(ShellFileOps, CopyAndMoveAcrossFileSystems) {
  TempDir dir;
  std::string other = "/dev/shm";
  struct stat a, b;
  if (::stat(other.c_str(), &b) != 0 || ::access(other.c_str(), W_OK) != 0 ||
      ::stat(dir.path().c_str(), &a) != 0 || a.st_dev == b.st_dev)
    GTEST_SKIP() << dir.path() << " and " << other << " are not two writable file systems here";
  std::string target = other + "/quelt-move-" + std::to_string(::getpid()) + ".zip";
  auto bytes = randomBytes(1500000, 9);
  writeFile(dir / "a.zip", bytes);
  ::chmod((dir / "a.zip").c_str(), 0604);
  setLocalMTime(dir / "a.zip", 1999, 12, 31, 23, 59, 58);
  auto before = statOf(dir / "a.zip");
  TLinuxShellFileOps ops;
  TAsker asker;
  EXPECT_EQ(ops.CopyFile(dir / "a.zip", target, asker.confirm()), TFileOpOutcome::Done);
  EXPECT_EQ(readFile(target), bytes);
  EXPECT_EQ(readFile(dir / "a.zip"), bytes);
  // Moving onto that copy asks first, then leaves one archive, on the other file system.
  EXPECT_EQ(ops.MoveFile(dir / "a.zip", target, asker.confirm()), TFileOpOutcome::Done);
  EXPECT_EQ(asker.asked, std::vector<std::string>{target});
  EXPECT_FALSE(fileExists(dir / "a.zip"));
  EXPECT_EQ(readFile(target), bytes);
  EXPECT_EQ(statOf(target).mode, 0604u);
  EXPECT_EQ(statOf(target).mtime, before.mtime);
  EXPECT_TRUE(fs::is_empty(dir.path()));
  ::unlink(target.c_str());
}

TEST(ShellFileOps, MovingALinkMovesItsBytesAndNeverItsFile) {
  TempDir dir;
  writeFile(dir / "real.zip", "archive");
  ::symlink("real.zip", (dir / "link.zip").c_str());
  makeDirs(dir / "out");
  TLinuxShellFileOps ops;
  EXPECT_EQ(ops.MoveFile(dir / "link.zip", dir / "out/a.zip", nullptr), TFileOpOutcome::Done);
  EXPECT_FALSE(fs::is_symlink(dir / "link.zip"));
  EXPECT_FALSE(fs::is_symlink(dir / "out/a.zip"));
  EXPECT_EQ(readText(dir / "out/a.zip"), "archive");
  EXPECT_EQ(readText(dir / "real.zip"), "archive");
}

TEST(ShellFileOps, MoveKeepsTheSourceWhenItCouldNotBeRemoved) {
  if (::geteuid() == 0) GTEST_SKIP() << "folder permissions do not bind the superuser";
  TempDir dir;
  std::string other = "/dev/shm";
  struct stat a, b;
  if (::stat(other.c_str(), &b) != 0 || ::stat(dir.path().c_str(), &a) != 0 || a.st_dev == b.st_dev)
    GTEST_SKIP() << "needs two file systems";
  makeDirs(dir / "locked");
  writeFile(dir / "locked/a.zip", "archive");
  ::chmod((dir / "locked").c_str(), 0555);
  std::string target = other + "/quelt-locked-" + std::to_string(::getpid()) + ".zip";
  TLinuxShellFileOps ops;
  auto error = errorOf([&] { (void)ops.MoveFile(dir / "locked/a.zip", target, nullptr); });
  expectContains(error, "the original cannot be removed");
  EXPECT_FALSE(fileExists(target)) << "no second copy is made";
  EXPECT_EQ(readText(dir / "locked/a.zip"), "archive");
}
