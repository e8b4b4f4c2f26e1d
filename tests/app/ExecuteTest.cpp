// Execute: the selected entry's copy in the temporary folder handed to the desktop, installers
// with the archive's files beside them; and the menus' "View Image..." by extension.
#include <sys/stat.h>
#include <unistd.h>

#include <QMenu>

#include "ArchiveTestUtil.h"
#include "app/QtText.h"
#include "app/commands/ExecuteCommand.h"

namespace quelt::test {
namespace {

class Executing : public TArchiveTest {
 protected:
  std::string temp() const { return dir / "cache/quelt"; }
  // The targets the desktop was asked to open.
  std::vector<std::string> opened() const {
    std::vector<std::string> out;
    for (const TPrompt& p : dialogs->log)
      if (p.kind == TPromptKind::ShellOpen) out.push_back(p.text);
    return out;
  }
  void openSample() {
    start();
    open(zip("sample.zip", {{"docs/Notes.TXT", "the notes\n"},
                            {"other/Notes.TXT", "other notes\n"},
                            {"Pictures/", ""},
                            {"photo.Gif", "GIF89a"},
                            {"readme.md", "# read me\n"}}));
  }
  static std::string cwd() {
    char buf[4096];
    return ::getcwd(buf, sizeof buf) ? buf : "";
  }
};

TEST_F(Executing, TheSelectedEntrysCopyIsOpenedUnderItsStoredName) {
  openSample();
  const std::string before = cwd();
  struct TCase {
    QStringList rows;
    const char* command;
    std::string target;  // empty: nothing is opened
    const char* text;
  };
  const TCase cases[] = {
      {{"docs\\Notes.TXT"}, "Execute1", "Notes.TXT", "the notes\n"},
      {{"other\\Notes.TXT"}, "ExecuteBut", "Notes.TXT", "other notes\n"},
      // The last selected row wins.
      {{"docs\\Notes.TXT", "readme.md"}, "Execute2", "readme.md", "# read me\n"},
      {{"Pictures\\"}, "Execute1", "", ""},  // a folder entry
      {{}, "Execute1", "", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.rows.join(",").toStdString() + " " + c.command);
    dialogs->ClearLog();
    selectRows(c.rows);
    form->Command(c.command)->trigger();
    if (c.target.empty()) {
      EXPECT_EQ(opened(), std::vector<std::string>{});
      continue;
    }
    EXPECT_EQ(opened(), std::vector<std::string>{temp() + "/" + c.target});
    EXPECT_EQ(readText(temp() + "/" + c.target), c.text);
  }
  EXPECT_EQ(cwd(), before);
  struct stat st;
  ASSERT_EQ(::lstat(temp().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_TRUE(form->Engine().SelectedNames.empty());
  EXPECT_FALSE(form->Engine().DoAll);
  EXPECT_EQ(form->Engine().OverwriteMode, Always);

  // A double-click on a row reaches the same command.
  dialogs->ClearLog();
  selectRows({"readme.md"});
  emit form->ListView()->doubleClicked(form->Listing().index(0, 0));
  EXPECT_EQ(opened(), std::vector<std::string>{temp() + "/readme.md"});
}

TEST_F(Executing, AStaleCopyOrALinkInItsPlaceIsReplacedNeverFollowed) {
  openSample();
  const std::string victim = dir / "victim.txt";
  writeFile(victim, "keep me");
  makeDirs(temp());
  ASSERT_EQ(::symlink(victim.c_str(), (temp() + "/Notes.TXT").c_str()), 0);
  writeFile(temp() + "/readme.md", "stale");
  for (const char* row : {"docs\\Notes.TXT", "readme.md"}) {
    selectRows({row});
    form->Command("Execute1")->trigger();
  }
  EXPECT_EQ(readText(victim), "keep me");
  struct stat st;
  ASSERT_EQ(::lstat((temp() + "/Notes.TXT").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(readText(temp() + "/Notes.TXT"), "the notes\n");
  EXPECT_EQ(readText(temp() + "/readme.md"), "# read me\n");
  EXPECT_EQ(opened().size(), 2u);
}

TEST_F(Executing, AnInstallerGetsTheWholeArchiveBesideIt) {
  start();
  open(zip("inst.zip",
           {{"disk1/MySetup.Exe", "MZ"}, {"disk1/data.cab", "cab"}, {"lib/x.dll", "dll"}}));
  selectRows({"disk1\\MySetup.Exe"});
  form->Command("Execute1")->trigger();
  EXPECT_EQ(opened(), std::vector<std::string>{temp() + "/MySetup.Exe"});
  EXPECT_EQ(readText(temp() + "/data.cab"), "cab");
  EXPECT_EQ(readText(temp() + "/x.dll"), "dll");

  struct TCase {
    const char* path;
    bool installer;
  };
  const TCase cases[] = {{"/t/SETUP.EXE", true},   {"/t/setup.exe", true},
                         {"/t/Install.exe", true}, {"/t/mysetup.exe", true},
                         {"/t/setup.msi", false},  {"/t/installer.exe", false}};
  for (const TCase& c : cases) EXPECT_EQ(IsInstaller(c.path), c.installer) << c.path;
}

TEST_F(Executing, AFailedExtractionIsReportedAndNothingIsOpened) {
  openSample();
  // A file where the temporary folder should be.
  writeFile(dir / "blocked", "x");
  form->SetTempFolder(PathToQt(dir / "blocked"));
  selectRows({"readme.md"});
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  form->Command("Execute1")->trigger();
  ASSERT_EQ(dialogs->Messages().size(), 1u);
  EXPECT_NE(dialogs->Messages()[0].find("blocked\": it is not a folder"), std::string::npos)
      << dialogs->Messages()[0];
  EXPECT_EQ(opened(), std::vector<std::string>{});

  // The desktop refusing to open the copy is told too.
  form->SetTempFolder(PathToQt(temp()));
  dialogs->ClearLog();
  dialogs->shellOpenResult = false;
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  form->Command("Execute1")->trigger();
  EXPECT_EQ(dialogs->Messages(),
            std::vector<std::string>{"Quelt: The desktop could not open " + temp() + "/readme.md"});
}

TEST_F(Executing, ViewImageFollowsTheLastSelectedRowsExtension) {
  openSample();
  struct TCase {
    QStringList rows;
    bool image;
  };
  const TCase cases[] = {{{"photo.Gif"}, true},
                         {{"readme.md"}, false},
                         {{"photo.Gif", "readme.md"}, false},  // the last one counts
                         {{}, false}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.rows.join(",").toStdString());
    selectRows(c.rows);
    form->Actions1Click();
    form->PopupMenu1Popup();
    EXPECT_EQ(form->Command("ViewImage1")->isEnabled(), c.image);
    EXPECT_EQ(form->Command("ViewImage2")->isEnabled(), c.image);
  }
  const std::pair<const char*, bool> texts[] = {
      {"A.JPG", true}, {"b.png", true}, {"scan.tiff", true}, {"c.jpeg", false},
      {"d.pcx", true}, {"e.tga", true}, {"f.bmp", true},     {"notes.txt", false}};
  for (const auto& [text, image] : texts) EXPECT_EQ(NamesImage(text), image) << text;
}

}  // namespace
}  // namespace quelt::test
