// Add Files: the dialog, then one zip operation on the current archive, reported in the
// output window or a message box.
#pragma once

namespace quelt {

class TMainform;

void AddFilesCommand(TMainform& form);

}  // namespace quelt
