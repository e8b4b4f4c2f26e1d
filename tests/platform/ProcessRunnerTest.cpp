#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/LinuxProcesses.h"
#include "support/ScopedEnv.h"
#include "support/TestUtil.h"

using namespace quelt;
using namespace quelt::test;
namespace fs = std::filesystem;

namespace {

struct TCaptured {
  std::vector<std::string> out, err;
  TProcessOptions options;
  TCaptured() {
    options.onLine = [this](TOutputChannel channel, const std::string& line) {
      (channel == TOutputChannel::StdOut ? out : err).push_back(line);
    };
  }
};

TProcessResult runShell(const std::string& script, TCaptured& captured) {
  return TLinuxProcessRunner().Run({"sh", "-c", script}, captured.options);
}

// Stops a background program a test script started and reported by its process id.
void stopProgram(const std::string& pid) {
  if (!pid.empty()) ::kill(std::stoi(pid), SIGKILL);
}

}  // namespace

TEST(ProcessRunner, PassesEachArgumentAsItIsWithoutAShell) {
  TCaptured c;
  std::vector<std::string> args = {"a b", "$HOME", "x;y", "'q'", "*", "", "line\\n"};
  std::vector<std::string> argv = {"printf", "%s\\n"};
  argv.insert(argv.end(), args.begin(), args.end());
  auto result = TLinuxProcessRunner().Run(argv, c.options);
  EXPECT_TRUE(result.Succeeded());
  EXPECT_EQ(c.out, args);
}

TEST(ProcessRunner, SeparatesTheStreamsAndKeepsEveryLine) {
  TCaptured c;
  auto result = runShell("printf 'one\\r\\ntwo\\n'; echo oops >&2; printf 'last'; exit 3", c);
  EXPECT_EQ(c.out, (std::vector<std::string>{"one", "two", "last"}));
  EXPECT_EQ(c.err, (std::vector<std::string>{"oops"}));
  EXPECT_TRUE(result.Exited());
  EXPECT_EQ(result.exitCode, 3);
  EXPECT_FALSE(result.Succeeded());
}

TEST(ProcessRunner, CutsAnEndlessLineIntoPieces) {
  TCaptured c;
  runShell("head -c 200000 /dev/zero | tr '\\0' x", c);
  ASSERT_EQ(c.out.size(), 4u);
  EXPECT_EQ(c.out[0].size(), 65536u);
  EXPECT_EQ(c.out[3].size(), 200000u - 3 * 65536u);
}

TEST(ProcessRunner, ReportsTheSignalThatEndedTheProgram) {
  TCaptured c;
  auto result = runShell("kill -SEGV $$", c);
  EXPECT_FALSE(result.Exited());
  EXPECT_EQ(result.signal, SIGSEGV);
  EXPECT_FALSE(result.cancelled);
}

TEST(ProcessRunner, DeliversLinesWhileTheProgramRuns) {
  // The program waits for a file that the test makes only once it has seen the first line.
  TempDir dir;
  std::string flag = dir / "seen";
  TCaptured c;
  int polls = 0;
  c.options.onLine = [&](TOutputChannel, const std::string& line) {
    c.out.push_back(line);
    if (line == "first") writeFile(flag, "");
  };
  c.options.keepRunning = [&] { return ++polls, true; };
  // The pause after the first line is a silence the caller must be given control in, however
  // quickly the flag appears.
  auto result = runShell("echo first; sleep 0.3; i=0; while [ ! -e " + shq(flag) +
                             " ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i+1)); done; "
                             "[ -e " +
                             shq(flag) + " ] && echo second || echo late",
                         c);
  EXPECT_TRUE(result.Succeeded());
  EXPECT_EQ(c.out, (std::vector<std::string>{"first", "second"}));
  EXPECT_GT(polls, 0) << "the caller gets control while the program is silent";
}

TEST(ProcessRunner, CancelStopsTheProgramAndWhatItStarted) {
  struct Case {
    const char* name;
    const char* script;  // reports the process id of a child it starts
    int signal;
  } cases[] = {
      {"polite", "sleep 30 & echo $!; wait", SIGTERM},
      // Ignoring SIGTERM is inherited by the child, so only SIGKILL ends them.
      {"stubborn", "trap '' TERM; sleep 30 & echo $!; wait; wait", SIGKILL},
  };
  for (const auto& k : cases) {
    TCaptured c;
    c.options.keepRunning = [&] { return c.out.empty(); };
    auto result = runShell(k.script, c);
    EXPECT_TRUE(result.cancelled) << k.name;
    EXPECT_EQ(result.signal, k.signal) << k.name;
    ASSERT_EQ(c.out.size(), 1u) << k.name;
    // The child got the signal too (as a zombie its pid may linger until init reaps it).
    bool gone = false;
    std::string stat = "/proc/" + c.out[0] + "/stat";
    for (int i = 0; i < 100 && !gone; ++i) {
      gone = !fileExists(stat) || readText(stat).find(") Z") != std::string::npos;
      if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!gone) stopProgram(c.out[0]);
    EXPECT_TRUE(gone) << k.name;
  }
}

TEST(ProcessRunner, CanBeStoppedWhileTheOutputNeverPauses) {
  TCaptured c;
  size_t seen = 0;
  // A reader slower than the writer: the pipe is never empty.
  c.options.onLine = [&](TOutputChannel, const std::string&) {
    if (++seen % 1000 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  c.options.keepRunning = [&] { return seen < 100000; };
  auto result = TLinuxProcessRunner().Run({"yes"}, c.options);
  EXPECT_TRUE(result.cancelled);
  EXPECT_EQ(result.signal, SIGTERM);
}

TEST(ProcessRunner, DoesNotWaitForChildrenThatKeepTheOutputOpen) {
  TCaptured c;
  auto start = std::chrono::steady_clock::now();
  auto result = runShell("sleep 30 & echo $!", c);
  auto took = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(c.out.size(), 1u);
  stopProgram(c.out[0]);
  EXPECT_TRUE(result.Succeeded());
  EXPECT_LT(took, std::chrono::seconds(20));
}

TEST(ProcessRunner, LeavesASlowProgramRunningWhenAskedTo) {
  TempDir dir;
  std::string pidFile = dir / "pid";
  TCaptured c;
  c.options.detachAfterMs = 200;
  auto result = runShell("echo $$ > " + shq(pidFile) + "; echo out; exec sleep 30", c);
  EXPECT_TRUE(result.detached);
  EXPECT_FALSE(result.Exited());
  EXPECT_TRUE(c.out.empty()) << "output of a detached program is not read";
  stopProgram(readText(pidFile));

  // A quick one is waited for as usual, and its output arrives once it has ended.
  TCaptured quick;
  quick.options.detachAfterMs = 10000;
  auto done = runShell("echo a; echo b >&2; echo c; exit 4", quick);
  EXPECT_FALSE(done.detached);
  EXPECT_EQ(done.exitCode, 4);
  EXPECT_EQ(quick.out, (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(quick.err, (std::vector<std::string>{"b"}));
}

TEST(ProcessRunner, StartsInTheFolderAskedWithNothingInheritedButTheStreams) {
  TempDir dir;
  int stray = ::open("/dev/null", O_RDONLY);  // not close-on-exec
  ASSERT_GE(stray, 0);
  TCaptured c;
  c.options.workingDir = dir.path();
  runShell("pwd; ls /proc/$$/fd; cat", c);
  ::close(stray);
  ASSERT_FALSE(c.out.empty());
  EXPECT_EQ(fs::canonical(c.out[0]), fs::canonical(dir.path()));
  EXPECT_EQ(std::vector<std::string>(c.out.begin() + 1, c.out.end()),
            (std::vector<std::string>{"0", "1", "2"}))
      << "standard input is empty and no other descriptor leaks";
}

TEST(ProcessRunner, ProgramsThatCannotStartAreErrorsNamingThem) {
  TempDir dir;
  writeFile(dir / "notes.txt", "not a program");
  ::chmod((dir / "notes.txt").c_str(), 0755);
  struct Case {
    std::vector<std::string> argv;
    std::string workingDir;
    std::string message;
  } cases[] = {
      {{"quelt-no-such-program"}, "", "Unable to start quelt-no-such-program: program not found"},
      {{dir / "missing"}, "", "program not found"},
      {{dir / "notes.txt"}, "", "Exec format error"},
      {{"true"},
       dir / "no-folder",
       "Unable to start true: there is no folder " + dir / "no-folder"},
      {{}, "", "No program"},
  };
  for (const auto& k : cases) {
    TProcessOptions options;
    options.workingDir = k.workingDir;
    try {
      TLinuxProcessRunner().Run(k.argv, options);
      ADD_FAILURE() << k.message;
    } catch (const EPlatformError& e) {
      EXPECT_NE(std::string(e.what()).find(k.message), std::string::npos) << e.what();
    }
  }
}

TEST(ProcessRunner, FindsProgramsOnlyInAbsolutePathFolders) {
  TempDir dir;
  makeDirs(dir / "bin");
  writeFile(dir / "bin/quelt-tool", "#!/bin/sh\n");
  writeFile(dir / "bin/quelt-plain", "");
  ::chmod((dir / "bin/quelt-tool").c_str(), 0755);
  TScopedEnv env;
  env.Set("PATH", "bin:" + (dir / "bin") + ":/usr/bin:/bin");
  TLinuxProcessRunner runner;
  EXPECT_EQ(runner.FindProgram("quelt-tool"), dir / "bin/quelt-tool");
  EXPECT_EQ(runner.FindProgram("quelt-plain"), std::nullopt) << "not executable";
  EXPECT_EQ(runner.FindProgram(dir / "bin/quelt-plain"), std::nullopt);
  EXPECT_EQ(runner.FindProgram(dir / "bin/quelt-tool"), dir / "bin/quelt-tool");
  EXPECT_EQ(runner.FindProgram("bin"), std::nullopt) << "a folder is no program";
  EXPECT_EQ(runner.FindProgram(""), std::nullopt);
  auto cwd = fs::current_path();
  fs::current_path(dir.path());
  EXPECT_EQ(runner.FindProgram("quelt-tool"), dir / "bin/quelt-tool")
      << "the relative entry \"bin\" is skipped";
  fs::current_path(cwd);
}

TEST(ProcessRunner, SplitsParametersLikeAShellWithoutExpanding) {
  struct Case {
    const char* text;
    std::vector<std::string> args;
  } cases[] = {
      {"", {}},
      {"  -r  ", {"-r"}},
      {"-r --bell\t-i", {"-r", "--bell", "-i"}},
      {"--log='my log.txt' \"a \\\"b\\\" \\x\"", {"--log=my log.txt", "a \"b\" \\x"}},
      {"a\\ b $HOME *", {"a b", "$HOME", "*"}},
      {"'' \"\"", {"", ""}},
  };
  for (const auto& k : cases) EXPECT_EQ(SplitArguments(k.text), k.args) << k.text;
  EXPECT_THROW(SplitArguments("-r 'open"), EPlatformError);
  EXPECT_THROW(SplitArguments("\"open"), EPlatformError);
}
