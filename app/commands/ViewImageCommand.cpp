#include "app/commands/ViewImageCommand.h"

#include "app/commands/TempExtract.h"
#include "app/mainunit.h"
#include "app/viewers/IView.h"

namespace quelt {

TImgView& ImageViewer(TMainform& form) {
  if (auto* viewer = form.findChild<TImgView*>("ImgView", Qt::FindDirectChildrenOnly))
    return *viewer;
  // A window of its own, kept with the archive window.
  auto* viewer = new TImgView(&form);
  viewer->setWindowFlag(Qt::Window);
  return *viewer;
}

void ViewImageCommand(TMainform& form) {
  std::optional<TTempCopy> copy = ExtractToTemp(form);
  if (!copy) return;
  // The copy is this command's own: the viewer deletes it when it closes, or at once when the
  // picture cannot be shown. A file that was there before was replaced by the extraction.
  ImageViewer(form).Execute(copy->path, true);
}

}  // namespace quelt
