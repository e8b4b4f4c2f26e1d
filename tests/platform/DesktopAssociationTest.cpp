#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "platform/LinuxProcesses.h"
#include "platform/XdgAssociation.h"
#include "support/FakeDesktopAssociation.h"
#include "support/FakeProcessRunner.h"
#include "support/ScopedEnv.h"
#include "support/TestUtil.h"

using namespace quelt;
using namespace quelt::test;

namespace {

// A private freedesktop tree: user data and configuration, and an empty system data folder.
struct XdgTree : ::testing::Test {
  TempDir dir;
  TScopedEnv env;
  std::string program = dir / "my apps/quelt";
  std::string userEntry = dir / "data/applications/quelt.desktop";

  void SetUp() override {
    makeDirs(dir / "system");
    makeDirs(dir / "config");
    writeFile(program, "#!/bin/sh\n");
    ::chmod(program.c_str(), 0755);
    env.ScratchDesktop(dir.path());
  }
  bool haveXdgMime() { return TLinuxProcessRunner().FindProgram("xdg-mime").has_value(); }
  std::string errorOf(IDesktopAssociation& assoc, const std::string& path) {
    try {
      assoc.MakeZipHandler(path);
    } catch (const EPlatformError& e) {
      return e.what();
    }
    return "no error";
  }
};

}  // namespace

TEST(DesktopEntry, TheInstalledEntryIsTheOneTheProgramWrites) {
  EXPECT_EQ(DesktopEntryText("quelt"), readText(sourcePath("data/quelt.desktop")));
}

TEST(DesktopEntry, ExecArgumentsAreQuotedAndEscaped) {
  struct Case {
    const char* arg;
    const char* exec;
  } cases[] = {
      {"/usr/bin/quelt", "/usr/bin/quelt"},
      {"/opt/my apps/quelt", "\"/opt/my apps/quelt\""},
      {"/opt/a\\b", "\"/opt/a\\\\\\\\b\""},  // four backslashes stand for one
      {"/opt/$HOME/q", "\"/opt/\\\\$HOME/q\""},
      {"/opt/\"q\"", "\"/opt/\\\\\"q\\\\\"\""},
      {"/opt/50%/q", "/opt/50%%/q"},
      {"/opt/it's", "\"/opt/it's\""},
      {"/opt/new\nline", "\"/opt/new\\nline\""},
      {"", "\"\""},
  };
  for (const auto& c : cases) EXPECT_EQ(DesktopExecArgument(c.arg), c.exec) << c.arg;
}

TEST_F(XdgTree, TheDesktopStartsTheProgramTheEntryNames) {
  TLinuxProcessRunner runner;
  if (!runner.FindProgram("gio")) GTEST_SKIP() << "gio (libglib2.0-bin) is not installed";
  // A folder name full of what the Exec line must quote; "%" aside, which GLib checks before
  // it reads field codes.
  std::string odd = dir / "odd $dir \"q\" `x` \\ it's";
  makeDirs(odd);
  std::string stub = odd + "/quelt";
  writeFile(stub, "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" > \"$0.log\"\n");
  ::chmod(stub.c_str(), 0755);
  writeFile(dir / "entry.desktop", DesktopEntryText(stub));
  auto result = runner.Run({"gio", "launch", dir / "entry.desktop", dir / "a b.zip"}, {});
  ASSERT_TRUE(result.Succeeded());
  for (int i = 0; i < 250 && !fileExists(stub + ".log"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(readText(stub + ".log"), stub + "\n" + dir / "a b.zip" + "\n");
}

TEST_F(XdgTree, AssociationIsWrittenAndFoundAtTheNextStart) {
  if (!haveXdgMime()) GTEST_SKIP() << "xdg-mime (xdg-utils) is not installed";
  TLinuxProcessRunner runner;
  TXdgAssociation real(runner);
  // The fake the window's tests use keeps the same promise.
  TFakeDesktopAssociation fake;
  for (IDesktopAssociation* assoc :
       {static_cast<IDesktopAssociation*>(&real), static_cast<IDesktopAssociation*>(&fake)}) {
    EXPECT_FALSE(assoc->IsZipHandler());
    assoc->MakeZipHandler(program);
    EXPECT_TRUE(assoc->IsZipHandler());
  }
  EXPECT_EQ(readText(userEntry), DesktopEntryText(program));
  std::string defaults = readText(dir / "config/mimeapps.list");
  EXPECT_NE(defaults.find("application/zip=quelt.desktop"), std::string::npos) << defaults;
  EXPECT_NE(defaults.find("application/x-zip-compressed=quelt.desktop"), std::string::npos);
  TXdgAssociation nextStart(runner);
  EXPECT_TRUE(nextStart.IsZipHandler());
}

TEST_F(XdgTree, AnInstalledEntryIsUsedAsItIs) {
  if (!haveXdgMime()) GTEST_SKIP() << "xdg-mime (xdg-utils) is not installed";
  writeFile(dir / "system/applications/quelt.desktop", DesktopEntryText("quelt"));
  TLinuxProcessRunner runner;
  TXdgAssociation assoc(runner);
  assoc.MakeZipHandler(program);
  EXPECT_FALSE(fileExists(userEntry));
  EXPECT_TRUE(assoc.IsZipHandler());
}

TEST_F(XdgTree, RefusalsAreReportedWithTheirReasons) {
  TFakeProcessRunner runner;
  TXdgAssociation assoc(runner);
  EXPECT_EQ(errorOf(assoc, dir / "gone/quelt"), "Error: Program not found: " + dir / "gone/quelt");
  EXPECT_FALSE(fileExists(userEntry));

  struct Case {
    std::vector<TScriptedRun> runs;
    std::string message;
  } cases[] = {
      {{TScriptedRun::Fail(4, "xdg-mime: no permission")},
       "Unable to make Quelt the program for ZIP files: xdg-mime: no permission"},
      {{TScriptedRun::Unstartable("Unable to start xdg-mime: program not found")},
       "Unable to start xdg-mime: program not found. xdg-mime comes with the xdg-utils package."},
      {{TScriptedRun::Exit(0), TScriptedRun::Exit(0, {"other-archiver.desktop"})},
       "the desktop still opens ZIP files with another program"},
  };
  for (auto& c : cases) {
    for (auto& run : c.runs) runner.Expect(run);
    std::string error = errorOf(assoc, program);
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
  EXPECT_EQ(runner.runs[0].argv,
            (std::vector<std::string>{"xdg-mime", "default", "quelt.desktop", "application/zip",
                                      "application/x-zip-compressed"}));
  EXPECT_EQ(runner.runs.back().argv,
            (std::vector<std::string>{"xdg-mime", "query", "default", "application/zip"}));
}

TEST_F(XdgTree, OnlyThisProgramsEntryCountsAsTheHandler) {
  TFakeProcessRunner runner;
  TXdgAssociation assoc(runner);
  struct Case {
    TScriptedRun run;
    bool handler;
  } cases[] = {
      {TScriptedRun::Exit(0, {"quelt.desktop"}), true},
      {TScriptedRun::Exit(0, {"  quelt.desktop  "}), true},
      {TScriptedRun::Exit(0, {""}), false},
      {TScriptedRun::Exit(0, {"Quelt.desktop"}), false},
      {TScriptedRun::Exit(0, {"org.other.Archiver.desktop"}), false},
      {TScriptedRun::Exit(1, {"quelt.desktop"}), false},
      {TScriptedRun::Unstartable("Unable to start xdg-mime: program not found"), false},
  };
  for (auto& c : cases) {
    runner.Expect(c.run);
    EXPECT_EQ(assoc.IsZipHandler(), c.handler) << runner.runs.size();
  }
}

TEST(DesktopEntry, InstallPutsTheEntryAndIconWhereDesktopsLook) {
  if (!haveTool("cmake")) GTEST_SKIP() << "cmake is not on PATH";
  TempDir prefix;
  std::string build = std::string(QUELT_BIN_DIR) + "/..";
  auto result =
      run("cmake --install " + shq(build) + " --component desktop --prefix " + shq(prefix.path()));
  ASSERT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_EQ(readText(prefix / "share/applications/quelt.desktop"), DesktopEntryText("quelt"));
  EXPECT_EQ(readText(prefix / "share/icons/hicolor/scalable/apps/quelt.svg"),
            readText(sourcePath("data/quelt.svg")));
}
