// Virus Scan: the archive extracted into a folder of its own, the configured scanner started on
// it with its parameters as separate arguments, its output and exit status in the output
// window; Preferences on "Anti-Virus" when there is no scanner to start.
#include <sys/stat.h>

#include <QElapsedTimer>
#include <QTimer>

#include "ArchiveTestUtil.h"
#include "app/QtText.h"
#include "app/dialogs/DialogParts.h"
#include "app/dialogs/OptionsForm.h"
#include "platform/FileSystem.h"
#include "support/FakeProcessRunner.h"

namespace quelt::test {
namespace {

class VirusScanning : public TArchiveTest {
 protected:
  std::string temp() const { return dir / "cache/quelt"; }
  void configure(const std::string& program, const std::string& parameters) {
    form->Settings().WriteString(LOCAL_MACHINE, kSettingsKey, "AntiVirusProgram", program);
    form->Settings().WriteString(LOCAL_MACHINE, kSettingsKey, "AntiVirusParam", parameters);
  }
  std::string openSample(const std::string& name, const std::vector<TEntrySpec>& entries) {
    if (!form) start();
    const std::string path = zip(name, entries);
    open(path);
    return path;
  }
  std::string script(const std::string& path, const std::string& body) {
    makeDirs(files::FolderOf(path));
    writeFile(path, "#!/bin/sh\n" + body + "\n");
    ::chmod(path.c_str(), 0755);
    return path;
  }
  std::optional<std::string> setting(const std::string& name) const {
    return form->Settings().ReadString(LOCAL_MACHINE, kSettingsKey, name);
  }
  QString lastLine() { return lines().isEmpty() ? QString() : lines().back(); }
};

TEST_F(VirusScanning, WithoutAScannerPreferencesOpenOnAntiVirusProposingClamscan) {
  struct TCase {
    std::string program, parameters;
    bool clamscanInstalled;
    QString shownProgram, shownParameters;
  } cases[] = {
      {"", "", true, "/usr/bin/clamscan", "-r"},
      {"", "", false, "", ""},
      {"/opt/gone/scanner", "/S /Q", true, "/usr/bin/clamscan", "-r"},
      {"/opt/gone/scanner", "/S /Q", false, "/opt/gone/scanner", "/S /Q"},
      // Another clamscan's own parameters stay.
      {"/opt/gone/clamscan", "--infected", true, "/usr/bin/clamscan", "--infected"},
  };
  openSample("sample.zip", {{"a.txt", "alpha\n"}});
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.program + " " + (c.clamscanInstalled ? "with" : "without") + " clamscan");
    TFakeProcessRunner runner;  // runs nothing: any run fails the test
    if (c.clamscanInstalled) runner.Install("clamscan", "/usr/bin/clamscan");
    form->SetProcesses(runner);
    configure(c.program, c.parameters);
    expectDialog("OptionsForm", [&](QDialog& d) {
      auto& options = static_cast<TOptionsForm&>(d);
      EXPECT_EQ(options.PageControl1->currentIndex(), TOptionsForm::pgAntiVirus);
      EXPECT_EQ(options.AntiVirusEdit->text(), c.shownProgram);
      EXPECT_EQ(options.AntiVirusParamEdit->text(), c.shownParameters);
      press(d, "CancelBut");
    });
    form->Command("VirusScan1")->trigger();
    EXPECT_EQ(setting("AntiVirusProgram"), c.program) << "Cancel keeps what was stored";
  }
  EXPECT_FALSE(fileExists(temp() + "/sample.zip")) << "nothing was extracted";

  // Taking the proposal: the next scan runs clamscan.
  TFakeProcessRunner runner;
  runner.Install("clamscan", "/usr/bin/clamscan");
  form->SetProcesses(runner);
  configure("", "");
  expectDialog("OptionsForm", [](QDialog& d) { press(d, "OKBut"); });
  form->Command("VirusScan1")->trigger();
  EXPECT_EQ(setting("AntiVirusProgram"), "/usr/bin/clamscan");
  runner.Expect(TScriptedRun::Exit(0, {"a.txt: OK"}));
  form->Command("VirusScan1")->trigger();
  ASSERT_EQ(runner.runs.size(), 1u);
  EXPECT_EQ(runner.runs[0].argv,
            (std::vector<std::string>{"/usr/bin/clamscan", temp() + "/sample.zip", "-r"}));
  EXPECT_TRUE(lines().contains("a.txt: OK"));
  EXPECT_EQ(lastLine(), "Virus scan finished with exit status 0: no virus found");
}

TEST_F(VirusScanning, TheScannerGetsTheExtractedArchiveAndEachParameterAsItsOwnArgument) {
  const std::string scanner = script(dir / "my tools/scan",
                                     "for a in \"$@\"; do printf 'arg:%s\\n' \"$a\"; done\n"
                                     "cd \"$1\" && find . -type f | sort\n"
                                     "echo 'said on stderr' >&2\nexit 3");
  openSample("my archive.zip", {{"docs/a.txt", "alpha\n"}, {"b.txt", "beta\n"}});
  configure(scanner, "-r --name \"two words\" 'a;b' $HOME");
  const std::string folder = temp() + "/my archive.zip";
  form->Command("VirusScan1")->trigger();
  const QStringList shown = lines();
  for (const std::string& line :
       {"arg:" + folder, std::string("arg:-r"), std::string("arg:--name"),
        std::string("arg:two words"), std::string("arg:a;b"), std::string("arg:$HOME"),
        std::string("./b.txt"), std::string("./docs/a.txt"), std::string("said on stderr")})
    EXPECT_TRUE(shown.contains(PathToQt(line))) << line << "\n" << shown.join('\n').toStdString();
  EXPECT_EQ(lastLine(), "Virus scan finished with exit status 3");
  EXPECT_FALSE(fileExists(folder)) << "the copy is removed once scanned";
  EXPECT_FALSE(form->Engine().DoAll);
  EXPECT_EQ(form->Engine().Count(), 2);

  // A folder of that name that is not ours is left alone; the copy goes beside it.
  writeFile(folder + "/mine.txt", "the user's");
  form->Command("VirusScan1")->trigger();
  EXPECT_EQ(readText(folder + "/mine.txt"), "the user's");
  EXPECT_FALSE(lines().contains("./mine.txt"));
  EXPECT_TRUE(lines().contains("./docs/a.txt"));
  EXPECT_TRUE(lines().filter(PathToQt("arg:" + folder + ".")).size() == 1) << "a name beside it";

  // A root folder left by an earlier Add neither cuts the stored folders short nor is lost.
  form->Engine().SetRootDir("docs");
  const std::string root = form->Engine().RootDir();
  form->Command("VirusScan1")->trigger();
  EXPECT_TRUE(lines().contains("./docs/a.txt")) << lines().join('\n').toStdString();
  EXPECT_EQ(form->Engine().RootDir(), root);
}

TEST_F(VirusScanning, CancelStopsALongScanAndTheWindowStaysLive) {
  openSample("sample.zip", {{"a.txt", "alpha\n"}});
  configure(script(dir / "bin/slow", "echo started\nexec sleep 30"), "");
  bool pressed = false;
  QTimer::singleShot(300, [&] {
    pressed = true;
    output().CancelButton()->click();
  });
  QElapsedTimer clock;
  clock.start();
  form->Command("VirusScan1")->trigger();
  EXPECT_TRUE(pressed) << "the window handled its events during the scan";
  EXPECT_LT(clock.elapsed(), 10000);
  EXPECT_TRUE(lines().contains("started"));
  EXPECT_EQ(lastLine(), "Virus scan cancelled");
  EXPECT_FALSE(fileExists(temp() + "/sample.zip"));
}

// The real clamscan with a signature of the test's own; no database download is needed.
TEST_F(VirusScanning, ClamscanReportsWhatItFoundAndItsExitStatus) {
  if (!haveTool("clamscan")) GTEST_SKIP() << "clamscan (clamav) is not installed";
  const std::string marker =
      "QUELT-TEST-SIGNATURE-"
      "1234";
  std::string hex;
  for (unsigned char ch : marker) {
    char buf[3];
    std::snprintf(buf, sizeof buf, "%02x", ch);
    hex += buf;
  }
  writeFile(dir / "sigs/quelt.ndb", "Quelt.Test.Sig:0:*:" + hex + "\n");
  const std::string sigs = "-r -d '" + dir / "sigs" + "'";
  struct TCase {
    const char* name;
    std::vector<TEntrySpec> entries;
    std::string parameters;
    std::string line;  // a line the output must hold, after the archive's folder
    QString last;
  } cases[] = {
      {"infected.zip",
       {{"good.txt", "clean\n"}, {"docs/bad.txt", "hello " + marker + " world\n"}},
       sigs,
       "/docs/bad.txt: Quelt.Test.Sig.UNOFFICIAL FOUND",
       "Virus scan finished with exit status 1: VIRUS FOUND"},
      {"clean.zip",
       {{"good.txt", "clean\n"}, {"docs/fine.txt", "nothing here\n"}},
       sigs,
       "/docs/fine.txt: OK",
       "Virus scan finished with exit status 0: no virus found"},
      {"broken.zip",
       {{"good.txt", "clean\n"}},
       "-r -d '" + dir / "no such folder" + "'",
       "",
       "Virus scan finished with exit status 2: the scan failed"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    openSample(c.name, c.entries);
    configure("clamscan", c.parameters);
    form->Command("VirusScan1")->trigger();
    const QString expected = PathToQt(temp() + "/" + c.name + c.line);
    if (!c.line.empty()) {
      EXPECT_TRUE(lines().contains(expected)) << lines().join('\n').toStdString();
    }
    EXPECT_EQ(lastLine(), c.last) << lines().join('\n').toStdString();
    EXPECT_TRUE(output().isVisible());
  }
}

}  // namespace
}  // namespace quelt::test
