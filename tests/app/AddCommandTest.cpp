// Adding files through the Add Files dialog: its list, its options, the report, Cancel.
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QMimeData>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <filesystem>
#include <map>

#include "ArchiveTestUtil.h"
#include "app/QtText.h"
#include "app/dialogs/PromptDialogs.h"
#include "engine/Errors.h"

namespace quelt::test {
namespace {

class Adding : public TArchiveTest {
 protected:
  void SetUp() override {
    TArchiveTest::SetUp();
    makeDirs(src() + "/sub/deep");
    writeFile(src() + "/a.txt", textBytes(30000, 1));
    writeFile(src() + "/b.bin", randomBytes(5000, 2));
    writeFile(src() + "/sub/c.txt", textBytes(7000, 3));
    writeFile(src() + "/sub/deep/d.txt", "deep");
    makeDirs(dir / "tmp");
    // The writer builds in the window's temporary folder, where a test can watch it.
    putSetting("ExpDir", dir / "tmp");
  }
  std::string src() const { return dir / "src"; }
  // An archive that exists already, holding one entry of its own.
  std::string existing(const std::string& name) {
    return zip(name, {{"old.txt", "kept", {2001, 2, 3, 4, 5, 6}}});
  }
  static std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  }
  // `unzip -t` and `7z t` both accept the archive.
  static void othersAccept(const std::string& path, const std::string& password = "") {
    RunResult u = run("unzip -t " + (password.empty() ? "" : "-P " + password + " ") + shq(path));
    EXPECT_EQ(u.status, 0) << u.out << u.err;
    RunResult z = run("7z t -p" + password + " " + shq(path));
    EXPECT_EQ(z.status, 0) << z.out << z.err;
  }
};

TEST_F(Adding, TheAdvancedOptionsShapeNewAndExistingArchives) {
  struct TCase {
    const char* what;
    std::function<void(TAddForm&)> options;
    std::vector<std::string> names;  // without the existing archive's "old.txt"
    std::string password;
  };
  auto folder = [this](TAddForm& f) {
    f.SetFolder(PathToQt(src()));
    press(f, "AddFolderBut");
  };
  const std::string base = "src/";
  const TCase cases[] = {
      {"a folder, no subfolders, no folder names", folder, {"a.txt", "b.bin"}, ""},
      {"recursing without folder names",
       [&](TAddForm& f) {
         folder(f);
         f.RecurseCheck->setChecked(true);
       },
       {"a.txt", "b.bin", "c.txt", "d.txt"},
       ""},
      {"recursing with folder names",
       [&](TAddForm& f) {
         folder(f);
         f.RecurseCheck->setChecked(true);
         f.DirNameCheck->setChecked(true);
       },
       {base + "a.txt", base + "b.bin", base + "sub/c.txt", base + "sub/deep/d.txt"},
       ""},
      {"volume information alone stores no folders",
       [&](TAddForm& f) {
         folder(f);
         f.VolumeCheck->setChecked(true);
         f.DirNameCheck->setChecked(false);
         f.RecurseCheck->setChecked(false);
       },
       {"a.txt", "b.bin"},
       ""},
      {"a password",
       [&](TAddForm& f) {
         folder(f);
         expectDialog("EnterPwd", [](QDialog& d) {
           d.findChild<QLineEdit*>("PasswordEdit")->setText("s3cret");
           press(d, "OKBut");
         });
         press(f, "PasswordBut");
       },
       {"a.txt", "b.bin"},
       "s3cret"},
  };
  for (bool fresh : {true, false}) {
    for (const TCase& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (fresh ? ", new archive" : ", existing archive"));
      std::string path = dir / (std::string(fresh ? "new" : "old") + ".zip");
      std::filesystem::remove(path);
      start();
      if (fresh) {
        startNew(path);
      } else {
        existing("old.zip");
        openThroughMenu(path);
      }
      add(c.options);
      std::vector<std::string> expected = c.names;
      if (!fresh) expected.push_back("old.txt");
      // Folder names may also hold the temporary folder's mount; compare their ends.
      std::vector<std::string> got = sorted(storedNames(path));
      ASSERT_EQ(got.size(), expected.size());
      expected = sorted(expected);
      for (size_t i = 0; i < got.size(); ++i)
        EXPECT_TRUE(
            got[i].size() >= expected[i].size() &&
            got[i].compare(got[i].size() - expected[i].size(), std::string::npos, expected[i]) == 0)
            << got[i] << " for " << expected[i];
      EXPECT_EQ(form->Listing().rowCount(), int(expected.size()));
      EXPECT_EQ(lines().back(), "Finished adding files");
      EXPECT_TRUE(form->AddDialog().Entries().isEmpty());  // emptied after the run
      EXPECT_TRUE(noScratchFiles(dir / "tmp"));
      othersAccept(path, c.password);
      form.reset();
      std::filesystem::remove_all(dir / "cfg");
      putSetting("ExpDir", dir / "tmp");
    }
  }
}

TEST_F(Adding, LevelsAndTheRootFolderReachTheEngine) {
  start();
  for (int level : {1, 6, 9}) {
    SCOPED_TRACE(level);
    std::string path = dir / ("level" + std::to_string(level) + ".zip");
    startNew(path);
    add([&](TAddForm& f) {
      addFiles(f, src(), {"a.txt"});
      f.ZipLevel->setValue(level);
    });
    ASSERT_EQ(form->Engine().Count(), 1);
    // The deflate flag bits tell the level class: 4 fast, 0 normal, 2 maximum.
    EXPECT_EQ(form->Engine().Entry(0).BitFlag & 6, level == 1 ? 4 : level == 9 ? 2 : 0);
    EXPECT_EQ(form->Engine().PackLevel, level);
  }
  // The spin box takes no typing: only its arrows change the level.
  QLineEdit* levelEdit = form->AddDialog().ZipLevel->findChild<QLineEdit*>();
  ASSERT_NE(levelEdit, nullptr);
  EXPECT_TRUE(levelEdit->isReadOnly());

  // With paths relative to it (as the text editor's save asks), names start below the root.
  form->Engine().SetRelativePaths(true);
  startNew(dir / "rooted.zip");
  add([&](TAddForm& f) {
    f.SetFolder(PathToQt(src()));
    press(f, "AddFolderBut");
    f.RootDirEdit->setText(PathToQt(src()));
    f.DirNameCheck->setChecked(true);
    f.RecurseCheck->setChecked(true);
  });
  EXPECT_EQ(form->Engine().RootDir(), src() + "/");
  EXPECT_EQ(sorted(storedNames(dir / "rooted.zip")),
            (std::vector<std::string>{"a.txt", "b.bin", "sub/c.txt", "sub/deep/d.txt"}));
}

TEST_F(Adding, ReplaceUpdateAndFreshenCountWhatChanged) {
  putSetting("ShowOutput", 0);
  writeFile(src() + "/new.txt", "new");
  struct TCase {
    int action;  // the radio group's index
    const char* report;
    std::map<std::string, std::string> contents;
  };
  const TCase cases[] = {
      {0, "3 files were added", {{"a.txt", "fresh"}, {"b.bin", "fresh"}, {"new.txt", "new"}}},
      {1, "2 files were added", {{"a.txt", "fresh"}, {"b.bin", "future"}, {"new.txt", "new"}}},
      {2, "1 file was added", {{"a.txt", "fresh"}, {"b.bin", "future"}}},
  };
  writeFile(src() + "/a.txt", "fresh");
  writeFile(src() + "/b.bin", "fresh");
  start();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.action);
    std::string path = zip("upd.zip", {{"a.txt", "past", {2000, 1, 1, 0, 0, 0}},
                                       {"b.bin", "future", {2100, 1, 1, 0, 0, 0}}});
    openThroughMenu(path);
    dialogs->ClearLog();
    dialogs->AnswerMessage(TMsgBoxResult::OK);
    add([&](TAddForm& f) {
      addFiles(f, src(), {"a.txt", "b.bin", "new.txt"});
      f.ZipActionGroup->SetItemIndex(c.action);
    });
    ASSERT_EQ(dialogs->Messages(), std::vector<std::string>{std::string("Quelt: ") + c.report});
    EXPECT_EQ(dialogs->log[0].icon, TMsgBoxIcon::Information);
    std::map<std::string, std::string> got;
    for (const std::string& name : storedNames(path))
      got[name] = run("unzip -p " + shq(path) + " " + shq(name)).out;
    EXPECT_EQ(got, c.contents);
  }
}

TEST_F(Adding, TheListTakesChosenPathsLiterallyAndMasksOnlyFromAddWildcard) {
  writeFile(src() + "/file[1].txt", "bracket");
  writeFile(src() + "/file1.txt", "plain");
  // A folder path far beyond 250 characters, with mask characters in its names.
  std::string deep = src() + "/[x]";
  for (int i = 0; i < 6; ++i) deep += "/" + std::string(50, char('p' + i));
  makeDirs(deep);
  writeFile(deep + "/far?.txt", "far");
  start();
  startNew(dir / "lit.zip");
  const QString s = PathToQt(src());

  expectDialog("AddForm", [&](QDialog& d) {
    auto& f = static_cast<TAddForm&>(d);
    addFiles(f, src(), {"file[1].txt", "sub"});
    press(f, "AddFolderBut");
    press(f, "AddFolderBut");   // already there: not twice
    dialogs->AnswerInput("*");  // no "." in it: refused
    press(f, "AddWildBut");
    dialogs->AnswerInput(std::nullopt);
    press(f, "AddWildBut");
    f.AddPaths({PathToQt(deep + "/far?.txt"), PathToQt(deep)});
    // In the file list's order: folders first.
    EXPECT_EQ(f.Entries(), (QStringList{s + "/sub/*.*", s + "/file[1].txt", s + "/*.*",
                                        PathToQt(deep + "/far?.txt"), PathToQt(deep) + "/*.*"}));
    // Remove takes the selected entries; the cancelled dialog keeps the rest for next time.
    f.SelectedList->item(0)->setSelected(true);
    f.SelectedList->item(2)->setSelected(true);
    press(f, "RemoveBut");
    press(f, "CancelBut");
  });
  form->Command("AddFiles1")->trigger();
  EXPECT_FALSE(fileExists(dir / "lit.zip"));
  const TPrompt& wildcard = dialogs->log[dialogs->log.size() - 2];
  EXPECT_EQ(wildcard.caption, "Add Wildcard (for example *.exe)");
  EXPECT_EQ(wildcard.text, src() + "/");
  EXPECT_EQ(wildcard.initial, "");

  add([&](TAddForm& f) {
    EXPECT_EQ(f.Entries(), (QStringList{s + "/file[1].txt", PathToQt(deep + "/far?.txt"),
                                        PathToQt(deep) + "/*.*"}));
    f.SetFolder(s);
    dialogs->AnswerInput("file?.txt");
    press(f, "AddWildBut");
    press(f, "SortBut");
    EXPECT_FALSE(f.SortBut->isEnabled());
    EXPECT_EQ(f.Entries().first(), PathToQt(deep) + "/*.*");
  });
  // The literal "file[1].txt" is that file; the mask "file?.txt" is file1.txt; "far?.txt"
  // is one file although the folder holds it under a mask-like name.
  EXPECT_EQ(sorted(storedNames(dir / "lit.zip")),
            (std::vector<std::string>{"far?.txt", "file1.txt", "file[1].txt"}));
}

TEST_F(Adding, TheFileListFiltersDropsArriveWholeAndTheListOpensEntries) {
  start();
  startNew(dir / "f.zip");
  expectDialog("AddForm", [&](QDialog& d) {
    auto& f = static_cast<TAddForm&>(d);
    f.SetFolder(PathToQt(src()));
    d.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
    // Enter in the filter box filters, even through the default button, and the dialog stays.
    f.FilterEdit->setFocus();
    f.FilterEdit->setText("*.TXT");
    QTest::keyClick(f.FilterEdit, Qt::Key_Return);
    EXPECT_EQ(d.result(), QDialog::Rejected);
    EXPECT_TRUE(d.isVisible());
    QStringList shown;
    for (int i = 0; i < f.FileList->topLevelItemCount(); ++i)
      shown << f.FileList->topLevelItem(i)->text(0);
    EXPECT_EQ(shown, (QStringList{"sub", "a.txt"}));  // folders stay, whatever the mask
    press(d, "SelectAllBut");
    press(d, "AddFilesBut");
    EXPECT_EQ(f.Entries(), QStringList{PathToQt(src() + "/a.txt")});

    // Dropped from the desktop: each path whole; a folder brings its files.
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(PathToQt(src() + "/b.bin")),
                  QUrl::fromLocalFile(PathToQt(src() + "/sub"))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&d, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&d, &drop);
    EXPECT_EQ(f.Entries(), (QStringList{PathToQt(src() + "/a.txt"), PathToQt(src() + "/b.bin"),
                                        PathToQt(src() + "/sub") + "/*.*"}));

    // The list's Execute opens the selected entries with their programs.
    f.SelectedList->item(1)->setSelected(true);
    f.SelectedList->findChild<QAction*>("Execute1")->trigger();
    ASSERT_FALSE(dialogs->log.empty());
    EXPECT_EQ(dialogs->log.back().kind, TPromptKind::ShellOpen);
    EXPECT_EQ(dialogs->log.back().text, src() + "/b.bin");
    f.FileList->setFocus();
    press(d, "OKBut");
  });
  form->Command("AddFiles1")->trigger();
  EXPECT_EQ(sorted(storedNames(dir / "f.zip")),
            (std::vector<std::string>{"a.txt", "b.bin", "c.txt"}));
  // The engine works in the window's temporary folder, and writes sets in 1.44 MB volumes.
  EXPECT_EQ(form->Engine().TempPath, dir / "tmp/");
  EXPECT_EQ(form->Engine().MultiZipInfo().BlockSize, 1447600);
  EXPECT_EQ(form->Engine().MultiZipInfo().FirstBlockSize, 1447600);
}

TEST_F(Adding, RefusalsAndMissingSourcesAreReported) {
  start();
  // No archive (the menu item is off then, but a drop still comes here): no dialog.
  EXPECT_FALSE(form->Command("AddFiles1")->isEnabled());
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  form->AddButClick();
  ASSERT_EQ(dialogs->Messages(), std::vector<std::string>{"Quelt: Error - open a zip file first"});
  EXPECT_EQ(dialogs->log.back().icon, TMsgBoxIcon::Error);

  startNew(dir / "r.zip");
  dialogs->ClearLog();
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  add([](TAddForm&) {});
  EXPECT_EQ(dialogs->Messages(), std::vector<std::string>{"Quelt: No files selected"});

  writeFile(dir / "gone.txt", "x");
  makeDirs(dir / "locked");
  writeFile(dir / "locked/secret.txt", "x");
  ::chmod((dir / "locked/secret.txt").c_str(), 0);
  add([&](TAddForm& f) {
    f.AddPaths({PathToQt(dir / "gone.txt"), PathToQt(src() + "/a.txt")});
    addFiles(f, dir / "locked", {"secret.txt"});
    std::filesystem::remove(dir / "gone.txt");
  });
  QStringList out = lines();
  EXPECT_TRUE(out.contains("File not found: " + PathToQt(dir / "gone.txt")))
      << out.join('\n').toStdString();
  if (::geteuid() != 0) {
    // Root reads everything; anyone else is refused the file.
    EXPECT_TRUE(std::any_of(out.begin(), out.end(), [&](const QString& l) {
      return l.startsWith("Could not add " + PathToQt(dir / "locked/secret.txt"));
    })) << out.join('\n').toStdString();
  }
  EXPECT_TRUE(out.contains("Zipped file " + PathToQt(src() + "/a.txt")));
}

TEST_F(Adding, CancelInTheOutputWindowLeavesTheArchiveAsItWas) {
  writeFile(src() + "/big.bin", randomBytes(3 << 20, 9));
  for (bool fresh : {false, true}) {
    SCOPED_TRACE(fresh ? "new archive" : "existing archive");
    std::string path = dir / "c.zip";
    std::filesystem::remove(path);
    start();
    if (fresh) {
      startNew(path);
    } else {
      existing("c.zip");
      openThroughMenu(path);
    }
    const std::vector<uint8_t> before = fresh ? std::vector<uint8_t>() : readFile(path);
    // The click waits in the event queue until the engine, at work, lets the window in.
    bool pressed = false;
    QTimer::singleShot(0, form.get(), [&] {
      pressed = true;
      EXPECT_TRUE(form->Busy());
      EXPECT_TRUE(output().isVisible());
      output().CancelButton()->click();
    });
    dialogs->ClearLog();
    dialogs->AnswerMessage(TMsgBoxResult::OK);  // the error display
    add([&](TAddForm& f) { addFiles(f, src(), {"big.bin"}); });
    EXPECT_TRUE(pressed);
    ASSERT_EQ(dialogs->Messages(), std::vector<std::string>{"Quelt: User Aborted Operation"});
    EXPECT_FALSE(output().isVisible());
    EXPECT_FALSE(form->Busy());
    if (fresh)
      EXPECT_FALSE(fileExists(path));
    else
      EXPECT_EQ(readFile(path), before);
    EXPECT_TRUE(noScratchFiles(dir / "tmp"));
    EXPECT_TRUE(noScratchFiles(dir.path()));
    EXPECT_TRUE(form->AddDialog().Entries().isEmpty());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    form.reset();
  }
}

TEST_F(Adding, APasswordIsInForceAtOnceAndForgottenWithTheArchive) {
  start();
  openThroughMenu(existing("p.zip"));
  expectDialog("AddForm", [&](QDialog& d) {
    expectDialog("EnterPwd", [](QDialog& p) {
      EXPECT_EQ(p.windowTitle(), "Password");
      auto* edit = p.findChild<QLineEdit*>("PasswordEdit");
      EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
      edit->setText("typed");
      press(p, "OKBut");
    });
    press(d, "PasswordBut");
    press(d, "CancelBut");
  });
  form->Command("AddFiles1")->trigger();
  EXPECT_EQ(form->Engine().Password, "typed");
  // The dialog offers the last password again until another archive is opened.
  EXPECT_EQ(form->PasswordDialog().Text(), "typed");
  openThroughMenu(existing("q.zip"));
  EXPECT_EQ(form->Engine().Password, "");
  EXPECT_EQ(form->PasswordDialog().Text(), "");
}

TEST_F(Adding, ShortcutsReachTheirCommandsFromTheListing) {
  start();
  openThroughMenu(zip("s.zip", {{"a.txt", "a"}, {"b.txt", "b"}}));
  form->show();
  auto focusListing = [this] {
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    form->ListView()->setFocus();
    ASSERT_TRUE(form->ListView()->hasFocus());
  };
  focusListing();
  expectDialog("AddForm", [](QDialog& d) { press(d, "CancelBut"); });
  QTest::keyClick(form->ListView(), Qt::Key_A, Qt::ControlModifier);
  focusListing();
  expectDialog("Extract", [](QDialog& d) { press(d, "CancelBut"); });
  QTest::keyClick(form->ListView(), Qt::Key_E, Qt::ControlModifier);
  EXPECT_EQ(shownDialogs, (QStringList{"AddForm", "Extract"}));
  // Ctrl+A opened the dialog instead of selecting every row.
  EXPECT_TRUE(form->SelectedRows().empty());
}

}  // namespace
}  // namespace quelt::test
