// The question, when the window first shows, whether Quelt should open ZIP files for the
// desktop.
#pragma once

namespace quelt {

class TAssocDialog;
class TMainform;

// The window's one association dialog, made with the window.
TAssocDialog& AssociationDialog(TMainform& form);

// Asks unless the desktop already opens ZIP files with Quelt or the user said never to ask;
// "Yes" makes it so. A refusal is told and ends nothing else.
void CheckAssociation(TMainform& form);

}  // namespace quelt
