// UUEncode: a UU-encoded copy of the current archive beside it, named by the archive's name up
// to its first "." followed by "uue". The archive is released while it is read and listed
// again afterwards, however the command ends.
#pragma once

namespace quelt {

class TMainform;

void UUEncodeCommand(TMainform& form);

}  // namespace quelt
