// Options › Preferences...: the Options dialog; after OK the window takes the temporary
// folder, the output-window and recent-documents choices at once.
#pragma once

#include "app/dialogs/OptionsForm.h"

namespace quelt {

class TMainform;

// `page` is the page the dialog opens on (the virus scan opens it on "Anti-Virus").
void PreferencesCommand(TMainform& form, TOptionsForm::TPage page = TOptionsForm::pgProgram);

}  // namespace quelt
