// Preferences: what the Options dialog stores, what it shows again, and what the window and
// the Add and Extract dialogs take from it.
#include <QDir>

#include "ArchiveTestUtil.h"
#include "app/QtText.h"
#include "app/commands/PreferencesCommand.h"
#include "app/dialogs/DialogParts.h"
#include "app/dialogs/OptionsForm.h"

namespace quelt::test {
namespace {

class Preferences : public TArchiveTest {
 protected:
  // Options › Preferences... with the dialog set up by `fill`, then `button`.
  void preferences(const std::function<void(TOptionsForm&)>& fill, const char* button = "OKBut") {
    expectDialog("OptionsForm", [=](QDialog& d) {
      fill(static_cast<TOptionsForm&>(d));
      press(d, button);
    });
    form->Command("Options1")->trigger();
  }
  std::optional<std::string> stored(const std::string& name) const { return storedText(name); }
};

TEST_F(Preferences, EveryChoiceIsStoredShownAgainAndTakenByTheWindowAtOnce) {
  const std::string temp = dir / "my temp", adds = dir / "adds", exts = dir / "exts";
  for (const std::string& f : {temp, adds, exts}) QDir().mkpath(PathToQt(f));
  start();
  ASSERT_TRUE(form->Command("Options1")->isEnabled());
  preferences([&](TOptionsForm& d) {
    EXPECT_EQ(d.PageControl1->currentIndex(), TOptionsForm::pgProgram);
    EXPECT_EQ(d.ExpDirEdit->text(), PathToQt(dir / "cache/quelt"));
    EXPECT_TRUE(d.AddLastRadio->isChecked());
    EXPECT_FALSE(d.AddDirEdit->isEnabled());
    d.ExpDirEdit->setText(PathToQt(temp));
    d.AddFolderRadio->setChecked(true);
    EXPECT_TRUE(d.AddDirEdit->isEnabled());
    d.AddDirEdit->setText(PathToQt(adds));
    d.ExtractFolderRadio->setChecked(true);
    d.ExtDirEdit->setText(PathToQt(exts));
    d.ShowOutputCheck->setChecked(false);
    d.AddDocsCheck->setChecked(false);
    EXPECT_EQ(d.ThreadsSpin->value(), 1);
    d.ThreadsSpin->setValue(3);
    d.AntiVirusEdit->setText("/usr/bin/clamscan");
    d.AntiVirusParamEdit->setText("--infected");
    d.RunMinimizedCheck->setChecked(true);
  });
  EXPECT_EQ(stored("ExpDir"), temp);
  EXPECT_EQ(stored("AddDir"), adds);
  EXPECT_EQ(stored("ExtDir"), exts);
  EXPECT_EQ(storedInt("ShowOutput"), 0);
  EXPECT_EQ(storedInt("AddDocs2StartMenu"), 0);
  EXPECT_EQ(stored("AntiVirusProgram"), "/usr/bin/clamscan");
  EXPECT_EQ(stored("AntiVirusParam"), "--infected");
  EXPECT_EQ(form->TempFolder(), PathToQt(temp));
  EXPECT_EQ(form->Engine().TempPath, temp + "/");
  EXPECT_FALSE(form->ShowOutput());
  EXPECT_FALSE(form->AddDocs2StartMenu());
  EXPECT_EQ(storedInt("CompressThreads"), 3);
  EXPECT_EQ(form->Engine().Jobs, 3);

  // The next start: the dialog shows what was chosen, the Add and Extract dialogs start in
  // the folders given.
  restart();
  EXPECT_EQ(form->AddDialog().Folder(), PathToQt(adds));
  EXPECT_EQ(form->ExtractDialog().ExtractToEdit->text(), PathToQt(exts));
  EXPECT_EQ(form->TempFolder(), PathToQt(temp));
  EXPECT_FALSE(form->ShowOutput());
  EXPECT_EQ(form->Engine().Jobs, 3);
  preferences(
      [&](TOptionsForm& d) {
        EXPECT_EQ(d.ExpDirEdit->text(), PathToQt(temp));
        EXPECT_TRUE(d.AddFolderRadio->isChecked());
        EXPECT_FALSE(d.AddLastRadio->isChecked());
        EXPECT_TRUE(d.ExtractFolderRadio->isChecked());
        EXPECT_EQ(d.AddDirEdit->text(), PathToQt(adds));
        EXPECT_EQ(d.ExtDirEdit->text(), PathToQt(exts));
        EXPECT_FALSE(d.ShowOutputCheck->isChecked());
        EXPECT_FALSE(d.AddDocsCheck->isChecked());
        EXPECT_EQ(d.ThreadsSpin->value(), 3);
        EXPECT_EQ(d.AntiVirusEdit->text(), "/usr/bin/clamscan");
        EXPECT_EQ(d.AntiVirusParamEdit->text(), "--infected");
        EXPECT_TRUE(d.RunMinimizedCheck->isChecked());
      },
      "CancelBut");
}

TEST_F(Preferences, CancelKeepsWhatIsStoredAndEachBoxShowsItsStoredValue) {
  start();
  preferences(
      [](TOptionsForm& d) {
        EXPECT_TRUE(d.ShowOutputCheck->isChecked());  // the first start's default
        d.ShowOutputCheck->setChecked(false);
        d.ExtractFolderRadio->setChecked(true);
        d.ExpDirEdit->setText("/elsewhere");
        d.AntiVirusEdit->setText("/bin/scanner");
        d.ThreadsSpin->setValue(4);
      },
      "CancelBut");
  EXPECT_EQ(storedInt("ShowOutput"), 1);
  EXPECT_TRUE(form->ShowOutput());
  EXPECT_FALSE(stored("AntiVirusProgram"));
  EXPECT_FALSE(storedInt("CompressThreads"));
  EXPECT_EQ(form->Engine().Jobs, 1);

  // A false value stored by another program is shown as false, though the box was checked.
  putSetting("ShowOutput", 0);
  putSetting("ExpDir", "/changed/elsewhere");
  putSetting("CompressThreads", 500);
  form->Settings().Refresh();
  preferences(
      [](TOptionsForm& d) {
        EXPECT_EQ(d.ThreadsSpin->value(), kMaxCompressThreads);  // no more than it offers
        EXPECT_FALSE(d.ShowOutputCheck->isChecked());
        EXPECT_TRUE(d.AddDocsCheck->isChecked());
        EXPECT_TRUE(d.ExtractLastRadio->isChecked());
        EXPECT_EQ(d.ExpDirEdit->text(), "/changed/elsewhere");
        EXPECT_EQ(d.AntiVirusEdit->text(), "");
      },
      "CancelBut");
}

TEST_F(Preferences, TheScannerIsChosenAmongProgramsAndTheDialogOpensOnAGivenPage) {
  start();
  dialogs->AnswerOpenFile("/opt/scan/bin/scanner");
  expectDialog("OptionsForm", [](QDialog& dialog) {
    auto& d = static_cast<TOptionsForm&>(dialog);
    EXPECT_EQ(d.PageControl1->currentIndex(), TOptionsForm::pgAntiVirus);
    EXPECT_EQ(d.PageControl1->tabText(0), "Program");
    EXPECT_EQ(d.PageControl1->tabText(1), "Anti-Virus");
    press(d, "AntiVirusBut");
    EXPECT_EQ(d.AntiVirusEdit->text(), "/opt/scan/bin/scanner");
    press(d, "OKBut");
  });
  PreferencesCommand(*form, TOptionsForm::pgAntiVirus);
  ASSERT_EQ(dialogs->log.size(), 1u);
  EXPECT_EQ(dialogs->log[0].kind, TPromptKind::OpenFile);
  EXPECT_EQ(dialogs->log[0].file.filter, "Programs|*");  // no extension names a program here
  EXPECT_EQ(stored("AntiVirusProgram"), "/opt/scan/bin/scanner");
}

}  // namespace
}  // namespace quelt::test
