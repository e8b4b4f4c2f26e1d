// Shows one of the window's dialogs, filled as in use, on the real display, so a script can
// take its picture:  dialog_gallery NAME SAMPLE-FOLDER
// NAME: output, add, add-advanced, extract, extract-advanced, password, bad-password,
// incomplete, next-disk, browse, wildcard, sfx, sfx-dos, options, options-antivirus, info,
// comment, new-overwrite, remove-confirm, replace, delete-confirm, multi-volume, uu-replace,
// uu-done, virus-scan, virus-none, mail-missing, drop, assoc; and the text editor opened from
// SAMPLE-FOLDER/texts.zip with one of its dialogs: editor, editor-html, editor-find,
// editor-replace, editor-goto, editor-bookmarks, editor-info.
#include <QApplication>
#include <QFile>
#include <QTimer>
#include <cstdio>

#include "app/QtDialogs.h"
#include "app/QtText.h"
#include "app/commands/AssociationCommand.h"
#include "app/commands/DragDrop.h"
#include "app/commands/EngineEvents.h"
#include "app/dialogs/AddForm.h"
#include "app/dialogs/CommentEditor.h"
#include "app/dialogs/DDrop.h"
#include "app/dialogs/ExtractForm.h"
#include "app/dialogs/InfoForm.h"
#include "app/dialogs/MsgForm.h"
#include "app/dialogs/OptionsForm.h"
#include "app/dialogs/PromptDialogs.h"
#include "app/dialogs/SfxForm.h"
#include "app/mainunit.h"
#include "app/viewers/Assoc.h"
#include "app/viewers/TEdit.h"
#include "platform/SettingsStore.h"

using namespace quelt;

namespace {

void writeText(const QString& path) {
  QFile file(path);
  if (file.open(QIODevice::WriteOnly)) file.write("begin 644 old\r\n`\r\nend\r\n");
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: dialog_gallery NAME SAMPLE-FOLDER\n");
    return 2;
  }
  const QString name = argv[1];
  const QString sample = QString::fromLocal8Bit(argv[2]);
  TSettingsStore settings(TSettingsStore::DefaultPath());
  TQtDialogs dialogs;
  TMainform form(settings, dialogs);
  dialogs.SetOwner(&form);
  // The start-up question about ZIP files has a picture of its own ("assoc").
  struct TOurs : IDesktopAssociation {
    bool IsZipHandler() override { return true; }
    void MakeZipHandler(const std::string&) override {}
  } ours;
  AssociationDialog(form).SetDesktop(ours);
  form.show();

  // Modal questions run inside the event loop, as they do during an operation.
  auto later = [&](std::function<void()> f) { QTimer::singleShot(300, &app, std::move(f)); };
  if (name == "output") {
    TMsgform& out = form.Output();
    for (const char* line :
         {" ", "Number of files to be zipped: 3", "Total bytes to process: 1843200", " ",
          "Zipped file /home/user/Documents/report.odt",
          "Zipped file /home/user/Documents/budget.ods"})
      out.AddLine(line);
    out.SetStatus(sample + "/photos/holiday-2023/IMG_0042.JPG");
    out.SetProgress(42);
    out.ShowOutput();
  } else if (name == "add" || name == "add-advanced") {
    TAddForm& add = form.AddDialog();
    add.SetFolder(sample);
    add.AddFolderClick();
    add.AddEntry(sample + "/notes.txt", true);
    add.AddEntry(sample + "/*.txt", false);
    if (name == "add-advanced") add.PageControl1->setCurrentIndex(1);
    add.show();
  } else if (name == "extract" || name == "extract-advanced") {
    TExtract& extract = form.ExtractDialog();
    extract.SetFolder(sample);
    if (name == "extract-advanced") extract.PageControl1->setCurrentIndex(1);
    extract.show();
  } else if (name == "password") {
    form.PasswordDialog().show();
  } else if (name == "bad-password") {
    TInvalidPwdDlg& bad = form.BadPasswordDialog();
    bad.SetPassword("secret");
    bad.SetFileName("quarterly-report-2023.xlsx");
    bad.show();
  } else if (name == "incomplete") {
    auto* dialog = new TIncompleteZipDlg(&form);
    dialog->show();
  } else if (name == "next-disk") {
    later([&] {
      std::string file = PathFromQt(sample + "/set.zip");
      form.Engine().SetMultiMode(mmSpan);
      form.Events().ZipEngine1GetNextDisk(form.Engine(), 2, file);
    });
  } else if (name == "browse") {
    later([&] { dialogs.BrowseFolder("Select Folder", PathFromQt(sample)); });
  } else if (name == "wildcard") {
    later([&] {
      dialogs.InputQuery("Add Wildcard (for example *.exe)", PathFromQt(sample + "/"), "");
    });
  } else if (name == "sfx" || name == "sfx-dos") {
    TZIPEXE& sfx = form.SfxDialog();
    sfx.PlatformGroup->SetItemIndex(name == "sfx" ? TZIPEXE::pfWin32Enh : TZIPEXE::pfDOS);
    sfx.CaptionEdit->setText("Holiday photos 2023");
    sfx.ExtractDirEdit->setText("><");
    sfx.CommandLineEdit->setText("xdg-open|><index.html");
    sfx.AskFilesCheck->setChecked(true);
    sfx.show();
  } else if (name == "options" || name == "options-antivirus") {
    TOptionsForm& options = form.OptionsDialog();
    options.SelectPage(name == "options" ? TOptionsForm::pgProgram : TOptionsForm::pgAntiVirus);
    options.show();
    options.ExtractFolderRadio->setChecked(true);
    options.ExtDirEdit->setText(sample + "/letters");
    options.AntiVirusEdit->setText("/usr/bin/clamscan");
    options.AntiVirusParamEdit->setText("--infected --recursive");
  } else if (name == "info") {
    TInfoForm& info = form.InfoDialog();
    info.SetValues(sample + "/photos/holiday-2023/holiday-2023-all-pictures.zip",
                   "4831838208 bytes", "5368709120 bytes", "10 %");
    info.show();
  } else if (name == "comment") {
    TCommentEditor& editor = form.CommentDialog();
    editor.setWindowTitle("Editing Zip Comment for holiday-2023.zip");
    editor.SetText(
        "Holiday pictures, summer 2023\n\nDay\tPlace\n1\tKöln\n2\tMünchen — Marienplatz\n3\t東京");
    editor.show();
  } else if (name == "new-overwrite" || name == "remove-confirm" || name == "multi-volume") {
    // These boxes carry the window's own caption: the window stays away so the picture is
    // the box's.
    form.hide();
    const std::string archive = PathFromQt(sample + "/letters/correspondence.zip");
    later([&dialogs, name, archive] {
      if (name == "new-overwrite")
        dialogs.MessageBox("Overwrite Existing File: " + archive + "?", "Quelt",
                           TMsgBoxIcon::Question, TMsgBoxButtons::YesNo);
      else if (name == "remove-confirm")
        dialogs.MessageBox("Delete selected files from: " + archive + "?", "Quelt",
                           TMsgBoxIcon::Question, TMsgBoxButtons::YesNo);
      else
        dialogs.MessageBox(archive +
                               " is one volume of a multi-volume set, which cannot be changed. "
                               "Extract its files and add them to a new archive instead.",
                           "Quelt", TMsgBoxIcon::Error, TMsgBoxButtons::OK);
    });
  } else if (name == "replace") {
    later([&] {
      dialogs.MessageBox("Replace existing file " + PathFromQt(sample) + "/backup/report.zip?",
                         "Confirm Replace", TMsgBoxIcon::Question, TMsgBoxButtons::YesNo);
    });
  } else if (name == "drop") {
    TDragDrop& drop = DropDialog(form);
    drop.Prepare(false);
    drop.show();
  } else if (name == "assoc") {
    form.hide();
    AssociationDialog(form).show();
  } else if (name == "delete-confirm") {
    later([&] {
      dialogs.MessageBox("Do you wish to delete " + PathFromQt(sample) + "/letters/old.zip?",
                         "Confirm Delete", TMsgBoxIcon::Question, TMsgBoxButtons::YesNoCancel);
    });
  } else if (name.startsWith("editor")) {
    form.SetCurrentArchive(sample + "/texts.zip");
    form.OpenIT();
    const QString entry = name == "editor-html" ? "index.html" : "Notes.txt";
    for (int r = 0; r < form.Listing().rowCount(); ++r)
      if (form.Listing().CellText(r, TCatalogueModel::colFilename) == entry)
        form.ListView()->selectionModel()->select(
            form.Listing().index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    // The editor runs modally; its dialogs come up from within.
    QTimer::singleShot(900, &app, [&form, name] {
      TTextEdit& edit = form.TextEditor();
      edit.SetCaret({2, 4});
      if (name == "editor-find") {
        edit.FindDialog()->SetFindText("budget");
        edit.Find1Click();
      } else if (name == "editor-replace") {
        edit.ReplaceDialog()->SetFindText("budget");
        edit.ReplaceDialog()->SetReplaceText("estimate");
        edit.Replace1Click();
      } else if (name == "editor-goto") {
        edit.GoToLine1Click();
      } else if (name == "editor-bookmarks") {
        edit.Bookmarks1Click();
      } else if (name == "editor-info") {
        edit.FileInfo1Click();
      }
    });
    later([&] { form.Command("EditText1")->trigger(); });
  } else if (name == "uu-replace" || name == "uu-done" || name == "virus-scan" ||
             name == "virus-none" || name == "mail-missing") {
    // The commands themselves, on the archive the script made.
    form.SetCurrentArchive(sample + "/letters/correspondence.zip");
    form.OpenIT();
    const std::string key = "SOFTWARE\\Dunmarra\\Quelt";
    settings.WriteString(LOCAL_MACHINE, key, "AntiVirusProgram",
                         name == "virus-scan" ? "clamscan" : "");
    settings.WriteString(LOCAL_MACHINE, key, "AntiVirusParam",
                         "-r -d " + PathFromQt(sample) + "/sigs");
    if (name == "uu-replace")
      writeText(sample + "/letters/correspondence.uue");
    else
      QFile::remove(sample + "/letters/correspondence.uue");
    if (name == "mail-missing") qputenv("PATH", QFile::encodeName(sample + "/empty"));
    later([&form, name] {
      try {
        if (name.startsWith("uu"))
          form.UUEncode1Click();
        else if (name.startsWith("virus"))
          form.VirusScan1Click();
        else
          form.MailZIP1Click();
      } catch (const std::exception& e) {
        form.Dialogs().MessageBox(e.what(), "Quelt", TMsgBoxIcon::Error, TMsgBoxButtons::OK);
      }
    });
  } else {
    std::fprintf(stderr, "unknown dialog %s\n", argv[1]);
    return 2;
  }
  return QApplication::exec();
}
