// Extracting through the Extract dialog: all or selected rows, folders, overwriting, the
// questions about passwords, incomplete archives and the next disk, failures and Cancel.
#include <QApplication>
#include <QDir>
#include <QPlainTextEdit>
#include <QTimer>
#include <filesystem>

#include "ArchiveTestUtil.h"
#include "app/QtText.h"
#include "app/commands/EngineEvents.h"
#include "app/dialogs/PromptDialogs.h"
#include "support/SampleTree.h"
#include "support/ZipBuilder.h"

namespace quelt::test {
namespace {

class Extracting : public TArchiveTest {
 protected:
  std::string out() const { return dir / "out"; }
  // Files below the folder, as relative paths in name order.
  static std::vector<std::string> filesIn(const std::string& root) {
    std::vector<std::string> found;
    if (!std::filesystem::exists(root)) return found;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root))
      if (e.is_regular_file()) found.push_back(std::filesystem::relative(e.path(), root).string());
    std::sort(found.begin(), found.end());
    return found;
  }
  // An archive made by Info-ZIP's zip from a folder of the given files.
  std::string zipOf(const std::string& name,
                    const std::vector<std::pair<std::string, std::string>>& files,
                    const std::string& options = "") {
    std::string folder = dir / (name + ".src");
    for (const auto& [path, text] : files) writeFile(folder + "/" + path, text);
    RunResult r = run("zip -q -r " + options + " " + shq(dir / name) + " .", folder);
    EXPECT_EQ(r.status, 0) << r.err;
    return dir / name;
  }
  // Extract to out() with the dialog's three choices.
  void extractTo(int expand, int overwrite, int files) {
    extract([&](TExtract& d) {
      d.ExtractToEdit->setText(PathToQt(out()));
      d.ExpandDirsGroup->SetItemIndex(expand);
      d.OverwriteGroup->SetItemIndex(overwrite);
      d.FilesGroup->SetItemIndex(files);
    });
  }
};

TEST_F(Extracting, WhatTheWindowAddsComesBackByteForByte) {
  writeSampleTree(dir / "src");
  start();
  startNew(dir / "round.zip");
  // Names below the root, as the text editor's save asks for them.
  form->Engine().SetRelativePaths(true);
  add([&](TAddForm& f) {
    f.SetFolder(PathToQt(dir / "src"));
    press(f, "AddFolderBut");
    f.RootDirEdit->setText(PathToQt(dir / "src"));
    f.DirNameCheck->setChecked(true);
    f.RecurseCheck->setChecked(true);
  });
  extractTo(1, 1, 0);
  EXPECT_EQ(compareTrees(dir / "src", out(), true), std::vector<std::string>{});
  EXPECT_EQ(lines().back(), "Finished extracting files");
  EXPECT_FALSE(form->Engine().DoAll);
}

TEST_F(Extracting, SelectedRowsAreExactlyThoseEntries) {
  std::string path = zipOf("sel.zip", {{"a.txt", "top"},
                                       {"one/a.txt", "one"},
                                       {"two/a.txt", "two"},
                                       {"file[1].txt", "bracket"},
                                       {"file1.txt", "plain"}});
  struct TCase {
    QStringList rows;
    int expand;  // 0 No, 1 Yes
    int files;   // 0 All, 1 Selected
    std::vector<std::string> landed;
  };
  const TCase cases[] = {
      {{}, 1, 0, {"a.txt", "file1.txt", "file[1].txt", "one/a.txt", "two/a.txt"}},
      {{"one\\a.txt"}, 0, 0, {"a.txt", "file1.txt", "file[1].txt"}},  // all, flat
      {{"one\\a.txt"}, 1, 1, {"one/a.txt"}},
      {{"file[1].txt"}, 1, 1, {"file[1].txt"}},
      {{"two\\a.txt", "file1.txt"}, 1, 1, {"file1.txt", "two/a.txt"}},
  };
  start();
  openThroughMenu(path);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.rows.join(",").toStdString() + " " + std::to_string(c.expand) +
                 std::to_string(c.files));
    std::filesystem::remove_all(out());
    selectRows(c.rows);
    extractTo(c.expand, 1, c.files);
    EXPECT_EQ(filesIn(out()), c.landed);
  }
  // Without folders, the one selected "a.txt" is the only one: no namesake overwrites it.
  std::filesystem::remove_all(out());
  selectRows({"one\\a.txt"});
  extractTo(0, 1, 1);
  EXPECT_EQ(filesIn(out()), std::vector<std::string>{"a.txt"});
  EXPECT_EQ(readText(out() + "/a.txt"), "one");
  EXPECT_EQ(lines().filter("Unzipped file").size(), 1);
  EXPECT_TRUE(form->Engine().SelectedNames.empty());
}

TEST_F(Extracting, OverwriteNoYesAndPromptDecide) {
  std::string path = zipOf("ow.zip", {{"a.txt", "archived"}, {"b.txt", "b"}});
  struct TCase {
    int choice;  // 0 No, 1 Yes, 2 Prompt
    std::optional<TMsgBoxResult> answer;
    const char* content;
  };
  const TCase cases[] = {{0, {}, "mine"},
                         {1, {}, "archived"},
                         {2, TMsgBoxResult::No, "mine"},
                         {2, TMsgBoxResult::Yes, "archived"}};
  start();
  openThroughMenu(path);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.choice);
    std::filesystem::remove_all(out());
    writeFile(out() + "/a.txt", "mine");
    dialogs->ClearLog();
    if (c.answer) dialogs->AnswerMessage(*c.answer);
    extractTo(1, c.choice, 0);
    EXPECT_EQ(readText(out() + "/a.txt"), c.content);
    EXPECT_EQ(readText(out() + "/b.txt"), "b");
    if (c.answer) {
      ASSERT_EQ(dialogs->Messages(),
                std::vector<std::string>{"Confirm Replace: Replace existing copy of a.txt?"});
      EXPECT_EQ(dialogs->log.back().icon, TMsgBoxIcon::Question);
      EXPECT_EQ(dialogs->log.back().buttons, TMsgBoxButtons::YesNo);
    } else {
      EXPECT_TRUE(dialogs->Messages().empty());
    }
    const bool kept = std::string(c.content) == "mine";
    EXPECT_EQ(lines().contains("Skipped file a.txt: the file exists"), kept);
    EXPECT_EQ(lines().contains("1 of 2 files were extracted"), kept);
    // The choice held for this run only.
    EXPECT_EQ(form->Engine().OverwriteMode, Always);
  }
}

TEST_F(Extracting, AWrongPasswordIsAskedForAgainOrTheEntrySkipped) {
  std::string path = zipOf("pw.zip", {{"a.txt", "alpha"}, {"b.txt", "beta"}}, "-P right");
  start();
  openThroughMenu(path);
  auto givePassword = [&](const char* text) {
    expectDialog("EnterPwd", [text](QDialog& d) {
      d.findChild<QLineEdit*>("PasswordEdit")->setText(text);
      press(d, "OKBut");
    });
  };

  // A right password typed into the question: this entry and the next are extracted.
  expectDialog("Extract", [&](QDialog& d) {
    givePassword("wrong");
    press(d, "PasswordBut");
    static_cast<TExtract&>(d).ExtractToEdit->setText(PathToQt(out()));
    expectDialog("InvalidPwdDlg", [](QDialog& q) {
      auto& ask = static_cast<TInvalidPwdDlg&>(q);
      EXPECT_EQ(ask.windowTitle(), "Invalid Password");
      EXPECT_EQ(ask.FileName(), "a.txt");
      EXPECT_EQ(ask.Password(), "wrong");
      ask.SetPassword("right");
      press(q, "OKBut");
    });
    press(d, "OKBut");
  });
  form->Command("ExtractFiles1")->trigger();
  EXPECT_EQ(readText(out() + "/a.txt"), "alpha");
  EXPECT_EQ(readText(out() + "/b.txt"), "beta");
  EXPECT_EQ(form->Engine().Password, "right");  // kept for the next run

  // Cancelled, or confirmed unchanged: each entry is skipped, the run goes on.
  std::filesystem::remove_all(out());
  form->Engine().Password = "wrong";
  dialogs->ClearLog();
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  extract([&](TExtract& d) {
    d.ExtractToEdit->setText(PathToQt(out()));
    expectDialog("InvalidPwdDlg", [](QDialog& q) { press(q, "CancelBut"); });
    expectDialog("InvalidPwdDlg", [](QDialog& q) { press(q, "OKBut"); });
  });
  EXPECT_EQ(dialogs->Messages(),
            std::vector<std::string>{"Password Error: Invalid Password for file a.txt"});
  EXPECT_EQ(dialogs->log.back().buttons, TMsgBoxButtons::OK);
  EXPECT_EQ(filesIn(out()), std::vector<std::string>{});
  EXPECT_TRUE(lines().contains("Skipped file a.txt: wrong password"));
  EXPECT_TRUE(lines().contains("Skipped file b.txt: wrong password"));
  EXPECT_EQ(lines().back(), "0 of 2 files were extracted");
}

TEST_F(Extracting, AnIncompleteArchiveIsAnsweredBothWays) {
  ZipSpec spec;
  spec.entries = {stored("a.txt", "alpha"), stored("b/c.txt", "gamma")};
  spec.centralDirectory = false;
  spec.endRecord = false;
  writeFile(dir / "cut.zip", buildZip(spec));
  start();

  // Cancel: one disk of a set; nothing to list, no error.
  expectDialog("IncompleteZipDlg", [](QDialog& d) {
    EXPECT_EQ(d.windowTitle(), "Incomplete Zip File!");
    press(d, "CancelBut");
  });
  openThroughMenu(dir / "cut.zip");
  EXPECT_EQ(form->Listing().rowCount(), 0);
  EXPECT_TRUE(dialogs->Messages().empty());
  // Extracting it then finds nothing and asks nothing more.
  extractTo(1, 1, 0);
  EXPECT_EQ(filesIn(out()), std::vector<std::string>{});
  EXPECT_TRUE(dialogs->Messages().empty());

  // Opened again and answered OK: what can be read is listed, with a word that the archive
  // is damaged, and extracted, asked once.
  expectDialog("IncompleteZipDlg", [](QDialog& d) { press(d, "OKBut"); });
  dialogs->AnswerOpenFile(dir / "cut.zip");
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  form->Command("Open1")->trigger();
  EXPECT_EQ(form->Listing().rowCount(), 2);
  ASSERT_EQ(dialogs->Messages().size(), 1u);
  EXPECT_NE(dialogs->Messages()[0].find("damaged or incomplete"), std::string::npos);
  extractTo(1, 1, 0);
  EXPECT_EQ(filesIn(out()), (std::vector<std::string>{"a.txt", "b/c.txt"}));
  EXPECT_EQ(shownDialogs.filter("IncompleteZipDlg").size(), 2);
}

TEST_F(Extracting, ABlockSetIsReadThroughTheNextDiskQuestion) {
  makeDirs(dir / "src");
  writeFile(dir / "src/one.bin", randomBytes(50000, 1));
  writeFile(dir / "src/two.bin", randomBytes(40000, 2));
  {
    TZipEngine writer;
    writer.TempPath = dir.path();
    writer.MultiZipInfo().BlockSize = writer.MultiZipInfo().FirstBlockSize = 30000;
    writer.SetMultiMode(mmBlocks);
    writer.SetZipName(dir / "set.zip");
    writer.FilesList = {dir / "src/*.*"};
    ASSERT_EQ(writer.CompressFiles(), 2);
  }
  ASSERT_TRUE(fileExists(dir / "set.004"));
  start();
  openThroughMenu(dir / "set.004");
  ASSERT_EQ(form->Listing().rowCount(), 2);

  // The blocks lie side by side: each is found without a question.
  extractTo(1, 1, 0);
  EXPECT_EQ(compareTrees(dir / "src", out(), false), std::vector<std::string>{});

  // A block that moved away: the user shows where it is.
  makeDirs(dir / "moved");
  std::filesystem::rename(dir / "set.001", dir / "moved/first.001");
  std::filesystem::remove_all(out());
  dialogs->ClearLog();
  dialogs->AnswerOpenFile(dir / "moved/first.001");
  extractTo(1, 1, 0);
  EXPECT_EQ(compareTrees(dir / "src", out(), false), std::vector<std::string>{});
  ASSERT_FALSE(dialogs->log.empty());
  EXPECT_EQ(dialogs->log[0].caption, "Select disk 1 of the multi-disk set");
  EXPECT_EQ(dialogs->log[0].file.initialDir, dir.path());

  // Not shown: the run stops with the engine's word for it.
  dialogs->ClearLog();
  dialogs->AnswerOpenFile(std::nullopt);
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  extractTo(1, 1, 0);
  EXPECT_EQ(dialogs->Messages(),
            std::vector<std::string>{"Quelt: User canceled loading new disk."});
}

TEST_F(Extracting, TheDiskQuestionOfASpannedSet) {
  start();
  TEngineEvents& events = form->Events();
  TZipEngine& engine = form->Engine();
  engine.SetMultiMode(mmSpan);
  writeFile(dir / "disk.zip", "x");
  struct TCase {
    TMsgBoxResult answer;
    std::string file;                                  // what the engine proposes
    std::optional<std::optional<std::string>> picked;  // the open dialog's answer, if asked
    std::string expected;
  };
  const TCase cases[] = {
      {TMsgBoxResult::OK, dir / "disk.zip", {}, dir / "disk.zip"},
      {TMsgBoxResult::Cancel, dir / "disk.zip", {}, ""},
      {TMsgBoxResult::OK, dir / "gone/disk.zip", std::optional<std::string>(dir / "disk.zip"),
       dir / "disk.zip"},
      {TMsgBoxResult::OK, dir / "gone/disk.zip", std::optional<std::string>(), ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.file);
    dialogs->ClearLog();
    dialogs->AnswerMessage(c.answer);
    if (c.picked) dialogs->AnswerOpenFile(*c.picked);
    std::string fname = c.file;
    events.ZipEngine1GetNextDisk(engine, 3, fname);
    EXPECT_EQ(fname, c.expected);
    EXPECT_EQ(dialogs->Messages(),
              std::vector<std::string>{"Spanning: Please insert disk 3 of the multi-disk set."});
    EXPECT_EQ(dialogs->log[0].icon, TMsgBoxIcon::Information);
    EXPECT_EQ(dialogs->log[0].buttons, TMsgBoxButtons::OKCancel);
  }
}

TEST_F(Extracting, CancelLeavesNoPartialFileAndKeepsTheExistingOne) {
  // Stored, so the data goes straight through in 16000-byte steps.
  writeFile(dir / "big/big.bin", randomBytes(3 << 20, 4));
  ASSERT_EQ(run("zip -q -0 ../big.zip big.bin", dir / "big").status, 0);
  std::string path = dir / "big.zip";
  start();
  openThroughMenu(path);
  writeFile(out() + "/big.bin", "mine");
  // The click waits in the event queue until the engine, at work, lets the window in.
  bool pressed = false;
  QTimer::singleShot(0, form.get(), [&] {
    pressed = form->Busy();
    output().CancelButton()->click();
  });
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  extractTo(1, 1, 0);
  EXPECT_TRUE(pressed);
  EXPECT_EQ(dialogs->Messages(), std::vector<std::string>{"Quelt: User Aborted Operation"});
  EXPECT_EQ(readText(out() + "/big.bin"), "mine");
  EXPECT_EQ(filesIn(out()), std::vector<std::string>{"big.bin"});
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_FALSE(form->Busy());
}

TEST_F(Extracting, FailuresAreListedAndTheShortfallCounted) {
  ZipSpec spec;
  ZipEntrySpec bad = stored("bad.txt", "damaged");
  bad.crc = 0x12345678;
  spec.entries = {stored("good.txt", "fine"), bad, stored("../evil.txt", "out")};
  writeFile(dir / "f.zip", buildZip(spec));
  for (bool showOutput : {true, false}) {
    SCOPED_TRACE(showOutput);
    std::filesystem::remove_all(dir / "cfg");
    std::filesystem::remove_all(out());
    putSetting("ShowOutput", showOutput ? 1 : 0);
    start();
    openThroughMenu(dir / "f.zip");
    dialogs->ClearLog();
    if (!showOutput) dialogs->AnswerMessage(TMsgBoxResult::OK);
    extractTo(1, 1, 0);
    QStringList l = lines();
    EXPECT_TRUE(l.contains("Could not unzip file bad.txt: CRC error"))
        << l.join('\n').toStdString();
    EXPECT_TRUE(l.contains("Unsafe path ../evil.txt unzipped as " + PathToQt(out() + "/evil.txt")))
        << l.join(QChar(10)).toStdString();
    EXPECT_EQ(l.mid(l.size() - 2),
              (QStringList{"Finished extracting files", "2 of 3 files were extracted"}));
    EXPECT_EQ(filesIn(out()), (std::vector<std::string>{"evil.txt", "good.txt"}));
    if (showOutput) {
      EXPECT_TRUE(dialogs->Messages().empty());
    } else {
      ASSERT_EQ(dialogs->Messages().size(), 1u);
      EXPECT_EQ(dialogs->Messages()[0].rfind(
                    "Quelt: 2 files were extracted\n2 of 3 files were extracted", 0),
                0u);
      EXPECT_EQ(dialogs->log.back().icon, TMsgBoxIcon::Warning);
    }
    form.reset();
  }
}

TEST_F(Extracting, TheOutputWindowShowsEveryStep) {
  std::string path = zipOf("three.zip", {{"x.txt", "12345"}, {"y.txt", "678"}, {"z.txt", "9"}});
  start();
  openThroughMenu(path);
  extractTo(1, 1, 0);
  EXPECT_EQ(
      lines(),
      (QStringList{" ", "Number of files to be unzipped: 3", "Total bytes to process: 9",
                   "Files unzipping to: " + PathToQt(out()), " ", "Unzipped file x.txt",
                   "Unzipped file y.txt", "Unzipped file z.txt", "Finished extracting files"}));
  EXPECT_EQ(output().Status(), PathToQt(out() + "/z.txt"));
  EXPECT_EQ(output().Progress(), 100);
  EXPECT_TRUE(output().isVisible());
  EXPECT_FALSE(output().CancelButton()->isEnabled());  // a finished run cannot be cancelled
  EXPECT_EQ(output().findChild<QPlainTextEdit*>("Memo1")->textCursor().position(),
            output().findChild<QPlainTextEdit*>("Memo1")->document()->characterCount() - 1);

  // "&OK" hides it; "View Last Output..." shows it again, Cancel on, even mid-run.
  press(output(), "DismissBut");
  EXPECT_FALSE(output().isVisible());
  form->Command("ViewOutput1")->trigger();
  EXPECT_TRUE(output().isVisible());
  EXPECT_TRUE(output().CancelButton()->isEnabled());
  // Cancel with no run: the window closes; the request dies with the next run's start.
  press(output(), "CancelBut");
  EXPECT_FALSE(output().isVisible());
  extractTo(1, 1, 0);
  EXPECT_EQ(lines().filter("Unzipped file").size(), 3);

  // With the output off, the hidden window collects every run's lines.
  form.reset();
  putSetting("ShowOutput", 0);
  start();
  openThroughMenu(path);
  for (int run = 0; run < 2; ++run) {
    dialogs->AnswerMessage(TMsgBoxResult::OK);
    extractTo(1, 1, 0);
  }
  EXPECT_EQ(dialogs->Messages().back(), "Quelt: 3 files were extracted");
  EXPECT_EQ(lines().filter("Finished extracting files").size(), 2);
  EXPECT_FALSE(output().isVisible());
}

TEST_F(Extracting, MissingArchivesAndEmptySelectionsAreRefused) {
  std::string path = zipOf("m.zip", {{"a.txt", "a"}});
  start();
  openThroughMenu(path);
  dialogs->ClearLog();
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  selectRows({});
  extractTo(1, 1, 1);
  EXPECT_EQ(dialogs->Messages(),
            std::vector<std::string>{"Dunmara Quelt: Error - no files selected"});
  EXPECT_EQ(filesIn(out()), std::vector<std::string>{});

  // A cancelled dialog extracts nothing but remembers its choices.
  expectDialog("Extract", [](QDialog& d) {
    auto& x = static_cast<TExtract&>(d);
    x.OverwriteGroup->SetItemIndex(2);
    press(d, "CancelBut");
  });
  form->Command("ExtractFiles1")->trigger();
  EXPECT_EQ(filesIn(out()), std::vector<std::string>{});
  EXPECT_TRUE(form->ExtractDialog().Destination().isEmpty());

  std::filesystem::remove(path);
  dialogs->ClearLog();
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  form->Command("ExtractFiles1")->trigger();
  EXPECT_EQ(dialogs->Messages(), std::vector<std::string>{"Quelt: Error: file not found: " + path});

  form.reset();
  start();
  EXPECT_EQ(form->ExtractDialog().OverwriteGroup->ItemIndex(), 2);
}

}  // namespace
}  // namespace quelt::test

namespace quelt::test {
namespace {

class DialogSettings : public TArchiveTest {};

TEST_F(DialogSettings, BothDialogsRememberTheirChoicesAcrossARestart) {
  makeDirs(dir / "adds");
  makeDirs(dir / "to");
  start();
  TAddForm& a = form->AddDialog();
  a.RecurseCheck->setChecked(true);
  a.DirNameCheck->setChecked(true);
  a.ZipLevel->setValue(3);
  a.ZipActionGroup->SetItemIndex(2);
  a.ShortNamesCheck->setChecked(true);
  a.VolumeCheck->setChecked(true);
  a.SetFolder(PathToQt(dir / "adds"));
  TExtract& x = form->ExtractDialog();
  // The Extract dialog remembers what its buttons leave, even Cancel.
  expectDialog("Extract", [&](QDialog& d) {
    x.ExpandDirsGroup->SetItemIndex(0);
    x.OverwriteGroup->SetItemIndex(2);
    x.FilesGroup->SetItemIndex(1);
    x.RetainAttribCheck->setChecked(false);
    x.ExtractToEdit->setText(PathToQt(dir / "to"));
    press(d, "CancelBut");
  });
  openThroughMenu(zip("s.zip", {{"a", "1"}}));
  form->Command("ExtractFiles1")->trigger();

  restart();
  TAddForm& a2 = form->AddDialog();
  EXPECT_TRUE(a2.RecurseCheck->isChecked());
  EXPECT_TRUE(a2.DirNameCheck->isChecked());
  EXPECT_EQ(a2.ZipLevel->value(), 3);
  EXPECT_EQ(a2.Action(), zaFreshen);
  EXPECT_TRUE(a2.ShortNamesCheck->isChecked());
  EXPECT_TRUE(a2.VolumeCheck->isChecked());
  EXPECT_EQ(a2.Folder(), PathToQt(dir / "adds"));  // "Last Folder" is the first choice
  EXPECT_EQ(storedText("LastAddDir"), dir / "adds");
  TExtract& x2 = form->ExtractDialog();
  EXPECT_FALSE(x2.ExpandDirs());
  EXPECT_EQ(x2.OverwriteChoice(), Prompt);
  EXPECT_FALSE(x2.AllFiles());
  EXPECT_FALSE(x2.RetainAttributes());
  EXPECT_EQ(x2.ExtractToEdit->text(), PathToQt(dir / "to"));
  EXPECT_EQ(x2.Folder(), PathToQt(dir / "to"));
  TSettingsStore fresh(TSettingsStore::DefaultPath());
  EXPECT_EQ(fresh.ReadString(CURRENT_USER, "SOFTWARE\\Dunmarra\\Quelt", "OverwriteExisting"), "2");

  // With "Folder:" chosen in the preferences, the folders named there are used instead.
  form.reset();
  putSetting("AddUseLast", "False");
  putSetting("AddDir", " " + dir / "to" + " ");
  putSetting("ExtractUseLast", "False");
  putSetting("ExtDir", "");
  start();
  EXPECT_EQ(form->AddDialog().Folder(), PathToQt(dir / "to"));
  EXPECT_EQ(form->ExtractDialog().ExtractToEdit->text(), QDir::homePath());
}

}  // namespace
}  // namespace quelt::test
