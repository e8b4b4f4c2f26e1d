#include "app/commands/ExecuteCommand.h"

#include "app/QtText.h"
#include "app/commands/TempExtract.h"
#include "app/mainunit.h"

namespace quelt {

bool IsInstaller(const QString& path) {
  const QString upper = path.toUpper();
  return upper.contains("SETUP.EXE") || upper.contains("INSTALL.EXE");
}

bool NamesImage(const QString& rowText) {
  const QString upper = rowText.toUpper();
  for (const char* ext : {".JPG", ".GIF", ".BMP", ".TGA", ".PCX", ".PNG", ".TIF"})
    if (upper.contains(ext)) return true;
  return false;
}

void ExecuteCommand(TMainform& form) {
  std::optional<TTempCopy> copy = ExtractToTemp(form);
  if (!copy) return;
  if (IsInstaller(copy->path)) ExtractAllToTemp(form);
  if (!form.Dialogs().ShellOpen(PathFromQt(copy->path)))
    form.Dialogs().MessageBox("The desktop could not open " + PathFromQt(copy->path), "Quelt",
                              TMsgBoxIcon::Error, TMsgBoxButtons::OK);
}

}  // namespace quelt
