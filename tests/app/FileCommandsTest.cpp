// The archive file as a whole from the window: New, Save As, Copy, Move and Delete.
#include <sys/stat.h>
#include <unistd.h>

#include <QTest>
#include <filesystem>

#include "ArchiveTestUtil.h"
#include "app/QtText.h"
#include "platform/XbelRecentDocuments.h"
#include "support/FakeShellFileOps.h"

namespace quelt::test {
namespace {

namespace fs = std::filesystem;

class FileCommands : public TArchiveTest {
 protected:
  // An archive of two entries, opened in the window.
  std::string openSample(const std::string& name = "old.zip") {
    std::string path = zip(name, {{"a.txt", std::string(3000, 'a')}, {"b/c.txt", "gamma"}});
    if (!form) start();
    openThroughMenu(path);
    EXPECT_EQ(form->Listing().rowCount(), 2);
    dialogs->ClearLog();
    return path;
  }
  void trigger(const char* command) { form->Command(command)->trigger(); }
  QString title() const { return form->windowTitle(); }
  // The save dialog's last set-up.
  const TPrompt& lastPrompt() const { return dialogs->log.back(); }
  std::string xbel() const {
    std::string path = dir / "data/recently-used.xbel";
    return fileExists(path) ? readText(path) : "";
  }
};

TEST_F(FileCommands, NewNamesTheArchiveAndAsksBeforeReplacingAFile) {
  struct TCase {
    const char* what;
    std::string typed;     // as the dialog returns it, in the test's folder
    std::string expected;  // the archive's name afterwards; empty: nothing changed
    bool existing;         // a file of the final name is there before
    TMsgBoxResult answer;  // to "Overwrite Existing File"
  };
  const TCase cases[] = {
      {"no extension gets one", "fresh", "fresh.zip", false, TMsgBoxResult::Yes},
      {"an extension anywhere in the name stays", "Back.ZIP.old", "Back.ZIP.old", false,
       TMsgBoxResult::Yes},
      {"an existing file kept", "taken.zip", "", true, TMsgBoxResult::No},
      {"an existing file replaced", "taken.zip", "taken.zip", true, TMsgBoxResult::Yes},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string old = openSample();
    const std::vector<uint8_t> oldBytes = readFile(old);
    const std::string target = dir / (c.expected.empty() ? c.typed : c.expected);
    if (c.existing) writeFile(target, std::string("not an archive"));
    dialogs->AnswerSaveFile(dir / c.typed);
    if (c.existing) dialogs->AnswerMessage(c.answer);
    trigger("NewZipBut");

    const TPrompt& asked = dialogs->log.front();
    EXPECT_EQ(asked.kind, TPromptKind::SaveFile);
    EXPECT_EQ(asked.file.title, "Create New ZIP File");
    EXPECT_EQ(asked.file.filter, "ZIP Files (*.ZIP)|*.zip");
    // The window asks about an existing file itself; the dialog must not ask first.
    EXPECT_FALSE(asked.file.askReplace);
    const std::vector<std::string> question = {"Quelt: Overwrite Existing File: " + target + "?"};
    EXPECT_EQ(dialogs->Messages(), c.existing ? question : std::vector<std::string>{});
    EXPECT_EQ(readFile(old), oldBytes);

    if (c.expected.empty()) {
      EXPECT_EQ(form->CurrentArchive(), PathToQt(old));
      EXPECT_EQ(form->Listing().rowCount(), 2);
      EXPECT_EQ(readText(target), "not an archive");
    } else {
      EXPECT_EQ(form->CurrentArchive(), PathToQt(target));
      EXPECT_FALSE(fileExists(target));  // nothing on disk until something is added
      EXPECT_EQ(form->Listing().rowCount(), 0);
      EXPECT_EQ(form->Engine().ZipName(), target);
      EXPECT_EQ(form->Engine().Count(), 0);
      EXPECT_EQ(form->StatusText(1), "Total Unzipped Size: 0 KB");
      EXPECT_EQ(title(), PathToQt("Quelt - [" + target + "]"));
      EXPECT_EQ(form->NameLabel(), PathToQt(target));
      EXPECT_TRUE(form->Command("SaveAs1")->isEnabled());
      EXPECT_TRUE(form->Command("AddFiles1")->isEnabled());
      EXPECT_EQ(form->RecentFiles().front(), PathToQt(target));
      EXPECT_EQ(storedText("last1"), target);
      EXPECT_NE(xbel().find(FileUri(target)), std::string::npos);
    }
    form.reset();
  }
}

TEST_F(FileCommands, CancellingNewChangesNothing) {
  const std::string old = openSample();
  dialogs->AnswerSaveFile(std::nullopt);
  trigger("New1");
  EXPECT_EQ(form->CurrentArchive(), PathToQt(old));
  EXPECT_EQ(form->Listing().rowCount(), 2);
  EXPECT_EQ(form->Engine().Count(), 2);
  EXPECT_EQ(xbel(), "");
}

TEST_F(FileCommands, NewLeavesTheDesktopListAloneWhenToldTo) {
  putSetting("AddDocs2StartMenu", 0);
  start();
  dialogs->AnswerSaveFile(dir / "quiet.zip");
  trigger("New1");
  EXPECT_EQ(form->CurrentArchive(), PathToQt(dir / "quiet.zip"));
  EXPECT_EQ(xbel(), "");
}

TEST_F(FileCommands, SaveAsSwitchesToTheCopyOnlyWhenItIsMade) {
  struct TCase {
    const char* what;
    bool existing;
    std::optional<TMsgBoxResult> answer;  // to "Replace existing file"
    const char* failure;                  // the file layer fails with this
    bool switched;
  };
  const TCase cases[] = {
      {"a new name", false, std::nullopt, nullptr, true},
      {"onto an existing file, refused", true, TMsgBoxResult::No, nullptr, false},
      {"onto an existing file, replaced", true, TMsgBoxResult::Yes, nullptr, true},
      {"the copy fails", false, std::nullopt, "Unable to copy: disk full", false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    TFakeShellFileOps fake;
    const std::string old = openSample();
    if (c.failure) {
      form->SetFileOps(fake);
      fake.FailNext(c.failure);
    }
    const std::string target = dir / "copy.zip";
    fs::remove(target);
    if (c.existing) writeFile(target, std::string("keep me"));
    dialogs->AnswerSaveFile(target);
    if (c.answer) dialogs->AnswerMessage(*c.answer);
    if (c.failure) dialogs->AnswerMessage(TMsgBoxResult::OK);
    trigger("SaveAs1");

    const TPrompt& asked = dialogs->log.front();
    EXPECT_EQ(asked.file.filter, "ZIP Files|*.ZIP|SFX Files|*.EXE");
    EXPECT_EQ(asked.file.defaultExt, "ZIP");
    EXPECT_FALSE(asked.file.askReplace);
    EXPECT_EQ(form->SaveAsDialog().InitialDir(), PathToQt(dir.path()));
    if (c.answer) {
      EXPECT_EQ(dialogs->Messages().front(),
                "Confirm Replace: Replace existing file " + target + "?");
    }
    if (c.failure) {
      EXPECT_EQ(dialogs->Messages().back(), std::string("Quelt: ") + c.failure);
    }
    EXPECT_TRUE(fileExists(old));
    if (c.switched) {
      EXPECT_EQ(readFile(target), readFile(old));
      EXPECT_EQ(form->CurrentArchive(), PathToQt(target));
      EXPECT_EQ(form->Engine().ZipName(), target);
      EXPECT_EQ(title(), PathToQt("Quelt - [" + target + "]"));
    } else {
      EXPECT_EQ(form->CurrentArchive(), PathToQt(old));
      EXPECT_EQ(form->Engine().ZipName(), old);
      EXPECT_EQ(fileExists(target) ? readText(target) : "", c.existing ? "keep me" : "");
    }
    EXPECT_EQ(form->Listing().rowCount(), 2);
    form.reset();
  }
}

TEST_F(FileCommands, CopyPutsTheArchiveInTheChosenFolderAndStaysOnTheOriginal) {
  const std::string old = openSample();
  makeDirs(dir / "backup");
  form->SaveAsDialog().SetInitialDir(PathToQt(dir / "start"));

  // Cancelled: nothing copied, the starting folder kept.
  dialogs->AnswerFolder(std::nullopt);
  trigger("CopyZIP1");
  EXPECT_EQ(dialogs->log.back().text, dir / "start");
  EXPECT_FALSE(fileExists(dir / "backup/old.zip"));
  EXPECT_EQ(form->SaveAsDialog().InitialDir(), PathToQt(dir / "start"));

  dialogs->AnswerFolder(dir / "backup");
  trigger("CopyZIP1");
  EXPECT_EQ(readFile(dir / "backup/old.zip"), readFile(old));
  EXPECT_EQ(form->CurrentArchive(), PathToQt(old));
  EXPECT_EQ(form->SaveAsDialog().InitialDir(), PathToQt(dir / "backup/"));

  // Its own folder: the file layer refuses to copy a file onto itself, and says so.
  dialogs->ClearLog();
  dialogs->AnswerFolder(dir.path());
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  trigger("CopyZIP1");
  ASSERT_EQ(dialogs->Messages().size(), 1u);
  EXPECT_NE(dialogs->Messages()[0].find("same file"), std::string::npos);
  EXPECT_EQ(form->Listing().rowCount(), 2);
}

// A folder on another file system than the test's own, or nothing.
std::optional<std::string> otherFileSystemFolder(const std::string& near) {
  struct stat a, b;
  if (::stat("/dev/shm", &b) != 0 || ::stat(near.c_str(), &a) != 0 || a.st_dev == b.st_dev)
    return std::nullopt;
  std::string templ = "/dev/shm/quelt-move-XXXXXX";
  if (!::mkdtemp(templ.data())) return std::nullopt;
  return templ;
}

TEST_F(FileCommands, MoveAcrossFileSystemsRemovesTheOriginalAfterTheCopy) {
  std::optional<std::string> far = otherFileSystemFolder(dir.path());
  if (!far) GTEST_SKIP() << "no second file system at /dev/shm";
  struct TRemove {
    std::string path;
    ~TRemove() { fs::remove_all(path); }
  } cleanup{*far};

  const std::string old = openSample();
  const std::vector<uint8_t> bytes = readFile(old);
  const QStringList listed = rows();

  // A target already there and kept: nothing moves.
  writeFile(*far + "/old.zip", std::string("theirs"));
  dialogs->AnswerFolder(*far);
  dialogs->AnswerMessage(TMsgBoxResult::No);
  trigger("MoveZIP1");
  EXPECT_EQ(readText(*far + "/old.zip"), "theirs");
  EXPECT_EQ(readFile(old), bytes);
  EXPECT_EQ(form->CurrentArchive(), PathToQt(old));

  fs::remove(*far + "/old.zip");
  dialogs->AnswerFolder(*far);
  trigger("MoveZIP1");
  EXPECT_FALSE(fileExists(old));
  EXPECT_EQ(readFile(*far + "/old.zip"), bytes);
  EXPECT_EQ(form->CurrentArchive(), PathToQt(*far + "/old.zip"));
  EXPECT_EQ(form->Engine().ZipName(), *far + "/old.zip");
  EXPECT_EQ(rows(), listed);
  EXPECT_EQ(form->SaveAsDialog().InitialDir(), PathToQt(*far + "/"));
  // No scratch copy left behind on either side.
  for (const auto& folder : {*far, dir.path()})
    for (const auto& e : fs::directory_iterator(folder))
      EXPECT_EQ(e.path().filename().string().rfind(".quelt-copy", 0), std::string::npos);
}

TEST_F(FileCommands, AFailedMoveLeavesTheWindowOnTheOriginal) {
  TFakeShellFileOps fake;
  const std::string old = openSample();
  form->SetFileOps(fake);
  makeDirs(dir / "there");
  fake.FailNext("Unable to move: no room");
  dialogs->AnswerFolder(dir / "there");
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  trigger("MoveZIP1");
  ASSERT_EQ(fake.calls.size(), 1u);
  EXPECT_EQ(fake.calls[0].op, "move");  // a move, never a copy that leaves two archives
  EXPECT_EQ(fake.calls[0].target, dir / "there/old.zip");
  EXPECT_EQ(dialogs->Messages(), std::vector<std::string>{"Quelt: Unable to move: no room"});
  EXPECT_TRUE(fileExists(old));
  EXPECT_EQ(form->CurrentArchive(), PathToQt(old));
}

TEST_F(FileCommands, DeleteIsAnsweredEachWay) {
  for (TMsgBoxResult answer : {TMsgBoxResult::No, TMsgBoxResult::Cancel, TMsgBoxResult::Yes}) {
    SCOPED_TRACE(int(answer));
    const std::string old = openSample();
    const std::vector<uint8_t> bytes = readFile(old);
    dialogs->AnswerMessage(answer);
    trigger("DeleteZIP1");
    ASSERT_EQ(dialogs->log.size(), 1u);
    const TPrompt& asked = dialogs->log[0];
    EXPECT_EQ(asked.caption, "Confirm Delete");
    EXPECT_EQ(asked.text, "Do you wish to delete " + old + "?");
    EXPECT_EQ(asked.icon, TMsgBoxIcon::Question);
    EXPECT_EQ(asked.buttons, TMsgBoxButtons::YesNoCancel);
    if (answer == TMsgBoxResult::Yes) {
      EXPECT_FALSE(fileExists(old));
      EXPECT_EQ(form->Listing().rowCount(), 0);
      EXPECT_EQ(title(), "Quelt");
      EXPECT_EQ(form->StatusText(1), "Total Unzipped Size:");
      EXPECT_EQ(form->Engine().ZipName(), "");
      EXPECT_FALSE(form->Command("AddFiles1")->isEnabled());
      EXPECT_FALSE(form->Command("DeleteZIP1")->isEnabled());
      EXPECT_TRUE(form->Command("New1")->isEnabled());
      // The path still names the deleted file until another archive is opened or made.
      EXPECT_EQ(form->CurrentArchive(), PathToQt(old));
    } else {
      EXPECT_EQ(readFile(old), bytes);
      EXPECT_EQ(form->Listing().rowCount(), 2);
      EXPECT_TRUE(form->Command("DeleteZIP1")->isEnabled());
    }
    form.reset();
  }
}

}  // namespace
}  // namespace quelt::test
