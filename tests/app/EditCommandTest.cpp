// Edit Text: an entry opened from the listing in the text editor, edited and saved back into
// the archive under its own folder and name.
#include <sys/stat.h>
#include <unistd.h>

#include <QMenu>
#include <QTimer>
#include <filesystem>
#include <map>

#include "ArchiveTestUtil.h"
#include "app/QtText.h"
#include "app/commands/EditCommand.h"
#include "app/viewers/TEdit.h"
#include "support/FakeMailSystem.h"

namespace quelt::test {
namespace {

class EditingText : public TArchiveTest {
 protected:
  std::string temp() const { return dir / "cache/quelt"; }
  std::string archive() const { return dir / "work/texts.zip"; }

  // An archive made by the zip tool from files written here, so that it is what users have.
  void makeArchive(const std::map<std::string, std::string>& files) {
    const std::string src = dir / "src";
    for (const auto& [name, bytes] : files) {
      makeDirs(std::filesystem::path(src + "/" + name).parent_path());
      writeFile(src + "/" + name, bytes);
    }
    makeDirs(dir / "work");
    std::string names;
    for (const auto& [name, bytes] : files) names += " " + shq(name);
    RunResult r = run("zip -q -X " + shq(archive()) + names, src);
    ASSERT_EQ(r.status, 0) << r.err;
  }
  void openSample() {
    makeArchive({{"docs/Notes.txt", "line one\nline two\n"},
                 {"docs/sub/deep.TXT", "deep\n"},
                 {"other/Notes.txt", "other notes\n"},
                 {"readme.md", "# read me\n"},
                 {"data.bin", std::string("\x00\x01\x02\xff binary", 11)}});
    start();
    open(archive());
  }
  // One entry as unzip reads it.
  static std::string unzipped(const std::string& zip, const std::string& name) {
    RunResult r = run("unzip -p " + shq(zip) + " " + shq(name));
    EXPECT_EQ(r.status, 0) << name << ": " << r.err;
    return r.out;
  }
  static std::map<std::string, std::string> contents(const std::string& zip) {
    std::map<std::string, std::string> out;
    for (const std::string& name : storedNames(zip)) out[name] = unzipped(zip, name);
    return out;
  }
  // Runs an editing command; `act` plays the user in the editor, which is closed afterwards
  // if `act` left it open. False when no editor came up.
  bool edit(const char* command, const std::function<void(TTextEdit&)>& act) {
    bool shown = false;
    // The extraction lets events in before the editor is up: wait until it is.
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      TTextEdit& editor = form->TextEditor();
      if (shown || !editor.isVisible()) return;
      shown = true;
      poll.stop();
      act(editor);
      if (editor.isVisible()) editor.close();
      if (editor.isVisible()) {
        ADD_FAILURE() << "the editor did not close";
        emit editor.Closed();
      }
    });
    poll.start();
    form->Command(command)->trigger();
    poll.stop();
    return shown;
  }
  static void typeAtEnd(TTextEdit& editor, const QString& text) {
    editor.Editor()->moveCursor(QTextCursor::End);
    editor.Editor()->insertPlainText(text);
  }
};

TEST_F(EditingText, ASavedEditLandsInTheArchiveUnderTheEntrysFolderAndName) {
  openSample();
  struct TCase {
    const char* row;      // as the listing shows it
    const char* command;  // menu, toolbar button, context menu
    std::string stored, before;
  };
  const TCase cases[] = {
      {"docs\\Notes.txt", "EditText1", "docs/Notes.txt", "line one\nline two\n"},
      {"docs\\sub\\deep.TXT", "EditTextBut", "docs/sub/deep.TXT", "deep\n"},
      {"readme.md", "EditText2", "readme.md", "# read me\n"},
  };
  TZipEngine& engine = form->Engine();
  const std::string root = dir / "elsewhere/";
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.row);
    const std::map<std::string, std::string> before = contents(archive());
    selectRows({c.row});
    const std::string copy = temp() + "/" + c.stored;
    const bool shown = edit(c.command, [&](TTextEdit& e) {
      EXPECT_EQ(e.EditorFile(), PathToQt(copy));
      EXPECT_EQ(e.windowTitle(), "Quelt Edit - [" + PathToQt(copy).section('/', -1) + "]");
      EXPECT_EQ(e.Text(), PathToQt(c.before));
      typeAtEnd(e, "added\n");
      // What the user set for Add stays set for the next Add.
      engine.SetRootDir(root);
      engine.FilesList = {"left.txt"};
      EXPECT_TRUE(e.Save1Click());
      EXPECT_FALSE(e.Modified());
      EXPECT_TRUE(e.isEnabled());
    });
    ASSERT_TRUE(shown);
    std::map<std::string, std::string> expected = before;
    expected[c.stored] = c.before + "added\n";
    EXPECT_EQ(contents(archive()), expected) << "one entry changed, no entry added";
    EXPECT_FALSE(fileExists(copy)) << "the copy goes when the window closes";
    EXPECT_FALSE(fileExists(temp() + "/docs")) << "and the folders made for it";
    EXPECT_EQ(engine.RootDir(), root);
    EXPECT_EQ(engine.FilesList, std::vector<std::string>{"left.txt"});
    EXPECT_FALSE(engine.StorePaths());
    EXPECT_FALSE(engine.RelativePaths());
    EXPECT_FALSE(engine.Recurse);
    EXPECT_EQ(engine.ZipAction, zaUpdate);
    EXPECT_TRUE(engine.LiteralFiles.empty());
    EXPECT_EQ(form->Listing().rowCount(), 5) << "the listing shows the archive as saved";
  }
  EXPECT_TRUE(dialogs->Messages().empty());
}

TEST_F(EditingText, SavingTwiceAndAnEntryDatedInTheFutureStillStoreTheText) {
  makeDirs(dir / "src");
  writeFile(dir / "src/plan.txt", "plan\n");
  // Newer than any copy written now: an update by date would keep the old text.
  setLocalMTime(dir / "src/plan.txt", 2099, 1, 1, 12, 0, 0);
  makeDirs(dir / "work");
  ASSERT_EQ(run("zip -q -X " + shq(archive()) + " plan.txt", dir / "src").status, 0);
  start();
  open(archive());
  selectRows({"plan.txt"});
  ASSERT_TRUE(edit("EditText1", [&](TTextEdit& e) {
    typeAtEnd(e, "one\n");
    ASSERT_TRUE(e.Save1Click());
    EXPECT_EQ(unzipped(archive(), "plan.txt"), "plan\none\n");
    // Within the same two seconds, which is all a stored time tells apart.
    typeAtEnd(e, "two\n");
    ASSERT_TRUE(e.Save1Click());
    EXPECT_EQ(unzipped(archive(), "plan.txt"), "plan\none\ntwo\n");
  }));
  EXPECT_EQ(storedNames(archive()), std::vector<std::string>{"plan.txt"});
}

TEST_F(EditingText, AnEncryptedEntryStaysEncryptedWithThePasswordInForce) {
  makeDirs(dir / "src/secret");
  writeFile(dir / "src/secret/pin.txt", "1234\n");
  makeDirs(dir / "work");
  ASSERT_EQ(run("zip -q -X -P right " + shq(archive()) + " secret/pin.txt", dir / "src").status, 0);
  start();
  open(archive());
  selectRows({"secret\\pin.txt#"});
  // A password that is not the entry's: the question is cancelled, nothing opens, and
  // the user is told rather than kept waiting.
  form->Engine().Password = "wrong";
  expectDialog("InvalidPwdDlg", [](QDialog& q) { press(q, "CancelBut"); });
  dialogs->AnswerMessage(TMsgBoxResult::OK);  // the dialogs' own "Password Error"
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  EXPECT_FALSE(edit("EditText1", [](TTextEdit&) { ADD_FAILURE() << "opened"; }));
  ASSERT_FALSE(dialogs->Messages().empty());
  EXPECT_EQ(dialogs->Messages().back().rfind("Quelt: pin.txt was not extracted", 0), 0u)
      << dialogs->Messages().back();

  form->Engine().Password = "right";
  ASSERT_TRUE(edit("EditTextBut", [&](TTextEdit& e) {
    EXPECT_EQ(e.Text(), "1234\n");
    typeAtEnd(e, "5678\n");
    ASSERT_TRUE(e.Save1Click());
  }));
  RunResult locked = run("unzip -P wrong -p " + shq(archive()) + " secret/pin.txt");
  EXPECT_NE(locked.out, "1234\n5678\n");
  RunResult opened = run("unzip -P right -p " + shq(archive()) + " secret/pin.txt");
  EXPECT_EQ(opened.status, 0) << opened.err;
  EXPECT_EQ(opened.out, "1234\n5678\n");
}

TEST_F(EditingText, ALatinOneFileWithCrLfLineEndsRoundTripsByteForByte) {
  const std::string latin =
      "Gr\xFC\xDF"
      "e aus K\xF6ln\r\nZeile zwei \xA0\xE9\r\n";
  makeArchive({{"win/ALT.TXT", latin}, {"keep.txt", "keep\n"}});
  start();
  open(archive());
  selectRows({"win\\ALT.TXT"});
  ASSERT_TRUE(edit("EditText1", [&](TTextEdit& e) {
    EXPECT_EQ(e.Text(), QString::fromLatin1("Gr\xFC\xDF"
                                            "e aus K\xF6ln\nZeile zwei \xA0\xE9\n"));
    ASSERT_TRUE(e.Save1Click());
    EXPECT_EQ(unzipped(archive(), "win/ALT.TXT"), latin) << "saved unchanged";
    typeAtEnd(e, QString::fromLatin1("dritte Zeile \xE4\n"));
    ASSERT_TRUE(e.Save1Click());
  }));
  EXPECT_EQ(unzipped(archive(), "win/ALT.TXT"), latin + "dritte Zeile \xE4\r\n");
  EXPECT_EQ(unzipped(archive(), "keep.txt"), "keep\n");
}

TEST_F(EditingText, ClosingWithUnsavedChangesAsksYesNoOrCancel) {
  openSample();
  struct TCase {
    std::vector<TMsgBoxResult> answers;
    std::string stored;  // docs/Notes.txt afterwards
  };
  const TCase cases[] = {
      {{TMsgBoxResult::Yes}, "line one\nline two\nedited\n"},
      {{TMsgBoxResult::No}, "line one\nline two\n"},
      // Cancel keeps the window and the text; the next close is answered No.
      {{TMsgBoxResult::Cancel, TMsgBoxResult::No}, "line one\nline two\n"},
  };
  const std::string copy = temp() + "/docs/Notes.txt";
  for (const TCase& c : cases) {
    SCOPED_TRACE(int(c.answers.front()));
    MakeZip(archive(), {{"docs/Notes.txt", "line one\nline two\n"}, {"z.txt", "z"}});
    open(archive());
    dialogs->ClearLog();
    selectRows({"docs\\Notes.txt"});
    ASSERT_TRUE(edit("EditText1", [&](TTextEdit& e) {
      typeAtEnd(e, "edited\n");
      dialogs->AnswerMessage(c.answers[0]);
      e.close();
      if (c.answers.size() > 1) {
        EXPECT_TRUE(e.isVisible());
        EXPECT_TRUE(fileExists(copy));
        EXPECT_EQ(e.Text(), "line one\nline two\nedited\n");
        dialogs->AnswerMessage(c.answers[1]);
        e.close();
      }
      EXPECT_FALSE(e.isVisible());
    }));
    ASSERT_EQ(dialogs->Messages().size(), c.answers.size());
    EXPECT_EQ(dialogs->Messages()[0], "Changes: Save changes to Notes.txt?");
    EXPECT_EQ(unzipped(archive(), "docs/Notes.txt"), c.stored);
    EXPECT_EQ(unzipped(archive(), "z.txt"), "z");
    EXPECT_FALSE(fileExists(copy));
  }
}

// Makes the archive one that cannot be replaced, for the superuser too; undone at the end.
class TReadOnly {
 public:
  explicit TReadOnly(std::string path) : path_(std::move(path)) {
    if (::geteuid() == 0) {
      immutable_ = run("chattr +i " + shq(path_)).status == 0;
    } else {
      folder_ = std::filesystem::path(path_).parent_path();
      ::chmod(folder_.c_str(), 0555);
      ::chmod(path_.c_str(), 0444);
    }
  }
  ~TReadOnly() {
    if (immutable_) run("chattr -i " + shq(path_));
    if (!folder_.empty()) ::chmod(folder_.c_str(), 0755);
  }
  bool Works() const { return immutable_ || !folder_.empty(); }

 private:
  std::string path_, folder_;
  bool immutable_ = false;
};

TEST_F(EditingText, AFailedSaveBackKeepsTheEditsAndTheCopy) {
  openSample();
  const std::map<std::string, std::string> before = contents(archive());
  const std::string copy = temp() + "/docs/Notes.txt";
  const std::string kept = "line one\nline two\nprecious\n";
  {
    TReadOnly readOnly(archive());
    if (!readOnly.Works()) GTEST_SKIP() << "the archive cannot be made read-only here";
    form->Engine().SetRootDir(dir / "elsewhere");
    const std::string root = form->Engine().RootDir();
    selectRows({"docs\\Notes.txt"});
    ASSERT_TRUE(edit("EditText1", [&](TTextEdit& e) {
      typeAtEnd(e, "precious\n");
      form->Engine().SetRootDir(root);
      dialogs->AnswerMessage(TMsgBoxResult::OK);
      EXPECT_FALSE(e.Save1Click());
      EXPECT_TRUE(e.Modified());
      EXPECT_TRUE(e.isEnabled());
      ASSERT_EQ(dialogs->Messages().size(), 1u);
      const std::string said = dialogs->Messages()[0];
      EXPECT_EQ(said.rfind("Quelt: ", 0), 0u) << said;
      EXPECT_NE(said.find("The edited text is kept in " + copy + "."), std::string::npos) << said;
      EXPECT_EQ(readText(copy), kept);
      // Closing asks again; No closes and leaves the copy where the message said.
      dialogs->AnswerMessage(TMsgBoxResult::No);
      e.close();
      EXPECT_FALSE(e.isVisible());
    }));
    EXPECT_EQ(dialogs->Messages().back(), "Changes: Save changes to Notes.txt?");
    EXPECT_EQ(readText(copy), kept);
    EXPECT_EQ(contents(archive()), before);
    EXPECT_EQ(form->Engine().RootDir(), root);
    EXPECT_FALSE(form->Engine().StorePaths());
  }

  // Editing the entry again offers the kept edits before extracting over them: Cancel does
  // nothing, Yes opens them, and once they are stored the copy is an ordinary one again.
  struct TCase {
    TMsgBoxResult answer;
    bool opens;
    std::string text;  // what the editor shows
  } cases[] = {{TMsgBoxResult::Cancel, false, ""},
               {TMsgBoxResult::Yes, true, kept},
               {TMsgBoxResult::OK, true, kept + "stored\n"}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(int(c.answer));
    dialogs->ClearLog();
    selectRows({"docs\\Notes.txt"});
    if (c.answer != TMsgBoxResult::OK) dialogs->AnswerMessage(c.answer);
    const bool opened = edit("EditText1", [&](TTextEdit& e) {
      EXPECT_EQ(e.Text(), PathToQt(c.text));
      typeAtEnd(e, "stored\n");
      EXPECT_TRUE(e.Save1Click());
    });
    EXPECT_EQ(opened, c.opens);
    EXPECT_EQ(dialogs->Messages().size(), c.answer == TMsgBoxResult::OK ? 0u : 1u);
    if (c.answer != TMsgBoxResult::OK) {
      EXPECT_EQ(dialogs->Messages()[0], "Quelt: " + copy +
                                            " holds edits that were not stored in the archive. "
                                            "Open it instead of the archive's entry? No replaces "
                                            "it with the entry.");
    }
  }
  EXPECT_EQ(unzipped(archive(), "docs/Notes.txt"), kept + "stored\nstored\n");
  EXPECT_FALSE(fileExists(copy));
}

TEST_F(EditingText, EntriesThatCannotBeEditedAreToldAndNothingWaits) {
  start();
  makeDirs(dir / "work");
  MakeZip(archive(), {{"../escape.txt", "out"},
                      {"/etc/abs.txt", "abs"},
                      {"folder/", ""},
                      {"short.txt", "abc", {2020, 1, 1, 0, 0, 0}, 0, 100u},
                      {"fine.txt", "fine"}});
  open(archive());
  struct TCase {
    const char* row;
    std::string message;  // empty: nothing is said (and nothing opens)
  };
  const TCase cases[] = {
      {"..\\escape.txt", "Quelt: ..\\escape.txt is stored with a path that leads outside"},
      {"\\etc\\abs.txt", "Quelt: \\etc\\abs.txt is stored with a path that leads outside"},
      {"folder\\", ""},
      {"short.txt", "Quelt: short.txt was not extracted"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.row);
    dialogs->ClearLog();
    selectRows({c.row});
    if (!c.message.empty()) dialogs->AnswerMessage(TMsgBoxResult::OK);
    EXPECT_FALSE(edit("EditText1", [](TTextEdit&) { ADD_FAILURE() << "opened"; }));
    if (c.message.empty()) {
      EXPECT_TRUE(dialogs->Messages().empty());
    } else {
      ASSERT_EQ(dialogs->Messages().size(), 1u);
      EXPECT_EQ(dialogs->Messages()[0].rfind(c.message, 0), 0u) << dialogs->Messages()[0];
    }
  }
  EXPECT_FALSE(fileExists(dir / "escape.txt"));
}

TEST_F(EditingText, StoringACopyFromOutsideTheFolderIsRefused) {
  openSample();
  const auto before = contents(archive());
  writeFile(dir / "outside.txt", "x");
  struct TCase {
    std::string copy;
  } cases[] = {{dir / "outside.txt"}, {temp() + "/../outside.txt"}, {temp()}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.copy);
    try {
      StoreEditedCopy(*form, PathToQt(temp()), PathToQt(c.copy));
      ADD_FAILURE() << "stored";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find("is not below the temporary folder"), std::string::npos)
          << e.what();
    }
  }
  EXPECT_EQ(contents(archive()), before);
}

TEST_F(EditingText, SendMailsTheArchiveThroughTheWindowsMailSystem) {
  openSample();
  TFakeMailSystem mail;
  form->SetMailSystem(mail);
  selectRows({"readme.md"});
  ASSERT_TRUE(edit("EditText1", [&](TTextEdit& e) {
    typeAtEnd(e, "not saved\n");
    emit e.findChild<QMenu*>("File1")->aboutToShow();
    ASSERT_TRUE(e.Command("Send1")->isEnabled());
    e.Command("Send1")->trigger();
    dialogs->AnswerMessage(TMsgBoxResult::No);
  }));
  ASSERT_EQ(mail.sent.size(), 1u);
  ASSERT_EQ(mail.sent[0].note.attachments.size(), 1u);
  EXPECT_EQ(mail.sent[0].note.attachments[0].path, archive());
  EXPECT_EQ(unzipped(archive(), "readme.md"), "# read me\n") << "the archive as it is";
}

TEST_F(EditingText, AnEntryOpenedFromTheArchivePrintsAsItIs) {
  if (!haveTool("pdftotext")) GTEST_SKIP() << "poppler-utils is not installed";
  std::string text;
  for (int i = 1; i <= 150; ++i) text += "Entry line " + std::to_string(1000 + i) + " to print\n";
  makeArchive({{"print/long.txt", text}});
  start();
  open(archive());
  selectRows({"print\\long.txt"});
  const std::string pdf = dir / "printed.pdf";
  ASSERT_TRUE(edit("EditText1", [&](TTextEdit& e) {
    e.Editor()->setFont(QFont("DejaVu Sans Mono", 10));
    TPrintSpec spec;
    spec.paper = "A4";
    spec.outputFile = pdf;
    dialogs->AnswerPrint(spec);
    e.Command("Print1")->trigger();
  }));
  RunResult info = run("pdfinfo " + shq(pdf));
  EXPECT_NE(info.out.find("Pages:           3\n"), std::string::npos) << info.out;
  RunResult printed = run("pdftotext -layout " + shq(pdf) + " -");
  ASSERT_EQ(printed.status, 0) << printed.err;
  std::string lines;
  for (QString l : TextToQt(printed.out).split('\n')) {
    l = l.trimmed().remove('\f');
    if (!l.isEmpty()) lines += TextFromQt(l) + "\n";
  }
  EXPECT_EQ(lines, unzipped(archive(), "print/long.txt"));
}

}  // namespace
}  // namespace quelt::test
