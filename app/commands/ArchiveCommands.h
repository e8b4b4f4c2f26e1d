// Commands on what the current archive holds: Remove Files, ZIP Information, ZIP Comment and
// Fix ZIP.
#pragma once

#include <QString>
#include <cstdint>

namespace quelt {

class TMainform;

void RemoveFilesCommand(TMainform& form);
void InformationCommand(TMainform& form);
void CommentCommand(TMainform& form);
void FixArchiveCommand(TMainform& form);

// True, after telling the user, when the engine's archive is one volume of a multi-volume
// set: rewriting that volume alone would leave a broken set.
bool RefusedAsMultiVolume(TMainform& form);

// The ratio as "ZIP Information" shows it: the share saved, rounded half to even, " %".
QString RatioText(int64_t compressed, int64_t uncompressed);

}  // namespace quelt
