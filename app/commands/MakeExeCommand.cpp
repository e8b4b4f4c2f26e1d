#include "app/commands/MakeExeCommand.h"

#include <QCoreApplication>

#include "app/QtText.h"
#include "app/WaitCursor.h"
#include "app/dialogs/SfxForm.h"
#include "app/mainunit.h"
#include "engine/Errors.h"
#include "platform/FileSystem.h"

namespace quelt {

namespace {

const char* const kTitle = "Quelt";

// The stub files of the older platforms, beside the running program.
const char* const kPlainStubs[] = {"", "SFXW32.bin", "SFXW.bin", "SFXD.bin"};

// The archive is opened again, and listed, however the command ends.
class TReopen {
 public:
  explicit TReopen(TMainform& form) : form_(form) {}
  ~TReopen() {
    try {
      form_.OpenIT();
    } catch (const std::exception&) {
      // The next command reads it again and reports what is wrong.
    }
  }
  TReopen(const TReopen&) = delete;
  TReopen& operator=(const TReopen&) = delete;

 private:
  TMainform& form_;
};

void showError(IDialogs& dialogs, const std::string& text) {
  dialogs.MessageBox(text, kTitle, TMsgBoxIcon::Error, TMsgBoxButtons::OK);
}

// Asks before an existing file is replaced; false when it must stay.
bool mayReplace(IDialogs& dialogs, const std::string& output, bool& replace) {
  replace = false;
  if (!files::PathExists(output, false)) return true;
  replace = dialogs.MessageBox(output + " already exists.\nDo you want to replace it?",
                               "Quelt Self-Extractor", TMsgBoxIcon::Question,
                               TMsgBoxButtons::YesNo) == TMsgBoxResult::Yes;
  return replace;
}

}  // namespace

void MakeExeCommand(TMainform& form) {
  TZIPEXE& dialog = form.SfxDialog();
  IDialogs& dialogs = form.Dialogs();
  const std::string archive = PathFromQt(form.CurrentArchive());

  // The engine keeps the archive open; the builder reads it whole.
  form.Engine().ClearCatalogue();
  TReopen reopen(form);
  form.Modal().Run(dialog);
  if (!dialog.Confirmed()) return;

  auto pump = [] { QCoreApplication::processEvents(); };
  std::string written;
  if (dialog.Platform() == TZIPEXE::pfWin32Enh) {
    TQueltSFX& sfx = dialog.Builder(archive);
    sfx.Host.ShowError = [&](const std::string& text) { showError(dialogs, text); };
    sfx.Host.ProcessMessages = pump;
    if (!mayReplace(dialogs, sfx.OutputName(), sfx.ReplaceExisting)) return;
    std::optional<TWaitCursor> wait(std::in_place);
    const int result = sfx.MakeSFX();
    wait.reset();
    // The builder showed the failures it found before writing; the others are shown here.
    if (result < 0)
      showError(dialogs, "Error - the self-extracting EXE was not created: " + sfx.ErrorText());
    if (result != sfxSucceeded) return;
    written = sfx.WrittenFile();
  } else {
    const std::string stub =
        PathFromQt(QCoreApplication::applicationDirPath()) + "/" + kPlainStubs[dialog.Platform()];
    const std::string output = PlainSFXName(archive);
    bool replace = false;
    if (!mayReplace(dialogs, output, replace)) return;
    std::optional<TWaitCursor> wait(std::in_place);
    const std::string error = MakePlainSFX(stub, archive, output, replace, pump);
    wait.reset();
    if (!error.empty()) {
      showError(dialogs, error);
      return;
    }
    written = output;
  }
  dialogs.MessageBox("The self-extracting EXE: " + written + " was succesfully created",
                     "Quelt Self-Extractor", TMsgBoxIcon::Information, TMsgBoxButtons::OK);
}

}  // namespace quelt
