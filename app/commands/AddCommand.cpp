#include "app/commands/AddCommand.h"

#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <optional>

#include "app/QtText.h"
#include "app/WaitCursor.h"
#include "app/commands/ArchiveCommands.h"
#include "app/commands/EngineEvents.h"
#include "app/dialogs/AddForm.h"
#include "app/dialogs/MsgForm.h"
#include "app/mainunit.h"
#include "engine/Errors.h"

namespace quelt {

namespace {

const char* const kTitle = "Quelt";

std::vector<std::string> pathsOf(const QStringList& entries) {
  std::vector<std::string> out;
  out.reserve(size_t(entries.size()));
  for (const QString& e : entries) out.push_back(PathFromQt(e));
  return out;
}

}  // namespace

void AddFilesCommand(TMainform& form) {
  TZipEngine& engine = form.Engine();
  TAddForm& dialog = form.AddDialog();
  TMsgform& output = form.Output();
  IDialogs& dialogs = form.Dialogs();

  engine.FilesList.clear();
  if (form.CurrentArchive().isEmpty()) {
    dialogs.MessageBox("Error - open a zip file first", kTitle, TMsgBoxIcon::Error,
                       TMsgBoxButtons::OK);
    return;
  }
  if (RefusedAsMultiVolume(form)) return;
  // Relative names typed in the dialog mean the folder it shows.
  if (::chdir(PathFromQt(dialog.Folder()).c_str()) != 0) dialog.SetFolder(QDir::homePath());
  if (form.Modal().Run(dialog) != QDialog::Accepted) return;

  // The order matters: the engine's setters are linked, and folder information, set last,
  // decides whether volume information is kept.
  engine.PackLevel = dialog.PackLevel();
  engine.SetRootDir(PathFromQt(dialog.RootDir()));
  engine.SetStoreVolumes(dialog.StoreVolumes());
  engine.Store83Names = dialog.Store83Names();
  engine.ZipAction = dialog.Action();
  const QStringList entries = dialog.Entries();
  if (entries.isEmpty()) {
    dialogs.MessageBox("No files selected", kTitle, TMsgBoxIcon::Error, TMsgBoxButtons::OK);
    return;
  }
  if (form.ShowOutput()) {
    output.ClearText();
    output.ShowOutput();
  }

  engine.SetZipName(PathFromQt(form.CurrentArchive()));
  std::optional<TWaitCursor> wait(std::in_place);
  engine.FilesList = pathsOf(entries);
  engine.LiteralFiles = pathsOf(dialog.LiteralEntries());
  engine.SetStorePaths(dialog.StorePaths());
  engine.Recurse = dialog.Recurse();
  // Reading a multi-volume set leaves the engine in that set's mode. The window writes a new
  // archive across disks when they are removable; an existing one is rewritten as one file.
  engine.SetMultiMode(QFileInfo::exists(form.CurrentArchive()) ? mmNone : mmSpan);
  form.Events().BeginRun(true);

  int count = 0;
  try {
    try {
      count = form.RunEngine([&] { return engine.CompressFiles(); });
    } catch (const EIncompleteZip&) {
      count = 0;
    }
  } catch (...) {
    engine.LiteralFiles.clear();
    output.DisableCancel();
    form.CalcTotSize();
    wait.reset();
    dialog.ClearEntries();
    // What the archive now is shows, whatever happened; the run's own error is the one
    // the user reads. A new archive that was never written stays the empty new one:
    // reading it would only offer to create it once more.
    if (QFileInfo::exists(form.CurrentArchive())) {
      try {
        form.DoSort();
        form.OpenIT();
      } catch (const std::exception&) {
      }
    }
    throw;
  }
  engine.LiteralFiles.clear();

  output.AppendFinal("Finished adding files");
  output.DisableCancel();
  if (form.ShowOutput()) {
    output.ScrollToEnd();
  } else {
    dialogs.MessageBox(
        std::to_string(count) + (count == 1 ? " file was added" : " files were added"), kTitle,
        TMsgBoxIcon::Information, TMsgBoxButtons::OK);
  }
  form.OpenIT();
  form.CalcTotSize();
  wait.reset();
  dialog.ClearEntries();
  form.DoSort();
  form.OpenIT();
}

}  // namespace quelt
