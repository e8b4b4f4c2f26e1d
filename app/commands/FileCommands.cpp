#include "app/commands/FileCommands.h"

#include <unistd.h>

#include <QFileInfo>
#include <cerrno>
#include <cstring>

#include "app/QtText.h"
#include "app/mainunit.h"
#include "platform/PlatformError.h"

namespace quelt {

namespace {

const char* const kTitle = "Quelt";

// Whether anything, even a dangling link, stands under the name.
bool occupied(const QString& path) {
  return QFileInfo(path).exists() || QFileInfo(path).isSymLink();
}

// The file layer's question before it replaces an existing target.
TConfirmReplace askReplace(IDialogs& dialogs) {
  return [&dialogs](const std::string& target) {
    return dialogs.MessageBox("Replace existing file " + target + "?", "Confirm Replace",
                              TMsgBoxIcon::Question, TMsgBoxButtons::YesNo) == TMsgBoxResult::Yes;
  };
}

QString withSlash(QString folder) {
  if (!folder.endsWith('/')) folder += '/';
  return folder;
}

// Copy and Move: the archive goes into a folder chosen in the folder browser, under its own
// name. Move works on the moved file from then on.
void copyInto(TMainform& form, bool move) {
  TFileDialogState& saveAs = form.SaveAsDialog();
  auto folder = form.Dialogs().BrowseFolder("Select Folder", PathFromQt(saveAs.InitialDir()));
  if (!folder) return;
  const QString chosen = withSlash(PathToQt(*folder));
  saveAs.SetInitialDir(chosen);
  const QString source = form.CurrentArchive();
  const QString target = chosen + QFileInfo(source).fileName();
  IShellFileOps& files = form.FileOps();
  const TConfirmReplace confirm = askReplace(form.Dialogs());
  TFileOpOutcome outcome = move ? files.MoveFile(PathFromQt(source), PathFromQt(target), confirm)
                                : files.CopyFile(PathFromQt(source), PathFromQt(target), confirm);
  if (outcome != TFileOpOutcome::Done || !move) return;
  form.SetCurrentArchive(target);
  form.OpenIT();
}

}  // namespace

void NewArchiveCommand(TMainform& form) {
  IDialogs& dialogs = form.Dialogs();
  TFileDialogState& state = form.NewZipDialog();
  TFileDialogSpec spec{"Create New ZIP File", "ZIP Files (*.ZIP)|*.zip",
                       PathFromQt(state.InitialDir()), "", ""};
  // An existing file is asked about below, in the window's own words.
  spec.askReplace = false;
  auto picked = dialogs.SaveFile(spec);
  if (!picked) return;
  QString name = QFileInfo(PathToQt(*picked)).absoluteFilePath();
  state.SetInitialDir(QFileInfo(name).absolutePath());
  // Only the file's own name counts: a folder called "old.zip.d" says nothing about it.
  if (!QFileInfo(name).fileName().toLower().contains(".zip")) name += ".zip";

  if (occupied(name)) {
    if (dialogs.MessageBox("Overwrite Existing File: " + PathFromQt(name) + "?", kTitle,
                           TMsgBoxIcon::Question, TMsgBoxButtons::YesNo) != TMsgBoxResult::Yes)
      return;
    if (::unlink(PathFromQt(name).c_str()) != 0) {
      int error = errno;
      throw EPlatformError("Unable to replace " + PathFromQt(name) + ": " + std::strerror(error));
    }
  }
  // The engine forgets the old archive before anything can read it: a comment or a repair
  // that follows works on the new one, and the total counts nothing.
  TZipEngine& engine = form.Engine();
  engine.ClearCatalogue();
  engine.SetZipName(PathFromQt(name));

  std::string recentError;
  if (form.AddDocs2StartMenu()) {
    try {
      form.RecentDocuments().AddDocument(PathFromQt(name));
    } catch (const std::exception& e) {
      recentError = e.what();
    }
  }
  form.ShowNewArchive(name);
  // The archive is ready all the same; the user still hears why the desktop's list lacks it.
  if (!recentError.empty()) throw EPlatformError(recentError);
}

void SaveArchiveAsCommand(TMainform& form) {
  TFileDialogState& state = form.SaveAsDialog();
  TFileDialogSpec spec{"Save As", "ZIP Files|*.ZIP|SFX Files|*.EXE", PathFromQt(state.InitialDir()),
                       "", "ZIP"};
  // The file layer asks before it replaces anything.
  spec.askReplace = false;
  auto picked = form.Dialogs().SaveFile(spec);
  if (!picked) return;
  const QString target = QFileInfo(PathToQt(*picked)).absoluteFilePath();
  state.SetInitialDir(QFileInfo(target).absolutePath());
  if (form.FileOps().CopyFile(PathFromQt(form.CurrentArchive()), PathFromQt(target),
                              askReplace(form.Dialogs())) != TFileOpOutcome::Done)
    return;
  form.SetCurrentArchive(target);
  form.OpenIT();
}

void CopyArchiveCommand(TMainform& form) {
  copyInto(form, false);
}

void MoveArchiveCommand(TMainform& form) {
  copyInto(form, true);
}

void DeleteArchiveCommand(TMainform& form) {
  const QString path = form.CurrentArchive();
  if (form.Dialogs().MessageBox("Do you wish to delete " + PathFromQt(path) + "?", "Confirm Delete",
                                TMsgBoxIcon::Question,
                                TMsgBoxButtons::YesNoCancel) != TMsgBoxResult::Yes)
    return;
  TZipEngine& engine = form.Engine();
  engine.SetZipName("");
  engine.ClearCatalogue();
  // A new archive that was never written has nothing on disk to delete.
  if (::unlink(PathFromQt(path).c_str()) != 0 && errno != ENOENT) {
    int error = errno;
    // The archive is still there: the window goes on showing it.
    form.OpenIT();
    throw EPlatformError("Unable to delete " + PathFromQt(path) + ": " + std::strerror(error));
  }
  form.ShowNoArchive();
}

}  // namespace quelt
