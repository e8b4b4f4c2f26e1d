// Make EXE File: the self-extractor dialog builds a program that extracts as it was told,
// never replaces a file unasked, and reports every failure.
#include <sys/stat.h>

#include "ArchiveTestUtil.h"
#include "app/QtText.h"
#include "app/dialogs/SfxForm.h"
#include "convert/SFXRecord.h"

namespace quelt::test {
namespace {

class MakingExe : public TArchiveTest {
 protected:
  std::string archive() {
    return zip("pack.zip", {{"readme.txt", "read me\n"}, {"docs/a.txt", "new a\n"}});
  }
  // Make EXE File with the dialog filled by `fill`, then "Create &EXE".
  void makeExe(const std::function<void(TZIPEXE&)>& fill) {
    expectDialog("ZIPEXE", [fill](QDialog& d) {
      fill(static_cast<TZIPEXE&>(d));
      press(d, "CreateBut");
    });
    form->Command("MakeEXEFile1")->trigger();
  }
  static void enhanced(TZIPEXE& d) { d.PlatformGroup->SetItemIndex(TZIPEXE::pfWin32Enh); }
};

TEST_F(MakingExe, TheProgramMadeThroughTheDialogExtractsAsItsRecordSays) {
  const std::string path = archive();
  const std::string unpacked = dir / "unpacked";
  writeFile(unpacked + "/readme.txt", "mine\n");  // "Always Overwrite" replaces it
  start();
  open(path);
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  makeExe([&](TZIPEXE& d) {
    enhanced(d);
    d.CaptionEdit->setText("Sample files");
    d.ExtractDirEdit->setText(PathToQt(unpacked));
    d.CommandLineEdit->setText("touch|><ran.txt");
    d.OverwriteGroup->SetItemIndex(1);
    d.AskFilesCheck->setChecked(true);
  });
  const std::string exe = dir / "pack.exe";
  ASSERT_EQ(dialogs->Messages(), std::vector<std::string>{"Quelt Self-Extractor: The "
                                                          "self-extracting EXE: " +
                                                          exe + " was succesfully created"});
  EXPECT_EQ(dialogs->log.back().icon, TMsgBoxIcon::Information);

  const auto bytes = readFile(exe), stub = readFile(binPath("ZIPSFX.BIN"));
  ASSERT_GT(bytes.size(), stub.size() + kSFXRecordSize);
  auto record = ParseSFXRecord(bytes.data() + stub.size(), kSFXRecordSize);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->Caption, "Sample files");
  EXPECT_EQ(record->DefaultDir, unpacked);
  EXPECT_EQ(record->CommandLine, "touch|><ran.txt");
  EXPECT_EQ(record->OverWriteMode, OvrAlways);
  EXPECT_EQ(record->Options, SFXOpts{SFXAskFiles});
  const auto zipBytes = readFile(path);
  EXPECT_TRUE(std::equal(zipBytes.begin(), zipBytes.end(), bytes.end() - long(zipBytes.size())));

  RunResult r = run(shq(exe) + " -y </dev/null");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out.substr(0, 12), "Sample files");
  EXPECT_EQ(readText(unpacked + "/docs/a.txt"), "new a\n");
  EXPECT_EQ(readText(unpacked + "/readme.txt"), "read me\n");
  EXPECT_TRUE(fileExists(unpacked + "/ran.txt"));
  // The archive is open again and listed.
  EXPECT_EQ(rows().size(), 2);
  EXPECT_EQ(form->Engine().Count(), 2);
}

TEST_F(MakingExe, AnExistingProgramIsReplacedOnlyWhenTheUserSaysSo) {
  const std::string path = archive();
  const std::string exe = dir / "pack.exe";
  start();
  open(path);
  for (TMsgBoxResult answer : {TMsgBoxResult::No, TMsgBoxResult::Yes}) {
    writeFile(exe, "my own program");
    dialogs->ClearLog();
    dialogs->AnswerMessage(answer);
    if (answer == TMsgBoxResult::Yes) dialogs->AnswerMessage(TMsgBoxResult::OK);
    makeExe(enhanced);
    ASSERT_GE(dialogs->Messages().size(), 1u);
    EXPECT_EQ(dialogs->Messages()[0],
              "Quelt Self-Extractor: " + exe + " already exists.\nDo you want to replace it?");
    if (answer == TMsgBoxResult::No) {
      EXPECT_EQ(dialogs->Messages().size(), 1u);
      EXPECT_EQ(readText(exe), "my own program");
    } else {
      EXPECT_GT(readFile(exe).size(), readFile(path).size());
    }
  }
}

TEST_F(MakingExe, FailuresAreShownAsErrorsAndLeaveNothingBehind) {
  const std::string path = archive();
  start();
  open(path);
  struct TCase {
    int platform;
    std::string message;
  };
  const std::string bin = binPath("");
  const TCase cases[] = {
      {TZIPEXE::pfWin32Std, "Error - " + bin + "SFXW32.bin not found"},
      {TZIPEXE::pfWin16, "Error - " + bin + "SFXW.bin not found"},
      {TZIPEXE::pfDOS, "Error - " + bin + "SFXD.bin not found"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.platform);
    dialogs->ClearLog();
    dialogs->AnswerMessage(TMsgBoxResult::OK);
    makeExe([&](TZIPEXE& d) {
      d.PlatformGroup->SetItemIndex(c.platform);
      EXPECT_FALSE(d.OptionsPanel->isEnabled());
      EXPECT_FALSE(d.CaptionEdit->isEnabled());
    });
    ASSERT_EQ(dialogs->Messages(), std::vector<std::string>{"Quelt: " + c.message});
    EXPECT_EQ(dialogs->log.back().icon, TMsgBoxIcon::Error);
    EXPECT_FALSE(fileExists(dir / "pack.exe"));
    EXPECT_TRUE(noScratchFiles(dir.path()));
  }
  // The builder's own checks: texts too long for the record.
  dialogs->ClearLog();
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  makeExe([](TZIPEXE& d) {
    d.PlatformGroup->SetItemIndex(TZIPEXE::pfWin32Enh);
    EXPECT_TRUE(d.OptionsPanel->isEnabled());
    EXPECT_TRUE(d.CaptionEdit->isEnabled());
    d.CaptionEdit->setText(QString(100, 'c'));
    d.ExtractDirEdit->setText(QString(100, 'd'));
    d.CommandLineEdit->setText(QString(50, 'l'));
  });
  EXPECT_EQ(dialogs->Messages(),
            std::vector<std::string>{"Quelt: Error - The total size of the 3 text properties "
                                     "exceeds 249!\r\nSFXCaption + SFXDefaultDir + "
                                     "SFXCommandLine = 250"});
  EXPECT_FALSE(fileExists(dir / "pack.exe"));
}

TEST_F(MakingExe, TheDialogsChoicesComeBackAfterARestart) {
  start();
  form->SfxDialog().PlatformGroup->SetItemIndex(TZIPEXE::pfWin16);
  form->SfxDialog().OverwriteGroup->SetItemIndex(1);
  form->SfxDialog().AskCmdLineCheck->setChecked(true);
  form->SfxDialog().HideOverwriteCheck->setChecked(true);
  form->SfxDialog().CaptionEdit->setText("Caption");
  form->SfxDialog().ExtractDirEdit->setText("><");
  form->SfxDialog().CommandLineEdit->setText("notepad|><readme.txt");
  restart();
  TZIPEXE& d = form->SfxDialog();
  EXPECT_EQ(d.PlatformGroup->ItemIndex(), TZIPEXE::pfWin16);
  EXPECT_FALSE(d.OptionsPanel->isEnabled());
  EXPECT_EQ(d.OverwriteGroup->ItemIndex(), 1);
  EXPECT_TRUE(d.AskCmdLineCheck->isChecked());
  EXPECT_FALSE(d.AskFilesCheck->isChecked());
  EXPECT_TRUE(d.HideOverwriteCheck->isChecked());
  EXPECT_EQ(d.CaptionEdit->text(), "Caption");
  EXPECT_EQ(d.ExtractDirEdit->text(), "><");
  EXPECT_EQ(d.CommandLineEdit->text(), "notepad|><readme.txt");
}

}  // namespace
}  // namespace quelt::test
