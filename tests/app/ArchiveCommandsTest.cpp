// Commands on what the current archive holds: Remove Files, ZIP Information, ZIP Comment and
// Fix ZIP, and the refusal to rewrite one volume of a set.
#include <QPlainTextEdit>
#include <QTest>
#include <filesystem>

#include "ArchiveTestUtil.h"
#include "app/QtText.h"
#include "app/commands/ArchiveCommands.h"
#include "app/dialogs/CommentEditor.h"
#include "app/dialogs/InfoForm.h"
#include "support/ZipBuilder.h"

namespace quelt::test {
namespace {

class ArchiveCommands : public TArchiveTest {
 protected:
  void trigger(const char* command) { form->Command(command)->trigger(); }
  std::string sample() {
    return zip("s.zip", {{"file1.txt", "one"},
                         {"file[1].txt", "bracket"},
                         {"docs/a.txt", "in docs"},
                         {"a.txt", "top"},
                         {"b.txt", "bee"}});
  }
  // The archive comment as Python's reader finds it, as bytes.
  static std::string storedComment(const std::string& path) {
    RunResult r =
        run("python3 -c 'import sys,zipfile; sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1])."
            "comment)' " +
            shq(path));
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }
  // Runs ZIP Comment; `edit` plays the user on the editor and says whether OK is pressed.
  void comment(const std::function<bool(TCommentEditor&)>& edit) {
    expectDialog("CommentEditor", [edit](QDialog& d) {
      press(d, edit(static_cast<TCommentEditor&>(d)) ? "OKBut" : "CancelBut");
    });
    trigger("ZipComment1");
  }
  // What "ZIP Information" shows: name, compressed, uncompressed, ratio.
  QStringList information() {
    QStringList shown;
    expectDialog("InfoForm", [&shown](QDialog& d) {
      auto& info = static_cast<TInfoForm&>(d);
      EXPECT_EQ(info.windowTitle(), "ZIP Information");
      shown << info.FileName() << info.Compressed() << info.Uncompressed() << info.Ratio();
      press(d, "OKBut");
    });
    trigger("Information1");
    return shown;
  }
};

TEST_F(ArchiveCommands, RemoveTakesOutExactlyTheSelectedRows) {
  struct TCase {
    const char* what;
    QStringList selected;
    TMsgBoxResult answer;
    std::vector<std::string> left;  // stored names afterwards
    std::vector<std::string> messages;
  };
  const std::vector<std::string> all = {"file1.txt", "file[1].txt", "docs/a.txt", "a.txt", "b.txt"};
  const TCase cases[] = {
      {"a bracketed name and a namesake in a folder",
       {"file[1].txt", "docs\\a.txt"},
       TMsgBoxResult::Yes,
       {"file1.txt", "a.txt", "b.txt"},
       {}},
      {"answered No", {"a.txt"}, TMsgBoxResult::No, all, {}},
      {"nothing selected", {}, TMsgBoxResult::Yes, all, {"Quelt: Error - no files selected"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = sample();
    start();
    openThroughMenu(path);
    selectRows(c.selected);
    dialogs->ClearLog();
    dialogs->AnswerMessage(c.answer);
    for (size_t i = 0; i < c.messages.size(); ++i) dialogs->AnswerMessage(TMsgBoxResult::OK);
    trigger("RemoveFiles1");
    std::vector<std::string> messages = dialogs->Messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages[0], "Quelt: Delete selected files from: " + path + "?");
    EXPECT_EQ(std::vector<std::string>(messages.begin() + 1, messages.end()), c.messages);
    EXPECT_EQ(storedNames(path), c.left);
    EXPECT_EQ(form->Listing().rowCount(), int(c.left.size()));
    if (c.left.size() < all.size()) {
      EXPECT_TRUE(lines().contains("Removed file file[1].txt"));
      EXPECT_EQ(lines().filter("Removed file").size(), 2);
      EXPECT_FALSE(form->Output().findChild<QPushButton*>("CancelBut")->isEnabled());
      EXPECT_TRUE(noScratchFiles(dir.path()));
    }
    form.reset();
  }
}

TEST_F(ArchiveCommands, RemoveIsReachedFromTheDeleteKeyAndTheContextMenu) {
  const std::string path = sample();
  start();
  openThroughMenu(path);
  selectRows({"b.txt"});
  dialogs->ClearLog();
  dialogs->AnswerMessage(TMsgBoxResult::No);
  form->show();
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  form->ListView()->setFocus();
  QTest::keyClick(form->ListView(), Qt::Key_Delete);
  EXPECT_EQ(dialogs->Messages(),
            std::vector<std::string>{"Quelt: Delete selected files from: " + path + "?"});

  dialogs->AnswerMessage(TMsgBoxResult::Yes);
  trigger("RemoveFiles2");
  EXPECT_EQ(storedNames(path),
            (std::vector<std::string>{"file1.txt", "file[1].txt", "docs/a.txt", "a.txt"}));

  // An empty listing has nothing to remove; nothing is asked.
  dialogs->ClearLog();
  dialogs->AnswerSaveFile(dir / "empty.zip");
  trigger("New1");
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  form->DeleteButClick();
  EXPECT_EQ(dialogs->Messages(), std::vector<std::string>{"Quelt: Error - no files to delete"});
}

TEST_F(ArchiveCommands, ChangesToOneVolumeOfASetAreRefused) {
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
  const std::string last = dir / "set.004";
  const std::vector<uint8_t> before = readFile(last);
  start();
  openThroughMenu(last);
  ASSERT_EQ(form->Listing().rowCount(), 2);
  selectRows({"one.bin"});
  const std::string refusal = "Quelt: " + last +
                              " is one volume of a multi-volume set, which cannot be changed. "
                              "Extract its files and add them to a new archive instead.";
  for (const char* command : {"RemoveFiles1", "AddFiles1", "ZipComment1", "FixZIP1"}) {
    SCOPED_TRACE(command);
    dialogs->ClearLog();
    dialogs->AnswerMessage(TMsgBoxResult::OK);
    trigger(command);
    // Refused before any question or dialog.
    EXPECT_EQ(dialogs->Messages(), std::vector<std::string>{refusal});
    EXPECT_EQ(dialogs->log.size(), 1u);
    EXPECT_EQ(readFile(last), before);
  }
  EXPECT_TRUE(shownDialogs.isEmpty());
}

TEST_F(ArchiveCommands, RatioIsTheShareSavedRoundedHalfToEven) {
  struct TCase {
    int64_t compressed, uncompressed;
    const char* shown;
  };
  const TCase cases[] = {
      {50, 200, "75 %"},
      {0, 0, "0 %"},                            // an empty archive
      {125, 1000, "88 %"},                      // 87.5
      {135, 1000, "86 %"},                      // 86.5
      {112, 100, "-12 %"},                      // stored and encrypted: larger than the file
      {5'000'000'000, 10'000'000'000, "50 %"},  // compressed × 100 far past 2^31
  };
  for (const TCase& c : cases)
    EXPECT_EQ(RatioText(c.compressed, c.uncompressed), c.shown)
        << c.compressed << " of " << c.uncompressed;
}

TEST_F(ArchiveCommands, InformationSumsTheWholeArchive) {
  ZipSpec spec;
  for (const char* name : {"one.iso", "two.iso", "three.iso"}) {
    ZipEntrySpec e = stored(name, "0123456789");
    e.uncompressedSize = 0xFFFFFFF0u;  // what the headers claim; nothing reads the data here
    spec.entries.push_back(e);
  }
  writeFile(dir / "big.zip", buildZip(spec));
  start();
  openThroughMenu(dir / "big.zip");
  EXPECT_EQ(information(),
            (QStringList{PathToQt(dir / "big.zip"), "30 bytes", "12884901840 bytes", "100 %"}));

  zip("half.zip", {{"a.txt", std::string(200, 'x')}});
  openThroughMenu(dir / "half.zip");
  EXPECT_EQ(information().mid(1), (QStringList{"200 bytes", "200 bytes", "0 %"}));

  // Only empty files: nothing to divide by.
  zip("empty.zip", {{"a.txt", ""}, {"b.txt", ""}});
  openThroughMenu(dir / "empty.zip");
  EXPECT_EQ(information().mid(1), (QStringList{"0 bytes", "0 bytes", "0 %"}));
}

TEST_F(ArchiveCommands, ACommentWithATabAndNonAsciiTextIsWrittenAndShownAgain) {
  const std::string path = zip("c.zip", {{"a.txt", "alpha"}, {"b.txt", "beta"}});
  start();
  openThroughMenu(path);
  const std::string text = "Grüße aus Köln — 日本語";
  comment([&](TCommentEditor& e) {
    EXPECT_EQ(e.windowTitle(), "Editing Zip Comment for c.zip");
    EXPECT_EQ(e.Text(), "");
    e.SetText(TextToQt(text));
    e.Memo1->moveCursor(QTextCursor::Start);
    QTest::keyClick(e.Memo1, Qt::Key_Tab);  // goes into the text, not to the next control
    return true;
  });
  EXPECT_EQ(storedComment(path), "\t" + text);
  EXPECT_EQ(storedNames(path), (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(form->Listing().rowCount(), 2);
  RunResult t = run("unzip -tq " + shq(path));
  EXPECT_EQ(t.status, 0) << t.out;

  // Shown again as written; OK with nothing changed, and Cancel after a change, leave the
  // file as it is.
  const std::vector<uint8_t> bytes = readFile(path);
  const auto stamp = std::filesystem::last_write_time(path);
  comment([&](TCommentEditor& e) {
    EXPECT_EQ(e.Text(), TextToQt("\t" + text));
    return true;
  });
  comment([&](TCommentEditor& e) {
    e.SetText("something else");
    return false;
  });
  EXPECT_EQ(readFile(path), bytes);
  EXPECT_EQ(std::filesystem::last_write_time(path), stamp);
}

TEST_F(ArchiveCommands, ACommentKeepsItsLineEnds) {
  ZipSpec spec;
  spec.entries = {stored("a.txt", "alpha")};
  spec.archiveComment = "first\r\nsecond";
  writeFile(dir / "crlf.zip", buildZip(spec));
  start();
  openThroughMenu(dir / "crlf.zip");
  comment([](TCommentEditor& e) {
    EXPECT_EQ(e.Text(), "first\nsecond");
    e.SetText(e.Text() + "\nthird");
    return true;
  });
  EXPECT_EQ(storedComment(dir / "crlf.zip"), "first\r\nsecond\r\nthird");
}

TEST_F(ArchiveCommands, ACommentTooLongIsRefusedAndForgotten) {
  const std::string path = zip("c.zip", {{"a.txt", "alpha"}});
  const std::vector<uint8_t> bytes = readFile(path);
  start();
  openThroughMenu(path);
  dialogs->ClearLog();
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  comment([](TCommentEditor& e) {
    e.SetText(QString(70000, 'x'));
    return true;
  });
  ASSERT_EQ(dialogs->Messages().size(), 1u);
  EXPECT_NE(dialogs->Messages()[0].find("comment"), std::string::npos);
  EXPECT_EQ(readFile(path), bytes);
  EXPECT_FALSE(form->Engine().EndRecord().Modified);
  EXPECT_EQ(form->Listing().rowCount(), 1);
  // Opening another archive writes nothing into this one behind the user's back.
  openThroughMenu(zip("other.zip", {{"o.txt", "other"}}));
  EXPECT_EQ(dialogs->Messages().size(), 1u);
  EXPECT_EQ(readFile(path), bytes);
}

TEST_F(ArchiveCommands, AfterNewTheCommandsWorkOnTheNewArchiveOnly) {
  const std::string old = zip("old.zip", {{"a.txt", std::string(5000, 'a')}});
  start();
  openThroughMenu(old);
  const std::vector<uint8_t> oldBytes = readFile(old);
  const std::string fresh = dir / "fresh.zip";
  dialogs->AnswerSaveFile(fresh);
  trigger("New1");

  EXPECT_EQ(information(), (QStringList{PathToQt(fresh), "0 bytes", "0 bytes", "0 %"}));
  comment([](TCommentEditor& e) {
    EXPECT_EQ(e.windowTitle(), "Editing Zip Comment for fresh.zip");
    EXPECT_EQ(e.Text(), "");
    e.SetText("made empty, with a word");
    return true;
  });
  EXPECT_EQ(storedComment(fresh), "made empty, with a word");
  EXPECT_EQ(storedNames(fresh), std::vector<std::string>{});
  EXPECT_EQ(storedComment(old), "");
  EXPECT_EQ(readFile(old), oldBytes);
  EXPECT_EQ(form->CurrentArchive(), PathToQt(fresh));

  // Fix ZIP on an archive with nothing listed asks which file to repair; cancelled, nothing.
  const std::string other = dir / "fresh2.zip";
  dialogs->AnswerSaveFile(other);
  trigger("New1");
  dialogs->ClearLog();
  dialogs->AnswerOpenFile(std::nullopt);
  trigger("FixZIP1");
  ASSERT_EQ(dialogs->log.size(), 1u);
  EXPECT_EQ(dialogs->log[0].kind, TPromptKind::OpenFile);
  EXPECT_EQ(dialogs->log[0].file.initialDir, dir.path());
  EXPECT_EQ(readFile(old), oldBytes);
  EXPECT_FALSE(fileExists(other));
  EXPECT_EQ(form->Engine().ZipName(), other);
}

TEST_F(ArchiveCommands, FixWritesATruncatedArchiveIntoANewName) {
  ZipSpec spec;
  for (const char* n : {"one.txt", "two.txt", "three.txt"})
    spec.entries.push_back(stored(n, std::string(400, n[0])));
  std::vector<uint8_t> bytes = buildZip(spec);
  // Cut inside the third entry's data: no central directory, no end record.
  size_t cut = 0;
  for (int seen = 0; cut < bytes.size(); ++cut)
    if (bytes[cut] == 'P' && bytes[cut + 1] == 'K' && bytes[cut + 2] == 3 && ++seen == 3) break;
  bytes.resize(cut + 30 + 9 + 100);
  writeFile(dir / "cut.zip", bytes);
  start();
  expectDialog("IncompleteZipDlg", [](QDialog& d) { press(d, "OKBut"); });
  dialogs->AnswerOpenFile(dir / "cut.zip");
  dialogs->AnswerMessage(TMsgBoxResult::OK);  // damaged: only what was found is listed
  trigger("Open1");
  ASSERT_EQ(form->Listing().rowCount(), 3);

  // Cancelled at the name: nothing written.
  dialogs->ClearLog();
  dialogs->AnswerSaveFile(std::nullopt);
  trigger("FixZIP1");
  ASSERT_EQ(dialogs->log.size(), 1u);
  const TPrompt& asked = dialogs->log[0];
  EXPECT_EQ(asked.kind, TPromptKind::SaveFile);  // a new name must be acceptable
  EXPECT_EQ(asked.caption, "Select a new name for the fixed file.");
  EXPECT_EQ(asked.file.filter, "Zip Files (*.ZIP)|*.zip");
  EXPECT_EQ(asked.file.initialDir, dir.path());

  const std::string fixed = dir / "fixed.zip";
  dialogs->ClearLog();
  dialogs->AnswerSaveFile(fixed);
  trigger("FixZIP1");
  EXPECT_EQ(dialogs->Messages(), std::vector<std::string>{});
  EXPECT_EQ(storedNames(fixed), (std::vector<std::string>{"one.txt", "two.txt"}));
  RunResult t = run("unzip -tq " + shq(fixed));
  EXPECT_EQ(t.status, 0) << t.out;
  EXPECT_EQ(readFile(dir / "cut.zip"), bytes);
  // The window stays on the archive it had open, listed as before.
  EXPECT_EQ(form->CurrentArchive(), PathToQt(dir / "cut.zip"));
  EXPECT_EQ(form->Engine().ZipName(), dir / "cut.zip");
  EXPECT_EQ(form->Listing().rowCount(), 3);
  EXPECT_TRUE(lines().join('\n').contains("three.txt"));
}

}  // namespace
}  // namespace quelt::test
