#include "app/commands/PreferencesCommand.h"

#include "app/QtText.h"
#include "app/dialogs/DialogParts.h"
#include "app/mainunit.h"

namespace quelt {

void PreferencesCommand(TMainform& form, TOptionsForm::TPage page) {
  TOptionsForm& dialog = form.OptionsDialog();
  dialog.SelectPage(page);
  form.Modal().Run(dialog);
  if (!dialog.Confirmed()) return;
  // What was stored is what counts, as the next start reads it.
  TRegistry reg(form.Settings(), LOCAL_MACHINE);
  if (!reg.OpenKeyReadOnly(kSettingsKey)) return;
  form.SetTempFolder(PathToQt(reg.ReadString("ExpDir")));
  form.SetShowOutput(reg.ReadBool("ShowOutput"));
  form.SetAddDocs2StartMenu(reg.ReadBool("AddDocs2StartMenu"));
  form.SetCompressThreads(reg.ReadInteger("CompressThreads"));
}

}  // namespace quelt
