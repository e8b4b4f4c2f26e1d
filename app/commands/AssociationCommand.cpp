#include "app/commands/AssociationCommand.h"

#include <QCoreApplication>

#include "app/mainunit.h"
#include "app/viewers/Assoc.h"

namespace quelt {

TAssocDialog& AssociationDialog(TMainform& form) {
  if (auto* dialog = form.findChild<TAssocDialog*>("AssocDialog", Qt::FindDirectChildrenOnly))
    return *dialog;
  return *new TAssocDialog(&form, form.Settings());
}

void CheckAssociation(TMainform& form) {
  TAssocDialog& dialog = AssociationDialog(form);
  if (dialog.NeverShow() || dialog.Desktop().IsZipHandler()) return;
  const bool yes = form.Modal().Run(dialog) == QDialog::Accepted;
  dialog.SaveChoice();
  if (!yes) return;
  try {
    dialog.MakeAssociation("zip", QCoreApplication::applicationFilePath());
  } catch (const std::exception& e) {
    // The archive named on the command line is still to be opened.
    form.Dialogs().MessageBox(e.what(), "Quelt", TMsgBoxIcon::Error, TMsgBoxButtons::OK);
  }
}

}  // namespace quelt
