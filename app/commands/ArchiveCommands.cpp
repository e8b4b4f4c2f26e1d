#include "app/commands/ArchiveCommands.h"

#include <QFileInfo>
#include <cfenv>
#include <cmath>
#include <optional>

#include "app/QtText.h"
#include "app/WaitCursor.h"
#include "app/commands/EngineEvents.h"
#include "app/dialogs/CommentEditor.h"
#include "app/dialogs/InfoForm.h"
#include "app/dialogs/MsgForm.h"
#include "app/mainunit.h"
#include "engine/Errors.h"

namespace quelt {

namespace {

const char* const kTitle = "Quelt";

void error(TMainform& form, const std::string& text) {
  form.Dialogs().MessageBox(text, kTitle, TMsgBoxIcon::Error, TMsgBoxButtons::OK);
}

// A rewrite puts an existing archive back as one file; a new one is written as Add would.
void prepareRewrite(TMainform& form) {
  form.Engine().SetMultiMode(QFileInfo::exists(form.CurrentArchive()) ? mmNone : mmSpan);
}

// The comment as the editor shows it: lines end in a plain line feed there.
QString editorText(const std::string& stored) {
  return TextToQt(stored).replace("\r\n", "\n");
}

// The edited text as it is stored: in the line ends the comment had before.
std::string storedText(QString edited, const std::string& before) {
  if (before.find("\r\n") != std::string::npos) edited.replace("\n", "\r\n");
  return TextFromQt(edited);
}

}  // namespace

bool RefusedAsMultiVolume(TMainform& form) {
  const TZipEngine& engine = form.Engine();
  if (engine.VolumeCount() <= 1 && engine.EndRecord().NumberOfThisDisk == 0) return false;
  error(form, PathFromQt(form.CurrentArchive()) +
                  " is one volume of a multi-volume set, which cannot be changed. Extract its "
                  "files and add them to a new archive instead.");
  return true;
}

QString RatioText(int64_t compressed, int64_t uncompressed) {
  // Nothing to compress saves nothing.
  if (uncompressed == 0) return "0 %";
  const double saved = 100.0 - double(compressed) * 100.0 / double(uncompressed);
  // Halves go to the even neighbour, whatever rounding mode a library left behind.
  const int previous = std::fegetround();
  std::fesetround(FE_TONEAREST);
  const double rounded = std::nearbyint(saved);
  std::fesetround(previous);
  return QString::number(int64_t(rounded)) + " %";
}

void RemoveFilesCommand(TMainform& form) {
  TZipEngine& engine = form.Engine();
  TMsgform& output = form.Output();
  IDialogs& dialogs = form.Dialogs();
  const std::string archive = PathFromQt(form.CurrentArchive());

  engine.SetZipName(archive);
  if (form.Listing().rowCount() == 0) {
    error(form, "Error - no files to delete");
    return;
  }
  if (RefusedAsMultiVolume(form)) return;
  if (dialogs.MessageBox("Delete selected files from: " + archive + "?", kTitle,
                         TMsgBoxIcon::Question, TMsgBoxButtons::YesNo) != TMsgBoxResult::Yes)
    return;
  engine.FilesList.clear();
  for (int row : form.SelectedRows())
    if (row < engine.Count()) engine.FilesList.push_back(engine.Entry(row).FullName());
  if (engine.FilesList.empty()) {
    error(form, "Error - no files selected");
    return;
  }
  // Each selected row names its own entry: "file[1].txt" is that name, not a mask that would
  // take "file1.txt" with it.
  engine.LiteralFiles = engine.FilesList;
  if (form.ShowOutput()) {
    output.ClearText();
    output.ShowOutput();
  }
  prepareRewrite(form);
  form.Events().BeginRun(true);
  std::optional<TWaitCursor> wait(std::in_place);
  try {
    try {
      form.RunEngine([&] { return engine.RemoveEntries(); });
    } catch (const EIncompleteZip&) {
    }
  } catch (...) {
    engine.LiteralFiles.clear();
    output.DisableCancel();
    wait.reset();
    // The listing shows the archive as it now is; the run's own error is the one reported.
    try {
      form.OpenIT();
    } catch (const std::exception&) {
    }
    throw;
  }
  engine.LiteralFiles.clear();
  output.DisableCancel();
  if (form.ShowOutput()) output.ScrollToEnd();
  wait.reset();
  form.CalcTotSize();
  engine.SavePendingChanges();
  form.OpenIT();
  form.DoSort();
}

void InformationCommand(TMainform& form) {
  const TZipEngine& engine = form.Engine();
  int64_t compressed = 0, uncompressed = 0;  // archives over 4 GiB are summed whole
  for (int i = 0; i < engine.Count(); ++i) {
    compressed += engine.CompressedSize(i);
    uncompressed += engine.UncompressedSize(i);
  }
  TInfoForm& dialog = form.InfoDialog();
  dialog.SetValues(form.CurrentArchive(), QString::number(compressed) + " bytes",
                   QString::number(uncompressed) + " bytes", RatioText(compressed, uncompressed));
  form.Modal().Run(dialog);
}

void CommentCommand(TMainform& form) {
  TZipEngine& engine = form.Engine();
  if (!engine.ZipName().empty()) {
    if (RefusedAsMultiVolume(form)) return;
    TCommentEditor& editor = form.CommentDialog();
    editor.SetText("");
    editor.setWindowTitle("Editing Zip Comment for " +
                          QFileInfo(PathToQt(engine.ZipName())).fileName());
    const std::string before = engine.HasArchiveComment() ? engine.ArchiveComment() : "";
    const QString shown = editorText(before);
    editor.SetText(shown);
    // Compared with what was shown, so a comment that does not survive the round trip through
    // the editor unchanged is not rewritten just because OK was pressed.
    if (form.Modal().Run(editor) == QDialog::Accepted && editor.Text() != shown)
      engine.SetArchiveComment(storedText(editor.Text(), before));
  }
  if (!engine.EndRecord().Modified) return;
  prepareRewrite(form);
  try {
    TWaitCursor wait;
    form.RunEngine([&] {
      engine.SavePendingChanges();
      return 0;
    });
  } catch (...) {
    // A comment that could not be written is dropped: left pending, it would be written
    // unasked the next time the engine switches archives.
    engine.ClearCatalogue();
    try {
      form.OpenIT();
    } catch (const std::exception&) {
    }
    throw;
  }
  form.OpenIT();
}

void FixArchiveCommand(TMainform& form) {
  if (RefusedAsMultiVolume(form)) return;
  TZipEngine& engine = form.Engine();
  // The repair leaves the engine on the repaired file, or on the one picked to repair; the
  // listing's rows must name the window's archive's entries again whatever happened.
  auto backToCurrent = [&] {
    if (QFileInfo::exists(form.CurrentArchive())) {
      form.OpenIT();
    } else {
      // A new archive not yet written: nothing to read.
      engine.ClearCatalogue();
      engine.SetZipName(PathFromQt(form.CurrentArchive()));
    }
  };
  // The window's own mode is for writing new archives; the repair writes one plain file.
  engine.SetMultiMode(mmNone);
  try {
    TWaitCursor wait;
    form.RunEngine([&] { return engine.RepairArchive("", ""); });
  } catch (...) {
    try {
      backToCurrent();
    } catch (const std::exception&) {
    }
    throw;
  }
  backToCurrent();
}

}  // namespace quelt
