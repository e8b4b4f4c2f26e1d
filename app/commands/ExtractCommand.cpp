#include "app/commands/ExtractCommand.h"

#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <optional>

#include "app/QtText.h"
#include "app/WaitCursor.h"
#include "app/commands/EngineEvents.h"
#include "app/dialogs/ExtractForm.h"
#include "app/dialogs/MsgForm.h"
#include "app/mainunit.h"
#include "engine/Errors.h"

namespace quelt {

namespace {

const char* const kTitle = "Quelt";

// Settings of one extraction that must not outlive it: the window's engine overwrites
// without asking and selects by FilesList at every other time.
class TRunSettings {
 public:
  explicit TRunSettings(TZipEngine& engine) : engine_(engine) {}
  ~TRunSettings() {
    engine_.OverwriteMode = Always;
    engine_.SelectedNames.clear();
    engine_.DoAll = false;
  }
  TRunSettings(const TRunSettings&) = delete;
  TRunSettings& operator=(const TRunSettings&) = delete;

 private:
  TZipEngine& engine_;
};

QString countText(int count) {
  return QString::number(count) + (count == 1 ? " file was extracted" : " files were extracted");
}

}  // namespace

void ExtractFilesCommand(TMainform& form) {
  TZipEngine& engine = form.Engine();
  TExtract& dialog = form.ExtractDialog();
  TMsgform& output = form.Output();
  IDialogs& dialogs = form.Dialogs();

  engine.SetZipName(PathFromQt(form.CurrentArchive()));
  engine.FilesList.clear();
  if (!QFileInfo(form.NameLabel()).isFile()) {
    dialogs.MessageBox("Error: file not found: " + PathFromQt(form.NameLabel()), kTitle,
                       TMsgBoxIcon::Error, TMsgBoxButtons::OK);
    return;
  }
  if (::chdir(PathFromQt(dialog.Folder()).c_str()) != 0) dialog.SetFolder(QDir::homePath());
  form.Modal().Run(dialog);
  if (!dialog.Confirmed() || dialog.Destination().isEmpty()) return;

  TRunSettings run(engine);
  engine.RetainAttributes = dialog.RetainAttributes();
  engine.SetRootDir(PathFromQt(dialog.RootDir()));
  std::optional<TWaitCursor> wait(std::in_place);
  engine.FilesList.clear();
  if (dialog.AllFiles()) {
    engine.DoAll = true;
  } else {
    engine.DoAll = false;
    // Each selected row names its own entry, by its full stored name taken as it is: a
    // namesake in another folder is not selected with it, nor is a name read as a mask.
    engine.SelectedNames.clear();
    for (int row : form.SelectedRows())
      if (row < engine.Count()) engine.SelectedNames.push_back(engine.Entry(row).FullName());
    if (engine.SelectedNames.empty()) {
      wait.reset();
      dialogs.MessageBox("Error - no files selected", "Dunmara Quelt", TMsgBoxIcon::Error,
                         TMsgBoxButtons::OK);
      return;
    }
  }
  if (form.ShowOutput()) {
    output.ClearText();
    output.ShowOutput();
  }
  engine.SetDestDir(PathFromQt(dialog.Destination()));
  engine.RecreateDirs = dialog.ExpandDirs();
  form.Events().OverwriteChoice = dialog.OverwriteChoice();
  // The engine asks the overwrite question only when told to prompt, so the choice is
  // handed to it for this run.
  engine.OverwriteMode = dialog.OverwriteChoice();
  engine.SetZipName(PathFromQt(form.CurrentArchive()));
  form.Events().BeginRun(false);

  int count = 0;
  try {
    count = form.RunEngine([&] { return engine.ExtractEntries(); });
  } catch (const EIncompleteZip&) {
    // The user chose to treat the file as one disk of a set: nothing to extract from it.
    count = 0;
  } catch (...) {
    output.DisableCancel();
    throw;
  }
  wait.reset();

  const int planned = form.Events().Planned();
  const bool shortfall = planned > count;
  const QString shortText = QString("%1 of %2 files were extracted").arg(count).arg(planned);
  output.AppendFinal("Finished extracting files");
  if (shortfall) output.AddLine(shortText);
  output.DisableCancel();
  if (form.ShowOutput()) {
    output.ScrollToEnd();
  } else {
    QString text = countText(count);
    if (shortfall) text += "\n" + shortText + "; \"View Last Output...\" tells why.";
    dialogs.MessageBox(TextFromQt(text), kTitle,
                       shortfall ? TMsgBoxIcon::Warning : TMsgBoxIcon::Information,
                       TMsgBoxButtons::OK);
  }
  engine.DoAll = false;
  form.DoSort();
}

}  // namespace quelt
