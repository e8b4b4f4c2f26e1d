// View Image: the last selected entry extracted into the temporary folder and shown in the
// image viewer, which deletes that copy when it closes.
#pragma once

namespace quelt {

class TImgView;
class TMainform;

// The window's one image viewer, made with the window's first use of it.
TImgView& ImageViewer(TMainform& form);

void ViewImageCommand(TMainform& form);

}  // namespace quelt
