// Copies of entries in the temporary folder, for the commands that hand an entry to another
// program or open it in a viewer: the last selected row's file, extracted alone, flat.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace quelt {

class TMainform;

struct TTempCopy {
  int index = -1;  // the engine entry
  QString path;    // the file the engine wrote
  QString folder;  // the temporary folder it was written below
};

// Flat: the file alone, straight in the temporary folder. WithFolders: below its stored
// folders there, so that the copy's path relative to the folder is the entry's stored name.
enum class TTempLayout { Flat, WithFolders };

// Extracts the last selected entry into the temporary folder; an old file of its name there
// is deleted first (a link there is removed, never followed). Nothing when no row is
// selected or the row is a folder entry. Throws with a message for the user when the copy
// was not made, and (WithFolders) when the stored name would lead out of the folder.
std::optional<TTempCopy> ExtractToTemp(TMainform& form, TTempLayout layout = TTempLayout::Flat);

// Where ExtractToTemp would put the last selected entry's copy; nothing when it would put
// none (no row, a folder entry, a name leading out of the folder).
std::optional<QString> TempCopyTarget(TMainform& form, TTempLayout layout);

// Extracts the given entries (folder entries skipped) into `folder`, made first when missing,
// each below its stored folders; returns the paths of the files written.
QStringList ExtractEntriesTo(TMainform& form, const std::vector<int>& indexes,
                             const QString& folder);

// Extracts every entry of the archive into `folder`, each below its stored folders; returns
// how many files were written. Errors, an incomplete set among them, reach the caller.
int ExtractAllWithFolders(TMainform& form, const QString& folder);

// Extracts every entry of the archive into the temporary folder, without their folders.
void ExtractAllToTemp(TMainform& form);

}  // namespace quelt
