// Extract: the dialog, then one extraction of all or the selected entries of the current
// archive, reported in the output window or a message box.
#pragma once

namespace quelt {

class TMainform;

void ExtractFilesCommand(TMainform& form);

}  // namespace quelt
