// The archive file as a whole: New, Save As, Copy, Move and Delete. A command that puts the
// archive somewhere else switches the window to it only once the file is there.
#pragma once

namespace quelt {

class TMainform;

void NewArchiveCommand(TMainform& form);
void SaveArchiveAsCommand(TMainform& form);
void CopyArchiveCommand(TMainform& form);
void MoveArchiveCommand(TMainform& form);
void DeleteArchiveCommand(TMainform& form);

}  // namespace quelt
