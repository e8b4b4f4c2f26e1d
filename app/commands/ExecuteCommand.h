// Execute: the last selected entry extracted into the temporary folder and opened by the
// desktop with its associated program. An installer gets the whole archive beside it first.
#pragma once

#include <QString>

namespace quelt {

class TMainform;

void ExecuteCommand(TMainform& form);

// Whether a copy at this path is an installer that needs the archive's other files.
bool IsInstaller(const QString& path);
// Whether a listing row's text names a picture the viewer shows.
bool NamesImage(const QString& rowText);

}  // namespace quelt
