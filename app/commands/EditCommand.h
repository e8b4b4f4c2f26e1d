// Edit Text: the last selected entry extracted below the temporary folder with its stored
// folders, edited in "Quelt Edit", and stored back into the archive under its own name on
// every save.
#pragma once

#include <QString>

namespace quelt {

class TMainform;

void EditTextCommand(TMainform& form);

// Stores `copy`, a file below `tempFolder`, into the current archive under its path
// relative to that folder, replacing the entry of that name; the engine's path and list
// settings are as before afterwards, and the listing shows the archive as it now is. Throws
// with a message for the user when the entry was not stored.
void StoreEditedCopy(TMainform& form, const QString& tempFolder, const QString& copy);

}  // namespace quelt
