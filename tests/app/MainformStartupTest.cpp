// Start-up, the settings the window keeps, and the window-level commands.
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QRegularExpression>
#include <QStatusTipEvent>
#include <QUrl>

#include "AppTestUtil.h"
#include "app/QtText.h"

namespace quelt::test {
namespace {

const std::string kKey = "SOFTWARE\\Dunmarra\\Quelt";

class Startup : public TWindowTest {
 protected:
  void put(const std::string& name, const std::string& text) {
    TSettingsStore s(TSettingsStore::DefaultPath());
    s.WriteString(LOCAL_MACHINE, kKey, name, text);
    s.Flush();
  }
  void putInt(const std::string& name, int32_t v) {
    TSettingsStore s(TSettingsStore::DefaultPath());
    s.WriteInteger(LOCAL_MACHINE, kKey, name, v);
    s.Flush();
  }
};

TEST_F(Startup, AFirstStartWritesTheDefaultsAndDocksTheToolbarAtTheTop) {
  TMainform& w = start();
  EXPECT_TRUE(dialogs->log.empty());
  EXPECT_EQ(storedInt("ShowOutput"), 1);
  EXPECT_EQ(storedInt("AddDocs2StartMenu"), 1);
  EXPECT_EQ(storedInt("DockTo"), 1);
  EXPECT_EQ(storedInt("ShowToolbars"), 1);
  EXPECT_EQ(storedText("DefDir"), PathFromQt(QDir::homePath()));
  // The temporary folder is the user's own, made for no one else to read.
  EXPECT_EQ(storedText("ExpDir"), dir / "cache/quelt");
  struct stat st;
  ASSERT_EQ(::lstat((dir / "cache/quelt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  for (int k = 1; k <= 5; ++k) EXPECT_EQ(storedText("last" + std::to_string(k)), "");
  EXPECT_FALSE(storedText("InitDir"));  // InitDir has no default

  EXPECT_EQ(w.toolBarArea(w.ToolBar()), Qt::TopToolBarArea);
  EXPECT_FALSE(w.ToolBar()->isHidden());
  EXPECT_TRUE(w.Command("ToolBars1")->isChecked());
  EXPECT_TRUE(w.Command("SortbyName1")->isChecked());
  for (const char* other : {"SortbyDate1", "SortbyUncompressedSize1", "SortbyCompressedSize1",
                            "SortbyPath1", "SortbyOriginal1"})
    EXPECT_FALSE(w.Command(other)->isChecked()) << other;
  EXPECT_EQ(w.property("Width").toInt(), 433);
  EXPECT_EQ(w.property("Height").toInt(), 435);
  EXPECT_EQ(w.property("Top").toInt(), 50);
  EXPECT_EQ(w.property("Left").toInt(), 50);
  EXPECT_EQ(w.TempFolder(), PathToQt(dir / "cache/quelt"));
  EXPECT_EQ(w.windowTitle(), "Quelt");
  EXPECT_EQ(w.StatusText(1), "Total Unzipped Size:");

  // The remembered properties are written when the window goes.
  form.reset();
  EXPECT_EQ(storedText("Width"), "433");
  EXPECT_EQ(storedText("WindowState"), "wsNormal");
  EXPECT_EQ(storedText("SortByName"), "1");
  EXPECT_EQ(storedText("SortByOriginal"), "0");
  EXPECT_FALSE(storedText("Font"));  // the item names a control the window does not have
  EXPECT_TRUE(storedText("ListFont"));
}

TEST_F(Startup, OneMissingValueGetsItsDefaultAndNothingElseIsTouched) {
  start();
  form.reset();
  put("last1", "/data/one.zip");
  put("last2", "/data/two.zip");
  put("ExpDir", "/my/temp");
  putInt("ShowOutput", 0);
  {
    TSettingsStore s(TSettingsStore::DefaultPath());
    ASSERT_TRUE(s.DeleteValue(LOCAL_MACHINE, kKey, "AddDocs2StartMenu"));
    s.Flush();
  }
  TMainform& w = start();
  EXPECT_EQ(storedInt("AddDocs2StartMenu"), 1);
  EXPECT_TRUE(w.AddDocs2StartMenu());
  EXPECT_EQ(storedText("last1"), "/data/one.zip");
  EXPECT_EQ(storedText("last2"), "/data/two.zip");
  EXPECT_EQ(storedText("ExpDir"), "/my/temp");
  EXPECT_EQ(storedInt("ShowOutput"), 0);
  EXPECT_EQ(w.RecentFiles(), (QStringList{"/data/one.zip", "/data/two.zip", "", "", ""}));
  EXPECT_EQ(w.TempFolder(), "/my/temp");
  EXPECT_FALSE(w.ShowOutput());
}

TEST_F(Startup, ASettingsFileThatCannotBeWrittenIsReportedOnceAndTheDefaultsStillApply) {
  // The folder that should hold the file is a plain file.
  writeFile(dir / "blocked", "x");
  ::setenv("QUELT_CONFIG_HOME", (dir / "blocked").c_str(), 1);
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  TMainform& w = start();
  ASSERT_EQ(dialogs->Messages().size(), 1u);
  EXPECT_EQ(dialogs->log[0].caption, "Quelt");
  EXPECT_EQ(dialogs->log[0].icon, TMsgBoxIcon::Error);
  EXPECT_NE(dialogs->log[0].text.find("Cannot save the settings"), std::string::npos);
  EXPECT_TRUE(w.ShowOutput());
  EXPECT_EQ(w.toolBarArea(w.ToolBar()), Qt::TopToolBarArea);
  EXPECT_TRUE(w.Command("SortbyName1")->isChecked());
}

TEST_F(Startup, TheToolbarStartsWhereTheSettingsPutIt) {
  struct TCase {
    int showToolbars, dockTo;
    bool visible;
    Qt::ToolBarArea area;
  };
  const TCase cases[] = {
      {1, 1, true, Qt::TopToolBarArea},     {1, 2, true, Qt::LeftToolBarArea},
      {1, 3, true, Qt::BottomToolBarArea},  {1, 4, true, Qt::RightToolBarArea},
      {1, 0, true, Qt::TopToolBarArea},  // floating last time: where the layout puts it
      {0, 3, false, Qt::BottomToolBarArea},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE("ShowToolbars " + std::to_string(c.showToolbars) + " DockTo " +
                 std::to_string(c.dockTo));
    start();
    form.reset();
    putInt("ShowToolbars", c.showToolbars);
    putInt("Dockto", c.dockTo);
    TMainform& w = start();
    EXPECT_EQ(w.ToolBar()->isHidden(), !c.visible);
    EXPECT_EQ(w.Command("ToolBars1")->isChecked(), c.visible);
    EXPECT_EQ(w.toolBarArea(w.ToolBar()), c.area);
    EXPECT_EQ(storedInt("DockTo"), c.dockTo);  // reading does not rewrite it
    form.reset();
  }
}

TEST_F(Startup, TogglingAndMovingTheToolbarAreRemembered) {
  TMainform& w = start();
  w.show();
  w.Command("ToolBars1")->trigger();
  EXPECT_TRUE(w.ToolBar()->isHidden());
  EXPECT_FALSE(w.Command("ToolBars1")->isChecked());
  EXPECT_EQ(storedInt("ShowToolbars"), 0);
  w.Command("ToolBars1")->trigger();
  EXPECT_EQ(storedInt("ShowToolbars"), 1);

  w.addToolBar(Qt::RightToolBarArea, w.ToolBar());
  QCoreApplication::processEvents();
  EXPECT_EQ(storedInt("DockTo"), 4);
  w.addToolBar(Qt::BottomToolBarArea, w.ToolBar());
  QCoreApplication::processEvents();
  EXPECT_EQ(storedInt("DockTo"), 3);
  form.reset();
  TMainform& again = start();
  EXPECT_EQ(again.toolBarArea(again.ToolBar()), Qt::BottomToolBarArea);
}

TEST_F(Startup, WindowSizeAndPlaceSurviveARestart) {
  TMainform& w = start();
  w.setProperty("Width", 600);
  w.setProperty("Height", 480);
  w.setProperty("Left", 120);
  w.setProperty("Top", 80);
  form.reset();
  EXPECT_EQ(storedText("Width"), "600");
  TMainform& again = start();
  EXPECT_EQ(again.width(), 600);
  EXPECT_EQ(again.height(), 480);
  EXPECT_EQ(again.property("Left").toInt(), 120);
  EXPECT_EQ(again.property("Top").toInt(), 80);
}

TEST_F(Startup, EveryCommandHasItsCaptionHintAndShortcut) {
  struct TCase {
    const char* name;
    const char* caption;
    const char* hint;
    const char* shortcut;
  };
  const TCase cases[] = {
      {"New1", "New...", "New ZIP File", "Ctrl+N"},
      {"Open1", "Open...", "Open ZIP File", "Ctrl+O"},
      {"Close1", "Close...", "Close Current ZIP file...", ""},
      {"SaveAs1", "Save As...", "Save ZIP File As", "Ctrl+S"},
      {"CopyZIP1", "Copy ZIP File...", "Copy ZIP File to Another Location", "Ctrl+C"},
      {"MoveZIP1", "Move ZIP File...", "Move ZIP File to Another Location", "Ctrl+M"},
      {"DeleteZIP1", "Delete ZIP File...", "Delete ZIP File from Disk", "Ctrl+D"},
      {"Information1", "ZIP Information...", "Get Information About the current ZIP File...",
       "Ctrl+I"},
      {"FixZIP1", "Fix ZIP", "Fix ZIP", ""},
      {"MailZIP1", "Mail ZIP...", "Send ZIP File to...", ""},
      {"Exit1", "Exit", "Exit Quelt", "Ctrl+X"},
      {"AddFiles1", "Add Files...", "Add Files to ZIP", "Ctrl+A"},
      {"RemoveFiles1", "Remove Files...", "Remove Files from ZIP", "Del"},
      {"ExtractFiles1", "Extract Files...", "Extract Files From ZIP", "Ctrl+E"},
      {"MakeEXEFile1", "Make EXE File...", "Convert ZIP file to EXE", "Ctrl+K"},
      {"Execute1", "Execute...", "Executes the Selected File...", "F9"},
      {"EditText1", "Edit Text...", "Edit File Using an Internal TextEditor...", "F7"},
      {"ViewImage1", "View Image...", "View Image...", "F5"},
      {"VirusScan1", "Virus Scan", "Virus Scan ZIP File", "Ctrl+V"},
      {"UUEncode1", "UUEncode", "UUEncode ZIP File", "Ctrl+U"},
      {"ZipComment1", "ZIP Comment", "Edit ZIP Comment", "Ctrl+Z"},
      {"Options1", "Preferences...", "Options", ""},
      {"ToolBars1", "ToolBar", "Configure Toolbars...", ""},
      {"Font1", "Font...", "Configure the Font...", ""},
      {"ViewOutput1", "View Last Output...", "View Last ZIP-UNZIP Output", ""},
      {"UsingQuelt1", "Using Quelt", "Using Quelt", "F1"},
      {"HomePage1", "Quelt Home Page...", "Quelt Home Page...", ""},
      {"About1", "About Quelt...", "About Quelt", ""},
      {"AddFiles2", "Add Files...", "Add Files to ZIP", "Ctrl+A"},
      {"RemoveFiles2", "Remove Files...", "Remove Files from ZIP", "Del"},
      {"ExtractFiles2", "Extract Files...", "Extract Files From ZIP", "Ctrl+E"},
      {"Execute2", "Execute...", "Executes the Selected File...", "F9"},
      {"EditText2", "Edit Text...", "Edit File Using an Internal TextEditor...", "F7"},
      {"ViewImage2", "View Image...", "View Image...", "F5"},
      {"NewZipBut", "New", "New ZIP File...", ""},
      {"ZipOpenBut", "Open", "Open Existing ZIP File...", ""},
      {"ExtractBut", "Extract", "Extract Files from ZIP", ""},
      {"AddBut", "Add", "Add Files to ZIP", ""},
      {"EditTextBut", "Edit Text", "Edit File Using an Internal Text Editor", ""},
      {"ExecuteBut", "Execute", "Execute File Using its Windows Association", ""},
  };
  TMainform& w = start();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    QAction* a = w.Command(c.name);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->text(), c.caption);
    EXPECT_EQ(a->statusTip(), c.hint);
    EXPECT_EQ(a->shortcut().toString(), c.shortcut);
  }
  for (const char* name : {"SortbyName1", "SortbyDate1", "SortbyUncompressedSize1",
                           "SortbyCompressedSize1", "SortbyPath1", "SortbyOriginal1"})
    EXPECT_TRUE(w.SortMenu()->actions().contains(w.Command(name))) << name;
  std::string zipPath = zip("a.zip", {{"a.txt", "a"}});
  open(zipPath);
  EXPECT_TRUE(w.Command("Close1")->isEnabled());
  EXPECT_TRUE(w.Command("ZipOpenBut")->isEnabled());
}

TEST_F(Startup, ArgumentsJoinedWithSpacesNameTheArchiveOpenedWhenTheWindowFirstShows) {
  makeDirs(dir / "My Files");
  std::string path = zip("My Files/a b.zip", {{"x.txt", "x"}});
  TMainform& w = start({PathToQt(dir / "My"), "Files/a", "b.zip"});
  EXPECT_EQ(w.Listing().rowCount(), 0);  // nothing before the window shows
  w.show();
  QCoreApplication::processEvents();
  EXPECT_EQ(w.CurrentArchive(), PathToQt(path));
  EXPECT_EQ(w.windowTitle(), PathToQt("Quelt - [" + path + "]"));
  EXPECT_EQ(w.Listing().rowCount(), 1);
  EXPECT_EQ(w.RecentFiles()[0], PathToQt(path));
}

TEST_F(Startup, HelpOpensTheManualBesideTheProgram) {
  TMainform& w = start();
  w.Command("UsingQuelt1")->trigger();
  w.Command("HomePage1")->trigger();
  w.Command("About1")->trigger();
  ASSERT_EQ(dialogs->log.size(), 3u);
  QUrl using_(TextToQt(dialogs->log[0].text));
  EXPECT_EQ(using_.fragment(), "using");
  EXPECT_TRUE(QFileInfo(using_.toLocalFile()).isFile()) << dialogs->log[0].text;
  EXPECT_EQ(using_.toLocalFile(), TMainform::ManualPath());
  EXPECT_EQ(dialogs->log[1].text, PathFromQt(TMainform::ManualPath()));
  const TAboutSpec& about = dialogs->log[2].about;
  EXPECT_EQ(about.title, "About Quelt");
  EXPECT_EQ(about.productName, "Quelt");
  EXPECT_EQ(about.description, "Quelt, compression technology you can use.");
  EXPECT_EQ(about.version.rfind("Version ", 0), 0u);

  // Every command the menus name is described in the manual.
  std::string manual = readText(PathFromQt(TMainform::ManualPath()));
  for (QAction* a : w.findChildren<QAction*>(QString(), Qt::FindDirectChildrenOnly)) {
    QString caption = a->text();
    // The recent-files entries N6 to N10 hold paths, not commands.
    if (caption.isEmpty() || a->isSeparator() ||
        QRegularExpression("^N\\d+$").match(a->objectName()).hasMatch())
      continue;
    EXPECT_NE(manual.find(caption.toHtmlEscaped().toStdString()), std::string::npos)
        << caption.toStdString();
  }
}

TEST_F(Startup, TheChosenListFontIsUsedAndRemembered) {
  TMainform& w = start();
  QFont before = w.ListView()->font();
  TFontSpec chosen{"DejaVu Sans Mono", 15, !before.bold(), false, true, false};
  dialogs->AnswerFont(chosen);
  w.Command("Font1")->trigger();
  ASSERT_EQ(dialogs->log.size(), 1u);
  EXPECT_FALSE(dialogs->log[0].withStyle);
  EXPECT_EQ(w.ListView()->font().family(), "DejaVu Sans Mono");
  EXPECT_EQ(w.ListView()->font().pointSize(), 15);
  EXPECT_TRUE(w.ListView()->font().underline());
  EXPECT_EQ(w.ListView()->font().bold(), before.bold());  // no style choice here

  dialogs->AnswerFont(std::nullopt);  // cancelled: nothing changes
  w.Command("Font1")->trigger();
  EXPECT_EQ(w.ListView()->font().pointSize(), 15);

  TMainform& again = restart();
  EXPECT_EQ(again.ListView()->font().family(), "DejaVu Sans Mono");
  EXPECT_EQ(again.ListView()->font().pointSize(), 15);
}

TEST_F(Startup, HintsGoToTheFirstStatusPanel) {
  TMainform& w = start();
  w.show();
  QStatusTipEvent tip(w.Command("Open1")->statusTip());
  QCoreApplication::sendEvent(&w, &tip);
  EXPECT_EQ(w.StatusText(0), "Open ZIP File");
  EXPECT_EQ(w.StatusText(1), "Total Unzipped Size:");
}

}  // namespace
}  // namespace quelt::test
