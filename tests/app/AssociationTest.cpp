// The start-up offer to make Quelt the desktop's program for ZIP files.
#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>

#include "AppTestUtil.h"
#include "app/QtText.h"
#include "app/commands/AssociationCommand.h"
#include "app/viewers/Assoc.h"
#include "platform/LinuxProcesses.h"
#include "platform/XdgAssociation.h"
#include "support/ScopedEnv.h"

namespace quelt::test {
namespace {

class Associating : public TWindowTest {
 protected:
  std::optional<std::string> classesRoot(const std::string& key) const {
    TSettingsStore fresh(TSettingsStore::DefaultPath());
    return fresh.ReadString(CLASSES_ROOT, key, "");
  }
  void answer(bool never, const char* button) {
    expectDialog("AssocDialog", [=](QDialog& d) {
      EXPECT_EQ(d.windowTitle(), "Quelt");
      EXPECT_EQ(d.findChild<QLabel*>("QuestionLabel")->text(),
                "<b>Associate Quelt with ZIP files now?</b>");
      d.findChild<QCheckBox*>("NeverShowCheck")->setChecked(never);
      press(d, button);
    });
  }
  const std::string program = PathFromQt(QCoreApplication::applicationFilePath());
};

TEST_F(Associating, YesMakesQueltTheDesktopsZipProgramFoundAtTheNextStart) {
  TLinuxProcessRunner runner;
  if (!runner.FindProgram("xdg-mime")) GTEST_SKIP() << "xdg-mime (xdg-utils) is not installed";
  makeDirs(dir / "system");
  TScopedEnv env;
  env.ScratchDesktop(dir.path());
  TXdgAssociation xdg(runner);
  start();
  AssociationDialog(*form).SetDesktop(xdg);
  answer(false, "YesBut");
  form->FormShow();
  // The desktop's own reader now names our entry, which starts this program.
  EXPECT_TRUE(xdg.IsZipHandler());
  EXPECT_EQ(readText(dir / "data/applications/quelt.desktop"), DesktopEntryText(program));
  // The file-type records stay readable where they always were.
  EXPECT_EQ(classesRoot(".zip"), "Quelt");
  EXPECT_EQ(classesRoot("Quelt"), "Quelt File");
  EXPECT_EQ(classesRoot("Quelt\\shell\\open\\command"), program + " %1");
  EXPECT_EQ(classesRoot("Quelt\\DefaultIcon"), program + ",0");

  // The next start asks nothing (a dialog nobody expects fails the test).
  TXdgAssociation nextStart(runner);
  restart();
  AssociationDialog(*form).SetDesktop(nextStart);
  form->FormShow();
  EXPECT_EQ(shownDialogs, QStringList{"AssocDialog"});
}

TEST_F(Associating, NoAndNeverDisplayKeepTheQuestionAway) {
  desktop.zipHandler = false;
  start();
  // "No" alone: asked again at the next start.
  answer(false, "NoBut");
  form->FormShow();
  restart();
  answer(true, "NoBut");
  form->FormShow();
  EXPECT_TRUE(desktop.requests.empty());
  EXPECT_FALSE(classesRoot(".zip").has_value());
  TSettingsStore fresh(TSettingsStore::DefaultPath());
  EXPECT_EQ(fresh.ReadString(CURRENT_USER, "SOFTWARE\\Dunmarra\\Quelt", "ShowAssocDialog"), "1");

  for (int run = 0; run < 2; ++run) {
    restart();
    form->FormShow();
  }
  EXPECT_EQ(shownDialogs, (QStringList{"AssocDialog", "AssocDialog"}));
}

TEST_F(Associating, ARefusalIsToldAndTheArchiveOnTheCommandLineStillOpens) {
  desktop.zipHandler = false;
  desktop.failure = "Error: Program not found: " + program;
  const std::string archive = dir / "a.zip";
  MakeZip(archive, {{"a.txt", "a"}});
  start({PathToQt(archive)});
  answer(false, "YesBut");
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  form->FormShow();
  EXPECT_EQ(dialogs->Messages(),
            std::vector<std::string>{"Quelt: Error: Program not found: " + program});
  EXPECT_FALSE(classesRoot(".zip").has_value());
  EXPECT_EQ(rows().size(), 1);
}

}  // namespace
}  // namespace quelt::test
