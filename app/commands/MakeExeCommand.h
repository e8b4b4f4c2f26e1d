// Make EXE File: the self-extractor dialog, then the program built beside the archive. The
// archive file is released while the dialog is up and read again afterwards.
#pragma once

namespace quelt {

class TMainform;

void MakeExeCommand(TMainform& form);

}  // namespace quelt
